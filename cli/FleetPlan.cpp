#include "cli/FleetPlan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "flash/PicDeviceRules.h"
#include "upgrade/UpgradeRows.h"

namespace kv::cli {

namespace {

using Json = nlohmann::ordered_json;
using std::chrono::milliseconds;

const std::set<std::string> kPlanKeys{"parallel", "devices"};
const std::set<std::string> kDeviceKeys{"name", "address", "port", "usb", "as",
                                        "files", "quick", "answers"};

struct QuestionName {
    const char* name;
    Question question;
};
constexpr QuestionName kQuestionNames[] = {
    {"upgrade", Question::Upgrade},
    {"protocol-switch", Question::ProtocolSwitch},
    {"unreachable-device", Question::UnreachableDevice},
    {"usb-bootloader-mode", Question::UsbBootloaderMode},
};

// Link figures of the estimate model.
constexpr double kPicBaud = 19200;
constexpr double kPicBitsPerByte = 10;  // 8N1
constexpr double kStmTunnelBaud = 57600;
constexpr double kStmSerialBaud = 115200;
constexpr double kStmBitsPerByte = 11;  // 8E1
constexpr int kPicEraseOut = 9, kPicEraseBack = 5;
constexpr int kPicWriteOut = 25, kPicWriteBack = 5;
constexpr int kPicReadOut = 9, kPicReadBack = 25;
constexpr std::uint32_t kPicFirstProgramAddress = 0x0800;
constexpr std::uint32_t kPicProgramEnd = 0x20000;
constexpr std::size_t kPicBlock = 16;
constexpr std::uint64_t kStmBlock = 256;
constexpr int kStmWriteOverhead = 3 + 6 + 2;     // command, address, length and checksum, acks
constexpr int kStmReadOverhead = 3 + 6 + 3;      // command, address, length, acks
constexpr milliseconds kStmAckPollPerStep{15};  // a tunnel acknowledgement is polled
constexpr int kStmStepsPerBlock = 6;
constexpr milliseconds kStmErase{2000};
constexpr milliseconds kStmEntryAndExit{9000};
constexpr milliseconds kPicSelectWaits{1500 + 200};  // card select settles, erase reconnect
constexpr milliseconds kPicSerialWaits{300 + 200};
constexpr milliseconds kRowPause{1500};
constexpr milliseconds kTftpRestart{2000 + 2500};
constexpr milliseconds kBeforeWebContent{3 * 2000};
constexpr milliseconds kPackageRestart{2000 + 2500 + 300};
constexpr double kLanBytesPerSecond = 1e6;
constexpr double kTftpBlock = 512;
constexpr milliseconds kTftpPerBlock{1};
constexpr double kUsbReport = 64;
constexpr milliseconds kUsbPerReport{1};
constexpr milliseconds kUsbRestart{2000};
constexpr milliseconds kSlotRestore{11 * 1000 + 100};
constexpr milliseconds kCpuRestore{300 + 100 + 150 + 150};

milliseconds wire(double bytes, double baud, double bitsPerByte) {
    return milliseconds(static_cast<std::int64_t>(bytes * bitsPerByte * 1000.0 / baud + 0.5));
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string typeName(const Json& value) {
    return value.type_name();
}

// Where an error was found: "plan.json: device 2 (stage-left)".
struct Place {
    std::string source;
    std::string device;
    [[noreturn]] void fail(const std::string& what) const {
        throw PlanError(source + (device.empty() ? "" : ": " + device) + ": " + what);
    }
};

std::string needString(const Json& value, const std::string& key, const Place& at) {
    if (!value.is_string()) at.fail("\"" + key + "\" must be a string, not " + typeName(value));
    std::string text = value.get<std::string>();
    if (text.empty()) at.fail("\"" + key + "\" is empty");
    return text;
}

MsgButton parseAnswer(const Json& value, const std::string& key, const Place& at) {
    const std::string text = lower(needString(value, "answers." + key, at));
    if (text == "yes") return MsgButton::Yes;
    if (text == "no") return MsgButton::No;
    at.fail("\"answers." + key + "\" must be \"yes\" or \"no\", not \"" + text + "\"");
}

std::string questionNames() {
    std::string names;
    for (const auto& q : kQuestionNames) names += std::string(names.empty() ? "" : ", ") + q.name;
    return names;
}

std::vector<PlanFile> parseFiles(const Json& files, const std::filesystem::path& base,
                                 const Place& at) {
    if (!files.is_object()) at.fail("\"files\" must be an object of row: path");
    if (files.empty()) at.fail("\"files\" names no row");
    std::vector<PlanFile> out;
    std::set<std::string> rows;
    for (const auto& [row, value] : files.items()) {
        if (row.empty()) at.fail("a \"files\" key is empty: give a controller type or a row number");
        if (!rows.insert(lower(row)).second) at.fail("row \"" + row + "\" is given twice");
        std::filesystem::path path = needString(value, "files." + row, at);
        if (path.is_relative()) path = base / path;
        path = path.lexically_normal();
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            at.fail("the file for row \"" + row + "\" does not exist: " + path.string());
        }
        std::ifstream probe(path, std::ios::binary);
        if (!probe) at.fail("the file for row \"" + row + "\" cannot be read: " + path.string());
        out.push_back({row, path.string()});
    }
    return out;
}

PlanDevice parseDevice(const Json& entry, std::size_t number, const std::filesystem::path& base,
                       const std::string& source) {
    Place at{source, "device " + std::to_string(number)};
    if (!entry.is_object()) at.fail("must be an object, not " + typeName(entry));
    if (entry.contains("name")) {
        at.device += " (" + needString(entry["name"], "name", at) + ")";
    }
    for (const auto& [key, value] : entry.items()) {
        (void)value;
        if (!kDeviceKeys.count(key)) {
            at.fail("unknown key \"" + key +
                    "\" (known: name, address, port, usb, as, files, quick, answers)");
        }
    }
    PlanDevice device;
    int targets = 0;
    std::string targetText;
    for (const char* key : {"address", "port", "usb"}) {
        if (!entry.contains(key)) continue;
        ++targets;
        const std::string text = needString(entry[key], key, at);
        if (std::string(key) == "usb") {
            targetText = "usb:" + text;
        } else if (std::string(key) == "port") {
            targetText = "serial:" + text;
        } else {
            targetText = text;
        }
    }
    if (targets != 1) at.fail("give exactly one of \"address\", \"port\" and \"usb\"");
    std::string error;
    std::optional<Target> target = ParseTarget(targetText, error);
    if (!target) at.fail(error.empty() ? "not a device: " + targetText : error);
    if (entry.contains("address") && target->kind != TargetKind::Network) {
        at.fail("\"address\" is not an IPv4 address: " + entry["address"].get<std::string>());
    }
    device.target = *target;
    device.name = entry.contains("name") ? entry["name"].get<std::string>() : target->text;

    if (entry.contains("as")) {
        const std::string as = needString(entry["as"], "as", at);
        device.as = ParseHandleAs(as);
        if (!device.as) at.fail("unknown \"as\" type \"" + as + "\" (known: " + HandleAsNameList() + ")");
    }
    if (!entry.contains("files")) at.fail("\"files\" is missing");
    device.files = parseFiles(entry["files"], base, at);
    if (entry.contains("quick")) {
        if (!entry["quick"].is_boolean()) at.fail("\"quick\" must be true or false");
        device.quick = entry["quick"].get<bool>();
    }
    // Running the plan is the go-ahead for the upgrade itself.
    device.answers[Question::Upgrade] = MsgButton::Yes;
    if (entry.contains("answers")) {
        const Json& answers = entry["answers"];
        if (!answers.is_object()) at.fail("\"answers\" must be an object of question: yes|no");
        for (const auto& [key, value] : answers.items()) {
            std::optional<Question> question = ParseQuestionName(key);
            if (!question) {
                at.fail("unknown question \"" + key + "\" in \"answers\" (known: " +
                        questionNames() + ")");
            }
            device.answers[*question] = parseAnswer(value, key, at);
        }
    }
    return device;
}

// The key two devices may not share: the same device twice would be upgraded twice at once.
std::string targetKey(const Target& target) {
    switch (target.kind) {
        case TargetKind::Network:
            return "net:" + target.address;
        case TargetKind::Serial:
            return "serial:" + target.address;
        case TargetKind::Usb:
            return "usb:" + lower(target.address);
    }
    return target.text;
}

int hexValue(const std::string& line, std::size_t at, std::size_t digits) {
    if (at + digits > line.size()) return -1;
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = line[at + i];
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (d < 0) return -1;
        value = value * 16 + d;
    }
    return value;
}

}  // namespace

