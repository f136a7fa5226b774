#include "FleetMemories.h"

#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>

#include <nlohmann/json.hpp>

namespace kv::test {

namespace {

constexpr std::uint32_t kFirstWritten = 0x0800;  // the cards' bootloaders keep what is below
constexpr std::uint32_t kProgramEnd = 0x20000;
constexpr std::uint8_t kErased = 0xFF;

std::vector<std::uint8_t> readAll(const std::filesystem::path& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int hexAt(const std::string& line, std::size_t at) {
    return std::stoi(line.substr(at, 2), nullptr, 16);
}

// The program memory a HEX file describes, erased where it says nothing.
std::vector<std::uint8_t> hexImage(const std::filesystem::path& path) {
    std::vector<std::uint8_t> image(kProgramEnd, kErased);
    std::ifstream in(path);
    std::uint32_t upper = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.size() < 11 || line[0] != ':') continue;
        const int count = hexAt(line, 1);
        const auto address = static_cast<std::uint32_t>(hexAt(line, 3) << 8 | hexAt(line, 5));
        const int type = hexAt(line, 7);
        if (type == 4) upper = static_cast<std::uint32_t>(hexAt(line, 9) << 8 | hexAt(line, 11)) << 16;
        if (type != 0) continue;
        for (int i = 0; i < count; ++i) {
            const std::uint32_t at = upper + address + static_cast<std::uint32_t>(i);
            if (at < kProgramEnd) image[at] = static_cast<std::uint8_t>(hexAt(line, 9 + 2 * i));
        }
    }
    return image;
}

std::string slotFile(const std::string& row) {
    // The sample modules' MAC addresses take the first web server slot.
    if (row == "Web Server") return "X5.bin";
    if (row == "Web Content") return "WEB1.bin";
    return row + ".bin";
}

}  // namespace

std::vector<std::string> MemoryProblems(const std::filesystem::path& dumpFolder,
                                        const std::string& address,
                                        const std::map<std::string, std::string>& files) {
    std::vector<std::string> problems;
    for (const auto& [row, file] : files) {
        const std::filesystem::path dumped = dumpFolder / address / slotFile(row);
        bool ok = false;
        const std::vector<std::uint8_t> memory = readAll(dumped, ok);
        if (!ok) {
            problems.push_back(address + " " + row + ": nothing dumped at " + dumped.string());
            continue;
        }
        if (row.rfind("Web ", 0) == 0) {
            bool read = false;
            if (memory != readAll(file, read) || !read)
                problems.push_back(address + " " + row + ": the image differs from " + file);
            continue;
        }
        const std::vector<std::uint8_t> expected = hexImage(file);
        if (memory.size() < kProgramEnd) {
            problems.push_back(address + " " + row + ": short memory dump");
            continue;
        }
        for (std::uint32_t at = kFirstWritten; at < kProgramEnd; ++at) {
            if (memory[at] == expected[at]) continue;
            std::ostringstream text;
            text << address << " " << row << ": memory differs from " << file << " at 0x"
                 << std::hex << at;
            problems.push_back(text.str());
            break;
        }
    }
    return problems;
}

namespace {

// state.txt as key -> value; nullopt when none was dumped.
std::optional<std::map<std::string, std::string>> DumpedState(
    const std::filesystem::path& dumpFolder, const std::string& address) {
    std::ifstream in(dumpFolder / address / "state.txt");
    if (!in) return std::nullopt;
    std::map<std::string, std::string> state;
    for (std::string line; std::getline(in, line);) {
        const auto space = line.find(' ');
        if (space != std::string::npos) state[line.substr(0, space)] = line.substr(space + 1);
    }
    return state;
}

}  // namespace

long DumpedContacts(const std::filesystem::path& dumpFolder, const std::string& address) {
    const auto state = DumpedState(dumpFolder, address);
    if (!state || !state->count("contacts")) return -1;
    return std::stol(state->at("contacts"));
}

std::vector<std::string> RestoreProblems(const std::filesystem::path& dumpFolder,
                                         const std::string& address) {
    auto dumped = DumpedState(dumpFolder, address);
    if (!dumped) return {address + ": no state dumped"};
    std::map<std::string, std::string>& state = *dumped;
    std::vector<std::string> problems;
    const std::map<std::string, std::string> normal{
        {"select-code", "7"}, {"line", "9600 none"}, {"bootloader-mode", "0"}};
    for (const auto& [key, value] : normal) {
        if (state[key] != value)
            problems.push_back(address + ": " + key + " is " + state[key] + ", not " + value);
    }
    return problems;
}

std::map<std::string, std::map<std::string, std::string>> SamplePlanFiles(
    const std::filesystem::path& planFile) {
    std::ifstream in(planFile);
    const nlohmann::json plan = nlohmann::json::parse(in);
    std::map<std::string, std::map<std::string, std::string>> devices;
    for (const auto& device : plan.at("devices")) {
        auto& files = devices[device.at("address").get<std::string>()];
        for (const auto& [row, file] : device.at("files").items())
            files[row] = (planFile.parent_path() / file.get<std::string>()).string();
    }
    return devices;
}

}  // namespace kv::test
