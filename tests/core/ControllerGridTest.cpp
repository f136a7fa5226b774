#include <gtest/gtest.h>

#include "FakeRig.h"
#include "actions/Operations.h"
#include "core/ControllerGrid.h"

using namespace kv;
using Dialog = test::ScriptedUi::Dialog;

namespace {

TMatrixRec& deviceWithRows(test::FakeRig& rig, const std::string& mac) {
    TMatrixRec& d = rig.addDevice("10.0.0.5");
    d.MAC = mac;
    for (const char* type : {"RV-CTL2", "Web Server", "Web Content", "Web Package"}) {
        TControllerRec c;
        c.ControllerType = type;
        d.Controllers.push_back(c);
        rig.state.setGridRow(d.Controllers.size() - 1, c);
    }
    return d;
}

}  // namespace

TEST(ControllerGrid, ToggleTwiceLeavesTheControllerUnselected) {
    test::FakeRig rig;
    TMatrixRec& d = deviceWithRows(rig, "00-20-4A-01-02-03");
    ToggleRowSelected(rig.ctx, 1);
    EXPECT_TRUE(d.Controllers[1].Selected);
    EXPECT_TRUE(rig.ui.grid[1].checked);
    ToggleRowSelected(rig.ctx, 1);
    EXPECT_FALSE(d.Controllers[1].Selected);
    EXPECT_FALSE(rig.ui.grid[1].checked);
    ToggleRowSelected(rig.ctx, 9);  // no controller behind the row
    EXPECT_EQ(rig.ui.grid.size(), 4u);
}

TEST(ControllerGrid, FileFilterFollowsTheRowTypeAndTheMac) {
    EXPECT_EQ(FirmwareFileFilter("Web Server", "00-80-A3-01-02-03"),
              "Web Server image (*.ro5)|*.ro5");
    EXPECT_EQ(FirmwareFileFilter("Web Server", "00-20-4A-01-02-03"),
              "Web Server image (*.rom)|*.rom");
    EXPECT_EQ(FirmwareFileFilter("Web Server", ""), "Web Server image (*.rom)|*.rom");
    EXPECT_EQ(FirmwareFileFilter("Web Content", ""), "Web Content image (*.cob)|*.cob");
    EXPECT_EQ(FirmwareFileFilter("Web Package", ""), "Korvandel Package (*.kvp)|*.kvp");
    EXPECT_EQ(FirmwareFileFilter("web server", ""), "Intel Hex file (*.hex)|*.hex");
}

TEST(ControllerGrid, AFileChosenWithoutTheDialogMustBeOfTheRowsKind) {
    struct Case {
        std::size_t row;
        const char* path;
        ops::FileRefusal refusal;
    } cases[] = {
        {0, "/fw/cpu.HEX", ops::FileRefusal::None},
        {1, "/fw/web.ro5", ops::FileRefusal::None},  // a module 00-8x takes .ro5
        {1, "/fw/web.rom", ops::FileRefusal::WrongKind},
        {2, "/fw/cpu.hex", ops::FileRefusal::WrongKind},
        {3, "/fw/site.kvp", ops::FileRefusal::None},
        {4, "/fw/cpu.hex", ops::FileRefusal::NoSuchRow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        test::FakeRig rig;
        EXPECT_EQ(ops::ChooseFile(rig.ctx, 0, c.path).refusal, ops::FileRefusal::NoDevice);
        TMatrixRec& d = deviceWithRows(rig, "00-80-A3-01-02-03");
        rig.state.ConnectionKind = ConnectionKind::Network;
        EXPECT_EQ(ops::ChooseFile(rig.ctx, c.row, c.path).refusal, c.refusal);
        if (c.row >= d.Controllers.size()) continue;
        const bool chosen = c.refusal == ops::FileRefusal::None;
        EXPECT_EQ(d.Controllers[c.row].FirmwareFile, chosen ? c.path : "");
        EXPECT_EQ(d.Controllers[c.row].Selected, chosen);
        EXPECT_TRUE(rig.ui.dialogs.empty());  // nothing asked, no dialog
    }
}

TEST(ControllerGrid, ChoosingAFileAsksWithYesAsDefaultAndShowsTheBareName) {
    test::FakeRig rig;
    TMatrixRec& d = deviceWithRows(rig, "00-80-A3-01-02-03");
    rig.ui.files.push_back("/home/op/images/new.ro5");
    PickRowFile(rig.ctx, 1);

    auto asks = rig.ui.dialogsOf(Dialog::Ask);
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(asks[0].text, "Do you really want to modify the path?");
    EXPECT_EQ(asks[0].buttons, (std::vector<MsgButton>{MsgButton::Yes, MsgButton::Cancel}));
    EXPECT_EQ(asks[0].focused, MsgButton::Yes);
    auto opens = rig.ui.dialogsOf(Dialog::OpenFile);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].text, "Web Server image (*.ro5)|*.ro5");
    EXPECT_EQ(d.Controllers[1].FirmwareFile, "/home/op/images/new.ro5");
    EXPECT_EQ(rig.ui.grid[1].cells[4], "new.ro5");
}

TEST(ControllerGrid, CancelOrOtherColumnsKeepThePreviousFile) {
    test::FakeRig rig;
    TMatrixRec& d = deviceWithRows(rig, "00-20-4A-01-02-03");
    d.Controllers[0].FirmwareFile = "/old/cpu.hex";

    rig.ui.answers.push_back(MsgButton::Cancel);
    rig.ui.files.push_back("/new/cpu.hex");
    PickRowFile(rig.ctx, 0);
    EXPECT_EQ(d.Controllers[0].FirmwareFile, "/old/cpu.hex");
    EXPECT_TRUE(rig.ui.dialogsOf(Dialog::OpenFile).empty());

    rig.ui.files.clear();  // confirmed, but the file dialog is cancelled
    PickRowFile(rig.ctx, 0);
    EXPECT_EQ(d.Controllers[0].FirmwareFile, "/old/cpu.hex");

    PickRowFile(rig.ctx, 7);
    EXPECT_EQ(rig.ui.dialogsOf(Dialog::Ask).size(), 2u);
}

TEST(ControllerGrid, ResetLeavesOneEmptyDisabledRow) {
    test::FakeRig rig;
    deviceWithRows(rig, "");
    GridReset(rig.ctx);
    ASSERT_EQ(rig.ui.grid.size(), 1u);
    for (const auto& cell : rig.ui.grid[0].cells) EXPECT_EQ(cell, "");
    EXPECT_FALSE(rig.ui.enabled(UiElement::Grids));
}
