// kvboot's subcommands: discover, inventory, upgrade, check.
#include "cli/Commands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <sstream>

#include "cli/FleetRunner.h"
#include "cli/HistoryCommand.h"
#include "cli/Json.h"
#include "cli/UpgradeRun.h"
#include "cli/Versions.h"
#include "upgrade/UpgradeRows.h"

namespace kv::cli {

namespace {

constexpr const char* kExitStatuses =
    "Exit status: 0 every row OK, 1 some row failed, 2 usage or bad input (check: the file "
    "is refused), 3 device not found or unreachable, 4 interrupted (Ctrl-C).";

// What inventory and upgrade share: the target, --as and the answers.
struct DeviceOptions {
    std::string target;
    std::string as;
    bool json = false;
    bool yes = false;
    bool switchProtocol = false;
    double discoveryWait = 3.0;
};

void addDeviceOptions(CLI::App& sub, DeviceOptions& o) {
    sub.add_option("TARGET", o.target,
                   "Device: IPv4 address of its network module (ADDRESS or ADDRESS:TUNNELPORT), "
                   "serial port name (/dev/ttyUSB0, COM3, serial:NAME), or usb:SERIAL / "
                   "usb:PRODUCT:SERIAL")
        ->required();
    sub.add_option("--as", o.as,
                   "Take the device for this type without asking it (the window's \"Handle as\" "
                   "menu): " +
                       HandleAsNameList());
    sub.add_flag("--json", o.json, "Print the result as one JSON document");
    sub.add_flag("--switch-protocol", o.switchProtocol,
                 "Answer Yes when the device runs Protocol#2 and offers to switch to the "
                 "Korvandel protocol (the device must then be connected again)");
    sub.add_option("--discovery-wait", o.discoveryWait,
                   "Seconds to wait for the module's discovery answer (default 3)")
        ->check(CLI::Range(kMinDiscoveryWaitSeconds, kMaxDiscoveryWaitSeconds));
}

void printError(Console& console, const std::string& text) {
    console.err << "kvboot: " << text << "\n";
}

std::string cell(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string rowsTable(const std::vector<ControllerRow>& rows) {
    std::ostringstream out;
    out << cell("ROW", 5) << cell("TYPE", 20) << cell("HARDWARE", 14) << cell("BOOTLOADER", 12)
        << "FIRMWARE\n";
    for (const ControllerRow& r : rows) {
        out << cell(std::to_string(r.row), 5) << cell(r.type, 20) << cell(r.hardware, 14)
            << cell(r.bootloader, 12) << r.firmware << "\n";
    }
    return out.str();
}

// A session for one device of the command line, with its progress on the terminal and
// attached to Ctrl-C for as long as it lives.
class CommandSession {
  public:
    CommandSession(Runtime& runtime, const Target& target, const DeviceOptions& o, bool quick)
        : runtime_(runtime), session_(options(runtime, target, o, quick)) {
        runtime_.interrupts.attach(session_);
    }
    ~CommandSession() {
        runtime_.console.endProgress();
        runtime_.interrupts.detach(session_);
    }
    DeviceSession& operator*() { return session_; }
    DeviceSession* operator->() { return &session_; }

  private:
    static SessionOptions options(Runtime& runtime, const Target& target, const DeviceOptions& o,
                                  bool quick) {
        SessionOptions s;
        s.deviceName = target.text;
        s.platformDataFolder = runtime.console.platformDataFolder;
        s.quickBootload = quick;
        s.discoveryWait = std::chrono::milliseconds(static_cast<long>(o.discoveryWait * 1000));
        if (o.yes) {
            s.answers[Question::Upgrade] = MsgButton::Yes;
            s.answers[Question::UsbBootloaderMode] = MsgButton::Yes;
        }
        s.answers[Question::ProtocolSwitch] = o.switchProtocol ? MsgButton::Yes : MsgButton::No;
        Console* console = &runtime.console;
        const std::string name = target.text;
        s.onProgress = [console, name](const RowProgress& e) { console->showProgress(name, e); };
        return s;
    }

    Runtime& runtime_;
    DeviceSession session_;
};

// The status of the whole command once the device was closed.
ExitStatus withClose(ExitStatus status, const SessionResult& closed, Console& console) {
    if (closed.ok()) return status;
    printError(console, closed.message);
    return Worst(status, StatusOf(closed.error));
}

// The target and --as of inventory and upgrade; nothing (and `error` says why) when either
// is wrong.
struct ParsedDevice {
    Target target;
    std::optional<HandleAs> as;
};

std::optional<ParsedDevice> parseDevice(const DeviceOptions& o, SessionResult& error) {
    std::string why;
    const std::optional<Target> target = ParseTarget(o.target, why);
    if (!target) {
        error = {SessionError::BadInput, why};
        return std::nullopt;
    }
    ParsedDevice parsed{*target, std::nullopt};
    if (!o.as.empty()) {
        parsed.as = ParseHandleAs(o.as);
        if (!parsed.as) {
            error = {SessionError::BadInput,
                     "unknown --as type \"" + o.as + "\"; one of: " + HandleAsNameList()};
            return std::nullopt;
        }
    }
    return parsed;
}

// What inventory's and upgrade's JSON documents open with.
Json resultJson(const std::string& target, ExitStatus status, const SessionResult& error,
                const DeviceInfo& device, const std::string& logPath) {
    return Json{{"target", target},
                {"status", std::string(ExitStatusName(status))},
                {"error", ErrorJson(error)},
                {"device", ToJson(device)},
                {"log", logPath}};
}

// The recovery the connect ran first: its line on standard error, its object (or null)
// for the JSON document.
Json recoveredJson(DeviceSession& session, Console& console) {
    const std::optional<ops::Recovery> recovery = session.recovered();
    if (!recovery) return nullptr;
    console.err << recovery->message << "\n";
    return ToJson(*recovery);
}

// The first word that is no option names the subcommand: without one, or with one kvboot
// does not know, the error names it and the known ones. Empty when the word is known or
// help was asked for.
std::string subcommandError(int argc, char** argv, const std::vector<Subcommand>& commands) {
    std::string known;
    for (const Subcommand& command : commands) known += (known.empty() ? "" : ", ") + command.name;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") return "";
        if (word.rfind('-', 0) == 0) continue;
        for (const Subcommand& command : commands)
            if (command.name == word) return "";
        return "unknown subcommand \"" + word + "\"; known: " + known;
    }
    return "a subcommand is required: " + known;
}

}  // namespace

Subcommand DiscoverCommand() {
    return {"discover", [](CLI::App& app, Runtime& runtime) -> std::function<int()> {
                auto* sub = app.add_subcommand(
                    "discover",
                    "Find devices as the window's FIND does: network modules (address, ident, "
                    "serial, MAC, module version), serial ports and the maker's USB devices");
                auto wait = std::make_shared<double>(5.0);
                auto json = std::make_shared<bool>(false);
                sub->add_option("--wait", *wait, "Seconds to wait for answers (default 5)")
                    ->check(CLI::Range(0.0, 600.0));
                sub->add_flag("--json", *json, "Print the result as one JSON document");
                sub->footer(std::string(kExitStatuses) +
                            " discover gives 3 when no network module and no USB device "
                            "answered: serial ports are listed, but a port is no device found.");
                return [sub, wait, json, &runtime]() {
                    if (!sub->parsed()) return -1;
                    SessionOptions options;
                    options.platformDataFolder = runtime.console.platformDataFolder;
                    const DiscoveryResult found = Discover(
                        std::chrono::milliseconds(static_cast<long>(*wait * 1000)), options);
                    // A serial port only exists: whether a device is behind it, only connecting
                    // tells. Found are the devices that answered.
                    const bool any = !found.modules.empty() || !found.usb.empty();
                    const ExitStatus status = any ? ExitStatus::Ok : ExitStatus::Unreachable;
                    if (!found.result.ok()) printError(runtime.console, found.result.message);
                    if (*json) {
                        Json doc = ToJson(found);
                        doc["status"] = std::string(ExitStatusName(status));
                        runtime.console.out << Dump(doc) << "\n";
                        return ToInt(status);
                    }
                    std::ostream& out = runtime.console.out;
                    out << "Network modules:\n";
                    for (const DiscoveredModule& m : found.modules) {
                        out << "  " << cell(m.address, 16) << cell(m.ident, 22)
                            << cell(m.serial, 12) << "MAC " << cell(m.mac, 18) << "module "
                            << cell(m.moduleVersion, 8) << "tunnel " << m.tunnelPort << "\n";
                    }
                    out << "Serial ports:\n";
                    for (const std::string& port : found.serialPorts) out << "  " << port << "\n";
                    out << "USB devices:\n";
                    for (const DiscoveredUsb& u : found.usb) {
                        out << "  usb:" << u.product << ":" << u.serial << "\n";
                    }
                    if (!found.openEntries.empty()) out << "Open run journal entries:\n";
                    for (const JournalEntry& entry : found.openEntries)
                        out << "  " << ops::OpenEntryText(entry) << "\n";
                    return ToInt(status);
                };
            }};
}

Subcommand InventoryCommand() {
    return {"inventory", [](CLI::App& app, Runtime& runtime) -> std::function<int()> {
                auto* sub = app.add_subcommand(
                    "inventory",
                    "Connect to a device and list its controller rows: type, hardware, "
                    "bootloader and firmware versions; the device is returned to normal "
                    "operation afterwards");
                auto o = std::make_shared<DeviceOptions>();
                addDeviceOptions(*sub, *o);
                sub->add_flag("--yes", o->yes,
                              "Answer Yes to the USB device's question before it enters its "
                              "upgrade mode");
                sub->footer(kExitStatuses);
                return [sub, o, &runtime]() {
                    if (!sub->parsed()) return -1;
                    Console& console = runtime.console;
                    SessionResult bad;
                    const std::optional<ParsedDevice> parsed = parseDevice(*o, bad);
                    if (!parsed) return Refuse(console, o->json, ExitStatus::Usage, bad);
                    const Target& target = parsed->target;
                    CommandSession session(runtime, target, *o, false);
                    const SessionResult connected = session->connect(target, parsed->as);
                    const Json recovered = recoveredJson(*session, console);
                    const DeviceInfo device = session->device();
                    const std::vector<ControllerRow> rows = session->rows();
                    const SessionResult closed = session->close();
                    if (!connected.ok()) printError(console, connected.message);
                    const ExitStatus status = withClose(StatusOf(connected.error), closed, console);
                    if (o->json) {
                        Json doc =
                            resultJson(target.text, status, connected, device, session->logPath());
                        doc["recovered"] = recovered;
                        Json list = Json::array();
                        for (const ControllerRow& r : rows) list.push_back(ToJson(r));
                        doc["rows"] = list;
                        console.out << Dump(doc) << "\n";
                    } else if (connected.ok()) {
                        console.out << device.address << "  " << device.name << "  "
                                    << device.serial << "\n"
                                    << rowsTable(rows);
                    }
                    return ToInt(status);
                };
            }};
}

namespace {

// A refused upgrade: nothing was sent, so its document says the device is unchanged.
int refuseUpgrade(Console& console, bool json, ExitStatus status, const SessionResult& error) {
    const int exit = Refuse(console, false, status, error);
    if (json) {
        Json doc = FailureJson(status, error);
        doc["changed"] = false;
        console.out << Dump(doc) << "\n";
    }
    return exit;
}

// --file, --expect and --sha256 together: one request per --file row; --expect and
// --sha256 name rows exactly as a --file does. A mistake is the refusal's text.
std::optional<RunRequest> parseRowRequests(const std::vector<std::string>& files,
                                           const std::vector<std::string>& expects,
                                           const std::vector<std::string>& pins,
                                           std::string& error) {
    RunRequest request;
    for (const std::string& text : files) {
        const std::optional<FileChoice> choice = ParseFileChoice(text);
        if (!choice) {
            error = "--file " + text + ": expected ROW=PATH";
            return std::nullopt;
        }
        request.rows.push_back(*choice);
    }
    struct RowValues {
        const char* option;
        const std::vector<std::string>& values;
        std::string RowFile::*field;
    };
    for (const RowValues& given : {RowValues{"--expect", expects, &RowFile::expected},
                                   RowValues{"--sha256", pins, &RowFile::sha256}}) {
        const std::string option = given.option;
        for (const std::string& text : given.values) {
            const std::optional<FileChoice> value = ParseFileChoice(text);
            if (!value) {
                error = option + " " + text +
                        ": expected ROW=" + (given.field == &RowFile::sha256 ? "HEX" : "VERSION");
                return std::nullopt;
            }
            if (given.field == &RowFile::sha256 && !IsSha256Hex(value->path)) {
                error = option + " " + text + ": a SHA-256 digest is 64 hex digits";
                return std::nullopt;
            }
            auto row =
                std::find_if(request.rows.begin(), request.rows.end(),
                             [&](const RowFile& r) { return SameRowName(r.row, value->row); });
            if (row == request.rows.end()) {
                error = option + " " + text + ": no --file names the row \"" + value->row + "\"";
                return std::nullopt;
            }
            if (!((*row).*given.field).empty()) {
                error = option + " " + text + ": the row \"" + value->row + "\" is given twice";
                return std::nullopt;
            }
            (*row).*given.field = value->path;
        }
    }
    return request;
}

// The versions of each row, after the report: from -> to, or why it was skipped.
void printVersions(std::ostream& out, const RunResult& run) {
    for (const RowResult& row : run.rows) {
        if (row.state == RowState::Skipped) {
            out << row.type << ": skipped, " << row.reason << "\n";
        } else if (!row.to.empty()) {
            out << row.type << ": " << (row.from.empty() ? "-" : row.from) << " -> " << row.to;
            if (!row.expected.empty() && !SameVersion(row.expected, row.to))
                out << " (expected " << row.expected << ")";
            out << "\n";
        }
    }
}

}  // namespace

Subcommand UpgradeCommand() {
    return {
        "upgrade", [](CLI::App& app, Runtime& runtime) -> std::function<int()> {
            auto* sub = app.add_subcommand(
                "upgrade",
                "Connect to a device, choose a file for each named row, run the upgrade "
                "procedure and print its report; the device is returned to normal operation "
                "afterwards, also after Ctrl-C");
            struct Flags {
                std::vector<std::string> files;
                std::vector<std::string> expects;
                std::vector<std::string> pins;
                bool quick = false;
                bool force = false;
                bool verify = false;
            };
            auto o = std::make_shared<DeviceOptions>();
            auto f = std::make_shared<Flags>();
            addDeviceOptions(*sub, *o);
            sub->add_option("--file", f->files,
                            "ROW=PATH: the file for a row, ROW being its controller type (as "
                            "inventory lists it) or its row number; repeat for more rows")
                ->required();
            sub->add_option("--expect", f->expects,
                            "ROW=VERSION: the version the row must run after the upgrade "
                            "(FW:1.5.0, or 1.5.0 in the device's form); a row already at it "
                            "is skipped, and the version is read back after the run");
            sub->add_option("--sha256", f->pins,
                            "ROW=HEX: the SHA-256 the row's file must have; any other file "
                            "stops the upgrade before the device is touched (status 2)");
            sub->add_flag("--force", f->force, "Flash rows already at their expected version too");
            sub->add_flag("--verify", f->verify,
                          "Connect again after the run and read back the versions the device "
                          "reports (done anyway with --expect)");
            sub->add_flag("--quick", f->quick,
                          "Quick bootload: checksum verification only (no read-back)");
            sub->add_flag("--yes", o->yes,
                          "Answer Yes to \"Do you really want to upgrade?\" (and to a USB "
                          "device's upgrade mode question); without it the upgrade stops "
                          "before anything is sent");
            sub->footer(kExitStatuses);
            return [sub, o, f, &runtime]() {
                if (!sub->parsed()) return -1;
                Console& console = runtime.console;
                SessionResult bad;
                const std::optional<ParsedDevice> parsed = parseDevice(*o, bad);
                if (!parsed) return refuseUpgrade(console, o->json, ExitStatus::Usage, bad);
                const Target& target = parsed->target;
                std::string why;
                std::optional<RunRequest> request =
                    parseRowRequests(f->files, f->expects, f->pins, why);
                if (!request) {
                    return refuseUpgrade(console, o->json, ExitStatus::Usage,
                                         {SessionError::BadInput, why});
                }
                // What can refuse the upgrade without the device (pinned digests included)
                // stops it before the device is contacted: the connect alone may switch it
                // over.
                const FilesCheck checked = CheckFilesBeforeConnect(request->rows, target.kind);
                if (!checked.ok()) {
                    return refuseUpgrade(
                        console, o->json, checked.status,
                        {SessionError::BadInput, target.text + ": " + checked.result.message});
                }
                if (!o->yes) {
                    return refuseUpgrade(
                        console, o->json, StatusOf(SessionError::Question),
                        {SessionError::Question,
                         UnansweredText(target.text + ": the upgrade", QuestionId::ConfirmUpgrade,
                                        kConfirmUpgradeQuestion)});
                }
                request->force = f->force;
                request->verify = f->verify;

                CommandSession session(runtime, target, *o, f->quick);
                UpgradeRun run(*session, target, parsed->as, std::move(*request));
                UpgradeOutcome outcome;
                SessionResult closed;
                const SessionResult prepared = run.prepare();
                const Json recovered = recoveredJson(*session, console);
                if (prepared.ok()) {
                    outcome = run.finish(closed);
                } else {
                    outcome.result = prepared;
                    outcome.interrupted = prepared.error == SessionError::Interrupted;
                    closed = session->close();
                }
                const DeviceInfo device = session->device();
                runtime.console.endProgress();
                // The run stands whether or not its record could be kept.
                if (const SessionResult kept = session->appendHistory(outcome); !kept.ok())
                    printError(console, kept.message);
                if (!outcome.result.ok()) printError(console, outcome.result.message);
                const ExitStatus status = withClose(outcome.status(), closed, console);
                if (o->json) {
                    Json doc =
                        resultJson(target.text, status, outcome.result, device, session->logPath());
                    doc["recovered"] = recovered;
                    const Json upgrade = ToJson(outcome);
                    for (auto it = upgrade.begin(); it != upgrade.end(); ++it) {
                        if (it.key() != "status" && it.key() != "error") doc[it.key()] = *it;
                    }
                    console.out << Dump(doc) << "\n";
                } else {
                    if (run.flashes()) {
                        for (const std::string& line : outcome.report())
                            console.out << line << "\n";
                        if (!outcome.verdict().empty()) console.out << outcome.verdict() << "\n";
                    }
                    printVersions(console.out, outcome.run);
                }
                return ToInt(status);
            };
        }};
}

// The text answer of check: what the file is and whether it is taken.
void printCheck(std::ostream& out, const FileCheck& check, const std::string& path) {
    out << path << ": ";
    const std::string digest =
        check.sha256.empty() ? "" : "  sha256:          " + check.sha256 + "\n";
    if (!check.kind) {
        out << "refused: " << check.refusal << "\n" << digest;
        return;
    }
    out << Describe(*check.kind).description << ", " << check.size << " bytes";
    if (*check.kind != FileKind::IntelHex) {
        out << " (goes to the device as it is: not checked as Intel HEX)\n" << digest;
        return;
    }
    out << ": " << (check.refusal.empty() ? "integrity OK" : "refused: " + check.refusal) << "\n";
    if (!check.checksumOk) {
        out << digest;
        return;
    }
    auto orNone = [](const std::string& text) {
        return text.empty() ? std::string("(none)") : EscapedText(text);
    };
    out << "  controller type: " << orNone(check.controllerType) << "\n"
        << "  hardware:        " << orNone(check.hardware) << "\n"
        << "  records:         " << check.records << " (" << check.dataBytes << " data bytes)\n"
        << digest;
}

Subcommand CheckCommand() {
    return {"check", [](CLI::App& app, Runtime& runtime) -> std::function<int()> {
                auto* sub = app.add_subcommand(
                    "check",
                    "Say what a firmware file is (by its extension) and its size; an Intel "
                    "HEX file gets the upgrade's integrity check and the information scan "
                    "(controller type and hardware it is meant for)");
                auto file = std::make_shared<std::string>();
                auto json = std::make_shared<bool>(false);
                sub->add_option("FILE", *file, "Firmware file (.hex, .rom, .ro5, .cob, .kvp)")
                    ->required();
                sub->add_flag("--json", *json, "Print the result as one JSON document");
                sub->footer(kExitStatuses);
                return [sub, file, json, &runtime]() {
                    if (!sub->parsed()) return -1;
                    Console& console = runtime.console;
                    const FileCheck check = CheckFile(*file);
                    if (!check.result.ok()) printError(console, check.result.message);
                    if (*json) {
                        console.out << Dump(ToJson(check, *file)) << "\n";
                    } else if (check.result.ok()) {
                        printCheck(console.out, check, *file);
                    }
                    return ToInt(check.status());
                };
            }};
}

int Refuse(Console& console, bool json, ExitStatus status, const SessionResult& error) {
    printError(console, error.message);
    if (json) console.out << Dump(FailureJson(status, error)) << "\n";
    return ToInt(status);
}

std::vector<Subcommand> AllSubcommands() {
    return {DiscoverCommand(), InventoryCommand(), UpgradeCommand(), CheckCommand(),
            PlanCommand(),     HistoryCommand(),   RecoverCommand(), StatusCommand()};
}

int RunKvboot(int argc, char** argv, Console& console) {
    CLI::App app{
        "kvboot: find, list and upgrade Korvandel devices from the command line, on the same "
        "procedures as the Korvandel Bootloader window. Results go to standard output, "
        "progress (on a terminal) and errors to standard error. Each device gets its log "
        "file logfile-<device>.txt in the program's log folder.",
        "kvboot"};
    app.require_subcommand(1);
    app.footer(std::string(kExitStatuses) + "\nSee kvboot SUBCOMMAND --help and man kvboot.");
    InterruptHub interrupts;
    interrupts.tellOn(&console.err);
    Runtime runtime{console, interrupts};
    std::vector<std::function<int()>> runs;
    const std::vector<Subcommand> commands = AllSubcommands();
    for (const Subcommand& command : commands) runs.push_back(command.add(app, runtime));
    // A script that asked for JSON gets its one document even when the words are wrong.
    const bool json = std::any_of(argv + 1, argv + argc,
                                  [](const char* word) { return std::string(word) == "--json"; });
    if (const std::string error = subcommandError(argc, argv, commands); !error.empty()) {
        return Refuse(console, json, ExitStatus::Usage, {SessionError::BadInput, error});
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (json && e.get_exit_code() != 0) {
            return Refuse(console, true, ExitStatus::Usage, {SessionError::BadInput, e.what()});
        }
        const int code = app.exit(e, console.out, console.err);
        return code == 0 ? ToInt(ExitStatus::Ok) : ToInt(ExitStatus::Usage);
    }
    for (const auto& run : runs) {
        const int status = run();
        if (status >= 0) return status;
    }
    return ToInt(ExitStatus::Usage);
}

}  // namespace kv::cli
