#include "cli/Json.h"

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

Json ToJson(const ControllerRow& row) {
    return Json{
        {"row", row.row},           {"type", row.type},
        {"hardware", row.hardware}, {"bootloader", row.bootloader},
        {"firmware", row.firmware}, {"file", row.file.empty() ? Json(nullptr) : Json(row.file)}};
}

Json ToJson(const DeviceInfo& device) {
    return Json{{"kind", kindName(device.kind)},
                {"address", device.address},
                {"name", device.name},
                {"serial", device.serial},
                {"mac", device.mac},
                {"ident", device.ident},
                {"firmwareNumber", device.firmwareNumber},
                {"moduleVersion", device.moduleVersion},
                {"lanVersion", device.lanVersion},
                {"tunnelPort", device.tunnelPort}};
}

Json ToJson(const RowOutcome& row) {
    return Json{{"row", row.row < 0 ? Json(nullptr) : Json(row.row)},
                {"type", row.type},
                {"result", row.ok ? "OK" : "FAILED"}};
}

Json ToJson(const UpgradeOutcome& outcome) {
    Json rows = Json::array();
    for (const RowOutcome& row : outcome.rows) rows.push_back(ToJson(row));
    return Json{{"status", std::string(ExitStatusName(outcome.status()))},
                {"success", outcome.success},
                {"verdict", outcome.verdict},
                {"interrupted", outcome.interrupted},
                {"rows", rows},
                {"retransmissions", outcome.retransmissions},
                {"rewrites", outcome.rewrites},
                {"seconds", static_cast<double>(outcome.duration.count()) / 1000.0},
                {"report", outcome.report},
                {"error", ErrorJson(outcome.result)}};
}

Json ToJson(const DiscoveryResult& result) {
    Json modules = Json::array();
    for (const DiscoveredModule& m : result.modules) {
        modules.push_back(Json{{"address", m.address},
                               {"ident", m.ident},
                               {"serial", m.serial},
                               {"mac", m.mac},
                               {"moduleVersion", m.moduleVersion},
                               {"tunnelPort", m.tunnelPort}});
    }
    Json usb = Json::array();
    for (const DiscoveredUsb& u : result.usb) {
        usb.push_back(Json{{"product", u.product}, {"serial", u.serial}});
    }
    return Json{{"modules", modules},
                {"serialPorts", result.serialPorts},
                {"usb", usb},
                {"error", ErrorJson(result.result)}};
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
        {"error", ErrorJson(check.result)}};
}

std::string Dump(const Json& document) {
    // Texts from devices are 8-bit: bytes that are no UTF-8 are replaced, never fatal.
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace kv::cli