std::optional<Question> ParseQuestionName(const std::string& name) {
    for (const auto& q : kQuestionNames)
        if (lower(name) == q.name) return q.question;
    return std::nullopt;
}

FleetPlan ParsePlan(const std::string& text, const std::string& source,
                    const std::filesystem::path& baseFolder) {
    const Place at{source, ""};
    Json document;
    try {
        document = Json::parse(text);
    } catch (const Json::parse_error& e) {
        at.fail(std::string("not valid JSON: ") + e.what());
    }
    if (!document.is_object()) at.fail("the plan must be a JSON object with \"devices\"");
    for (const auto& [key, value] : document.items()) {
        (void)value;
        if (!kPlanKeys.count(key)) at.fail("unknown key \"" + key + "\" (known: parallel, devices)");
    }
    FleetPlan plan;
    if (document.contains("parallel")) {
        const Json& parallel = document["parallel"];
        if (!parallel.is_number_integer() || parallel.get<std::int64_t>() < 1 ||
            parallel.get<std::int64_t>() > 1000) {
            at.fail("\"parallel\" must be a whole number from 1 to 1000");
        }
        plan.parallel = parallel.get<int>();
    }
    if (!document.contains("devices") || !document["devices"].is_array()) {
        at.fail("\"devices\" must be a list of devices");
    }
    if (document["devices"].empty()) at.fail("\"devices\" is empty");
    std::set<std::string> names;
    std::set<std::string> targets;
    std::size_t number = 0;
    for (const Json& entry : document["devices"]) {
        PlanDevice device = parseDevice(entry, ++number, baseFolder, source);
        const Place here{source, "device " + std::to_string(number) + " (" + device.name + ")"};
        if (!names.insert(lower(device.name)).second) {
            here.fail("the name \"" + device.name + "\" is used twice (it names the log file)");
        }
        if (!targets.insert(targetKey(device.target)).second) {
            here.fail("the device " + device.target.text + " is in the plan twice");
        }
        plan.devices.push_back(std::move(device));
    }
    return plan;
}

