#include "gui/Program.h"

#include <chrono>

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

namespace kv::gui {

namespace {

// How long the end of the program waits for the engine to release the channels.
constexpr auto kReleaseChannelsWait = std::chrono::seconds(30);

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
    Context context{state, log, ui, clock, ports};
    Engine engine{context};
    ActionRouter router{[this](Engine::Action action) { engine.post(std::move(action)); }, main,
                        about, addIp};
    bool started = false;
    bool stopped = false;

    void releaseChannels() {
        ports = Ports{};
        platform.reset();
    }
};

Program::Program() : components_(std::make_unique<Components>()) {}

Program::~Program() {
    shutDown();
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
