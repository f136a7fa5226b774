#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/Operations.h"
#include "cli/ExitStatus.h"
#include "core/FileKinds.h"
#include "core/RunResult.h"
#include "core/Ui.h"
#include "device/HandleAs.h"
#include "records/UpgradeHistory.h"

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

// A file the command line (--file ROW=PATH) or a plan gives for a row: ROW is a controller
// type (the first row of that type, in any case) or a row number. The digest the file must
// have and the version the row must run afterwards come with it (--sha256, --expect, a
// plan's pinned files and "expect").
struct RowFile {
    std::string row;
    std::string path;
    std::string sha256;    // pinned digest, hex; empty: not pinned
    std::string expected;  // the version the row must run afterwards; empty: none
};
// A row named by its number rather than by its controller type.
bool IsRowNumber(const std::string& row);

// The "Handle as" choices (device/HandleAs.h), by name, case-insensitive.
std::optional<HandleAs> ParseHandleAs(const std::string& name);
// Every name, in menu order, joined by ", " (for --help and error texts).
std::string HandleAsNameList();

// ---------------------------------------------------------------------------------------
// What a session reads back.

// One controller row of the connected device (the controller grid's row).
using ControllerRow = ops::RowView;

// The row a command line names: a controller type (the first row of that type, case
// insensitive) or a row number; nothing when the device has no such row.
std::optional<std::size_t> FindRow(const std::vector<ControllerRow>& rows, const std::string& row);
// Whether two row names name the same row on every device (the same text, any case).
bool SameRowName(const std::string& a, const std::string& b);

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

struct UpgradeOutcome {
    SessionResult result;      // BadInput / Question / Interrupted / NotFound ...
    RunResult run;             // what the run did, row by row (ops::Upgrade)
    bool interrupted = false;  // requestInterrupt() cut the run short
    // The run may have written to the device's memories (false: every row skipped, or
    // refused before anything was sent).
    bool changed = false;
    std::chrono::milliseconds duration{0};
    // What the upgrade history keeps of the run (none when it did nothing worth keeping);
    // DeviceSession::appendHistory writes it.
    std::optional<UpgradeRecord> record;
    // The report's text lines and verdict as the window shows them.
    std::vector<std::string> report() const;
    std::string verdict() const;
    bool success() const { return result.ok() && run.success(); }
    // Ok only when the run ended with every row OK.
    ExitStatus status() const;
};

// Progress of the step being run, as a front end shows it (called on the session's
// engine thread).
struct RowProgress {
    ProgressPhase phase = ProgressPhase::Connecting;
    int row = -1;  // grid row being upgraded, -1 outside a row
    std::string type;
    int percent = 0;                               // 0..100 of the phase's bytes
    std::uint64_t bytes = 0;                       // bytes of the row's file done
    std::uint64_t totalBytes = 0;                  // bytes of the phase (0: no measure)
    std::optional<std::chrono::seconds> timeLeft;  // none until it can be estimated
};
std::string_view PhaseName(ProgressPhase phase);  // "connecting", "erasing", ...

// ---------------------------------------------------------------------------------------
// Answers the command line gives to the procedures' questions (by flag or plan key). A
// question no answer covers is answered with its safe (default) button at once and the
// operation fails with SessionError::Question, naming the flag that would answer it.
enum class Question {
    Upgrade,            // "Do you really want to upgrade?" (--yes)
    ProtocolSwitch,     // "Protocol#2 is active! ..." (--switch-protocol)
    UnreachableDevice,  // the device to release or restore does not answer
    UsbBootloaderMode,  // the USB device's upgrade mode question (--yes)
};
// The questions an answer covers.
std::vector<QuestionId> QuestionIdsOf(Question answer);
// The command-line flag that answers a question ("--yes"), or empty.
std::string FlagFor(QuestionId question);
// `what` needs an answer to `question` that nothing gave: the text says which flag gives it.
std::string UnansweredText(const std::string& what, QuestionId id, const std::string& question);

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
    // Devices the run journal has open entries for (only told, never touched).
    std::vector<JournalEntry> openEntries;
};

// The run journal's entries as `kvboot status` lists them.
struct JournalListing {
    std::vector<JournalEntry> open;   // left by a program that died: restored at the next connect
    std::vector<JournalEntry> inUse;  // held by a program running now
};

