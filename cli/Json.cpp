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

Json ToJson(const FileCheck& check, const std::string& path) {
    return Json{{"file", path},
                {"status", std::string(ExitStatusName(check.status()))},
                {"integrity", check.checksumOk},
                {"fault", check.fault.empty() ? Json(nullptr) : Json(check.fault)},
                {"controllerType", check.controllerType},
                {"hardware", check.hardware},
                {"records", check.records},
                {"dataBytes", check.dataBytes},
                {"error", ErrorJson(check.result)}};
}

std::string Dump(const Json& document) {
    // Texts from devices are 8-bit: bytes that are no UTF-8 are replaced, never fatal.
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace kv::cli
