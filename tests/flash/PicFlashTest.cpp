#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "../firmware/HexLines.h"
#include "PicTestRig.h"
#include "core/ports/ChannelError.h"
#include "flash/PicDeviceRules.h"
#include "flash/PicFlash.h"
#include "flash/PicFrame.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::sequence;

class PicFlashTest : public test::PicTest {
  protected:
    void record(int memoryClass, std::uint8_t upper, std::uint16_t address, const Bytes& data,
                bool quick = false) {
        PicProgramRecord(rig.ctx, state, quick, HexDataRecord{memoryClass, upper, address, data});
    }
    Bytes memory(std::uint32_t address, std::size_t size) const {
        const auto& m = pic.programMemory();
        return Bytes(m.begin() + address, m.begin() + address + size);
    }
    int commandsSent(std::uint8_t command) {
        int n = 0;
        for (const auto& frame : tunnelSent()) n += frame.size() > 2 && frame[2] == command;
        return n;
    }
};

TEST_F(PicFlashTest, WritesFromTheBootloaderBoundUpAndVerifies) {
    const Bytes data = sequence(0x30, 16);
    record(kHexClassProgram, 0, 0x0700, data);
    EXPECT_TRUE(tunnelSent().empty());

    record(kHexClassProgram, 0, 0x0800, data);
    EXPECT_EQ(commandsSent(kPicWriteProgram), 1);
    EXPECT_EQ(commandsSent(kPicReadProgram), 1);
    EXPECT_EQ(memory(0x0800, 16), data);
    EXPECT_TRUE(rig.state.RowOk);

    // The top row is the last one written.
    record(kHexClassProgram, 1, 0xFFD0, data);
    EXPECT_EQ(commandsSent(kPicWriteProgram), 1);
    record(kHexClassProgram, 1, 0xFFC0, data);
    EXPECT_EQ(commandsSent(kPicWriteProgram), 2);
    EXPECT_EQ(memory(0x1FFC0, 16), data);
}

