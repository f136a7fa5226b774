// The module's GPIO and bootloader-mode messages against the module model.
#include <gtest/gtest.h>

#include <algorithm>

#include "FakeRig.h"
#include "NetworkModule.h"
#include "core/ports/ChannelError.h"
#include "module/ModuleOperations.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
const std::string kAddress = "127.0.0.2";

Bytes B(std::initializer_list<int> v) {
    Bytes out;
    for (int x : v) out.push_back(static_cast<std::uint8_t>(x));
    return out;
}

class GpioTest : public ::testing::Test {
  protected:
    GpioTest() {
        sim::NetworkModule::Config config;
        config.address = kAddress;
        module = std::make_unique<sim::NetworkModule>(config);
        module->attach(rig.world);
    }
    std::vector<Bytes> sent() const {
        std::vector<Bytes> out;
        for (const auto& d : rig.gpioClient.sent) {
            EXPECT_EQ(d.address, kAddress);
            EXPECT_EQ(d.port, 30704);
            out.push_back(d.data);
        }
        return out;
    }
    bool logged(const std::string& line) const {
        auto lines = rig.logLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    test::FakeRig rig;
    std::unique_ptr<sim::NetworkModule> module;
};

TEST_F(GpioTest, SingleLineMessagesCarryMaskAndStateAtTheLineBit) {
    update_GPIO(rig.ctx, 3, 1, kAddress);
    update_GPIO(rig.ctx, 1, 0, kAddress);
    update_GPIO(rig.ctx, 2, 1, kAddress);
    EXPECT_EQ(sent(),
              (std::vector<Bytes>{B({0x1B, 0x04, 0xFF, 0xFF, 0xFF, 0x04, 0xFF, 0xFF, 0xFF}),
                                  B({0x1B, 0x01, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF}),
                                  B({0x1B, 0x02, 0xFF, 0xFF, 0xFF, 0x02, 0xFF, 0xFF, 0xFF})}));
    EXPECT_EQ(rig.ui.memo,
              (std::vector<std::string>{"-> update_GPIO: DATA to 1", "-> update_GPIO: EN to 0",
                                        "-> update_GPIO: CLK to 1"}));
    EXPECT_TRUE(logged("-> update_GPIO: DATA to 1"));
    EXPECT_EQ(module->gpio().levels(), 0x06);
    EXPECT_THROW(update_GPIO(rig.ctx, 4, 1, kAddress), KvError);
}

TEST_F(GpioTest, SelectCodeIsCutToThreeBitsButLoggedWhole) {
    select_GPIO(rig.ctx, 9, kAddress);
    ASSERT_EQ(sent().size(), 1u);
    EXPECT_EQ(sent()[0], B({0x1B, 0x07, 0xFF, 0xFF, 0xFF, 0x01, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(logged("-> select_GPIO 9"));
    EXPECT_EQ(module->gpio().selectCode(), 1);
}

TEST_F(GpioTest, DirectionsSetLevelsFirstThenDirections) {
    set_GPIO_directions(rig.ctx, "OUTPUT", kAddress);
    set_GPIO_directions(rig.ctx, "INPUT", kAddress);
    set_GPIO_directions(rig.ctx, "output", kAddress);  // only the exact word means outputs
    auto m = sent();
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0], B({0x1A, 0x07, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(m[1], B({0x19, 0x07, 0xFF, 0xFF, 0xFF, 0x07, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(m[3][5], 0x00);
    EXPECT_EQ(m[5][5], 0x00);
    EXPECT_EQ(rig.ui.memo[0], "set_GPIO levels");
    EXPECT_EQ(rig.ui.memo[1], "-> set_GPIO directions to OUTPUT");
    // Every line an input: the device's pull-ups make it read select code 7.
    select_GPIO(rig.ctx, 2, kAddress);
    EXPECT_EQ(module->gpio().selectCode(), 7);
}

TEST_F(GpioTest, BootloaderModeMessagesCarryBaudAndParity) {
    enter_BL_mode(rig.ctx, kAddress, 57600, 1);
    EXPECT_TRUE(module->gpio().bootloaderMode());
    EXPECT_EQ(module->serialLine(), (sim::LineSettings{57600, Parity::Even}));
    enter_BL_mode(rig.ctx, kAddress, 19200, 0);
    EXPECT_EQ(module->serialLine(), (sim::LineSettings{19200, Parity::None}));
    exit_BL_mode(rig.ctx, kAddress);
    EXPECT_FALSE(module->gpio().bootloaderMode());
    EXPECT_EQ(module->serialLine(), (sim::LineSettings{9600, Parity::None}));

    auto m = sent();
    EXPECT_EQ(m[0], B({0x20, 0x00, 0xE1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(m[1], B({0x20, 0x00, 0x4B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(m[2], B({0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(rig.ui.memo, (std::vector<std::string>{"-> Enter BL mode ", "-> Enter BL mode ",
                                                     "-> Exit BL mode "}));
}

TEST_F(GpioTest, ShiftRegisterClocksHighestBitFirstThenTheFinalLevel) {
    rig.state.DebugSwitch = "OFF";
    set_shift_register(rig.ctx, {0, 0, 1, 1, 0, 1, 1, 1}, 1, kAddress);

    auto m = sent();
    ASSERT_EQ(m.size(), 29u);
    // DATA as it stands at each rising CLK edge.
    std::vector<int> clocked;
    int data = -1;
    for (const Bytes& msg : m) {
        if (msg[1] == 0x04) data = msg[5] ? 1 : 0;
        if (msg[1] == 0x02 && msg[5] == 0x02) clocked.push_back(data);
    }
    EXPECT_EQ(clocked, (std::vector<int>{1, 1, 1, 0, 1, 1, 0, 0, 1}));
    EXPECT_EQ(m.front(), B({0x1B, 0x01, 0xFF, 0xFF, 0xFF, 0x01, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(m.back(), B({0x1B, 0x01, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(module->gpio().latches, (std::vector<std::uint16_t>{0x1D9}));
    // 28 pauses of 3 ms with a module that answers at once.
    EXPECT_EQ(rig.clock.elapsed(), 84ms);
    // The summary line is written whatever the detail switch says; the steps are not.
    EXPECT_EQ(rig.ui.memo, (std::vector<std::string>{"-> Set shift register to: 1|00110111"}));
    EXPECT_TRUE(logged("-> Set shift register to: 1|00110111"));
}

TEST_F(GpioTest, ResetDropsAllLinesThenRaisesData) {
    reset_GPIO_lines(rig.ctx, kAddress);
    auto m = sent();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[3], B({0x1B, 0x04, 0xFF, 0xFF, 0xFF, 0x04, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(rig.clock.elapsed(), 300ms);
    EXPECT_EQ(module->gpio().levels(), 0x04);
}

TEST_F(GpioTest, SilentModuleCostsTwoSecondsPerMessageAndIsNoError) {
    module->setSilent(true);
    select_GPIO(rig.ctx, 7, kAddress);
    EXPECT_EQ(rig.clock.elapsed(), 2000ms);
    set_shift_register(rig.ctx, {1, 0, 0, 0, 0, 1, 1, 0}, 0, kAddress);
    EXPECT_EQ(rig.clock.elapsed(), 2000ms + 29 * 2000ms + 84ms);
    EXPECT_EQ(module->gpio().unanswered, 30);
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

// Another host's datagrams neither end the wait for the module's answer nor fill the log.
TEST_F(GpioTest, AnswersFromAnotherHostAreIgnoredAndNamedOnce) {
    module->setSilent(true);
    for (int i = 0; i < 3; ++i) rig.gpioClient.inbox.push_back({"127.0.0.3", 30704, B({0x1B})});
    select_GPIO(rig.ctx, 7, kAddress);
    EXPECT_EQ(rig.clock.elapsed(), 2000ms);
    EXPECT_TRUE(rig.gpioClient.inbox.empty());
    const auto lines = rig.logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& l) { return l.find("127.0.0.3") != std::string::npos; }),
              1);
}

TEST_F(GpioTest, ClientThatCannotOpenIsRaisedToTheCaller) {
    rig.gpioClient.failBind = true;
    EXPECT_THROW(select_GPIO(rig.ctx, 1, kAddress), ChannelError);
    EXPECT_TRUE(rig.gpioClient.sent.empty());
}

}  // namespace
}  // namespace kv
