#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/SharedState.h"

namespace kv {

// What the program is about to change on a device, as the run journal records it; a
// run that dies leaves these for the next contact to undo.
enum class DeviceChange : std::uint8_t {
    SerialSetup,     // the module's serial channel (set-up record)
    BootloaderMode,  // the module's bootloader mode, or a serial device's upgrade mode
    SelectLines,     // a card on the GPIO select code
    ShiftRegister,   // a card or the CPU latched by the shift register
    CpuBootloader,   // an STM32 CPU held in its system bootloader
    UsbBootloader,   // a USB device restarted into its HID bootloader
    Erase,           // the first erase of a row: its firmware is incomplete until written
    Upload,          // a TFTP or FTP upload into the module
};
inline constexpr DeviceChange kDeviceChanges[] = {
    DeviceChange::SerialSetup,   DeviceChange::BootloaderMode, DeviceChange::SelectLines,
    DeviceChange::ShiftRegister, DeviceChange::CpuBootloader,  DeviceChange::UsbBootloader,
    DeviceChange::Erase,         DeviceChange::Upload};
// "serial-setup", "bootloader-mode", ... (the journal's and kvboot's JSON names).
std::string_view DeviceChangeName(DeviceChange change);
std::optional<DeviceChange> DeviceChangeNamed(std::string_view name);

// A device as the journal knows it: by its address (and MAC), its serial port or its USB
// serial number.
struct DeviceKey {
    ConnectionKind kind = ConnectionKind::None;
    std::string id;   // IPv4 address, port name or USB serial number
    std::string mac;  // network devices; empty when not known
    bool valid() const { return kind != ConnectionKind::None && !id.empty(); }
    // The same device: kind and id equal, and the MACs equal when both are known.
    bool sameDevice(const DeviceKey& other) const;
};
// "network", "serial", "usb".
std::string_view DeviceKindName(ConnectionKind kind);

// What the way back to normal operation needs to know about a device that a device left
// switched over cannot tell: its identity as the connect found it and its rows' kind.
struct RestoreFacts {
    std::string name;        // device name for the operator (ident or product)
    int firmwareNumber = 0;  // DeviceFwNumber
    std::string firstRow;    // controller type of the first row; empty before the inventory
    bool directSetupMatrix = false;
    bool directSetupModular = false;
    int tunnelPort = 0;
    // The module's serial setting before the program first changed it ("57600-none",
    // "9600-none"); empty when not read. An entry keeps the first one it was told.
    std::string normalSerial;
};

// One device's open entry: what was changed and which row was being programmed.
struct JournalEntry {
    DeviceKey device;
    RestoreFacts facts;
    std::vector<DeviceChange> changes;  // in the order first made, each once
    int row = -1;                       // grid row being programmed, -1: none
    std::string rowType;
    std::uint64_t done = 0;      // bytes of the row's file that reached the device
    std::uint64_t total = 0;     // bytes of the row's file (0: not measured)
    std::int64_t openedAt = 0;   // seconds since the epoch (UTC)
    std::int64_t stoppedAt = 0;  // time of the last update
    bool has(DeviceChange change) const;
};

// The run journal the procedures write before they change a device. Implementations
// must be safe to call from several engine threads at once (one device each).
class Journal {
  public:
    virtual ~Journal() = default;
    // Before `change` goes out to `device`; opens its entry when none is open.
    virtual void deviceChanging(const DeviceKey& device, const RestoreFacts& facts,
                                DeviceChange change) = 0;
    // A row of a run starts on the device (its entry must be open).
    virtual void rowStarted(const DeviceKey& device, int row, const std::string& type) = 0;
    // Bytes of the row's file that reached the device; may be kept in memory only for a
    // while, at least the row's start and its changes are written at once.
    virtual void progress(const DeviceKey& device, std::uint64_t done, std::uint64_t total) = 0;
    // The device's restore ran: its entry is closed.
    virtual void restored(const DeviceKey& device) = 0;
    // Open entries that no other running program holds (a program that died left them).
    virtual std::vector<JournalEntry> openEntries() = 0;
    // Open entries that another running program holds now (its run is going on).
    virtual std::vector<JournalEntry> heldEntries() = 0;
    // What reading the journal found damaged, once per reading; empty when sound.
    virtual std::string takeWarning() = 0;
};

// The open entry of `device`, when one is open and free.
std::optional<JournalEntry> OpenEntryOf(Journal& journal, const DeviceKey& device);

}  // namespace kv
