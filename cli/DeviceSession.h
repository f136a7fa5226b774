#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/ExitStatus.h"
#include "core/FileKinds.h"
#include "core/Ui.h"

namespace kv {
class Clock;
}

namespace kv::cli {

// ---------------------------------------------------------------------------------------
// Targets: what a command line names a device by.
//   192.168.1.20          a network module (its tunnel port asked of the module)
//   192.168.1.20:10001    a network module with its tunnel port given (no discovery query)
//   /dev/ttyUSB0, COM3    a serial port (anything that is no address and no usb:)
//   serial:NAME           a serial port, said explicitly
//   usb:SERIAL            a USB HID device of the maker by its serial number
//   usb:PRODUCT:SERIAL    ... by product name and serial number
enum class TargetKind { Network, Serial, Usb };

struct Target {
    TargetKind kind = TargetKind::Network;
    std::string address;  // IPv4 address, port name, or USB serial number
    int tunnelPort = 0;   // network: 0 = ask the module (discovery query to the address)
    std::string product;  // USB: product name, empty = any
    std::string text;     // as given
};

// nullopt and `error` set when the text names no target.
std::optional<Target> ParseTarget(const std::string& text, std::string& error);

// The "Handle as" choices, by the names the window's menu shows ("RV-CTL2", "HQLX-FBR",
// "NRV-FK-TW-SN500", "NRV-TW-SN500S", "RV6x6-2WQRI-Max", "NRV5x5", "LNK-FBR-RC-330").
enum class HandleAsType {
    RvCtl2,
    HqlxFbr,
    NrvFkTwSn500,
    NrvTwSn500s,
    Rv6x6Max,
    Nrv5x5,
    LnkFbrRc330
};
// Case-insensitive; nullopt for an unknown name.
std::optional<HandleAsType> ParseHandleAs(const std::string& name);
std::string HandleAsName(HandleAsType type);
// True for the network list's entries (RV-CTL2, RV6x6-2WQRI-Max, NRV5x5).
bool IsNetworkHandleAs(HandleAsType type);
// Every name, in menu order (for --help and error texts).
std::vector<std::string> HandleAsNames();

// ---------------------------------------------------------------------------------------
// What a session reads back.

// One controller row of the connected device (the controller grid's row).
struct ControllerRow {
    int row = 0;  // 0-based row number in the grid
    std::string type;
    std::string hardware;
    std::string bootloader;
    std::string firmware;
    std::string file;  // chosen file (full path), empty = none
    int cardAddress = 0;
};

// The connected device's properties.
struct DeviceInfo {
    std::string name;  // "Device Properties" name (from the ident)
    std::string serial;
    std::string address;  // IPv4 address, port name, or the USB text
    std::string mac;
    std::string ident;  // raw "{I}" reply
    int firmwareNumber = 0;
    std::string moduleVersion;
    std::string lanVersion;
    int tunnelPort = 0;
    TargetKind kind = TargetKind::Network;
};

// Why an operation did not do what was asked.
enum class SessionError {
    None,
    NotFound,     // the target did not answer / does not exist
    Unreachable,  // it answered discovery but the connection or identification failed
    BadInput,     // a row that does not exist, a file that cannot be read, a bad target
    Question,     // the procedure asked a question no flag answers (see `message`)
    Interrupted,  // requestInterrupt() ended it
    Failed,       // anything else the procedure reported (message/error box text)
};

struct SessionResult {
    SessionError error = SessionError::None;
    std::string message;  // clear text for the operator (stderr / JSON "error")
    bool ok() const { return error == SessionError::None; }
};

// The exit status an error stands for (None -> Ok).
ExitStatus StatusOf(SessionError error);

// One row's line of the upgrade report.
struct RowOutcome {
    int row = -1;  // grid row; -1 when the report line names no row of the device
    std::string type;
    bool ok = false;
};

struct UpgradeOutcome {
    SessionResult result;             // BadInput / Question / Interrupted / NotFound ...
    std::vector<RowOutcome> rows;     // one per "<type>...OK/FAILED" report line
    std::vector<std::string> report;  // the report's text lines as the window shows them
    std::string verdict;              // "Upgrade successful" / "Upgrade FAILED"
    bool success = false;             // verdict of the report
    bool interrupted = false;         // requestInterrupt() cut the run short
    int retransmissions = 0;
    int rewrites = 0;
    std::chrono::milliseconds duration{0};
    // Ok only when the run ended with every row OK.
    ExitStatus status() const;
};

// Progress of the row being upgraded (called on the session's engine thread).
struct ProgressEvent {
    int row = -1;  // grid row being upgraded, -1 when none is known
    std::string type;
    int percent = 0;                               // 0..100
    std::uint64_t bytes = 0;                       // estimated bytes done of the row's file
    std::uint64_t totalBytes = 0;                  // bytes of the row's file (HEX: data bytes)
    std::optional<std::chrono::seconds> timeLeft;  // none until it can be estimated
    std::string status;  // the status line ("Programming & Verifying ...")
};

// ---------------------------------------------------------------------------------------
// Questions the procedures ask, and who answers them. A question not in the table is
// answered with its safe (default) button at once and the operation fails with
// SessionError::Question, naming the flag that would answer it; nothing waits.
enum class Question {
    Connect,            // "Do you want to establish connenction with the device?"
    Upgrade,            // "Do you really want to upgrade?" (--yes)
    ProtocolSwitch,     // "Protocol#2 is active! Do you want to switch ...?"
    UnreachableDevice,  // "The selected device is unreachable! ... continue?"
    UsbBootloaderMode,  // the USB device's "... upgrade mode ..." question (--yes)
    ModifyPath,         // "Do you really want to modify the path?" (the session answers)
    Exit,               // "Do you really want to exit?" (the session's close answers)
    Other,
};
// Which question a text is.
Question ClassifyQuestion(const std::string& text);
// The command-line flag that answers it ("--yes"), or empty.
std::string FlagFor(Question question);

// ---------------------------------------------------------------------------------------
// Discovery: FIND as the window does it (network modules, serial ports, USB devices).
struct DiscoveredModule {
    std::string address;
    std::string mac;
    std::string ident;
    std::string serial;
    std::string moduleVersion;
    int tunnelPort = 0;
};
struct DiscoveredUsb {
    std::string product;
    std::string serial;
};
struct DiscoveryResult {
    SessionResult result;
    std::vector<DiscoveredModule> modules;
    std::vector<std::string> serialPorts;
    std::vector<DiscoveredUsb> usb;
};

// ---------------------------------------------------------------------------------------
struct SessionOptions {
    // Names the log file: "logfile-<name>.txt" in the usual log folder (empty: "logfile.txt").
    std::string deviceName;
    // Per-user application data folder of the platform; empty: the platform's own.
    std::string platformDataFolder;
    // Where the log goes when the application data folder does not exist; empty: ".".
    std::string workingFolder;
    // Time source for every fixed wait; nullptr: real time. Not owned.
    Clock* clock = nullptr;
    bool quickBootload = false;
    // Answers to questions (see Question). Connect, ModifyPath and Exit are answered by the
    // session's own operations and need no entry.
    std::map<Question, MsgButton> answers;
    // How long connect() waits for a module's discovery answers when the tunnel port is
    // not given.
    std::chrono::milliseconds discoveryWait{3000};
    // Called on the engine thread; keep them short.
    std::function<void(const ProgressEvent&)> onProgress;
    std::function<void(const std::string&)> onMemo;  // communication memo lines
};

// One device's own headless engine: its shared state, its log file, its clock, its real
// channels and the engine thread, with a console Ui that answers from `answers`. Several
// sessions may run at once in one process, each on its own thread. The operations block
// the calling thread until the engine finished them; they never wait for a person.
class DeviceSession {
  public:
    explicit DeviceSession(SessionOptions options = {});
    // Closes as the window's close does (device returned to normal operation) when a
    // device is still connected, then stops the engine.
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // FIND: waits `wait` for answers (their tunnel exchanges included).
    DiscoveryResult discover(std::chrono::milliseconds wait);

