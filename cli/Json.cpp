#include "cli/Json.h"

#include "core/Clock.h"

namespace kv::cli {

namespace {

std::string kindName(TargetKind kind) {
    switch (kind) {
        case TargetKind::Network:
            return "network";
        case TargetKind::Serial:
            return "serial";
        case TargetKind::Usb:
            return "usb";
    }
    return "network";
}

}  // namespace

std::string SessionErrorName(SessionError error) {
    switch (error) {
        case SessionError::None:
            return "none";
        case SessionError::NotFound:
            return "not-found";
        case SessionError::Unreachable:
            return "unreachable";
        case SessionError::BadInput:
            return "bad-input";
        case SessionError::Question:
            return "unanswered-question";
        case SessionError::Interrupted:
            return "interrupted";
        case SessionError::Failed:
            return "failed";
    }
    return "failed";
}

Json ErrorJson(const SessionResult& result) {
    if (result.ok()) return nullptr;
    return Json{{"code", SessionErrorName(result.error)}, {"message", result.message}};
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json ToJson(const ControllerRow& row) {
    return Json{{"row", row.row},
                {"type", row.type},
                {"hardware", TextOrNull(row.hardware)},
                {"bootloader", TextOrNull(row.bootloader)},
                {"firmware", TextOrNull(row.firmware)},
                {"file", TextOrNull(row.file)}};
}

Json ToJson(const DeviceInfo& device) {
    auto numberOrNull = [](int n) { return n ? Json(n) : Json(nullptr); };
    return Json{{"kind", kindName(device.kind)},
                {"address", TextOrNull(device.address)},
                {"name", TextOrNull(device.name)},
                {"serial", TextOrNull(device.serial)},
                {"mac", TextOrNull(device.mac)},
                {"ident", TextOrNull(device.ident)},
                {"firmware_number", numberOrNull(device.firmwareNumber)},
                {"module_version", TextOrNull(device.moduleVersion)},
                {"lan_version", TextOrNull(device.lanVersion)},
                {"tunnel_port", numberOrNull(device.tunnelPort)}};
}

Json ToJson(const RowResult& row) {
    return Json{{"row", row.row},
                {"type", row.type},
                {"file", TextOrNull(row.file)},
                {"state", std::string(RowStateName(row.state))},
                {"reason", TextOrNull(row.reason)},
                {"bytes", row.bytes},
                {"seconds", row.seconds},
                {"from", TextOrNull(row.from)},
                {"to", TextOrNull(row.to)},
                {"expected", TextOrNull(row.expected)}};
}

namespace {

std::string_view RunEndName(RunEnd end) {
    switch (end) {
        case RunEnd::Completed:
            return "completed";
        case RunEnd::NothingSelected:
            return "nothing-selected";
        case RunEnd::Declined:
            return "declined";
        case RunEnd::Refused:
            return "refused";
    }
    return "completed";
}

}  // namespace

Json ToJson(const UpgradeOutcome& outcome) {
    const RunResult& run = outcome.run;
    Json rows = Json::array();
    for (const RowResult& row : run.rows) rows.push_back(ToJson(row));
    return Json{{"status", std::string(ExitStatusName(outcome.status()))},
                {"success", outcome.success()},
                {"verdict", TextOrNull(outcome.verdict())},
                {"interrupted", outcome.interrupted},
                {"changed", outcome.changed},
                {"end", std::string(RunEndName(run.end))},
                {"refusal", TextOrNull(run.refusal)},
                {"rows", rows},
                {"retransmissions", run.retransmissions},
                {"rewrites", run.rewrites},
                {"seconds", static_cast<double>(outcome.duration.count()) / 1000.0},
                {"report", outcome.report()},
                {"error", ErrorJson(outcome.result)}};
}

Json ToJson(const DiscoveryResult& result) {
    Json modules = Json::array();
    for (const DiscoveredModule& m : result.modules) {
        modules.push_back(Json{{"address", m.address},
                               {"ident", TextOrNull(m.ident)},
                               {"serial", TextOrNull(m.serial)},
                               {"mac", TextOrNull(m.mac)},
                               {"module_version", TextOrNull(m.moduleVersion)},
                               {"tunnel_port", m.tunnelPort ? Json(m.tunnelPort) : Json(nullptr)}});
    }
    Json usb = Json::array();
    for (const DiscoveredUsb& u : result.usb) {
        usb.push_back(Json{{"product", u.product}, {"serial", u.serial}});
    }
    Json open = Json::array();
    for (const JournalEntry& entry : result.openEntries) open.push_back(ToJson(entry));
    return Json{{"modules", modules},
                {"serial_ports", result.serialPorts},
                {"usb", usb},
                {"open_entries", open},
                {"error", ErrorJson(result.result)}};
}

std::string IsoTime(std::int64_t seconds) {
    return FormatTime(seconds, "%Y-%m-%dT%H:%M:%SZ", TimeZone::Utc);
}

Json ToJson(const JournalEntry& entry) {
    Json changes = Json::array();
    for (DeviceChange change : entry.changes)
        changes.push_back(std::string(DeviceChangeName(change)));
    return Json{{"device", entry.device.id},
                {"kind", std::string(DeviceKindName(entry.device.kind))},
                {"row", TextOrNull(entry.rowType)},
                {"stopped_at", IsoTime(entry.stoppedAt)},
                {"changes", changes},
                {"message", ops::OpenEntryText(entry)}};
}

Json ToJson(const ops::Recovery& recovery) {
    Json doc = ToJson(recovery.entry);
    doc["restored"] = recovery.restored;
    doc["message"] = recovery.message;
    return doc;
}

std::string FileKindName(FileKind kind) {
    switch (kind) {
        case FileKind::IntelHex:
            return "intel-hex";
        case FileKind::WebServerRom:
        case FileKind::WebServerRo5:
            return "web-server-image";
        case FileKind::WebContentCob:
            return "web-content-image";
        case FileKind::WebPackageKvp:
            return "web-package";
    }
    return "intel-hex";
}

std::string EscapedText(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
        } else {
            out += c;
        }
    }
    return out;
}

