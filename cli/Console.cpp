// Progress lines on a terminal and Ctrl-C for kvboot.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "cli/Commands.h"

namespace kv::cli {

namespace {

std::string clockText(std::chrono::seconds s) {
    const auto total = s.count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(total / 60),
                  static_cast<long long>(total % 60));
    return text;
}

std::string progressLine(const std::string& device, const RowProgress& e) {
    std::string line = device + "  ";
    if (!e.type.empty()) {
        line += e.type + (e.row >= 0 ? " (row " + std::to_string(e.row) + ")" : "") + "  ";
    }
    line += std::string(PhaseName(e.phase));
    if (e.totalBytes) line += "  " + std::to_string(e.percent) + "%";
    // An erase is measured in memory, not in bytes of the file.
    if (e.totalBytes && e.phase != ProgressPhase::Erasing)
        line += "  " + std::to_string(e.bytes) + "/" + std::to_string(e.totalBytes) + " B";
    if (e.timeLeft) line += "  " + clockText(*e.timeLeft) + " left";
    return line;
}

// The signals that interrupt a run as Ctrl-C does: also the polite ends of a process (kill,
// a service manager) and a closed terminal or SSH session.
constexpr std::array<int, 3> kInterruptSignals{SIGINT, SIGTERM, SIGHUP};

// The write end of the self-pipe the signal handler writes to (a handler may only do that).
int gInterruptPipe = -1;

extern "C" void onInterruptSignal(int) {
    const char byte = 'i';
    if (gInterruptPipe >= 0) {
        [[maybe_unused]] const auto written = ::write(gInterruptPipe, &byte, 1);
    }
}

}  // namespace

void Console::showProgress(const std::string& device, const RowProgress& event) {
    if (!progress) return;
    std::lock_guard lock(mutex_);
    std::string line = progressLine(device, event);
    // A line that wraps would break the redrawing in place.
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
        line.size() >= size.ws_col) {
        line.resize(size.ws_col - 1u);
    }
    std::size_t index = 0;
    while (index < names_.size() && names_[index] != device) ++index;
    if (index == names_.size()) {
        names_.push_back(device);
        lines_.push_back({});
    }
    if (lines_[index] == line && drawnLines_ == lines_.size()) return;
    lines_[index] = line;
    // Redraw the block in place, one line per device: back to its first line, then over it.
    std::string out;
    if (drawnLines_ > 1) out += "\x1b[" + std::to_string(drawnLines_ - 1) + "A";
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        out += "\r\x1b[K" + lines_[i];
        if (i + 1 < lines_.size()) out += "\n";
    }
    err << out << std::flush;
    drawnLines_ = lines_.size();
}

void Console::endProgress() {
    std::lock_guard lock(mutex_);
    if (drawnLines_) err << "\n" << std::flush;
    drawnLines_ = 0;
    lines_.clear();
    names_.clear();
}

struct InterruptHub::Watch {
    int pipe[2] = {-1, -1};
    std::array<struct sigaction, kInterruptSignals.size()> previous{};
    std::thread thread;
};

InterruptHub::InterruptHub() : watch_(std::make_unique<Watch>()) {
    Watch& w = *watch_;
    if (::pipe(w.pipe) != 0) return;
    ::fcntl(w.pipe[1], F_SETFL, O_NONBLOCK);
    gInterruptPipe = w.pipe[1];
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kInterruptSignals.size(); ++i)
        ::sigaction(kInterruptSignals[i], &action, &w.previous[i]);
    w.thread = std::thread([this, readEnd = w.pipe[0]] {
        char byte = 0;
        while (::read(readEnd, &byte, 1) == 1) {
            if (byte == 'q') return;
            if (byte == 'i') interruptAll();
        }
    });
}

InterruptHub::~InterruptHub() {
    Watch& w = *watch_;
    if (w.pipe[1] < 0) return;
    for (std::size_t i = 0; i < kInterruptSignals.size(); ++i)
        ::sigaction(kInterruptSignals[i], &w.previous[i], nullptr);
    gInterruptPipe = -1;
    const char quit = 'q';
    [[maybe_unused]] const auto written = ::write(w.pipe[1], &quit, 1);
    if (w.thread.joinable()) w.thread.join();
    ::close(w.pipe[0]);
    ::close(w.pipe[1]);
}

void InterruptHub::attach(DeviceSession& session) {
    std::lock_guard lock(mutex_);
    sessions_.insert(&session);
    if (fired_) session.requestInterrupt();
}

void InterruptHub::detach(DeviceSession& session) {
    std::lock_guard lock(mutex_);
    sessions_.erase(&session);
}

void InterruptHub::fire() {
    interruptAll();
}

void InterruptHub::exitWhenIdle(bool on) {
    std::lock_guard lock(mutex_);
    exitWhenIdle_ = on;
}

void InterruptHub::tellOn(std::ostream* out) {
    std::lock_guard lock(mutex_);
    notices_ = out;
}

void InterruptHub::interruptAll() {
    std::lock_guard lock(mutex_);
    const bool again = fired_.exchange(true);
    // No device is being worked on (discovery, a file check): nothing to restore, and no
    // reason to make the operator wait for the rest.
    if (sessions_.empty() && exitWhenIdle_) std::_Exit(ToInt(ExitStatus::Interrupted));
    if (notices_ && !sessions_.empty()) {
        *notices_ << (again ? "\nkvboot: the device is still being restored; kvboot ends when "
                              "it is back in normal operation\n"
                            : "\nkvboot: interrupted; the frame in flight finishes, then the "
                              "device is restored\n")
                  << std::flush;
    }
    for (DeviceSession* session : sessions_) session->requestInterrupt();
}

}  // namespace kv::cli