    // Connects and runs the inventory (identification, or the assumed "Handle as" type).
    SessionResult connect(const Target& target, std::optional<HandleAsType> as = std::nullopt);
    bool connected() const;
    DeviceInfo device() const;
    std::vector<ControllerRow> rows() const;

    // Chooses the file for a row, by controller type (first row of that type, case
    // insensitive) or by row number; the row is ticked. BadInput for an unknown row or a
    // file that does not exist.
    SessionResult chooseFile(const std::string& row, const std::string& path);
    void setQuickBootload(bool on);
    void setAnswer(Question question, MsgButton answer);

    // The upgrade procedure for the chosen rows, with its report.
    UpgradeOutcome upgrade();

    // Thread-safe (also from a signal-watching thread): the running upgrade finishes the
    // frame in flight, the rows still to do fail, the device is restored as the close
    // procedure does and upgrade() returns with `interrupted`. Before or between
    // operations it makes the next connect/upgrade return Interrupted at once.
    void requestInterrupt();
    bool interruptRequested() const;

    // The close procedure: returns a connected device to normal operation, closes the
    // connections and the log. Safe to call twice.
    SessionResult close();

    std::string logPath() const;
    // Message and error box texts shown so far, in order.
    std::vector<std::string> messages() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Whole LAN / serial / USB discovery with a session of its own.
DiscoveryResult Discover(std::chrono::milliseconds wait, SessionOptions options = {});

// ---------------------------------------------------------------------------------------
// What a firmware file is: its kind by its extension and its size; for a HEX file the
// integrity check and the information scan.
struct FileCheck {
    SessionResult result;          // BadInput when the file cannot be read
    std::optional<FileKind> kind;  // nullopt: an extension kvboot knows no firmware by
    std::uint64_t size = 0;        // bytes
    bool checksumOk = false;       // HEX: every record sound
    int faultLine = 0;             // HEX: the first bad line, when not sound
    std::string fault;             // HEX: that line's failure ("Checksum error", ...)
    std::string refusal;           // why the file is refused (empty when it is taken)
    std::string controllerType;    // HEX: from the information scan, raw bytes; empty: none
    std::string hardware;
    std::uint64_t dataBytes = 0;  // HEX: data bytes of the file's records
    std::uint64_t records = 0;    // HEX: data records
    // Ok when the file is taken, FileRefused otherwise (also when it cannot be read).
    ExitStatus status() const;
};
FileCheck CheckFile(const std::string& path);

}  // namespace kv::cli
