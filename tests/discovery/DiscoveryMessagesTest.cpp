// The discovery answers as bytes.
#include <gtest/gtest.h>

#include "discovery/DiscoveryMessages.h"

namespace kv {
namespace {

TEST(DiscoveryMessagesTest, ModuleAnswerGivesAddressAndVersion) {
    Bytes f7(30, 0x00);
    f7[3] = 0xF7;
    f7[6] = 0x0B;
    f7[7] = 0x06;
    const Bytes mac{0x00, 0x20, 0x4A, 0x9B, 0x0C, 0x11};
    std::copy(mac.begin(), mac.end(), f7.begin() + 24);
    auto answer = DecodeModuleAnswer(f7);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->MAC, "00-20-4A-9B-0C-11");
    EXPECT_EQ(answer->ModuleVersion, "6.B.0");

    f7[6] = 0x10;
    f7[7] = 0xAF;
    EXPECT_EQ(DecodeModuleAnswer(f7)->ModuleVersion, "AF.10.0");
    f7.resize(29);
    EXPECT_FALSE(DecodeModuleAnswer(f7));
}

TEST(DiscoveryMessagesTest, SetupRecordAnswerGivesThePortLowByteFirst) {
    Bytes f9(124, 0x00);
    f9[3] = 0xF9;
    f9[24] = 0x11;
    f9[25] = 0x27;
    EXPECT_EQ(DecodeSetupRecordAnswer(f9), 10001);
    f9[24] = 0xFF;
    f9[25] = 0xFF;
    EXPECT_EQ(DecodeSetupRecordAnswer(f9), 65535);
    EXPECT_FALSE(DecodeModuleAnswer(f9));
    f9.resize(25);
    EXPECT_FALSE(DecodeSetupRecordAnswer(f9));
}

TEST(DiscoveryMessagesTest, BroadcastsOfAnInterface) {
    EXPECT_EQ(InterfaceBroadcasts("192.168.10.7"),
              (std::vector<std::string>{"192.168.10.255", "192.168.255.255"}));
    EXPECT_TRUE(InterfaceBroadcasts("").empty());
    EXPECT_TRUE(InterfaceBroadcasts("fe80::1").empty());
    EXPECT_TRUE(InterfaceBroadcasts("10.0.0").empty());
}

}  // namespace
}  // namespace kv
