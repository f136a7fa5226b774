#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/DeviceSession.h"

namespace CLI {
class App;
}

namespace kv::cli {

// Where a subcommand writes: the result to `out` only, progress and messages to `err`.
struct Console {
    Console(std::ostream& result, std::ostream& messages) : out(result), err(messages) {}
    std::ostream& out;
    std::ostream& err;
    // Progress lines on `err` only when it is a terminal.
    bool progress = false;
    // Where device log files go (empty: the platform's application data folder); tests
    // point it at a temporary folder.
    std::string platformDataFolder;
    // Progress display: one line per device ("<device> row <type> 45% 12345 B 0:42 left").
    void showProgress(const std::string& device, const RowProgress& event);
    void endProgress();

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;  // one per device, in first-seen order
    std::vector<std::string> names_;
    std::size_t drawnLines_ = 0;  // lines of the block on the terminal now
};

// Ctrl-C for a run: sessions attached while the run lasts get requestInterrupt() when
// SIGINT, SIGTERM or SIGHUP arrives (a watcher thread does it; the signal handler only
// writes to a pipe).
class InterruptHub {
  public:
    InterruptHub();
    ~InterruptHub();
    InterruptHub(const InterruptHub&) = delete;
    InterruptHub& operator=(const InterruptHub&) = delete;

    void attach(DeviceSession& session);
    void detach(DeviceSession& session);
    bool fired() const { return fired_.load(); }
    // As if one of the signals arrived (tests).
    void fire();
    // A signal while no session is attached ends the process at once with status 4 (the
    // default); a runner that attaches sessions one after another turns this off.
    void exitWhenIdle(bool on);
    // Where the operator is told what an interrupt does (standard error); none: silent.
    void tellOn(std::ostream* out);

  private:
    void interruptAll();
    struct Watch;
    std::unique_ptr<Watch> watch_;
    std::mutex mutex_;
    std::set<DeviceSession*> sessions_;
    std::atomic<bool> fired_{false};
    bool exitWhenIdle_ = true;
    std::ostream* notices_ = nullptr;
};

// The process-wide things a subcommand may use while it runs.
struct Runtime {
    Console& console;
    InterruptHub& interrupts;
};

// A subcommand: adds itself (options, --help text) to the app and returns what runs it
// when it was chosen; the run returns the exit status.
struct Subcommand {
    std::string name;
    std::function<std::function<int()>(CLI::App& app, Runtime& runtime)> add;
};

// The subcommands of kvboot in --help order. New ones are added to this list
// (cli/Commands.cpp).
std::vector<Subcommand> AllSubcommands();

// The four subcommands of this folder.
Subcommand DiscoverCommand();
Subcommand InventoryCommand();
Subcommand UpgradeCommand();
Subcommand CheckCommand();
// kvboot recover [TARGET] and kvboot status: the run journal (cli/JournalCommands.cpp).
Subcommand RecoverCommand();
Subcommand StatusCommand();

// --file ROW=PATH: the row (a controller type or a row number) and the path. nullopt when
// there is no "=" or either side is empty.
using FileChoice = RowFile;
std::optional<FileChoice> ParseFileChoice(const std::string& text);

// A command that cannot start: the message on standard error ("kvboot: ..."), with --json
// also its one document on standard output. Returns the exit status.
int Refuse(Console& console, bool json, ExitStatus status, const SessionResult& error);

// kvboot's whole command line; returns the exit status.
int RunKvboot(int argc, char** argv, Console& console);

}  // namespace kv::cli
