#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/Types.h"
#include "core/ports/Bytes.h"

namespace kv {

// Values of the four "Device Properties" labels.
// How the connected device is reached: through its network module's tunnel, a serial
// port, or USB HID; None while no device is connected.
enum class ConnectionKind : std::int32_t { None = 0, Network = 1, Serial = 2, Usb = 3 };

struct DeviceProperties {
    std::string name;
    std::string serial;
    std::string ip;
    std::string mac;
};

// One row of the "USB Devices" list; index is the hidden claimed-device index.
struct UsbRow {
    std::string product;
    std::string serial;
    std::string index;
};

// The state every procedure shares, touched only by the engine thread.
struct SharedState {
    static constexpr std::size_t kRxBufferSize = 1028;
    static constexpr int kCardAddressCount = 8;

    std::vector<TMatrixRec> DeviceList;
    std::int32_t SelectedDevice = 0;
    std::string CurrentIP = "0.0.0.0";
    std::string LocalIP;
    kv::ConnectionKind ConnectionKind = kv::ConnectionKind::None;
    std::array<std::uint8_t, kCardAddressCount> CardAddresses{1, 2, 3, 4, 5, 6, 0, 0};
    std::int32_t CardQueryCount = 6;
    std::int32_t DeviceFwNumber = 0;
    bool DirectSetupMatrix = false;
    bool DirectSetupModular = false;
    bool TpTransmitterMode = false;
    bool HandleAsFibreRx = false;
    bool FibreLinkMode = false;
    std::string IdentReply;
    std::string ProtocolReply;
    std::int32_t ProtocolNumber = 0;
    std::string HexControllerType;
    std::string HexHardwareInfo;
    bool HexFileOpened = false;
    // The device may be away from normal operation (its module's serial channel, select
    // lines or bootloader mode changed) and no restore has run since: the close restores
    // it then. A device just opened counts as changed until a restore ran.
    bool deviceSwitchedOver = true;
    std::int32_t TrailingRowCount = 0;
    std::array<std::uint8_t, kRxBufferSize> RxBuffer{};
    std::int32_t RxCount = 0;
    std::string DebugSwitch;
    // Per-user application data folder of the program (Korvandel/KV_bootloader_v3_3_2).
    std::string AppDataFolder;

    // Upgrade run state. RowOk: the row being upgraded is still healthy (set by the upgrade
    // procedures when a row starts, cleared by the PIC link and flash operations and the
    // TFTP upload when they fail). The two totals are printed at the end of the report.
    bool RowOk = false;
    std::int32_t RetransmissionCount = 0;
    std::int32_t RewriteCount = 0;

    // Contents of the main window's lists, mirrored here because procedures read them.
    DeviceProperties properties;
    std::vector<std::string> networkTree;  // the network list's root entries
    std::vector<std::string> comTree;      // the COM port list's root entries
    // Within one FIND: the addresses whose set-up record answer was handled (repeats are
    // ignored) and whether a failed tunnel exchange was shown in an error box already.
    std::set<std::string> setupAnswered;
    bool tunnelErrorShown = false;
    // Who may answer on the discovery port: after FIND's broadcasts any module, otherwise
    // only the addresses queried one by one (Add IP, the set-up record queries). Senders
    // refused are named in the log once.
    bool discoveryBroadcastSent = false;
    std::set<std::string> discoveryQueried;
    std::set<std::string> discoveryRefused;
    std::vector<UsbRow> usbRows;  // the USB list's rows
    // Texts of the controller grid's rows, five columns; at least one row.
    std::vector<std::array<std::string, 5>> gridCells = std::vector<std::array<std::string, 5>>(1);

    // Appends arrivals of ClientSocket1 or ComPort1 (ClientSocket1Read, ComPort1RxChar):
    // after the first RxCount bytes when RxCount > 0, else from the start. Bytes that do
    // not fit into RxBuffer are dropped.
    void appendRx(ByteView bytes);
    ByteView rxBytes() const {
        return ByteView(RxBuffer.data(), static_cast<std::size_t>(RxCount));
    }

    // The device at SelectedDevice, or nullptr when the index is out of range.
    TMatrixRec* selectedDevice();
    const TMatrixRec* selectedDevice() const;
    // Controllers of the selected device, or nullptr.
    std::vector<TControllerRec>* selectedControllers();

    // Writes controller rec into grid row `row` (adding rows as needed): type, hardware,
    // bootloader and firmware versions, and the chosen file's name without its folder.
    void setGridRow(std::size_t row, const TControllerRec& controller);
};

}  // namespace kv