// ---------------------------------------------------------------------------------------
// What a discovery wait may be (--discovery-wait, a plan's "discovery_wait"), in seconds.
constexpr double kMinDiscoveryWaitSeconds = 0.1;
constexpr double kMaxDiscoveryWaitSeconds = 60.0;

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
    // Answers to questions (see Question); the session's own operations answer the rest.
    std::map<Question, MsgButton> answers;
    // How long connect() waits for a module's discovery answers when the tunnel port is
    // not given.
    std::chrono::milliseconds discoveryWait{3000};
    // Called on the engine thread; keep them short.
    std::function<void(const RowProgress&)> onProgress;
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

    // The files an upgrade after the connect will take. A USB device's connect puts it
    // into its bootloader: it is connected only when these pass the checks against the
    // product it is listed as (CheckFilesBeforeConnect; BadInput otherwise, nothing sent).
    void expectFiles(std::vector<RowFile> files);
    // Connects and runs the inventory (identification, or the assumed "Handle as" type). A
    // device the run journal has an open entry for is restored first (see recovered()).
    SessionResult connect(const Target& target, std::optional<HandleAs> as = std::nullopt);
    // What the last connect's recovery did; nullopt when the device had no open entry.
    std::optional<ops::Recovery> recovered() const;
    // Restores the devices of the journal's open entries (those of `target` only when
    // given), as the next connect would, without connecting to them.
    std::vector<ops::Recovery> recover(const std::optional<Target>& target);
    JournalListing journal();
    bool connected() const;
    DeviceInfo device() const;
    std::vector<ControllerRow> rows() const;

    // Chooses the file for a row, by controller type (first row of that type, case
    // insensitive) or by row number; the row is ticked. BadInput for an unknown row, a
    // file that does not exist, or a file of another kind than the row takes.
    SessionResult chooseFile(const std::string& row, const std::string& path);
    void setQuickBootload(bool on);
    void setAnswer(Question question, MsgButton answer);

    // The upgrade procedure for the chosen rows, with its report and history record.
    // `skipped`: rows left out because they already run the version asked for; they join
    // the run and its record. With no row chosen, they are the whole run: nothing is sent
    // and the record says the device was left unchanged.
    UpgradeOutcome upgrade(std::vector<RowResult> skipped = {});
    // Appends the outcome's record to the upgrade history in the session's data folder
    // (nothing to do without one). Failed when it could not be written; the run itself
    // stands. Callable also after close().
    SessionResult appendHistory(const UpgradeOutcome& outcome);

    // Thread-safe (also from a signal-watching thread): the running upgrade finishes the
    // frame in flight, the rows still to do fail, the device is restored as the close
    // procedure does and upgrade() returns with `interrupted`. Before or between
    // operations it makes the next connect/upgrade return Interrupted at once.
    void requestInterrupt();
    bool interruptRequested() const;

    // The close procedure: returns a connected device to normal operation, closes the
    // connections and the log. Safe to call twice.
    SessionResult close();

    // After close(): connects once more, reads the inventory and closes again, as
    // inventory does (the log is continued), so the versions the device runs after its
    // restart can be compared. `rows` gets the inventory; the connect's failure, or the
    // close's, comes back.
    SessionResult readBack(const Target& target, std::optional<HandleAs> as,
                           std::vector<ControllerRow>& rows);

    std::string logPath() const;
    // Message and error box texts shown so far, in order.
    std::vector<std::string> messages() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The per-user application data folder the sessions' logs and the upgrade history go to;
// `platformDataFolder` as in SessionOptions (empty: the platform's own).
std::string AppDataFolderFor(const std::string& platformDataFolder);

// Why connect() found no module at `address`, and what to try.
std::string UnansweredLookup(const std::string& address, std::chrono::milliseconds wait);

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
    std::string sha256;           // of the whole file, lower-case hex; empty when unread
    // Ok when the file is taken, FileRefused otherwise (also when it cannot be read).
    ExitStatus status() const;
};
FileCheck CheckFile(const std::string& path);

// The checks of one device's upgrade files that need no device, made before it is
// contacted: every file exists and can be read, and is one the upgrade takes (CheckFile);
// a row named by its controller type gets the kind of file that row takes and, when it is
// a card row, a HEX file naming that type. Once a USB device is listed (`usbProduct`), its
// HEX files must name its product. The hardware a file names is checked by the upgrade,
// which knows the device's rows. A pinned file must have the pinned SHA-256. The first file
// refused comes back: BadInput naming the row and the file (and both digests for a pinned
// one); status Usage when it cannot be read, FileRefused when it is refused.
struct FilesCheck {
    SessionResult result;
    ExitStatus status = ExitStatus::Ok;
    bool ok() const { return result.ok(); }
};
FilesCheck CheckFilesBeforeConnect(const std::vector<RowFile>& files, TargetKind kind,
                                   const std::string& usbProduct = "");

}  // namespace kv::cli
