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
//     "devices": [
//       {
//         "name": "stage-left",                          optional, unique; names the log file
//         "address": "192.168.1.20",                     exactly one of address, port, usb
//         "port": "/dev/ttyUSB0",
//         "usb": "SERIAL" or "PRODUCT:SERIAL",
//         "as": "NRV5x5",                                optional "Handle as" type
//         "files": {"RV-PNL16": "panel.hex", "2": "buttons.hex", "Web Server": "web.rom"},
//         "quick": false,                                optional, skip the read-back
//         "answers": {"protocol-switch": "no", "unreachable-device": "yes",
//                     "usb-bootloader-mode": "yes"}      optional
//       }
//     ]
//   }
//
// A files key is a controller type (the first row of that type) or a row number (0-based,
// as kvboot inventory prints it). Relative file paths are taken from the plan's folder.
// Running a plan is the operator's go-ahead: "Do you really want to upgrade?" is answered
// Yes unless the answers say "upgrade": "no".
struct PlanFile {
    std::string row;
    std::string path;  // absolute, normalised
};

struct PlanDevice {
    std::string name;
    Target target;
    std::optional<HandleAs> as;
    std::vector<PlanFile> files;
    bool quick = false;
    std::map<Question, MsgButton> answers;
};

struct FleetPlan {
    std::vector<PlanDevice> devices;
    int parallel = 0;  // 0: the default (all network devices at once, one per serial port)
};

// A plan that cannot be used; the text says where and why (exit status 2).
class PlanError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Parses and checks a plan: the JSON, every key and value, the targets, that every file
// exists. `source` names the plan in error texts; relative paths are resolved from
// `baseFolder`. Throws PlanError.
FleetPlan ParsePlan(const std::string& text, const std::string& source,
                    const std::filesystem::path& baseFolder);
// Reads the file and parses it (relative paths from the plan's folder).
FleetPlan LoadPlan(const std::string& path);

// The answers-object keys, by question ("upgrade", "protocol-switch", ...).
std::optional<Question> ParseQuestionName(const std::string& name);

// ---------------------------------------------------------------------------------------
// Time estimates. The model counts what the procedures put on the slowest link of each
// row and every fixed wait they must make; it leaves out the module's own forwarding delay
// and retransmissions, so a healthy link takes about this long or a little more.
//
// - PIC card: the erase frames of the card's erase range (9 bytes out, 5 back each), one
//   write frame per 16-byte block of program data at 0x0800 and above that is not erased
//   (25 out, 5 back) and, without quick, its read-back (9 out, 25 back), all at 19200 bit/s
//   8N1 (10 bits a byte); plus the card select and tunnel waits (1.7 s on a network
//   device), the pause after the row (1.5 s).
// - CPU (STM32 system bootloader, 57600 bit/s 8E1 over the module, 115200 8E1 on a COM
//   port, 11 bits a byte): the file's data bytes in 256-byte writes (5 address and 4 command
//   bytes and the acknowledgements around each, plus the read-back of each block unless
//   quick), the erase, the bootloader entry and exit waits (about 9 s).
// - Web server image: TFTP over the LAN (not counted) and the 4.5 s restart wait.
// - Web content image: the 6 s wait before it and the TFTP transfer.
// - Web package: TFTP, the 4.8 s restart and reconnection waits; the FTP upload of the
//   content is counted at 1 MB/s.
// - USB HID: 64-byte reports at 1 ms each and a 2 s restart.
// After the last row the device is restored: 11.1 s for slot devices (the card release
// rounds), 0.7 s for devices with a CPU row, nothing for USB devices.
enum class RowKind { PicCard, Cpu, WebServer, WebContent, WebPackage, Usb };

RowKind RowKindOf(const std::string& controllerType, TargetKind target);
std::string RowKindName(RowKind kind);

// What the estimate needs to know about a file.
struct FileFigures {
    std::uint64_t bytes = 0;          // data bytes (HEX) or file size (images)
    std::uint64_t programBlocks = 0;  // HEX: 16-byte program blocks to write, erased ones left out
    bool readable = false;
};
// HEX files are read record by record (bad records are not counted); other files by size.
FileFigures MeasureFile(const std::string& path, RowKind kind);

struct RowEstimate {
    std::chrono::milliseconds wire{0};   // bytes on the slowest link
    std::chrono::milliseconds waits{0};  // fixed waits the procedures make
    std::chrono::milliseconds total() const { return wire + waits; }
};

RowEstimate EstimateRow(RowKind kind, const std::string& controllerType,
                        const FileFigures& file, bool quick, TargetKind target);
// The waits of returning the device to normal operation after its rows.
std::chrono::milliseconds EstimateRestore(TargetKind target, bool hasCpuRow);

// A version a.b.c in a file name ("panel-1.4.2.hex", "web_v2_0_1.rom"), or empty.
std::string VersionInFileName(const std::string& path);

// "1:05" / "12:30" / "1:02:03".
std::string FormatDuration(std::chrono::milliseconds duration);

}  // namespace kv::cli
