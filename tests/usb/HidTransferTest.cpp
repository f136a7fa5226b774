#include <gtest/gtest.h>

#include <algorithm>

#include "UsbTestRig.h"
#include "upgrade/UpgradeProcedures.h"
#include "upgrade/UpgradeState.h"

namespace kv::test {
namespace {

using namespace std::chrono_literals;

// A device that went through the double click and shows its controller row.
struct Connected : UsbRig {
    sim::HidBootloaderDevice dev{"USB-SW", "SN1"};
    std::string file = path("usb.hex");

    Connected() {
        dev.infoText = "KV USB-SW HW:1.2 FW:2.0.1 BL:1.1";
        connect(dev);
        hid.written.clear();
        ui.memo.clear();
    }
    void transfer() {
        StartHidTransfer(ctx, file);
        WaitHidTransfer(ctx);
    }
    bool memoHas(const std::string& suffix) const {
        return std::any_of(ui.memo.begin(), ui.memo.end(), [&](const std::string& l) {
            return l.size() >= suffix.size() &&
                   l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0;
        });
    }
};

TEST(HidTransfer, FullTransferLeavesTheFileInTheDeviceFlash) {
    Connected rig;
    UsbImage image("USB-SW");
    image.write(rig.file);

    rig.transfer();

    EXPECT_TRUE(HidTransferSucceeded(rig.ctx));
    EXPECT_TRUE(rig.messages().empty());
    EXPECT_EQ(rig.dev.counters.erases, 1);
    EXPECT_EQ(rig.dev.counters.blocksWritten, 1791);
    EXPECT_EQ(rig.dev.counters.verifyRequests, 1791);
    EXPECT_EQ(rig.dev.counters.endCommands, 1);
    for (int a = kHidStartAddress; a < kHidEndAddress; ++a) {
        ASSERT_EQ(rig.dev.memory()[static_cast<std::size_t>(a)], image.bytes.at(a))
            << std::hex << a;
    }

    // Erase, then the first block: header, 26 zeros, the data of the lines at 0x2000 and
    // 0x2010 in payload bytes 32..63; its verify request carries only the header.
    const auto& w = rig.hid.written;
    ASSERT_GE(w.size(), 3u);
    Bytes erase(65, 0x00);
    erase[1] = 0x04;
    EXPECT_EQ(w[0], erase);
    Bytes block(65, 0x00);
    block[1] = 0x05, block[2] = 0x00, block[3] = 0x20, block[6] = 0x20;
    for (int i = 0; i < 32; ++i)
        block[33 + static_cast<std::size_t>(i)] = image.bytes.at(0x2000 + i);
    EXPECT_EQ(w[1], block);
    Bytes verify(65, 0x00);
    verify[1] = 0x07, verify[3] = 0x20, verify[6] = 0x20;
    EXPECT_EQ(w[2], verify);
    Bytes end(65, 0x00);
    end[1] = 0x06;
    EXPECT_EQ(w.back(), end);
    EXPECT_TRUE(rig.memoHas(" OK"));

    // Progress from 0 to exactly its maximum, never backwards.
    const auto& p = rig.ui.progressValues;
    const int maximum = kHidEndAddress - kHidStartAddress;
    ASSERT_FALSE(p.empty());
    auto first = std::find(p.begin(), p.end(), std::make_pair(0, maximum));
    ASSERT_NE(first, p.end());
    EXPECT_TRUE(std::is_sorted(first, p.end()));
    EXPECT_EQ(p.back(), std::make_pair(maximum, maximum));

    const auto& s = rig.ui.statusTexts;
    EXPECT_NE(std::find(s.begin(), s.end(), "Erasing KV USB-SW..."), s.end());
    EXPECT_NE(std::find(s.begin(), s.end(), "Program/Verify KV USB-SW..."), s.end());
    EXPECT_EQ(s.back(), "Done KV USB-SW...");
}

TEST(HidTransfer, BlockAddressComesFromTheFileWhileTheEndIsCounted) {
    Connected rig;
    rig.link().HidEndAddress = kHidStartAddress + 64;  // two blocks
    UsbImage lines("USB-SW", 0x2000);
    lines.lines.pop_back();
    std::vector<std::uint8_t> d1(16, 0x11), d2(16, 0x22), d3(16, 0x33), d4(16, 0x44);
    lines.add(0x3000, d1);
    lines.add(0x3010, d2);
    lines.add(0x5000, d3);
    lines.add(0x5010, d4);
    lines.write(rig.file);

    rig.transfer();

    EXPECT_TRUE(HidTransferSucceeded(rig.ctx));
    EXPECT_EQ(rig.link().HidAddress, kHidStartAddress + 64);
    EXPECT_EQ(rig.dev.counters.blocksWritten, 2);
    EXPECT_EQ(rig.dev.memory()[0x3000], 0x11);
    EXPECT_EQ(rig.dev.memory()[0x301F], 0x22);
    EXPECT_EQ(rig.dev.memory()[0x5000], 0x33);
    EXPECT_EQ(rig.dev.memory()[0x501F], 0x44);
    EXPECT_EQ(rig.dev.memory()[0x2000], 0xFF) << "counted address written";
}

TEST(HidTransfer, VerifyMismatchInTheUpperHalfStopsTheTransfer) {
    // The model changes the block's last byte: bytes 32..47 of the reply still match.
    for (int failing : {1, 1790}) {
        SCOPED_TRACE(failing);
        Connected rig;
        UsbImage("USB-SW").write(rig.file);
        rig.dev.faults.corruptBlock = failing;

        rig.transfer();

        EXPECT_FALSE(HidTransferSucceeded(rig.ctx));
        EXPECT_TRUE(rig.link().HidVerifyFailed);
        EXPECT_EQ(rig.messages(), (std::vector<std::string>{"Device Verify failed at block: " +
                                                            std::to_string(failing + 2)}));
        EXPECT_TRUE(rig.memoHas(" FAIL "));
        EXPECT_EQ(rig.dev.counters.blocksWritten, failing + 1);
        EXPECT_EQ(rig.dev.counters.endCommands, 0);
        // The caller's end test sees the failure, also for the very last block.
        EXPECT_EQ(rig.link().HidAddress, kHidStartAddress + 32 * failing);
        EXPECT_LT(rig.link().HidAddress, rig.link().HidEndAddress);

        // Later reports do not raise the verify message again.
        rig.hid.inject(rig.hid.pathOf(rig.dev), toBytes("(P_PRG_READY)"));
        rig.ctx.ProcessMessages();
        EXPECT_EQ(rig.messages().size(), 1u);
    }
}

TEST(HidTransfer, SilentDeviceEndsTheTransferAfterTheTimeout) {
    Connected rig;
    UsbImage("USB-SW").write(rig.file);
    rig.dev.faults.silentAfterVerifies = 10;
    auto start = rig.clock.elapsed();

    rig.transfer();

    EXPECT_FALSE(rig.link().HidTransferRunning);
    EXPECT_FALSE(HidTransferSucceeded(rig.ctx));
    EXPECT_LT(rig.link().HidAddress, rig.link().HidEndAddress);
    EXPECT_EQ(
        rig.messages(),
        (std::vector<std::string>{"The device does not answer, transfer stopped at block: 12"}));
    auto waited = rig.clock.elapsed() - start;
    EXPECT_GE(waited, kHidTransferReplyWait);
    EXPECT_LT(waited, kHidTransferReplyWait + 2s);
}

TEST(HidTransfer, UnfitFileIsRefusedBeforeAnythingIsSent) {
    Connected rig;
    UsbImage image("USB-SW");
    image.lines.resize(image.lines.size() / 2);  // ends early
    image.write(rig.file);
    // As after an earlier successful transfer.
    rig.link().HidAddress = kHidEndAddress + 16;
    rig.link().HidTransferCompleted = true;

    rig.transfer();

    EXPECT_TRUE(rig.hid.written.empty());
    EXPECT_FALSE(HidTransferSucceeded(rig.ctx));
    EXPECT_EQ(rig.link().HidAddress, kHidStartAddress);
    ASSERT_EQ(rig.messages().size(), 1u);
    EXPECT_EQ(rig.messages()[0].rfind("Invalid firmware file: it ends after ", 0), 0u);
}

// The run's file checks come before anything it sends: a refused file reaches the
// device with nothing, not even the finish command. kvboot's check before the connect
// refuses the same files.
TEST(HidTransfer, ARefusedRunSendsNothingToTheDevice) {
    struct Case {
        const char* name;
        const char* product;  // the file's; empty: no file chosen
        bool spoiled;
        const char* refusal;
    };
    const Case cases[] = {
        {"bad record", "USB-SW", true, "Upgrade failed: Invalid checksum"},
        {"wrong type", "USB-TX", false, "Upgrade failed: Device type missmatch"},
        {"no file", "", false, " Please select file for "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connected rig;
        UsbImage image(*c.product ? c.product : "USB-SW");
        if (c.spoiled) image.lines[3].back() = image.lines[3].back() == '0' ? '1' : '0';
        image.write(rig.file);
        TControllerRec& row = rig.state.selectedDevice()->Controllers.at(0);
        row.Selected = true;
        row.FirmwareFile = *c.product ? rig.file : "";
        rig.ui.answers = {MsgButton::Yes};
        UpgradeUsbDevice(rig.ctx);
        EXPECT_TRUE(rig.hid.written.empty());
        const RunResult& run = upgradeState(rig.ctx).lastRun;
        EXPECT_EQ(run.end, RunEnd::Refused);
        EXPECT_NE(run.refusal.find(c.refusal), std::string::npos) << run.refusal;
        if (*c.product) {
            EXPECT_EQ(HidFileRefusal(rig.file, "USB-SW"), std::string(c.refusal) + "\n\r");
        }
    }
    Connected rig;
    UsbImage("USB-SW").write(rig.file);
    EXPECT_EQ(HidFileRefusal(rig.file, "USB-SW"), "");
}

TEST(HidTransfer, TransferNeedsTheCurrentDevice) {
    Connected rig;
    UsbImage("USB-SW").write(rig.file);
    rig.hid.plug("Other Maker", "Mouse", "M");  // any device change forgets it
    rig.settle();

    rig.transfer();

    EXPECT_TRUE(rig.hid.written.empty());
    EXPECT_FALSE(HidTransferSucceeded(rig.ctx));
    EXPECT_LT(rig.link().HidAddress, rig.link().HidEndAddress);
}

TEST(HidTransfer, DeviceTypeComesFromTheFilesStringDescriptor) {
    Connected rig;
    UsbImage("USB-SW").write(rig.file);
    EXPECT_FALSE(CheckHidDeviceType(rig.ctx, rig.file));
    EXPECT_EQ(rig.state.HexControllerType, "USB-SW");

    UsbImage("USB-TX").write(rig.file);
    EXPECT_TRUE(CheckHidDeviceType(rig.ctx, rig.file));
    EXPECT_EQ(rig.state.HexControllerType, "USB-TX");

    // No descriptor (erased bytes): the type read before stays.
    UsbImage blank("X");
    for (auto& l : blank.lines)
        if (l.rfind(":101840", 0) == 0)
            l = sim::HexRecordLine(0, 0x1840, std::vector<std::uint8_t>(16, 0xFF));
    blank.write(rig.file);
    EXPECT_TRUE(CheckHidDeviceType(rig.ctx, rig.file));
    EXPECT_EQ(rig.state.HexControllerType, "USB-TX");

    rig.usb().CurrentHidDevice = nullptr;
    UsbImage("USB-SW").write(rig.file);
    EXPECT_TRUE(CheckHidDeviceType(rig.ctx, rig.file));
}

TEST(HidTransfer, ReportsQueuedDuringAStepDoNotNestPumps) {
    // Every input report starts the next step; with a device that also answers each
    // write block, a step would start the next one from inside its own pump.
    FakeRig rig;
    int depth = 0, deepest = 0;
    rig.ctx.addEventSource([&] { deepest = std::max(deepest, ++depth); });
    RegisterHidEvents(rig.ctx);
    rig.ctx.addEventSource([&] { --depth; });
    rig.ctx.ProcessMessages();
    sim::HidBootloaderDevice dev("USB-SW", "SN1");
    dev.faults.echoWrites = true;
    rig.hid.plug(dev);
    rig.clock.advance(kHidPollInterval);
    rig.ctx.ProcessMessages();
    rig.ui.answers.push_back(MsgButton::Yes);
    UsbDeviceChosen(rig.ctx, 0);
    std::string file = (rig.folder / "usb.hex").string();
    UsbImage("USB-SW").write(file);

    StartHidTransfer(rig.ctx, file);
    WaitHidTransfer(rig.ctx);

    EXPECT_FALSE(hidState(rig.ctx).HidTransferRunning);
    EXPECT_LE(deepest, 2);
}

TEST(HidTransfer, OnlyTheAwaitedVerifyReplyMovesABlockOn) {
    // A stray report where a verify reply belongs leaves that block unconfirmed; the
    // silence time-out then fails the transfer.
    for (std::optional<int> stray : {std::optional<int>{}, std::optional<int>{5}}) {
        SCOPED_TRACE(stray ? "stray report at verify 5" : "every verify answered");
        Connected rig;
        UsbImage("USB-SW").write(rig.file);
        rig.dev.faults.strayInsteadOfVerify = stray;
        rig.transfer();
        EXPECT_FALSE(rig.link().HidTransferRunning);
        EXPECT_EQ(HidTransferSucceeded(rig.ctx), !stray.has_value());
        EXPECT_EQ(rig.dev.finished(), !stray.has_value());
    }
}

}  // namespace
}  // namespace kv::test
