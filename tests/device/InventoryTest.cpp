// Reply words to controller fields, the matrix select codes, the web content version
// request, and what the card walks do with replies they cannot map.
#include <gtest/gtest.h>

#include "ConnectRig.h"
#include "core/ports/ChannelError.h"
#include "device/Connect.h"
#include "device/Inventory.h"
#include "device/InventoryWords.h"

namespace kv {
namespace {

using test::ConnectRig;
using Row = std::array<std::string, 5>;
using Dialog = test::ScriptedUi::Dialog;
using sim::DemoFamily;

std::array<std::string, 4> fields(const TControllerRec& r) {
    return {r.ControllerType, r.HardwareVersion, r.FirmwareVersion, r.BootloaderVersion};
}

TEST(InventoryWords, HwAnchoredTypeMayHaveSeveralWords) {
    struct Case {
        const char* reply;
        std::array<std::string, 4> fields;  // type, hardware, firmware, bootloader
    };
    const Case cases[] = {
        {"RV KEY16 HW:1.0 FW:1.1 BL:1.0", {"RV KEY16", "HW:1.0", "FW:1.1", "BL:1.0"}},
        {"LNK-FBR-RC330-MAX HW:N/A FW:N/A FW:N/A",
         {"LNK-FBR-RC330-MAX", "HW:N/A", "FW:N/A", "FW:N/A"}},
        {"  A\tB  C D\r\n", {"A", "B", "C", "D"}},  // no "HW:": the type is one word
        {"\"RV PNL\" HW:1 FW:2 BL:3", {"RV PNL", "HW:1", "FW:2", "BL:3"}},
        {"X HW:1 Y HW:2 FW:3 BL:4", {"X HW:1 Y", "HW:2", "FW:3", "BL:4"}},  // the last "HW:"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(fields(ControllerFromHwAnchoredWords(c.reply)), c.fields);
    }
    for (const char* bad : {"HW:1.0 FW:1.4.0 BL:1.0", "RV HW:1.0 FW:1", "", "   "}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(ControllerFromHwAnchoredWords(bad), KvError);
    }
}

TEST(InventoryWords, FixedPositionsNeedFourWords) {
    EXPECT_EQ(fields(ControllerFromFixedWords("RV-IN4 HW:1.0 FW:2.1.3 BL:1.0 extra")),
              (std::array<std::string, 4>{"RV-IN4", "HW:1.0", "FW:2.1.3", "BL:1.0"}));
    EXPECT_THROW(ControllerFromFixedWords("RV-IN4 HW:1.0 FW:2.1.3"), KvError);
    try {
        ControllerFromFixedWords("");
        FAIL();
    } catch (const KvError& e) {
        EXPECT_STREQ(e.what(), "The card reply is empty");
    }
}

TEST(Inventory, MatrixSelectCodesFollowTheWalkNumbersBits) {
    const int expected[7][3] = {{0, 0, 1}, {1, 0, 0}, {1, 0, 1}, {0, 1, 0},
                                {0, 1, 1}, {1, 1, 0}, {1, 1, 1}};  // b0, b1, final level
    for (int k = 1; k <= 7; ++k) {
        SCOPED_TRACE(k);
        const MatrixCardSelect s = MatrixCardSelectCode(k);
        EXPECT_EQ(s.bits[0], expected[k - 1][0]);
        EXPECT_EQ(s.bits[1], expected[k - 1][1]);
        EXPECT_EQ(s.finalLevel, expected[k - 1][2]);
        EXPECT_EQ(s.bits[5], 1);
        EXPECT_EQ(s.bits[6], 1);
        EXPECT_EQ(s.bits[2] + s.bits[3] + s.bits[4] + s.bits[7], 0);
    }
}

TEST(Inventory, WebContentVersionIsTheFourthLineOfTheVersionPage) {
    ConnectRig t(DemoFamily::Modular);
    t.devices.webServers[0]->config.contentVersion = "2.3.4";
    EXPECT_EQ(QueryWebContentVersion(t.rig.ctx, "127.0.0.2"), "2.3.4");
    EXPECT_EQ(t.rig.tcp2.sent,
              std::vector<Bytes>{toBytes("GET /js/version.html HTTP/1.0\r\n\r\n\r\n")});
    EXPECT_EQ(t.rig.tcp2.port(), 80);
    EXPECT_FALSE(t.rig.tcp2.connected());

    t.devices.webServers[0]->silent = true;
    EXPECT_EQ(QueryWebContentVersion(t.rig.ctx, "127.0.0.2"), "");
    EXPECT_EQ(t.dialogTexts(Dialog::Message),
              std::vector<std::string>{"Can not retreive Web Content Version"});
    EXPECT_FALSE(t.rig.tcp2.connected());
}

TEST(Inventory, WithoutAWebServerTheContentRowShowsOnlyItsPrefix) {
    ConnectRig t(DemoFamily::DirectMatrix, {"127.0.0.2"}, false);
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    EXPECT_EQ(t.dialogTexts(Dialog::Message),
              std::vector<std::string>{"Can not retreive Web Content Version"});
    EXPECT_EQ(t.grid().back(), (Row{"Web Content", "", "", "FW:", ""}));
    EXPECT_EQ(t.device().LanVersion, "");
}

TEST(Inventory, ModularWebContentOfAnOptionalContentTypeIsMarkedMissing) {
    ConnectRig t(DemoFamily::Modular);
    t.yes();
    ConnectNetworkDevice(t.rig.ctx, 0);
    t.device().Ident = "(I:RV-FS64S)";
    QueryCardsModular(t.rig.ctx, "127.0.0.2", t.rig.state.CardAddresses, 6);
    EXPECT_EQ(t.grid().back(), (Row{"Web Content: not installed", "", "", "FW:1.0.4", ""}));
}

TEST(Inventory, SlotReplyOfFiveWordsAndThePanelDecision) {
    struct Case {
        DemoFamily family;
        const char* firstCard;
        std::vector<std::string> trailing;
    };
    const Case cases[] = {
        // The type comes out as two words: no panel, both web rows.
        {DemoFamily::Panel, "RV PNL16 HW:1.0 FW:1.4.0 BL:1.0", {"Web Server", "Web Content"}},
        {DemoFamily::Panel32, "RV-PNL32 HW:2.0 FW:2.0.1 BL:1.1", {"Web Server"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firstCard);
        ConnectRig t(c.family);
        t.card(0).config.text = c.firstCard;
        t.yes();
        ConnectNetworkDevice(t.rig.ctx, 0);
        const auto& list = t.device().Controllers;
        ASSERT_FALSE(list.empty());
        const std::string firstType(c.firstCard, std::string(c.firstCard).find(" HW:"));
        EXPECT_EQ(list.front().ControllerType, firstType);
        EXPECT_EQ(list.front().HardwareVersion.substr(0, 3), "HW:");
        std::vector<std::string> trailing;
        for (std::size_t i = list.size() - c.trailing.size(); i < list.size(); ++i)
            trailing.push_back(list[i].ControllerType);
        EXPECT_EQ(trailing, c.trailing);
    }
}

TEST(Inventory, UnmappableRepliesStopTheWalkAndKeepTheRowsSoFar) {
    struct Case {
        DemoFamily family;
        std::size_t card;
        const char* text;
        std::vector<std::string> rowsKept;
        const char* error;
    };
    const Case cases[] = {
        {DemoFamily::Matrix,
         1,
         "RV-OUT4 HW:1.1 FW:2.0.7",
         {"RV-CTL2", "RV-IN4 2"},
         "The card reply has too few words: RV-OUT4 HW:1.1 FW:2.0.7"},
        {DemoFamily::Matrix, 0, "", {"RV-CTL2"}, "The card reply is empty"},
        {DemoFamily::Panel,
         1,
         "HW:1.2 FW:1.0.5 BL:1.0",
         {"RV-PNL16"},
         "The card reply names no type before \"HW:\": HW:1.2 FW:1.0.5 BL:1.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        ConnectRig t(c.family);
        t.card(c.card).config.text = c.text;
        t.yes();
        ConnectNetworkDevice(t.rig.ctx, 0);
        EXPECT_EQ(t.dialogTexts(Dialog::Error),
                  std::vector<std::string>{std::string("Error in Query Cards:\r") + c.error});
        std::vector<std::string> rows;
        for (const auto& row : t.grid()) rows.push_back(row[0]);
        EXPECT_EQ(rows, c.rowsKept);
        EXPECT_EQ(t.logCount(std::string(54, '-')), 0u);
        // The connect itself still completes.
        EXPECT_TRUE(t.rig.ui.enabled(UiElement::Upgrade));
    }
}

TEST(RaisedErrorText, NamesTheClassOfTheFailure) {
    EXPECT_EQ(RaisedErrorText(ChannelError("Socket Error # 10061")),
              "ESocketError error raised, with message : Socket Error # 10061");
    EXPECT_EQ(RaisedErrorText(std::runtime_error("x")), "Exception error raised, with message : x");
}

}  // namespace
}  // namespace kv
