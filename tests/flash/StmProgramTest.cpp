#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "FakeRig.h"
#include "Stm32Bootloader.h"
#include "StmTestSupport.h"
#include "device/ChannelEvents.h"
#include "firmware/HexFile.h"
#include "flash/StmFrames.h"
#include "flash/StmLink.h"
#include "flash/StmProgram.h"

namespace kv::test {
namespace {

using namespace std::chrono_literals;
using sim::Stm32Bootloader;

class StmProgramRun : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterChannelEvents(rig.ctx);
        TMatrixRec& device = rig.addDevice("127.0.0.2", 10001);
        TControllerRec cpu;
        cpu.ControllerType = "RV-CTL2";
        device.Controllers.push_back(cpu);
        file = (rig.folder / "cpu.hex").string();
    }

    // The chip on COM3 at 115200 8E1, synchronised as the serial procedure does it.
    void onCom() {
        config.line = {115200, Parity::Even};
        chip = std::make_unique<Stm32Bootloader>(config);
        rig.world.attachSerial("COM3", chip.get());
        rig.com1.setName("COM3");
        rig.com1.open();
        rig.com1.setBaud(115200);
        rig.com1.setParity(Parity::Even);
        rig.state.ConnectionKind = ConnectionKind::Serial;
        ASSERT_TRUE(StmCommand(rig.ctx, kStmSync));
    }

    // The chip behind a tunnel of a modular device, synchronised by its board.
    void onTunnel() {
        config.autoBaud = Stm32Bootloader::autoBaudOf(Stm32Bootloader::Entry::Modular);
        chip = std::make_unique<Stm32Bootloader>(config);
        rig.world.listenTcp("127.0.0.2", 10001,
                            [this] { return std::make_unique<PeerLink>(*chip); });
        rig.socket1.setHost("127.0.0.2");
        rig.socket1.setPort(10001);
        rig.socket1.open();
        rig.state.ConnectionKind = ConnectionKind::Network;
    }

    bool program(const std::string& text) {
        writeFile(file, text);
        std::ifstream in(file, std::ios::binary);
        EXPECT_TRUE(CheckHexFile(rig.ctx, reader, in));
        return StmProgram(rig.ctx, reader, file);
    }

    int count(const std::string& line) const {
        return static_cast<int>(std::count(rig.ui.memo.begin(), rig.ui.memo.end(), line));
    }
    bool shown(const std::string& line) const { return count(line) > 0; }
    // Index of the first memo line equal to `line`, or -1.
    int at(const std::string& line) const {
        auto it = std::find(rig.ui.memo.begin(), rig.ui.memo.end(), line);
        return it == rig.ui.memo.end() ? -1 : static_cast<int>(it - rig.ui.memo.begin());
    }
    const std::vector<Bytes>& sent() const {
        return rig.state.ConnectionKind == ConnectionKind::Serial ? rig.com1.sent : rig.socket1.sent;
    }
    bool sentAny(const Bytes& bytes) const {
        return std::find(sent().begin(), sent().end(), bytes) != sent().end();
    }

    FakeRig rig;
    Stm32Bootloader::Config config;
    std::unique_ptr<Stm32Bootloader> chip;
    HexReaderState reader;
    std::string file;
};

// A firmware with a vector table block, a record at 0x1230 and a second area further
// up; the file ends with a data record (no end-of-file record).
const std::vector<HexSegment> kFirmware{{0x08000000, pattern(16 * 16 + 48, 1)},
                                        {0x08001230, pattern(16, 2)},
                                        {0x08010000, pattern(100, 3)}};