FleetPlan LoadPlan(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PlanError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw PlanError(path + ": cannot be read");
    std::filesystem::path base = std::filesystem::absolute(path).parent_path();
    return ParsePlan(text.str(), path, base);
}

RowKind RowKindOf(const std::string& controllerType, TargetKind target) {
    if (target == TargetKind::Usb) return RowKind::Usb;
    if (controllerType == "Web Server") return RowKind::WebServer;
    if (controllerType.rfind("Web Content", 0) == 0) return RowKind::WebContent;
    if (controllerType == "Web Package") return RowKind::WebPackage;
    if (controllerType == kCpuMatrix || controllerType == kCpuModular) return RowKind::Cpu;
    // A serial device's first rows are CPUs behind the chip's own bootloader unless a
    // card answered for them; the inventory names those by their card type.
    return RowKind::PicCard;
}

std::string RowKindName(RowKind kind) {
    switch (kind) {
        case RowKind::PicCard:
            return "pic";
        case RowKind::Cpu:
            return "cpu";
        case RowKind::WebServer:
            return "web-server";
        case RowKind::WebContent:
            return "web-content";
        case RowKind::WebPackage:
            return "web-package";
        case RowKind::Usb:
            return "usb";
    }
    return "pic";
}

FileFigures MeasureFile(const std::string& path, RowKind kind) {
    FileFigures figures;
    std::ifstream in(path, std::ios::binary);
    if (!in) return figures;
    figures.readable = true;
    const bool hex = kind == RowKind::PicCard || kind == RowKind::Cpu || kind == RowKind::Usb;
    if (!hex) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        figures.bytes = error ? 0 : size;
        return figures;
    }
    std::uint32_t upper = 0;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
            line.pop_back();
        if (line.size() < 11 || line[0] != ':') continue;
        const int count = hexValue(line, 1, 2);
        const int address = hexValue(line, 3, 4);
        const int type = hexValue(line, 7, 2);
        if (count < 0 || address < 0 || type < 0 ||
            line.size() < 11 + 2 * static_cast<std::size_t>(count)) {
            continue;
        }
        if (type == 4 && count == 2) {
            upper = static_cast<std::uint32_t>(hexValue(line, 9, 4)) << 16;
            continue;
        }
        if (type != 0) continue;
        figures.bytes += static_cast<std::uint64_t>(count);
        const std::uint32_t start = upper + static_cast<std::uint32_t>(address);
        // Blocks of up to 16 bytes from the record's start, as the programming pass cuts them.
        for (std::size_t offset = 0; offset < static_cast<std::size_t>(count); offset += kPicBlock) {
            const std::uint32_t at = start + static_cast<std::uint32_t>(offset);
            if (at < kPicFirstProgramAddress || at >= kPicProgramEnd) continue;
            bool erased = true;
            const std::size_t n = std::min(kPicBlock, static_cast<std::size_t>(count) - offset);
            for (std::size_t i = 0; i < n; ++i)
                if (hexValue(line, 9 + 2 * (offset + i), 2) != 0xFF) erased = false;
            if (!erased) ++figures.programBlocks;
        }
    }
    return figures;
}

