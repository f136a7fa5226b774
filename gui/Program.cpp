#include "gui/Program.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <atomic>
#include <chrono>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "PlatformClock.h"
#include "PlatformPorts.h"
#include "core/Context.h"
#include "core/Engine.h"
#include "core/LogFile.h"
#include "core/SharedState.h"
#include "gui/AboutWindow.h"
#include "gui/ActionRouter.h"
#include "gui/AddIpWindow.h"
#include "gui/EngineShutdown.h"
#include "gui/MainWindow.h"
#include "gui/QtUi.h"
#include "gui/ReportWindow.h"
#include "records/RunJournal.h"

namespace kv::gui {

namespace {

// How long the end of the program waits for the engine to release the channels.
constexpr auto kReleaseChannelsWait = std::chrono::seconds(30);

#ifndef Q_OS_WIN
// The write end of the self-pipe the signal handler writes to (a handler may only do that).
int gSessionEndPipe = -1;

extern "C" void onSessionEndSignal(int) {
    const char byte = 'e';
    if (gSessionEndPipe >= 0) {
        [[maybe_unused]] const auto written = ::write(gSessionEndPipe, &byte, 1);
    }
}
#endif

}  // namespace

struct Program::Components {
    // Declared in creation order; destroyed in reverse, the windows last.
    MainWindow main;
    AboutWindow about{&main};
    ReportWindow report{&main};
    AddIpWindow addIp{&main};
    QtUi ui{main, report};
    SharedState state;
    LogFile log;
    PlatformClock clock;
    // Filled on the engine thread from the PlatformPorts made there.
    Ports ports;
    std::unique_ptr<PlatformPorts> platform;
    // The run journal in the data folder, made once the log's folder is known.
    std::unique_ptr<RunJournal> journal;
    Context context{state, log, ui, clock, ports};
    Engine engine{context};
    ActionRouter router{[this](Engine::Action action) { engine.post(std::move(action)); }, main,
                        about, addIp};
    bool started = false;
    bool stopped = false;
    // Set when a signal ends the program: a running upgrade reads it as an interrupt.
    std::atomic<bool> ending{false};
    int signalPipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> signalNotifier;

    // The close after "Yes" with nobody to ask: questions get their safe answers, the
    // device is restored and the log closed on the engine thread, then the window closes.
    void endBySignal() {
        if (ending.exchange(true)) return;
        ui.shutDown();
        // A dialog the engine waits on would hold everything up: it ends unanswered.
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(window);
            if (dialog && dialog->isVisible() && dialog->isModal()) dialog->done(QDialog::Rejected);
        }
        engine.post([this](Context& ctx) {
            ops::Restore(ctx);
            ctx.log.close();
            QMetaObject::invokeMethod(
                &main,
                [this] {
                    main.allowClose();
                    main.close();
                },
                Qt::QueuedConnection);
        });
    }

    void releaseChannels() {
        ports = Ports{};
        platform.reset();
    }
};

Program::Program() : components_(std::make_unique<Components>()) {
    Components& p = *components_;
    p.context.interruptCheck = [&p] { return p.ending.load(); };
}

Program::~Program() {
    shutDown();
#ifndef Q_OS_WIN
    Components& p = *components_;
    if (p.signalPipe[0] < 0) return;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int signal : {SIGTERM, SIGHUP}) ::sigaction(signal, &fallback, nullptr);
    gSessionEndPipe = -1;
    p.signalNotifier.reset();
    ::close(p.signalPipe[0]);
    ::close(p.signalPipe[1]);
#endif
}

void Program::endOnSessionSignals() {
#ifndef Q_OS_WIN
    Components& p = *components_;
    if (p.signalPipe[0] >= 0 || ::pipe(p.signalPipe) != 0) return;
    ::fcntl(p.signalPipe[1], F_SETFL, O_NONBLOCK);
    gSessionEndPipe = p.signalPipe[1];
    p.signalNotifier = std::make_unique<QSocketNotifier>(p.signalPipe[0], QSocketNotifier::Read);
    QObject::connect(
        p.signalNotifier.get(), &QSocketNotifier::activated, p.signalNotifier.get(), [&p] {
            char drained[16];
            [[maybe_unused]] const auto read = ::read(p.signalPipe[0], drained, sizeof drained);
            p.endBySignal();
        });
    struct sigaction action {};
    action.sa_handler = onSessionEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
#endif
}

void Program::start(const ops::StartFolders& folders) {
    Components& p = *components_;
    if (p.started) return;
    p.started = true;
    p.engine.post([&p](Context&) {
        p.platform = std::make_unique<PlatformPorts>();
        p.ports = p.platform->ports();
    });
    // The native window exists from the start (the single-instance guard hands its handle
    // to later copies); it is shown once the log is open.
    p.main.winId();
    p.engine.post([&p, folders](Context& ctx) {
        ops::Start(ctx, folders);
        p.journal = OpenRunJournal(ctx.state.AppDataFolder);
        ctx.journal = p.journal.get();
        // The window appears once the log is open and the state reset, so the log's
        // messages come before it, as in a window's own creation.
        QMetaObject::invokeMethod(
            &p.main, [&p] { p.main.show(); }, Qt::QueuedConnection);
    });
    p.engine.start();
}

void Program::shutDown() {
    Components& p = *components_;
    if (p.stopped) return;
    p.stopped = true;
    const bool released = stopEngine(
        p.engine, p.ui, [&p](Context&) { p.releaseChannels(); }, kReleaseChannelsWait);
    // When the engine never got to it, its thread has ended and nothing uses them now.
    if (!released) p.releaseChannels();
}

MainWindow& Program::mainWindow() {
    return components_->main;
}
AboutWindow& Program::aboutWindow() {
    return components_->about;
}
ReportWindow& Program::reportWindow() {
    return components_->report;
}
AddIpWindow& Program::addIpWindow() {
    return components_->addIp;
}
QtUi& Program::ui() {
    return components_->ui;
}

}  // namespace kv::gui
