// Rewriting the module's serial channel through its set-up record.
#include <gtest/gtest.h>

#include "FakeRig.h"
#include "NetworkModule.h"
#include "module/ModuleOperations.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
const std::string kAddress = "127.0.0.2";

struct Case {
    void (*operation)(Context&, const std::string&);
    std::uint8_t mode, baud, byte38, byte39;
    const char* logLine;
    sim::LineSettings applied;
};

class SetupTest : public ::testing::Test {
  protected:
    SetupTest() {
        sim::NetworkModule::Config config;
        config.address = kAddress;
        module = std::make_unique<sim::NetworkModule>(config);
        module->attach(rig.world);
        rig.tcp1.setHost("127.0.0.2");
        rig.tcp1.setPort(10001);
    }
    test::FakeRig rig;
    std::unique_ptr<sim::NetworkModule> module;
};

TEST_F(SetupTest, EachSettingChangesOnlyItsBytesAndTheModuleAppliesIt) {
    const Case cases[] = {
        {setup_57600_even,
         0x7C,
         0x09,
         0xFF,
         0x00,
         "Setup 57600 BR Even parity",
         {57600, Parity::Even}},
        {setup_57600_none,
         0x4C,
         0x09,
         0x80,
         0x02,
         "Setup 57600 BR no parity",
         {57600, Parity::None}},
        {setup_19200_none,
         0x4C,
         0x01,
         0xFF,
         0x00,
         "Setup 19200 BR no parity",
         {19200, Parity::None}},
        {setup_9600_none, 0x4C, 0x02, 0x80, 0x02, "Setup 9600 BR no parity", {9600, Parity::None}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logLine);
        test::FakeRig local;
        sim::NetworkModule::Config config;
        config.address = kAddress;
        sim::NetworkModule m(config);
        m.attach(local.world);
        const Bytes original = m.record().answer();
        ASSERT_EQ(original[38], 0x80);

        c.operation(local.ctx, kAddress);

        ASSERT_EQ(m.setupRequests, (std::vector<Bytes>{{0x00, 0x00, 0x00, 0xF8}}));
        ASSERT_EQ(m.storedRecords.size(), 1u);
        const Bytes& back = m.storedRecords[0];
        ASSERT_EQ(back.size(), 124u);
        for (std::size_t i = 0; i < back.size(); ++i) {
            switch (i) {
                case 1:
                    EXPECT_EQ(back[i], 0x00);
                    break;
                case 3:
                    EXPECT_EQ(back[i], 0xFA);
                    break;
                case 20:
                    EXPECT_EQ(back[i], c.mode);
                    break;
                case 21:
                    EXPECT_EQ(back[i], c.baud);
                    break;
                case 38:
                    EXPECT_EQ(back[i], c.byte38);
                    break;
                case 39:
                    EXPECT_EQ(back[i], c.byte39);
                    break;
                default:
                    EXPECT_EQ(back[i], original[i]) << "byte " << i;
            }
        }
        EXPECT_EQ(m.serialLine(), c.applied);
        EXPECT_EQ(local.ui.memo, std::vector<std::string>{c.logLine});
        EXPECT_TRUE(local.ui.dialogs.empty());
        EXPECT_FALSE(local.tcp1.connected());
    }
}

TEST_F(SetupTest, TunnelClientIsLeftAimedWhereItWas) {
    setup_19200_none(rig.ctx, kAddress);
    EXPECT_EQ(rig.tcp1.port(), 10001);
    EXPECT_EQ(rig.tcp1.host(), "127.0.0.2");
}

TEST_F(SetupTest, SilentModuleShowsConnectionLostThenTheSetupErrorAndReturns) {
    module->setSilent(true);
    setup_19200_none(rig.ctx, kAddress);
    ASSERT_EQ(rig.ui.dialogs.size(), 2u);
    EXPECT_EQ(rig.ui.dialogs[0].type, test::ScriptedUi::Dialog::Message);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Connection lost with the device");
    EXPECT_EQ(rig.ui.dialogs[1].type, test::ScriptedUi::Dialog::Error);
    EXPECT_EQ(rig.ui.dialogs[1].text, "Error in Setup:\rConnection Lost Error");
    EXPECT_EQ(rig.clock.elapsed(), 3500ms);
    EXPECT_TRUE(module->storedRecords.empty());
}

TEST_F(SetupTest, NobodyListeningGivesTheSameTwoBoxes) {
    setup_9600_none(rig.ctx, "127.0.0.9");
    ASSERT_EQ(rig.ui.dialogs.size(), 2u);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Connection lost with the device");
    EXPECT_EQ(rig.ui.dialogs[1].text, "Error in Setup:\rConnection Lost Error");
}

// A module that answers with what the test gives it, once per request.
class ScriptedSetupPeer : public sim::StreamPeer {
  public:
    explicit ScriptedSetupPeer(std::vector<Bytes>* answers, std::vector<Bytes>* received)
        : answers_(answers), received_(received) {}
    Bytes receive(ByteView data) override {
        received_->emplace_back(data.begin(), data.end());
        if (answers_->empty()) return {};
        Bytes out = answers_->front();
        answers_->erase(answers_->begin());
        return out;
    }

  private:
    std::vector<Bytes>* answers_;
    std::vector<Bytes>* received_;
};

class ScriptedSetupTest : public ::testing::Test {
  protected:
    ScriptedSetupTest() {
        rig.world.listenTcp("127.0.0.3", 30718, [this] {
            return std::make_unique<ScriptedSetupPeer>(&answers, &received);
        });
    }
    Bytes record() {
        Bytes r(124, 0x33);
        r[3] = 0xF9;
        return r;
    }
    test::FakeRig rig;
    std::vector<Bytes> answers, received;
};

TEST_F(ScriptedSetupTest, RecordCutShortIsNeverWrittenBack) {
    Bytes part = record();
    part.resize(100);
    answers = {part};
    setup_57600_none(rig.ctx, "127.0.0.3");
    EXPECT_EQ(received.size(), 1u);  // the request only
    ASSERT_EQ(rig.ui.dialogs.size(), 2u);
    EXPECT_EQ(rig.ui.dialogs[1].text, "Error in Setup:\rConnection Lost Error");
}

TEST_F(ScriptedSetupTest, MissingAcknowledgementIsAConnectionLoss) {
    answers = {record()};
    setup_9600_none(rig.ctx, "127.0.0.3");
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].size(), 124u);
    ASSERT_EQ(rig.ui.dialogs.size(), 2u);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Connection lost with the device");
    EXPECT_EQ(rig.clock.elapsed(), 3500ms);
    // After a failure the client stays as it was.
    EXPECT_TRUE(rig.tcp1.connected());
    EXPECT_EQ(rig.tcp1.port(), 30718);
}

TEST_F(ScriptedSetupTest, AnswerThatIsNoRecordIsNotWrittenBack) {
    Bytes wrong = record();
    wrong[3] = 0xF7;
    answers = {wrong};
    setup_19200_none(rig.ctx, "127.0.0.3");
    EXPECT_EQ(received.size(), 1u);
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Error in Setup:\rInvalid set-up record");
}

}  // namespace
}  // namespace kv