TEST_F(StmProgramRun, ComRunProgramsTheWholeFileAndLogsEachStage) {
    onCom();
    ASSERT_TRUE(program(makeHex(kFirmware, 16, false)));
    EXPECT_EQ(chip->memory().flash(), flashImage(kFirmware));

    EXPECT_TRUE(shown("-> 7F"));
    EXPECT_TRUE(shown("<- 79"));
    EXPECT_TRUE(shown("-> 01 FE"));
    EXPECT_TRUE(shown("<- 7922000079"));
    EXPECT_TRUE(shown("Bootloader version: 2.2v"));
    EXPECT_FALSE(shown("WARNING: The hw bootloader version is deprecated..."));
    EXPECT_TRUE(shown("STM32F10x found"));
    EXPECT_TRUE(shown("-> 43 BC"));
    EXPECT_TRUE(shown("-> FF 00"));
    EXPECT_LT(at("Erasing memory..."), at("Flash memory has been erased."));
    EXPECT_LT(at("Flash memory has been erased."), at("Address space set to 0x08000000"));
    EXPECT_TRUE(shown("Address space set to 0x08010000"));
    // The first area is one full block and one of 48 bytes; 0x1230 and the last area
    // are blocks of their own.
    for (const char* line :
         {"Write 0x08000000", "Write 0x08000100", "Write 0x08001230", "Write 0x08010000"}) {
        EXPECT_EQ(count(line), 1) << line;
    }
    EXPECT_EQ(chip->counters.writes, 4);
    EXPECT_EQ(rig.ui.statusTexts.back(), "Upgrading RV-CTL2...");
}

TEST_F(StmProgramRun, FullBlockGoesOutAsOneWriteAndOneRead) {
    onCom();
    ASSERT_TRUE(program(makeHex({{0x08000000, pattern(256)}})));
    const Bytes dataFrame = StmDataFrame(pattern(256));
    // After the erase: 31 CE, address, data frame, 11 EE, address, FF 00.
    auto it = std::find(sent().begin(), sent().end(), Bytes{0x31, 0xCE});
    ASSERT_NE(it, sent().end());
    ASSERT_GE(sent().end() - it, 6);
    EXPECT_EQ(it[1], (Bytes{0x08, 0x00, 0x00, 0x00, 0x08}));
    EXPECT_EQ(it[2].size(), 258u);
    EXPECT_EQ(it[2].front(), 0xFF);
    EXPECT_EQ(it[2], dataFrame);
    EXPECT_EQ(it[3], (Bytes{0x11, 0xEE}));
    EXPECT_EQ(it[4], (Bytes{0x08, 0x00, 0x00, 0x00, 0x08}));
    EXPECT_EQ(it[5], (Bytes{0xFF, 0x00}));
    EXPECT_TRUE(shown("End of program memory space"));
    EXPECT_EQ(rig.ctx.progressPosition(), 100);
}

TEST_F(StmProgramRun, OldBootloaderIsWarnedAbout) {
    config.version = 0x21;
    onCom();
    ASSERT_TRUE(program(makeHex({{0x08000000, pattern(32)}})));
    const int version = at("Bootloader version: 2.1v");
    ASSERT_GE(version, 0);
    EXPECT_EQ(rig.ui.memo.at(version + 1), "WARNING: The hw bootloader version is deprecated...");
}

TEST_F(StmProgramRun, OnlyTheF10xFamilyIsAccepted) {
    struct Case {
        std::uint16_t id;
        bool accepted;
    };
    for (Case c : {Case{0x414, true}, Case{0x430, false}, Case{0x641, false}}) {
        rig.ui.memo.clear();
        config.productId = c.id;
        onCom();
        bool ok = program(makeHex({{0x08000000, pattern(16)}}));
        EXPECT_EQ(ok, c.accepted) << std::hex << c.id;
        EXPECT_EQ(shown("STM32F10x found"), c.accepted);
        EXPECT_EQ(shown("Illegal device ID"), !c.accepted);
        // A foreign chip is never erased.
        EXPECT_EQ(chip->counters.byCommand[0x43], c.accepted ? 1 : 0);
        rig.world.detachSerial("COM3");
        rig.com1.close();
    }
}

