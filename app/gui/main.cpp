// Program entry: single-instance check, the four windows, the engine with the real
// channels, the message loop, and an orderly end.

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <chrono>
#include <memory>

#include "AboutWindow.h"
#include "ActionRouter.h"
#include "AddIpWindow.h"
#include "CheckPrevious.h"
#include "Context.h"
#include "Engine.h"
#include "EngineShutdown.h"
#include "GuiText.h"
#include "LogFile.h"
#include "MainWindow.h"
#include "PlatformClock.h"
#include "PlatformPorts.h"
#include "QtUi.h"
#include "ReportWindow.h"
#include "SharedState.h"
#include "Unit1.h"

namespace {

// How long the end of the program waits for the engine to release the channels.
constexpr auto kReleaseChannelsWait = std::chrono::seconds(30);

// The per-user application data folder the log folder lives in.
QString platformDataFolder() {
#ifdef Q_OS_WIN
    return qEnvironmentVariable("APPDATA");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvandel Bootloader"));

    kv::gui::CheckPrevious guard(QCoreApplication::applicationFilePath());
    if (!guard.registerCopy()) return 0;

    // Created in this order; all live until the program ends.
    kv::gui::TForm1 form1;
    kv::gui::TForm2 form2(&form1);
    kv::gui::TForm3 form3(&form1);
    kv::gui::TAddIPForm addIpForm(&form1);
    guard.setWindow(&form1);

    kv::SharedState state;
    kv::LogFile log;
    kv::PlatformClock clock;
    kv::gui::QtUi ui(form1, form3);
    // The real channels are Qt objects of the engine thread: they are made and destroyed
    // there, and handed to the procedures through this table.
    kv::Ports ports;
    std::unique_ptr<kv::PlatformPorts> platform;
    kv::Context context(state, log, ui, clock, ports);
    kv::Engine engine(context);

    engine.post([&platform, &ports](kv::Context&) {
        platform = std::make_unique<kv::PlatformPorts>();
        ports = platform->ports();
    });
    const kv::Unit1::StartFolders folders{kv::gui::fromQ(platformDataFolder()),
                                          kv::gui::fromQ(QDir::currentPath())};
    engine.post([folders](kv::Context& ctx) { kv::Unit1::FormCreate(ctx, folders); });

    kv::gui::ActionRouter router(
        [&engine](kv::Engine::Action action) { engine.post(std::move(action)); }, form1, form2,
        addIpForm);
    engine.start();
    form1.show();
    const int result = app.exec();

    const bool released = kv::gui::stopEngine(
        engine, ui,
        [&platform, &ports](kv::Context&) {
            ports = kv::Ports{};
            platform.reset();
        },
        kReleaseChannelsWait);
    if (!released) {
        // The engine never got to it; its thread has ended, so nothing uses them now.
        ports = kv::Ports{};
        platform.reset();
    }
    return result;
}