RowEstimate EstimateRow(RowKind kind, const std::string& controllerType,
                        const FileFigures& file, bool quick, TargetKind target) {
    RowEstimate estimate;
    const bool serial = target == TargetKind::Serial;
    switch (kind) {
        case RowKind::PicCard: {
            const PicEraseRange range = PicEraseRangeFor(controllerType);
            const double eraseFrames =
                range.step > 0 ? static_cast<double>((range.last - range.first) / range.step + 1)
                               : 0.0;
            // Fibre cards are never read back.
            const bool readBack = !quick && !PicIsFibreCard(controllerType);
            const double blocks = static_cast<double>(file.programBlocks);
            double bytes = eraseFrames * (kPicEraseOut + kPicEraseBack) +
                           blocks * (kPicWriteOut + kPicWriteBack);
            if (readBack) bytes += blocks * (kPicReadOut + kPicReadBack);
            estimate.wire = wire(bytes, kPicBaud, kPicBitsPerByte);
            estimate.waits = (serial ? kPicSerialWaits : kPicSelectWaits) + kRowPause;
            break;
        }
        case RowKind::Cpu: {
            const double blocks =
                static_cast<double>((file.bytes + kStmBlock - 1) / kStmBlock);
            double bytes = static_cast<double>(file.bytes) + blocks * kStmWriteOverhead;
            if (!quick) bytes += static_cast<double>(file.bytes) + blocks * kStmReadOverhead;
            estimate.wire =
                wire(bytes, serial ? kStmSerialBaud : kStmTunnelBaud, kStmBitsPerByte);
            estimate.waits = kStmErase + kStmEntryAndExit + kRowPause;
            if (!serial) {
                estimate.waits += kStmAckPollPerStep *
                                  (static_cast<std::int64_t>(blocks) * kStmStepsPerBlock / 2);
            }
            break;
        }
        case RowKind::WebServer:
        case RowKind::WebContent: {
            const auto blocks = static_cast<std::int64_t>(
                static_cast<double>(file.bytes) / kTftpBlock + 1);
            estimate.wire = kTftpPerBlock * blocks;
            estimate.waits = kind == RowKind::WebServer ? kTftpRestart : kBeforeWebContent;
            break;
        }
        case RowKind::WebPackage: {
            // The archive holds the firmware and the content: both cross the LAN once.
            estimate.wire = milliseconds(static_cast<std::int64_t>(
                static_cast<double>(file.bytes) * 1000.0 / kLanBytesPerSecond));
            estimate.waits = kPackageRestart;
            break;
        }
        case RowKind::Usb: {
            const auto reports = static_cast<std::int64_t>(
                static_cast<double>(file.bytes) / kUsbReport + 1);
            estimate.wire = kUsbPerReport * reports;
            estimate.waits = kUsbRestart;
            break;
        }
    }
    return estimate;
}

milliseconds EstimateRestore(TargetKind target, bool hasCpuRow) {
    if (target == TargetKind::Usb) return milliseconds(0);
    if (target == TargetKind::Serial) return milliseconds(300);
    return hasCpuRow ? kCpuRestore : kSlotRestore;
}

std::string VersionInFileName(const std::string& path) {
    static const std::regex kVersion(R"((\d+)[._-](\d+)[._-](\d+))");
    const std::string name = std::filesystem::path(path).filename().string();
    std::smatch match;
    if (!std::regex_search(name, match, kVersion)) return "";
    return match[1].str() + "." + match[2].str() + "." + match[3].str();
}

std::string FormatDuration(milliseconds duration) {
    const auto total = std::max<std::int64_t>(0, (duration.count() + 500) / 1000);
    const auto hours = total / 3600, minutes = total / 60 % 60, seconds = total % 60;
    char text[32];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(hours),
                      static_cast<long long>(minutes), static_cast<long long>(seconds));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(minutes),
                      static_cast<long long>(seconds));
    }
    return text;
}

}  // namespace kv::cli