TEST_F(StmProgramRun, RefusedWritesAreRetriedThenGivenUp) {
    config.productId = 0x410;
    onCom();
    chip->faults.nackWriteFrom = 1;
    chip->faults.nackWriteCount = 1;
    ASSERT_TRUE(program(makeHex({{0x08001230, pattern(16)}})));
    EXPECT_TRUE(sentAny(Bytes{0x08, 0x00, 0x12, 0x30, 0x2A}));
    EXPECT_EQ(count("Write 0x08001230"), 1);
    EXPECT_EQ(count("NACK received:write memory"), 1);
    EXPECT_EQ(chip->memory().flashByte(0x08001230), pattern(16)[0]);

    // Ten refusals in a row: the block, and the run, are given up; nothing else is tried.
    rig.ui.memo.clear();
    chip->faults.nackWriteFrom = chip->counters.byCommand[0x31] + 1;
    chip->faults.nackWriteCount = 10;
    const int writesBefore = chip->counters.writes;
    EXPECT_FALSE(program(makeHex({{0x08001230, pattern(16)}, {0x08002000, pattern(16)}})));
    EXPECT_EQ(count("NACK received:write memory"), 10);
    EXPECT_EQ(rig.ui.memo.back(), "Writing 08001230 has failed.");
    EXPECT_FALSE(shown("Write 0x08002000"));
    EXPECT_EQ(chip->counters.writes, writesBefore);
}

TEST_F(StmProgramRun, ABadReadBackIsRewritten) {
    onCom();
    chip->faults.corruptReadFrom = 1;
    ASSERT_TRUE(program(makeHex(kFirmware)));
    EXPECT_EQ(count("Verify error"), 1);
    EXPECT_EQ(chip->memory().flash(), flashImage(kFirmware));
}

// Records of 16, 13 and 7 bytes from an odd address, as some toolchains write them.
std::string unevenHex(const HexSegment& segment) {
    static constexpr std::size_t kLengths[] = {16, 13, 7};
    std::string text;
    std::uint32_t upper = 0xFFFFFFFF;
    for (std::size_t at = 0, n = 0; at < segment.data.size(); ++n) {
        const std::size_t length = std::min(kLengths[n % 3], segment.data.size() - at);
        const std::uint32_t address = segment.address + std::uint32_t(at);
        if ((address >> 16) != upper) {
            upper = address >> 16;
            text += hexLinear(upper) + "\r\n";
        }
        text += sim::HexRecordLine(0, std::uint16_t(address),
                                   ByteView(segment.data.data() + at, length)) +
                "\r\n";
        at += length;
    }
    return text + sim::HexRecordLine(1, 0, {}) + "\r\n";
}

// On COM or the tunnel; the write whose ACK is lost (0: none).
struct UnevenCase {
    bool tunnel;
    int lostWriteAck;
};
class StmUnevenRun : public StmProgramRun, public ::testing::WithParamInterface<UnevenCase> {};

TEST_P(StmUnevenRun, UnevenRecordsAndLostAnswersStillProgramTheFile) {
    // 0x08000103 on: blocks are cut on word boundaries whatever the records' lengths, and
    // a write whose ACK was lost is found written by reading it back before any retry.
    const HexSegment image{0x08000103, pattern(5000, 9)};
    GetParam().tunnel ? onTunnel() : onCom();
    chip->faults.lostWriteAckFrom = GetParam().lostWriteAck;
    ASSERT_TRUE(program(unevenHex(image)));
    EXPECT_EQ(chip->memory().flash(), flashImage({image}));
    EXPECT_EQ(chip->counters.refusedWrites, 0);
    EXPECT_EQ(chip->counters.writes, (5000 + 3 + 255) / 256);
}
INSTANTIATE_TEST_SUITE_P(Links, StmUnevenRun,
                         ::testing::Values(UnevenCase{false, 0}, UnevenCase{false, 3},
                                           UnevenCase{true, 0}, UnevenCase{true, 7}));

