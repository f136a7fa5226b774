#include "Program.h"

#include <chrono>

#include "AboutWindow.h"
#include "ActionRouter.h"
#include "AddIpWindow.h"
#include "Context.h"
#include "Engine.h"
#include "EngineShutdown.h"
#include "LogFile.h"
#include "MainWindow.h"
#include "PlatformClock.h"
#include "PlatformPorts.h"
#include "QtUi.h"
#include "ReportWindow.h"
#include "SharedState.h"

namespace kv::gui {

namespace {

// How long the end of the program waits for the engine to release the channels.
constexpr auto kReleaseChannelsWait = std::chrono::seconds(30);

}  // namespace

struct Program::Parts {
    // Declared in creation order; destroyed in reverse, the windows last.
    TForm1 main;
    TForm2 about{&main};
    TForm3 report{&main};
    TAddIPForm addIp{&main};
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

Program::Program() : parts_(std::make_unique<Parts>()) {}

Program::~Program() {
    shutDown();
}

void Program::start(const Unit1::StartFolders& folders) {
    Parts& p = *parts_;
    if (p.started) return;
    p.started = true;
    p.engine.post([&p](Context&) {
        p.platform = std::make_unique<PlatformPorts>();
        p.ports = p.platform->ports();
    });
    p.engine.post([folders](Context& ctx) { Unit1::FormCreate(ctx, folders); });
    p.engine.start();
    p.main.show();
}

void Program::shutDown() {
    Parts& p = *parts_;
    if (p.stopped) return;
    p.stopped = true;
    const bool released = stopEngine(
        p.engine, p.ui, [&p](Context&) { p.releaseChannels(); }, kReleaseChannelsWait);
    // When the engine never got to it, its thread has ended and nothing uses them now.
    if (!released) p.releaseChannels();
}

TForm1& Program::mainWindow() {
    return parts_->main;
}
TForm2& Program::aboutWindow() {
    return parts_->about;
}
TForm3& Program::reportWindow() {
    return parts_->report;
}
TAddIPForm& Program::addIpWindow() {
    return parts_->addIp;
}
QtUi& Program::ui() {
    return parts_->ui;
}

}  // namespace kv::gui
