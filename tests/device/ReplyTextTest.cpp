// Reading values out of reply texts, and the word splitter the replies go through.
#include <gtest/gtest.h>

#include "device/ReplyText.h"
#include "firmware/Util.h"

namespace kv {
namespace {

TEST(ReplyText, FirmwareNumberReadsOnlyCharactersOneThreeAndFive) {
    EXPECT_EQ(FirmwareNumber("3.2.1"), 321);
    EXPECT_EQ(FirmwareNumber("1.2.x"), 120);
    EXPECT_EQ(FirmwareNumber("10.0.0"), 100);  // the 1 and two dots
    EXPECT_EQ(FirmwareNumber(""), 0);
    EXPECT_EQ(FirmwareNumber("4"), 400);
    EXPECT_EQ(FirmwareNumber("1.2"), 120);
    EXPECT_EQ(FirmwareNumber(" 1.2.3"), 0);
}

TEST(ReplyText, ProtocolMarkerInEitherCase) {
    EXPECT_EQ(ProtocolNumberText("(CURRENT PROTOCOL#2)"), std::optional<std::string>("2"));
    EXPECT_EQ(ProtocolNumberText("(Current protocol#2)"), std::optional<std::string>("2"));
    EXPECT_EQ(ProtocolNumberText("(Current protocol#1)"), std::optional<std::string>("1"));
    EXPECT_EQ(ProtocolNumberText("(Current protocol)"), std::optional<std::string>(""));
    EXPECT_EQ(ProtocolNumberText("(current protocol#2)"), std::nullopt);
    EXPECT_EQ(ProtocolNumberText("(I:RV-FS64S)"), std::nullopt);
}

TEST(ReplyText, ExtractionRules) {
    EXPECT_EQ(IdentName("(I:RV-FS64S)"), "I:RV-FS64S");
    EXPECT_EQ(IdentName("("), "");
    EXPECT_EQ(SerialNumberText("(S:0012345)"), "S:0012345");
    EXPECT_EQ(SerialNumberText("N/A"), "");
    EXPECT_EQ(SerialNumberText(")"), "");
    EXPECT_EQ(ValueAfterColon("(I:NRV5x5)"), "NRV5x5");
    EXPECT_EQ(ValueAfterColon("(FW: 1.2.3)"), " 1.2.3");
    EXPECT_EQ(ValueAfterColon("(I:NRV5x5-Max"), "NRV5x5-Max");
    EXPECT_EQ(ValueAfterColon("no colon)"), "");
    EXPECT_EQ(ValueAfterEquals("(WEB=1.0.4)"), "1.0.4");
    EXPECT_EQ(ValueAfterEquals("(LAN_VER)"), "");
}

TEST(SplitDelimited, BlanksAndDelimiters) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitDelimited(' ', "  RV-IN4  HW:1.0\tFW:2.1.3\r\nBL:1.0  "),
              (V{"RV-IN4", "HW:1.0", "FW:2.1.3", "BL:1.0"}));
    EXPECT_EQ(SplitDelimited('.', "192.168.10.7"), (V{"192", "168", "10", "7"}));
    EXPECT_EQ(SplitDelimited('.', "192.168."), (V{"192", "168", ""}));
    EXPECT_EQ(SplitDelimited('.', "1..2"), (V{"1", "", "2"}));
    EXPECT_EQ(SplitDelimited('.', ".5"), (V{"", "5"}));
    EXPECT_EQ(SplitDelimited(' ', "\"two words\" next \"say \"\"hi\"\"\""),
              (V{"two words", "next", "say \"hi\""}));
    EXPECT_EQ(SplitDelimited(' ', "\"open ended"), (V{"open ended"}));
    EXPECT_EQ(SplitDelimited(' ', std::string("A B\0C", 5)), (V{"A", "B"}));
    EXPECT_TRUE(SplitDelimited(' ', " \r\n ").empty());

    std::vector<std::string> list{"stale"};
    SplitDelimited(' ', "x", list);
    EXPECT_EQ(list, V{"x"});
}

}  // namespace
}  // namespace kv