TEST_F(StmProgramRun, ABlockHoldingOtherDataFailsAtOnce) {
    onCom();
    // The read-back and the look before the retry both see other data.
    chip->faults.corruptReadFrom = 1;
    chip->faults.corruptReadCount = 2;
    EXPECT_FALSE(program(makeHex(kFirmware)));
    EXPECT_EQ(count("Verify error"), 1);
    EXPECT_TRUE(shown("Flash at 0x08000000 holds other data and is not erased."));
    EXPECT_EQ(rig.ui.memo.back(), "Writing 08000000 has failed.");
    EXPECT_EQ(chip->counters.writes, 1);
}

TEST_F(StmProgramRun, SilentEraseEndsTheRunAfterTheCommandWait) {
    onCom();
    chip->faults.silentAfterErase = true;
    const auto start = rig.clock.elapsed();
    EXPECT_FALSE(program(makeHex(kFirmware)));
    EXPECT_EQ(rig.ui.memo.back(), "There is no response from the bootloader.");
    EXPECT_FALSE(shown("Flash memory has been erased."));
    EXPECT_EQ(chip->counters.byCommand[0x31], 0);
    const auto waited = rig.clock.elapsed() - start;
    EXPECT_GE(waited, 10s);
    EXPECT_LE(waited, 11s);
}

TEST_F(StmProgramRun, MissingFileErasesNothing) {
    onCom();
    EXPECT_FALSE(StmProgram(rig.ctx, reader, (rig.folder / "none.hex").string()));
    EXPECT_EQ(chip->counters.byCommand[0x43], 0);
    EXPECT_NE(rig.ui.memo.back().find("none.hex"), std::string::npos);
}

TEST_F(StmProgramRun, TunnelRunProgramsTheFile) {
    onTunnel();
    ASSERT_TRUE(program(makeHex(kFirmware)));
    EXPECT_EQ(chip->memory().flash(), flashImage(kFirmware));
    EXPECT_FALSE(shown("-> 7F"));  // the board synchronised the chip itself
    EXPECT_TRUE(shown("STM32F10x found"));
}

TEST_F(StmProgramRun, TunnelRefusalsCarryTheirStepNumbers) {
    onTunnel();
    chip->faults.nackWriteFrom = 1;
    chip->faults.corruptReadFrom = 2;
    ASSERT_TRUE(program(makeHex(kFirmware)));
    EXPECT_EQ(count("NACK received. 1"), 1);
    EXPECT_EQ(count("Verify error"), 1);
    EXPECT_EQ(chip->memory().flash(), flashImage(kFirmware));
}

TEST_F(StmProgramRun, ChipFallingSilentOnTheTunnelEndsTheRunInBoundedTime) {
    onTunnel();
    // Version, identification, erase: then nothing more.
    chip->faults.silentAfterCommands = 3;
    const auto start = rig.clock.elapsed();
    EXPECT_FALSE(program(makeHex(kFirmware)));
    EXPECT_EQ(count("No response received."), 10);
    EXPECT_EQ(rig.ui.memo.back(), "Writing 08000000 has failed.");
    EXPECT_LE(rig.clock.elapsed() - start, 20s);
}

TEST_F(StmProgramRun, CommandCollectsALateAckAfterNoise) {
    ScriptPeer peer;
    peer.replies = {Bytes{0x00, 0x79}, Bytes{}};
    rig.world.attachSerial("COM3", &peer);
    rig.com1.setName("COM3");
    rig.com1.open();
    rig.state.ConnectionKind = ConnectionKind::Serial;
    EXPECT_TRUE(StmCommand(rig.ctx, kStmSync));
    EXPECT_EQ(rig.state.RxCount, 2);
    EXPECT_EQ(rig.ui.memo.back(), "<- 0079");

    const auto start = rig.clock.elapsed();
    EXPECT_FALSE(StmCommand(rig.ctx, kStmGetVersion));
    EXPECT_EQ(rig.ui.memo.back(), "-> 01 FE");
    EXPECT_GE(rig.clock.elapsed() - start, 10s);
    EXPECT_LE(rig.clock.elapsed() - start, 10200ms);
}

}  // namespace
}  // namespace kv::test
