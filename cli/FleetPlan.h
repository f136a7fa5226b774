#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/DeviceSession.h"

namespace kv::cli {

// A fleet plan: which devices, which file for which row, and how each device is handled.
//
//   {
//     "parallel": 4,                                     optional, at least 1
//     "discovery_wait": 5,                               optional, seconds (default 3)
//     "devices": [
//       {
//         "name": "stage-left",                          optional, unique; names the log file
//         "address": "192.168.1.20",                     exactly one of address, port, usb
//         "port": "/dev/ttyUSB0",
//         "usb": "SERIAL" or "PRODUCT:SERIAL",
//         "as": "NRV5x5",                                optional "Handle as" type
//         "files": {"RV-PNL16": "panel.hex", "2": "buttons.hex", "Web Server": "web.rom"},
//                  a file may also be pinned: {"path": "panel.hex", "sha256": "64 hex digits"}
//         "expect": {"RV-PNL16": "FW:1.5.0"},            optional, rows named as in files
//         "force": false,                                optional, flash rows already at
//                                                        their expected version too
//         "verify": true,                                optional, read the versions back
//                                                        after the run (default true)
//         "quick": false,                                optional, skip the read-back
//         "answers": {"protocol-switch": "no", "unreachable-device": "yes",
//                     "usb-bootloader-mode": "yes"},     optional
//         "discovery_wait": 10                           optional, this device's wait
//       }
//     ]
//   }
//
// A files key is a controller type (the first row of that type) or a row number (0-based,
// as kvboot inventory prints it). Relative file paths are taken from the plan's folder.
// Running a plan is the operator's go-ahead: "Do you really want to upgrade?" is answered
// Yes unless the answers say "upgrade": "no".
// The path is absolute and normalised; a pinned digest is as the plan gives it.
using PlanFile = RowFile;

struct PlanDevice {
    std::string name;
    Target target;
    std::optional<HandleAs> as;
    std::vector<PlanFile> files;
    bool quick = false;
    bool force = false;
    bool verify = true;
    std::map<Question, MsgButton> answers;
    // How long to wait for the module's discovery answer; none: the plan's or the default.
    std::optional<std::chrono::milliseconds> discoveryWait;
};

struct FleetPlan {
    std::vector<PlanDevice> devices;
    int parallel = 0;  // 0: the default (all network devices at once, one per serial port)
    std::optional<std::chrono::milliseconds> discoveryWait;  // for devices without their own
};

// A plan that cannot be used; the text says where and why (exit status 2).
class PlanError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Parses and checks a plan: the JSON, every key and value, the targets, and every file as
// CheckFilesBeforeConnect does (nothing of the plan has contacted a device yet). `source` names the
// plan in error texts; relative paths are resolved from `baseFolder`. Throws PlanError.
FleetPlan ParsePlan(const std::string& text, const std::string& source,
                    const std::filesystem::path& baseFolder);
// Reads the file and parses it (relative paths from the plan's folder).
FleetPlan LoadPlan(const std::string& path);

// The answers-object keys, by question ("upgrade", "protocol-switch", ...).
std::optional<Question> ParseQuestionName(const std::string& name);

// ---------------------------------------------------------------------------------------
// Time estimates. The model counts what the procedures put on the slowest link of each
// row and every fixed wait they make (the procedures' own constants); it leaves out the
// module's own forwarding delay and retransmissions, so a healthy link takes about this
// long or a little more.
//
// - PIC card: the erase frames of the card's erase range, one write frame per 16-byte block
//   of program data in the writable window that is not erased (fibre cards: erased ones
//   too) and, without quick and except on fibre cards, its read-back; the data EEPROM
//   writes with their pause; all at 19200 bit/s 8N1 (10 bits a byte). On a network device
//   the card select settles and the tunnel is opened afresh before the erase; on a serial
//   port every read-back reply ends only after the line fell silent. Then the pause after
//   the row.
// - CPU (STM32 system bootloader, 57600 bit/s 8E1 over the module, 115200 8E1 on a COM
//   port, 11 bits a byte): the file's data bytes in 256-byte writes (address and command
//   bytes and the acknowledgements around each, plus the read-back of each block unless
//   quick), the erase, the bootloader entry and exit (about 9 s), the acknowledgement polls
//   on the tunnel.
// - Web server image: TFTP over the LAN and the restart waits.
// - Web content image: the waits before it and the TFTP transfer.
// - Web package: the restart and reconnection waits; the archive crosses the LAN at 1 MB/s.
// - USB HID: the erase and the bootloader's whole window in 32-byte blocks, each written,
//   settled and verified.
// After the last row a network device is restored: the card release rounds for slot
// devices, the CPU's release for devices with a CPU row.
enum class RowKind { PicCard, Cpu, WebServer, WebContent, WebPackage, Usb };

RowKind RowKindOf(const std::string& controllerType, TargetKind target);
std::string RowKindName(RowKind kind);

// What the estimate needs to know about a file.
struct FileFigures {
    std::uint64_t bytes = 0;          // data bytes (HEX) or file size (images)
    std::uint64_t programBlocks = 0;  // HEX: 16-byte program blocks to write, erased ones left out
    bool readable = false;
    std::uint64_t erasedBlocks = 0;  // HEX: erased (all 0xFF) blocks in the writable window
    std::uint64_t eepromWrites = 0;  // HEX: data EEPROM writes of up to 16 bytes
    std::uint64_t eepromBytes = 0;
};
// HEX files are read by the firmware reader up to the first bad record, the blocks cut as
// the PIC programming pass cuts them; other files by size.
FileFigures MeasureFile(const std::string& path, RowKind kind);

struct RowEstimate {
    std::chrono::milliseconds wire{0};   // bytes on the slowest link
    std::chrono::milliseconds waits{0};  // fixed waits the procedures make
    std::chrono::milliseconds total() const { return wire + waits; }
};

RowEstimate EstimateRow(RowKind kind, const std::string& controllerType, const FileFigures& file,
                        bool quick, TargetKind target);
// The waits of returning the device to normal operation after its rows.
std::chrono::milliseconds EstimateRestore(TargetKind target, bool hasCpuRow);

// "1:05" / "12:30" / "1:02:03".
std::string FormatDuration(std::chrono::milliseconds duration);

}  // namespace kv::cli
