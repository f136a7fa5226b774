#include "gui/EngineShutdown.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "gui/QtUi.h"

namespace kv::gui {

namespace {

constexpr auto kServeInterval = std::chrono::milliseconds(5);

template <typename Done>
void serveGuiUntil(Done done, QDeadlineTimer deadline) {
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(kServeInterval);
    }
}

}  // namespace

bool stopEngine(Engine& engine, QtUi& ui, Engine::Action finalAction,
                std::chrono::milliseconds finalActionWait) {
    ui.shutDown();

    auto ran = std::make_shared<std::atomic<bool>>(false);
    engine.post([ran, finalAction = std::move(finalAction)](Context& ctx) {
        if (finalAction) finalAction(ctx);
        ran->store(true);
    });
    serveGuiUntil([&] { return ran->load(); }, QDeadlineTimer(finalActionWait));

    // Engine::stop joins the thread; it runs beside the GUI thread, which goes on
    // answering a Ui call the running action may still be waiting in.
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        engine.stop();
        stopped.store(true);
    });
    serveGuiUntil([&] { return stopped.load(); }, QDeadlineTimer(QDeadlineTimer::Forever));
    stopper.join();
    return ran->load();
}

}  // namespace kv::gui
