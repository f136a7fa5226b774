#include "DemoFirmware.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace kv::sim {

namespace {

constexpr std::uint32_t kTypeInfoAddress = 0x0600;
constexpr std::uint32_t kHardwareInfoAddress = 0x0710;
constexpr std::size_t kInfoFieldLength = 16;
constexpr std::size_t kRecordBytes = 16;
const std::string kWebServerRow = "Web Server";
// The demo modules' MAC addresses (00-20-...) take the first web server image kind.
const std::string kWebServerFile = "web-server.rom";
const std::string kWebContentRow = "Web Content";
const std::string kWebContentFile = "web-content.cob";

std::string hexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::string record(std::uint8_t type, std::uint16_t address, const Bytes& data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::string line = ":" + hexByte(static_cast<unsigned>(data.size())) + hexByte(address >> 8) +
                       hexByte(address) + hexByte(type);
    for (std::uint8_t b : data) {
        line += hexByte(b);
        sum += b;
    }
    return line + hexByte(0x100 - (sum & 0xFF)) + "\r\n";
}

Bytes infoField(const std::string& text) {
    Bytes field(kInfoFieldLength, 0x00);
    std::copy_n(text.begin(), std::min(text.size(), kInfoFieldLength), field.begin());
    return field;
}

// Deterministic bytes per controller, so two cards never get the same image.
Bytes sampleBytes(const std::string& seedText, std::size_t count) {
    std::uint32_t state = 2166136261u;
    for (char c : seedText) state = (state ^ static_cast<std::uint8_t>(c)) * 16777619u;
    Bytes bytes(count);
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

std::string cardImage(const CardWords& words) {
    // Program memory from address 0 of the lowest 64 KiB.
    std::string hex = record(4, 0, {0x00, 0x00});
    hex += record(0, kTypeInfoAddress, infoField(words.type));
    hex += record(0, kHardwareInfoAddress, infoField(words.hardware));
    const Bytes program = sampleBytes(words.type, kDemoProgramBytes);
    for (std::size_t at = 0; at < program.size(); at += kRecordBytes) {
        Bytes data(program.begin() + static_cast<std::ptrdiff_t>(at),
                   program.begin() + static_cast<std::ptrdiff_t>(at + kRecordBytes));
        hex += record(0, static_cast<std::uint16_t>(kDemoProgramStart + at), data);
    }
    return hex + record(1, 0, {});
}

}  // namespace

std::vector<DemoFirmwareFile> DemoFirmwareFiles(DemoFamily family) {
    std::vector<DemoFirmwareFile> files;
    if (!IsUpgradableFamily(family)) return files;
    for (const CardWords& words : DemoFamilyCards(family))
        files.push_back({words.type, words.type + ".hex", cardImage(words)});
    const Bytes web = sampleBytes(kWebServerRow, kDemoWebImageBytes);
    files.push_back({kWebServerRow, kWebServerFile, std::string(web.begin(), web.end())});
    if (HasWebContentRow(family)) {
        const Bytes content = sampleBytes(kWebContentRow, kDemoWebImageBytes);
        files.push_back(
            {kWebContentRow, kWebContentFile, std::string(content.begin(), content.end())});
    }
    return files;
}

std::vector<std::filesystem::path> WriteDemoFirmware(DemoFamily family,
                                                     const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::vector<std::filesystem::path> paths;
    for (const DemoFirmwareFile& file : DemoFirmwareFiles(family)) {
        const std::filesystem::path path = folder / file.fileName;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << file.content;
        if (!out) throw std::runtime_error("cannot write " + path.string());
        paths.push_back(path);
    }
    return paths;
}

}  // namespace kv::sim
