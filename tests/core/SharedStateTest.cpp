#include <gtest/gtest.h>

#include "core/SharedState.h"
#include "core/Ui.h"

using namespace kv;

TEST(RxBuffer, OverwritesWhenEmptyAndAppendsOtherwise) {
    SharedState s;
    s.appendRx(Bytes{1, 2, 3});
    s.appendRx(Bytes{4});
    EXPECT_EQ(Bytes(s.rxBytes().begin(), s.rxBytes().end()), (Bytes{1, 2, 3, 4}));

    // A consumer resets the count before it sends: the next arrival starts anew.
    s.RxCount = 0;
    s.appendRx(Bytes{9, 8});
    EXPECT_EQ(Bytes(s.rxBytes().begin(), s.rxBytes().end()), (Bytes{9, 8}));
    EXPECT_EQ(s.RxBuffer[2], 3);  // the rest of the buffer is left as it was
}

TEST(RxBuffer, DropsWhatDoesNotFit) {
    SharedState s;
    s.appendRx(Bytes(1000, 0xAA));
    s.appendRx(Bytes(100, 0xBB));
    EXPECT_EQ(s.RxCount, 1028);
    EXPECT_EQ(s.RxBuffer[999], 0xAA);
    EXPECT_EQ(s.RxBuffer[1027], 0xBB);
    s.appendRx(Bytes{0xCC});
    EXPECT_EQ(s.RxCount, 1028);
    EXPECT_EQ(s.RxBuffer[1027], 0xBB);

    s.RxCount = 0;
    s.appendRx(Bytes(5000, 0x11));
    EXPECT_EQ(s.RxCount, 1028);
}

TEST(SharedState, StartsWithTheDocumentedValues) {
    SharedState s;
    EXPECT_EQ(s.CurrentIP, "0.0.0.0");
    EXPECT_EQ(s.CardQueryCount, 6);
    EXPECT_EQ(s.CardAddresses, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 0, 0}));
    EXPECT_EQ(s.selectedDevice(), nullptr);
    s.DeviceList.resize(2);
    s.SelectedDevice = 2;
    EXPECT_EQ(s.selectedDevice(), nullptr);
    s.SelectedDevice = 1;
    EXPECT_EQ(s.selectedDevice(), &s.DeviceList[1]);
}

TEST(Ask, FocusesTheDefaultButtonOnlyWhenTheBoxHasIt) {
    std::vector<MsgButton> yesCancel{MsgButton::Yes, MsgButton::Cancel};
    EXPECT_EQ(focusedButton(yesCancel, 3), MsgButton::Cancel);
    EXPECT_EQ(focusedButton(yesCancel, 0), MsgButton::Yes);
    EXPECT_EQ(focusedButton(yesCancel, 1), std::nullopt);  // No is not in the box
    EXPECT_EQ(focusedButton(yesCancel, 11), std::nullopt);
    EXPECT_EQ(focusedButton({MsgButton::Yes, MsgButton::No}, 1), MsgButton::No);
}
