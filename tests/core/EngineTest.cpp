#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "FakeRig.h"
#include "core/Engine.h"
#include "core/ports/ChannelError.h"

using namespace kv;
using namespace std::chrono_literals;

TEST(Engine, RunsActionsInOrderOnItsOwnThreadAndPumpsWhenIdle) {
    test::FakeRig rig;
    std::atomic<int> pumped{0};
    std::thread::id engineThread;
    rig.ctx.addEventSource([&] {
        engineThread = std::this_thread::get_id();
        ++pumped;
    });
    Engine engine(rig.ctx);
    engine.start();
    std::vector<int> order;
    std::promise<void> done;
    for (int i = 0; i < 5; ++i) engine.post([&order, i](Context&) { order.push_back(i); });
    engine.post([&](Context&) { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    for (int i = 0; i < 100 && pumped < 2; ++i) std::this_thread::sleep_for(10ms);
    engine.stop();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_GE(pumped.load(), 2);
    EXPECT_NE(engineThread, std::this_thread::get_id());
}

TEST(Engine, AnEscapedErrorReachesTheErrorDisplayAndTheEngineGoesOn) {
    test::FakeRig rig;
    Engine engine(rig.ctx);
    engine.start();
    std::promise<void> done;
    engine.post([](Context&) { throw KvError("Connection Lost Error"); });
    engine.post([&](Context&) { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    engine.stop();
    auto errors = rig.ui.dialogsOf(test::ScriptedUi::Dialog::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "Connection Lost Error");
}

TEST(Engine, ProcessMessagesDeliversArrivalsOnlyWhenPumped) {
    // Arrivals of the event-driven channels land in RxBuffer through the pump.
    test::FakeRig rig;
    rig.ctx.addEventSource([&] { rig.state.appendRx(rig.socket1.poll()); });
    struct Echo : sim::StreamPeer {
        Bytes receive(ByteView d) override { return Bytes(d.begin(), d.end()); }
    };
    rig.world.listenTcp("127.0.0.2", 10001, [] { return std::make_unique<Echo>(); });
    rig.socket1.setHost("127.0.0.2");
    rig.socket1.open();
    rig.state.RxCount = 0;
    rig.socket1.send(Bytes{0x7F});
    EXPECT_EQ(rig.state.RxCount, 0);
    rig.ctx.ProcessMessages();
    EXPECT_EQ(rig.state.RxCount, 1);
    EXPECT_EQ(rig.state.RxBuffer[0], 0x7F);
}
