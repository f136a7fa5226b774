#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "ConnectRig.h"
#include "DemoFirmware.h"
#include "JournalFolder.h"
#include "actions/Operations.h"
#include "device/ChannelEvents.h"
#include "records/RunJournal.h"

namespace kv {
namespace {

// What SIGKILL does to a run: nothing after it runs. Not a std::exception, so no
// procedure's own error handling sees it.
struct ProgramDies {};

struct DeathCase {
    const char* name;
    sim::DemoFamily family;
    const char* row;  // controller type of the row being upgraded
    ProgressPhase phase;
    int nth;  // the run dies at the nth progress event of this phase
};

class JournalRecovery : public ::testing::TestWithParam<DeathCase> {
  protected:
    // The program of the second life: a fresh state with the lists as FIND left them, the
    // same channels (the dead program's connections closed) and the same journal folder.
    struct Life {
        SharedState state;
        Context ctx;
        RunJournal journal;
        Life(test::FakeRig& rig, const SharedState& listed, const std::filesystem::path& folder)
            : ctx(state, rig.log, rig.ui, rig.clock, rig.ports), journal(folder) {
            state.DebugSwitch = "ON";
            state.DeviceList = listed.DeviceList;
            state.networkTree = listed.networkTree;
            RegisterChannelEvents(ctx);
            ctx.journal = &journal;
        }
    };

    static std::string fileFor(const std::filesystem::path& folder, sim::DemoFamily family,
                               const std::string& type) {
        for (const auto& file : sim::DemoFirmwareFiles(family))
            if (file.controllerType == type) return (folder / file.fileName).string();
        ADD_FAILURE() << "no demo file for " << type;
        return {};
    }

    static void choose(Context& ctx, const std::string& type, const std::string& path) {
        for (const ops::RowView& row : ops::ListRows(ctx)) {
            if (row.type != type) continue;
            ASSERT_TRUE(ops::ChooseFile(ctx, static_cast<std::size_t>(row.row), path).ok());
            return;
        }
        FAIL() << "no row " << type;
    }

    static void closeChannels(test::FakeRig& rig) {
        rig.tcp1.disconnect();
        rig.socket1.close();
        rig.gpioClient.close();
        rig.udpServer.close();
        rig.tftp.close();
    }
};

TEST_P(JournalRecovery, TheFirstConnectAfterARunDiedRestoresTheDeviceAndConnects) {
    const DeathCase& c = GetParam();
    test::JournalFolder journalFolder;
    test::ConnectRig device(c.family);
    test::FakeRig& rig = device.rig;
    const SharedState listed = rig.state;
    sim::WriteDemoFirmware(c.family, rig.folder / "fw");
    const std::string file = fileFor(rig.folder / "fw", c.family, c.row);

    // First life: connected, a row chosen, the run dies in the middle of the row.
    std::size_t rowsListed = 0;
    {
        auto journal = std::make_unique<RunJournal>(journalFolder.path);
        rig.ctx.journal = journal.get();
        device.yes();
        const ops::ConnectResult first = ops::ConnectNetworkEntry(rig.ctx, 0);
        ASSERT_TRUE(first.connected() && first.identified);
        EXPECT_FALSE(first.recovery);
        rowsListed = first.rows;
        choose(rig.ctx, c.row, file);
        int seen = 0;
        rig.ui.onProgressEvent = [&](const ProgressEvent& event) {
            if (event.phase == c.phase && ++seen == c.nth) throw ProgramDies{};
        };
        device.yes();
        EXPECT_THROW(ops::Upgrade(rig.ctx), ProgramDies);
        rig.ui.onProgressEvent = nullptr;
        rig.ctx.journal = nullptr;
    }  // the journal object goes as the process would: its entries stay open
    closeChannels(rig);
    const sim::LineSettings normal{9600, Parity::None};
    ASSERT_FALSE(device.module().serialLine() == normal) << "the run left nothing to restore";

    // Second life: the first connect restores the device, then connects as usual.
    Life next(rig, listed, journalFolder.path);
    rig.ui.memo.clear();
    rig.ui.dialogs.clear();
    rig.ui.questionIds.clear();
    device.yes();
    const ops::ConnectResult connected = ops::ConnectNetworkEntry(next.ctx, 0);
    ASSERT_TRUE(connected.recovery);
    EXPECT_TRUE(connected.recovery->restored) << connected.recovery->message;
    EXPECT_EQ(connected.recovery->entry.rowType, c.row);
    EXPECT_TRUE(connected.connected() && connected.identified);
    EXPECT_EQ(connected.rows, rowsListed);
    const auto told = std::find_if(rig.ui.memo.begin(), rig.ui.memo.end(), [&](const auto& line) {
        return line.rfind("Restoring 127.0.0.2: a run stopped at ", 0) == 0 &&
               line.find(std::string("while programming ") + c.row) != std::string::npos &&
               line.find("may be incomplete") != std::string::npos;
    });
    EXPECT_NE(told, rig.ui.memo.end());
    // No box and no question but the connect's own: the line alone tells the operator.
    EXPECT_EQ(rig.ui.questionIds, std::vector<QuestionId>{QuestionId::ConnectDevice});
    EXPECT_TRUE(rig.ui.dialogsOf(test::ScriptedUi::Dialog::Message).empty());
    EXPECT_TRUE(rig.ui.dialogsOf(test::ScriptedUi::Dialog::Error).empty());

    // The interrupted row then upgrades as usual, and the close leaves no entry open.
    choose(next.ctx, c.row, file);
    device.yes();
    EXPECT_TRUE(ops::Upgrade(next.ctx).success());
    EXPECT_TRUE(ops::Restore(next.ctx));
    EXPECT_TRUE(device.module().serialLine() == normal);
    EXPECT_TRUE(next.journal.openEntries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Deaths, JournalRecovery,
    ::testing::Values(DeathCase{"card_while_erasing", sim::DemoFamily::UpgradablePanel, "RV-BTN16",
                                ProgressPhase::Erasing, 1},
                      DeathCase{"card_while_programming", sim::DemoFamily::UpgradablePanel,
                                "RV-BTN16", ProgressPhase::Programming, 5},
                      DeathCase{"web_server_image_upload", sim::DemoFamily::UpgradablePanel,
                                "Web Server", ProgressPhase::Uploading, 2}),
    [](const auto& param) { return std::string(param.param.name); });

// A journal that FIND reads is only told about: the device is not touched.
TEST(JournalRecoveryFind, FindNamesAnOpenEntryWithoutTouchingItsDevice) {
    test::JournalFolder journalFolder;
    test::ConnectRig device(sim::DemoFamily::UpgradablePanel);
    JournalEntry left;
    left.device = {ConnectionKind::Network, "127.0.0.2", {}};
    left.changes = {DeviceChange::SerialSetup};
    left.rowType = "RV-BTN16";
    {
        RunJournal died(journalFolder.path);
        died.deviceChanging(left.device, left.facts, DeviceChange::SerialSetup);
        died.rowStarted(left.device, 1, "RV-BTN16");
    }
    RunJournal journal(journalFolder.path);
    device.rig.ctx.journal = &journal;
    const auto before = device.module().serialLine();
    ops::Find(device.rig.ctx);
    EXPECT_TRUE(device.memoHas(ops::OpenEntryText(journal.openEntries().at(0))));
    EXPECT_TRUE(device.module().serialLine() == before);
    EXPECT_EQ(journal.openEntries().size(), 1u);
}

}  // namespace
}  // namespace kv