Json ToJson(const FileCheck& check, const std::string& path) {
    auto orNull = [](bool present, Json value) { return present ? value : Json(nullptr); };
    const bool read = check.result.ok();
    const bool hex = check.kind == FileKind::IntelHex;
    // The scan ran only on a HEX file whose records are all sound.
    const bool scanned = hex && check.checksumOk;
    return Json{
        {"file", path},
        {"status", std::string(ExitStatusName(check.status()))},
        {"kind", orNull(check.kind.has_value(), check.kind ? FileKindName(*check.kind) : "")},
        {"description", orNull(check.kind.has_value(),
                               check.kind ? std::string(Describe(*check.kind).description) : "")},
        {"size", orNull(read, check.size)},
        {"integrity", orNull(read && hex, check.checksumOk)},
        {"fault",
         orNull(!check.fault.empty(), Json{{"line", check.faultLine}, {"failure", check.fault}})},
        {"refusal", orNull(!check.refusal.empty(), check.refusal)},
        {"controller_type",
         orNull(scanned && !check.controllerType.empty(), EscapedText(check.controllerType))},
        {"hardware", orNull(scanned && !check.hardware.empty(), EscapedText(check.hardware))},
        {"records", orNull(scanned, check.records)},
        {"data_bytes", orNull(scanned, check.dataBytes)},
        {"sha256", TextOrNull(check.sha256)},
        {"error", ErrorJson(check.result)}};
}

Json FailureJson(ExitStatus status, const SessionResult& error) {
    return Json{{"status", std::string(ExitStatusName(status))},
                {"exit", ToInt(status)},
                {"error", ErrorJson(error)}};
}

std::string Dump(const Json& document) {
    // Texts from devices are 8-bit: bytes that are no UTF-8 are replaced, never fatal.
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace kv::cli
