#include "core/Journal.h"

#include <algorithm>

namespace kv {

namespace {

struct ChangeName {
    DeviceChange change;
    std::string_view name;
};
constexpr ChangeName kChangeNames[] = {
    {DeviceChange::SerialSetup, "serial-setup"},
    {DeviceChange::BootloaderMode, "bootloader-mode"},
    {DeviceChange::SelectLines, "select-lines"},
    {DeviceChange::ShiftRegister, "shift-register"},
    {DeviceChange::CpuBootloader, "cpu-bootloader"},
    {DeviceChange::UsbBootloader, "usb-bootloader"},
    {DeviceChange::Erase, "erase"},
    {DeviceChange::Upload, "upload"},
};

}  // namespace

std::string_view DeviceChangeName(DeviceChange change) {
    for (const auto& entry : kChangeNames)
        if (entry.change == change) return entry.name;
    return "unknown";
}

std::optional<DeviceChange> DeviceChangeNamed(std::string_view name) {
    for (const auto& entry : kChangeNames)
        if (entry.name == name) return entry.change;
    return std::nullopt;
}

std::string_view DeviceKindName(ConnectionKind kind) {
    switch (kind) {
        case ConnectionKind::Network:
            return "network";
        case ConnectionKind::Serial:
            return "serial";
        case ConnectionKind::Usb:
            return "usb";
        case ConnectionKind::None:
            break;
    }
    return "none";
}

bool DeviceKey::sameDevice(const DeviceKey& other) const {
    if (kind != other.kind || id != other.id) return false;
    return mac.empty() || other.mac.empty() || mac == other.mac;
}

bool JournalEntry::has(DeviceChange change) const {
    return std::find(changes.begin(), changes.end(), change) != changes.end();
}

std::optional<JournalEntry> OpenEntryOf(Journal& journal, const DeviceKey& device) {
    for (JournalEntry& entry : journal.openEntries())
        if (entry.device.sameDevice(device)) return std::move(entry);
    return std::nullopt;
}

}  // namespace kv
