#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::campaign {

// Seeded fault campaign: one run puts one device family into a world of simulated
// devices, chooses rows, files and faults from its seed, plays UPGRADE on the virtual
// clock and checks the verdict against the models afterwards. The same seed replays
// the same run exactly.

enum class Family {
    Matrix,        // matrix CPU (bootloader-mode lines), PIC cards, web package
    DirectMatrix,  // matrix CPU set up directly, PIC card, web server and web content
    Modular,       // modular frame: its CPU, one I/O card, web server and web content
    Panel,         // control panel: cards by select code, web server image
    SerialFibre,   // fibre extender card on a COM port
    Transmitter,   // twisted-pair transmitter: STM32 bootloader on a COM port
    Usb,           // USB device with the HID bootloader
};
inline constexpr int kFamilyCount = 7;

enum class Fault {
    LostUdpAnswer,      // one answer of the module's GPIO port never comes back
    TunnelDropped,      // the tunnel connection closes in the middle of a transfer
    SilentCard,         // a PIC card's reply goes missing
    Nack,               // the STM32 bootloader refuses one write with NACK
    CorruptReadBack,    // a read-back carries a wrong byte
    RefusedWrite,       // the STM32 bootloader refuses every write from some point on
    DeviceStops,        // the device stops answering for good in the middle of the run
    TftpSilence,        // the module's TFTP server stops answering
    FlashCheckRefused,  // the device does not take the firmware image after its upload
    FtpRefused,         // the FTP server refuses one command
    FileUnreadable,     // a chosen file is cut short while the run is under way
    HidReportsLost,     // a HID input report never reaches the computer
    FileRefused,        // a chosen HEX file has a bad record, or another card type or hardware
    RequestRefused,     // the programming request refused: the CPU's bootloader never answers
};
inline constexpr int kFaultCount = 14;

std::string FamilyName(Family family);
std::string FaultName(Fault fault);

struct RunResult {
    std::uint64_t seed = 0;
    Family family = Family::Matrix;
    std::vector<Fault> faults;
    int rowsOk = 0;
    int rowsFailed = 0;
    std::chrono::milliseconds elapsed{0};  // virtual time of the UPGRADE run
    std::chrono::milliseconds bound{0};    // what the waits it is allowed add up to
    std::string report;                    // the report window's text
    std::vector<std::string> violations;
};

// One run, fully determined by the seed.
RunResult RunOne(std::uint64_t seed);

// The figures of many runs.
struct CampaignTotals {
    int runs = 0;
    std::array<int, kFamilyCount> families{};
    std::array<int, kFaultCount> faults{};
    int rowsOk = 0;
    int rowsFailed = 0;
    int violations = 0;
    std::chrono::milliseconds longest{0};
    std::chrono::milliseconds longestBound{0};
    std::uint64_t longestSeed = 0;
    double closestToBound = 0;  // largest elapsed / bound
    std::vector<RunResult> violating;  // the first few runs with violations

    void add(const RunResult& run);
    std::string table() const;
};

// Describes a run with violations so that it can be replayed.
std::string Describe(const RunResult& run);

}  // namespace kv::campaign