TEST_F(PicFlashTest, ShortRecordIsPaddedAndComparedAsAWholeBlock) {
    record(kHexClassProgram, 0, 0x1000, sequence(1, 8));
    EXPECT_EQ(memory(0x1000, 16),
              (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(rig.state.RewriteCount, 0);

    // Cells behind the record that are not erased read back different from the padding.
    std::fill_n(pic.programMemory().begin() + 0x1018, 8, std::uint8_t{0});
    EXPECT_THROW(record(kHexClassProgram, 0, 0x1010, sequence(1, 8)), KvError);
    EXPECT_EQ(rig.state.RewriteCount, 1);
}

TEST_F(PicFlashTest, ErasedBlocksOnlyGoToTheFibreCards) {
    const Bytes erased(16, 0xFF);
    record(kHexClassProgram, 0, 0x0900, erased);
    EXPECT_TRUE(tunnelSent().empty());

    setFirstController("LNK-FBR-SN330-MAX");
    record(kHexClassProgram, 0, 0x0900, erased);
    EXPECT_EQ(commandsSent(kPicWriteProgram), 1);
    EXPECT_EQ(commandsSent(kPicReadProgram), 0);  // nothing is read back on these cards
}

TEST_F(PicFlashTest, QuickBootloadSendsOnlyWrites) {
    pic.faults.corruptReadBacks = 5;
    for (std::uint16_t a = 0x0800; a < 0x0840; a += 16)
        record(kHexClassProgram, 0, a, sequence(a & 0xFF, 16), true);
    EXPECT_EQ(commandsSent(kPicWriteProgram), 4);
    EXPECT_EQ(commandsSent(kPicReadProgram), 0);
    EXPECT_EQ(rig.state.RewriteCount, 0);
}

TEST_F(PicFlashTest, OneBadReadBackIsRewrittenOnce) {
    pic.faults.corruptReadBacks = 1;
    record(kHexClassProgram, 0, 0x0800, sequence(0x10, 16));
    EXPECT_EQ(rig.state.RewriteCount, 1);
    EXPECT_EQ(logLinesWith("Rewrite:"), (std::vector<std::string>{"Rewrite:000800 1"}));
    EXPECT_EQ(commandsSent(kPicWriteProgram), 2);
    EXPECT_EQ(commandsSent(kPicReadProgram), 2);
    EXPECT_EQ(rig.clock.elapsed(), kPicRewritePause);
    EXPECT_TRUE(rig.state.RowOk);
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

TEST_F(PicFlashTest, SecondBadReadBackEndsWithProgramWriteError) {
    pic.faults.corruptReadBacks = 4;
    try {
        record(kHexClassProgram, 0, 0x0800, sequence(0x10, 16));
        FAIL();
    } catch (const KvError& e) {
        EXPECT_STREQ(e.what(), "Program Write Error");
    }
    EXPECT_FALSE(rig.state.RowOk);
    std::string dump = "17<->16 ";
    for (int v = 17; v < 32; ++v) dump += std::to_string(v) + "<->" + std::to_string(v) + " ";
    auto lines = rig.logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Verify error at address:000800");
    EXPECT_EQ(lines.back(), dump);
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Error occured during verify process");

    // A later failure logs its own dump only, not the earlier ones again.
    rig.state.RowOk = true;
    EXPECT_THROW(record(kHexClassProgram, 0, 0x0810, sequence(0x10, 16)), KvError);
    EXPECT_EQ(rig.logLines().back(), dump);
}

TEST_F(PicFlashTest, ProgressFollowsTheRecordAddress) {
    record(kHexClassProgram, 1, 0x0000, sequence(0, 16));
    EXPECT_EQ(rig.ctx.progressPosition(), 50);  // 65536 / 1310
    setFirstController("LNK-FBR-RC330-MAX");
    record(kHexClassProgram, 0, 0x2000, sequence(0, 16));
    EXPECT_EQ(rig.ctx.progressPosition(), 50);  // 8192 / 163
    record(kHexClassConfig, 0x30, 0x0000, sequence(0, 8));
    EXPECT_EQ(rig.ctx.progressPosition(), 50);  // configuration records write nothing
    EXPECT_EQ(commandsSent(kPicWriteProgram), 2);
    // A file without extended linear address records still reaches program memory.
    record(kHexClassNone, 0, 0x0900, sequence(0, 16));
    EXPECT_EQ(commandsSent(kPicWriteProgram), 3);
}

TEST_F(PicFlashTest, LongRecordsAreWrittenAsConsecutiveBlocks) {
    const Bytes data = sequence(0x40, 40);
    record(kHexClassProgram, 0, 0x07F0, data);  // the first block lies below the bootloader bound
    EXPECT_EQ(commandsSent(kPicWriteProgram), 2);
    EXPECT_EQ(memory(0x07F0, 16), Bytes(16, 0xFF));
    EXPECT_EQ(memory(0x0800, 24), Bytes(data.begin() + 16, data.end()));
    EXPECT_EQ(memory(0x0818, 8), Bytes(8, 0xFF));
}

TEST_F(PicFlashTest, EepromRecordsAreWrittenWithTheirPause) {
    record(kHexClassEeprom, 0, 0x0010, sequence(0xA0, 20));
    EXPECT_EQ(pic.eeprom()[0x10], 0xA0);
    EXPECT_EQ(pic.eeprom()[0x23], 0xB3);
    EXPECT_EQ(pic.counters.eepromWrites, 2);
    EXPECT_EQ(rig.clock.elapsed(), 2 * kPicEepromWritePause);

    // The close procedure's single byte at the top of the EEPROM.
    PicWriteVerify(rig.ctx, state, false, kPicWriteEeprom, Bytes{0x00}, 1, 0x3FF);
    EXPECT_EQ(pic.eeprom()[0x3FF], 0x00);
    EXPECT_EQ(tunnelSent().back(),
              (Bytes{0x0F, 0x0F, 0x05, 0x05, 0x10, 0xFF, 0x03, 0x00, 0x00, 0xE9, 0x04}));
}

TEST_F(PicFlashTest, WriteFlashDetailLines) {
    PicWriteFlash(rig.ctx, state, false, kPicWriteProgram, sequence(1, 16), 16, 0x0800);
    PicWriteFlash(rig.ctx, state, false, kPicWriteProgram, sequence(1, 16), 16, 0x0810);
    PicWriteFlash(rig.ctx, state, false, kPicWriteProgram, sequence(1, 16), 16, 0x0840);
    PicWriteFlash(rig.ctx, state, false, kPicWriteProgram, Bytes(16, 0xFF), 16, 0x10000);
    EXPECT_EQ(logLinesWith("Write Flash"),
              (std::vector<std::string>{"Write Flash: command: 2 address: 0800",
                                        "Write Flash: command: 2 address: 10000"}));
    EXPECT_EQ(rig.ui.memo,
              (std::vector<std::string>{"Write Flash address: 0800", "Write Flash address: 0840",
                                        "Write Flash address: 10000"}));
}

TEST_F(PicFlashTest, EraseWalksTheWholeProgramMemory) {
    std::fill(pic.programMemory().begin(), pic.programMemory().end(), std::uint8_t{0});
    rig.tcp1.setHost(kAddress);
    rig.tcp1.setPort(kTunnelPort);
    ASSERT_TRUE(rig.tcp1.connect(1000ms));
    const int connects = rig.tcp1.connectCount;

    PicEraseRange range = PicEraseRangeFor("RV-PNL16");
    PicErase(rig.ctx, state, range.step, range.first, range.last);
    EXPECT_EQ(rig.tcp1.connectCount, connects + 1);  // a fresh connection first
    EXPECT_EQ(rig.clock.elapsed(), kPicEraseReconnectPause);
    ASSERT_EQ(tunnelSent().size(), 2016u);
    EXPECT_EQ(tunnelSent().front(), PicEncodeFrame(Bytes{0x03, 0x01, 0x00, 0x08, 0x00, 0xF4}));
    EXPECT_EQ(pic.counters.erases, 2016);
    EXPECT_EQ(memory(0x07FF, 1), Bytes{0x00});
    EXPECT_EQ(memory(0x0800, 0x1F800), Bytes(0x1F800, 0xFF));
    auto lines = logLinesWith("Erase address: ");
    ASSERT_EQ(lines.size(), 252u);
    EXPECT_EQ(lines.front(), "Erase address: 0800");
    EXPECT_EQ(lines.back(), "Erase address: 1FE00");
    EXPECT_EQ(rig.ui.memo.size(), 252u);
    EXPECT_EQ(rig.ctx.progressPosition(), 100);
}

TEST_F(PicFlashTest, FibreCardsEraseLargeRows) {
    sim::PicBootloader::Config config;
    config.eraseRowSize = 1024;
    sim::PicBootloader fibre(config);
    rig.world.listenTcp(kAddress, kTunnelPort, fibre.connectionFactory());
    std::fill(fibre.programMemory().begin(), fibre.programMemory().end(), std::uint8_t{0});
    PicEraseRange rc = PicEraseRangeFor("LNK-FBR-RC330-MAX");
    PicErase(rig.ctx, state, rc.step, rc.first, rc.last);
    EXPECT_EQ(fibre.counters.erases, 13);
    EXPECT_EQ(fibre.programMemory()[0x3BFF], 0xFF);
    EXPECT_EQ(fibre.programMemory()[0x3C00], 0x00);
    PicEraseRange sn = PicEraseRangeFor("LNK-FBR-SN330-MAX");
    PicErase(rig.ctx, state, sn.step, sn.first, sn.last);
    EXPECT_EQ(fibre.counters.erases, 13 + 125);
}

TEST_F(PicFlashTest, EraseStopsWhenTheRowFails) {
    pic.faults.dropEveryReply = true;
    PicErase(rig.ctx, state, 0x40, 0x0800, 0x1FFC0);
    EXPECT_EQ(tunnelSent().size(), 3u);  // the first frame and its two retransmissions
    EXPECT_FALSE(rig.state.RowOk);

    tunnelSent().clear();
    PicErase(rig.ctx, state, 0x40, 0x0800, 0x1FFC0);
    EXPECT_TRUE(tunnelSent().empty());

    rig.state.RowOk = true;
    PicErase(rig.ctx, state, 0, 0x0800, 0x0800);
    EXPECT_FALSE(rig.state.RowOk);
    EXPECT_EQ(rig.ui.dialogs.back().text, "Error while erasing pic:\rInvalid erase step");
    EXPECT_EQ(rig.logLines().back(), "Error while erasing pic:\rInvalid erase step");
}

TEST_F(PicFlashTest, LostLinkEndsTheProgrammingPass) {
    std::string file = test::hexLinear(0) + "\n";
    for (std::uint16_t a = 0x0800; a < 0x0900; a += 16)
        file += sim::HexRecordLine(0, a, sequence(a & 0xFF, 16)) + "\n";
    int lines = 0;
    rig.ctx.addEventSource([&] {
        if (++lines == 4) pic.faults.dropEveryReply = true;
    });
    std::istringstream in(file);
    HexReaderState reader;
    EXPECT_EQ(PicProgramHexFile(rig.ctx, state, reader, false, in), 0);
    EXPECT_FALSE(rig.state.RowOk);
    EXPECT_EQ(lines, 5);  // the pass ended at the record after the loss
    auto dialogs = rig.ui.dialogs;
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].text,
              "An error occured during the process\r\nPlease repeat the upgrade procedure!");
    EXPECT_EQ(dialogs[1].text, "Error while processing:\rConnection Lost Error");
    EXPECT_TRUE(logLinesWith("Verify error").empty());
}

}  // namespace
}  // namespace kv
