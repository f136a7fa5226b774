#include "cli/FleetPlan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include <nlohmann/json.hpp>

#include "cli/Versions.h"
#include "firmware/HexFile.h"
#include "flash/HidBootloader.h"
#include "flash/PicDeviceRules.h"
#include "flash/PicFlash.h"
#include "flash/PicFrame.h"
#include "flash/PicLink.h"
#include "flash/StmFrames.h"
#include "flash/StmProgram.h"
#include "flash/StmUpgrade.h"
#include "flash/TftpPackets.h"
#include "module/ModuleOperations.h"
#include "upgrade/RestoreDevice.h"
#include "upgrade/UpgradeRows.h"
#include "upgrade/UpgradeWaits.h"

namespace kv::cli {

namespace {

using Json = nlohmann::ordered_json;
using std::chrono::milliseconds;

const std::set<std::string> kPlanKeys{"parallel", "devices", "discovery_wait"};
const std::set<std::string> kDeviceKeys{"name",   "address", "port",   "usb",
                                        "as",     "files",   "quick",  "answers",
                                        "expect", "force",   "verify", "discovery_wait"};
const std::set<std::string> kPinnedFileKeys{"path", "sha256"};

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

// Link figures of the estimate model: what the links carry, not what the procedures wait.
constexpr double kPicBaud = 19200;            // the cards' bootloaders, on the tunnel and on a port
constexpr double kPicBitsPerByte = 10;        // 8N1
constexpr double kStmBitsPerByte = 11;        // 8E1
constexpr int kStmWriteOverhead = 3 + 6 + 2;  // command, address, length and checksum, acks
constexpr int kStmReadOverhead = 3 + 6 + 3;   // command, address, length, acks
// The chip's own times, which no procedure waits for a fixed time: the global erase, and
// the CPU's way into its bootloader and back (the module restart, the tunnel, the release),
// taken as the mean of the ways the variants go.
constexpr milliseconds kStmErase{2000};
constexpr milliseconds kStmEntryAndExit{9000};
constexpr double kLanBytesPerSecond = 1e6;
constexpr milliseconds kTftpPerBlock{1};
constexpr milliseconds kUsbPerReport{1};  // one HID report per USB frame

// A PIC frame on the wire, stuffing left out: STX STX, the header, `data` bytes, the
// checksum, ETX.
double picFrameBytes(std::size_t data) {
    constexpr std::size_t kHeader = std::tuple_size_v<decltype(PicHeader(0, 0, 0))>;
    return static_cast<double>(PicEncodeFrame(Bytes(kHeader + data + 1, 0)).size());
}

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

// A file value: "PATH" or {"path": "PATH", "sha256": "HEX"}.
PlanFile parseFile(const std::string& row, const Json& value, const std::filesystem::path& base,
                   const Place& at) {
    const std::string key = "files." + row;
    PlanFile file{row, "", "", ""};
    std::filesystem::path path;
    if (value.is_object()) {
        for (const auto& [name, field] : value.items()) {
            (void)field;
            if (!kPinnedFileKeys.count(name))
                at.fail("unknown key \"" + name + "\" in \"" + key + "\" (known: path, sha256)");
        }
        if (!value.contains("path")) at.fail("\"" + key + "\" has no \"path\"");
        path = needString(value["path"], key + ".path", at);
        if (value.contains("sha256")) {
            file.sha256 = lower(needString(value["sha256"], key + ".sha256", at));
            if (!IsSha256Hex(file.sha256))
                at.fail("\"" + key + ".sha256\" must be a SHA-256 digest of 64 hex digits");
        }
    } else {
        path = needString(value, key, at);
    }
    // Whether it exists and is one the upgrade takes is checked with the device's other
    // files (CheckFilesBeforeConnect).
    if (path.is_relative()) path = base / path;
    file.path = path.lexically_normal().string();
    return file;
}

std::vector<PlanFile> parseFiles(const Json& files, const std::filesystem::path& base,
                                 const Place& at) {
    if (!files.is_object()) at.fail("\"files\" must be an object of row: path");
    if (files.empty()) at.fail("\"files\" names no row");
    std::vector<PlanFile> out;
    std::set<std::string> rows;
    for (const auto& [row, value] : files.items()) {
        if (row.empty())
            at.fail("a \"files\" key is empty: give a controller type or a row number");
        if (!rows.insert(lower(row)).second) at.fail("row \"" + row + "\" is given twice");
        out.push_back(parseFile(row, value, base, at));
    }
    return out;
}

// "expect": {"ROW": "VERSION"}, each row named as "files" names it.
void parseExpect(const Json& expect, std::vector<PlanFile>& files, const Place& at) {
    if (!expect.is_object()) at.fail("\"expect\" must be an object of row: version");
    for (const auto& [row, value] : expect.items()) {
        auto file = std::find_if(files.begin(), files.end(),
                                 [&](const PlanFile& f) { return SameRowName(f.row, row); });
        if (file == files.end())
            at.fail("\"expect\" names the row \"" + row + "\" that \"files\" does not give");
        if (!file->expected.empty()) at.fail("\"expect\" gives the row \"" + row + "\" twice");
        file->expected = needString(value, "expect." + row, at);
    }
}

bool needBool(const Json& entry, const char* key, bool otherwise, const Place& at) {
    if (!entry.contains(key)) return otherwise;
    if (!entry[key].is_boolean()) at.fail("\"" + std::string(key) + "\" must be true or false");
    return entry[key].get<bool>();
}

// "discovery_wait": seconds, within what --discovery-wait takes.
std::optional<milliseconds> parseDiscoveryWait(const Json& owner, const Place& at) {
    if (!owner.contains("discovery_wait")) return std::nullopt;
    const Json& value = owner["discovery_wait"];
    if (!value.is_number() || value.get<double>() < kMinDiscoveryWaitSeconds ||
        value.get<double>() > kMaxDiscoveryWaitSeconds) {
        std::ostringstream range;
        range << kMinDiscoveryWaitSeconds << " to " << kMaxDiscoveryWaitSeconds;
        at.fail("\"discovery_wait\" must be a number of seconds from " + range.str());
    }
    return milliseconds(static_cast<std::int64_t>(value.get<double>() * 1000));
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
                    "\" (known: name, address, port, usb, as, files, expect, force, verify, quick, "
                    "answers, discovery_wait)");
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
        if (!device.as)
            at.fail("unknown \"as\" type \"" + as + "\" (known: " + HandleAsNameList() + ")");
    }
    if (!entry.contains("files")) at.fail("\"files\" is missing");
    device.files = parseFiles(entry["files"], base, at);
    if (entry.contains("expect")) parseExpect(entry["expect"], device.files, at);
    // A file the upgrade would refuse stops the plan before any device is contacted.
    if (const FilesCheck files = CheckFilesBeforeConnect(device.files, device.target.kind);
        !files.ok()) {
        at.fail(files.result.message);
    }
    device.quick = needBool(entry, "quick", false, at);
    device.force = needBool(entry, "force", false, at);
    device.verify = needBool(entry, "verify", true, at);
    device.discoveryWait = parseDiscoveryWait(entry, at);
    // Running the plan is the go-ahead for the upgrade itself.
    device.answers[Question::Upgrade] = MsgButton::Yes;
    if (entry.contains("answers")) {
        const Json& answers = entry["answers"];
        if (!answers.is_object()) at.fail("\"answers\" must be an object of question: yes|no");
        for (const auto& [key, value] : answers.items()) {
            std::optional<Question> question = ParseQuestionName(key);
            if (!question) {
                at.fail("unknown question \"" + key +
                        "\" in \"answers\" (known: " + questionNames() + ")");
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
        if (!kPlanKeys.count(key)) {
            at.fail("unknown key \"" + key + "\" (known: parallel, discovery_wait, devices)");
        }
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
    plan.discoveryWait = parseDiscoveryWait(document, at);
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
    HexReaderState reader;
    auto count = [&figures](const HexDataRecord& record) {
        figures.bytes += record.data.size();
        const std::int64_t start = (std::int64_t{record.upper} << 16) + record.address;
        const bool program =
            record.memoryClass == kHexClassProgram || record.memoryClass == kHexClassNone;
        if (!program && record.memoryClass != kHexClassEeprom) return;
        // Blocks of up to 16 bytes from the record's start, as the programming pass cuts them.
        for (std::size_t offset = 0; offset < record.data.size(); offset += kPicBlockSize) {
            const ByteView block =
                record.data.subspan(offset, std::min(kPicBlockSize, record.data.size() - offset));
            if (!program) {
                ++figures.eepromWrites;
                figures.eepromBytes += block.size();
                continue;
            }
            const std::int64_t at = start + static_cast<std::int64_t>(offset);
            if (at < kPicFirstWritableAddress || at > kPicLastWritableAddress) continue;
            const bool erased =
                std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0xFF; });
            ++(erased ? figures.erasedBlocks : figures.programBlocks);
        }
    };
    try {
        // A bad record ends the count there: the upgrade refuses such a file anyway.
        WalkHexRecords(in, reader, {}, count);
    } catch (const std::exception&) {
        // Unreadable from some point on: what was read is counted.
    }
    return figures;
}

RowEstimate EstimateRow(RowKind kind, const std::string& controllerType, const FileFigures& file,
                        bool quick, TargetKind target) {
    RowEstimate estimate;
    const bool serial = target == TargetKind::Serial;
    switch (kind) {
        case RowKind::PicCard: {
            const PicEraseRange range = PicEraseRangeFor(controllerType);
            const double eraseFrames =
                range.step > 0 ? static_cast<double>((range.last - range.first) / range.step + 1)
                               : 0.0;
            // Fibre cards get their erased blocks written too, and are never read back.
            const bool fibre = PicIsFibreCard(controllerType);
            const bool readBack = !quick && !fibre;
            const double blocks =
                static_cast<double>(file.programBlocks + (fibre ? file.erasedBlocks : 0));
            const double writeBack = static_cast<double>(PicFixedReplyLength(kPicWriteProgram));
            double bytes =
                eraseFrames * (picFrameBytes(0) +
                               static_cast<double>(PicFixedReplyLength(kPicEraseProgram))) +
                blocks * (picFrameBytes(kPicBlockSize) + writeBack) +
                static_cast<double>(file.eepromWrites) *
                    (picFrameBytes(0) + static_cast<double>(PicFixedReplyLength(kPicWriteEeprom))) +
                static_cast<double>(file.eepromBytes);
            // The read-back's reply carries the block in a frame like the write's.
            if (readBack) bytes += blocks * (picFrameBytes(0) + picFrameBytes(kPicBlockSize));
            estimate.wire = wire(bytes, kPicBaud, kPicBitsPerByte);
            estimate.waits = kRowPause + kPicEepromWritePause * file.eepromWrites;
            if (serial) {
                // A read reply on a serial port ends only after its line fell silent.
                if (readBack)
                    estimate.waits += kPicSerialReplyGap * static_cast<std::int64_t>(blocks);
            } else {
                // The card select code settles three times, the tunnel is opened afresh
                // before the erase.
                estimate.waits += 3 * kCardSelectSettle + kPicEraseReconnectPause;
            }
            break;
        }
        case RowKind::Cpu: {
            const double blocks =
                static_cast<double>((file.bytes + kStmMaxBlock - 1) / kStmMaxBlock);
            double bytes = static_cast<double>(file.bytes) + blocks * kStmWriteOverhead;
            if (!quick) bytes += static_cast<double>(file.bytes) + blocks * kStmReadOverhead;
            estimate.wire = wire(bytes, serial ? kStmSerialBaud : kStmTunnelBaud, kStmBitsPerByte);
            estimate.waits = kStmErase + kStmEntryAndExit + kRowPause;
            if (!serial) {
                // On the tunnel, half the steps of a block find their acknowledgement only
                // at the next poll.
                estimate.waits += kStmAckPoll * (static_cast<std::int64_t>(blocks) *
                                                 static_cast<std::int64_t>(kStmTransferSteps) / 2);
            }
            break;
        }
        case RowKind::WebServer:
        case RowKind::WebContent: {
            const auto blocks = static_cast<std::int64_t>(
                static_cast<double>(file.bytes) / static_cast<double>(kTftpBlockSize) + 1);
            estimate.wire = kTftpPerBlock * blocks;
            estimate.waits = kind == RowKind::WebServer
                                 ? kAfterImageFirst + kAfterImageSecond
                                 : kBeforeWebContent * kBeforeWebContentRounds;
            break;
        }
        case RowKind::WebPackage: {
            // The archive holds the firmware and the content: both cross the LAN once.
            estimate.wire = milliseconds(static_cast<std::int64_t>(static_cast<double>(file.bytes) *
                                                                   1000.0 / kLanBytesPerSecond));
            estimate.waits = kAfterImageFirst + kAfterImageSecond + kRestartReconnectPause;
            break;
        }
        case RowKind::Usb: {
            // The bootloader's whole window goes, whatever the file holds: each block a write
            // report and a verify report, the settle after the write and at least one wait
            // round for the verify reply.
            const std::int64_t blocks = HidBlockCount(kHidStartAddress, kHidEndAddress);
            estimate.wire = kUsbPerReport * (2 * blocks);
            estimate.waits = kHidEraseRound * kHidEraseRounds +
                             (kHidWriteSettle + kHidTransferWaitRound) * blocks;
            break;
        }
    }
    return estimate;
}

milliseconds EstimateRestore(TargetKind target, bool hasCpuRow) {
    // USB devices restart by themselves; a serial device has no module to set back.
    if (target != TargetKind::Network) return milliseconds(0);
    // A CPU is released by the shift register (RV-CTL2) or the reset pulse (NRV-CTL).
    if (hasCpuRow) return kCloseSettle + std::max<milliseconds>(kShiftPause, kResetPause);
    // The cards are released: the main controller selected (twice), then the release rounds.
    return kCloseSettle + 2 * kSelectPause + kCardReleaseRound * kCardReleaseRounds;
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
