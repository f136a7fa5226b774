#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <QCoreApplication>
#include "../flash/StmPtyRig.h"
#include "../flash/StmTestSupport.h"

#include "QtSerialPort.h"
#include "ScriptedUi.h"
#include "core/Context.h"
#include "core/LogFile.h"
#include "core/SharedState.h"
#include "device/ChannelEvents.h"
#include "firmware/HexFile.h"
#include "flash/StmFrames.h"
#include "flash/StmLink.h"
#include "flash/StmProgram.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// Two areas, the second past a 64 KiB boundary, with a hole in the first.
const std::vector<HexSegment> kFirmware{{0x08000000, pattern(3000, 11)},
                                        {0x08000C00, pattern(700, 12)},
                                        {0x0800FF00, pattern(2048, 13)}};

class StmPty : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!StmPtyRig::toolsPresent()) GTEST_SKIP() << "socat is not installed";
        folder = fs::temp_directory_path() /
                 ("kv-stm-pty-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        hexFile = (folder / "cpu.hex").string();
        writeFile(hexFile, makeHex(kFirmware));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    fs::path folder;
    std::string hexFile;
};

TEST_F(StmPty, Stm32flashIdentifiesWritesVerifiesAndReadsTheModel) {
    if (!onPath("stm32flash")) GTEST_SKIP() << "stm32flash is not installed";
    StmPtyRig rig(STM32_PTY_PEER, folder / "link");
    const std::string out = (folder / "stm32flash.txt").string();
    // A pty keeps no parity: stm32flash refuses 8E1 on it, so it talks 8N1 to the model.
    const std::vector<std::string> base{"stm32flash", "-b", "115200", "-m", "8n1"};

    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> argv = base;
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(rig.toolEnd());
        return argv;
    };
    ASSERT_EQ(runProgram(with({}), out), 0) << readText(out);
    EXPECT_NE(readText(out).find("Device ID    : 0x0410"), std::string::npos) << readText(out);
    EXPECT_NE(readText(out).find("Version      : 0x22"), std::string::npos);

    ASSERT_EQ(runProgram(with({"-w", hexFile, "-v"}), out), 0) << readText(out);
    EXPECT_NE(readText(out).find("Wrote and verified"), std::string::npos);

    const std::string back = (folder / "back.bin").string();
    const std::size_t size = 0xFF00 + 2048;
    ASSERT_EQ(runProgram(with({"-S", "0x08000000:" + std::to_string(size), "-r", back}), out), 0)
        << readText(out);
    const Bytes image = flashImage(kFirmware);
    const std::string read = readText(back);
    EXPECT_EQ(Bytes(read.begin(), read.end()), Bytes(image.begin(), image.begin() + size));

    // Written again without an erase: the chip refuses programmed half-words, and so does
    // the model; stm32flash reports the failed write.
    EXPECT_NE(runProgram(with({"-e", "0", "-w", hexFile}), out), 0) << readText(out);

    // An image of odd length in 13-byte records: stm32flash pads its last write to whole
    // words, which the model takes.
    const HexSegment odd{0x08000100, pattern(5003, 14)};
    const std::string oddFile = (folder / "odd.hex").string();
    writeFile(oddFile, makeHex({odd}, 13));
    ASSERT_EQ(runProgram(with({"-w", oddFile, "-v"}), out), 0) << readText(out);

    // stm32flash erases only the pages the image covers: compare those.
    const Bytes flash = rig.stop().flash;
    const Bytes expected = flashImage({odd});
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 0x1800),
              Bytes(expected.begin(), expected.begin() + 0x1800));
}

// The serial procedure's part over the real Qt serial channel: port at 115200 even
// parity, the synchronisation byte, then the programming run. Returns what the run said.
bool programOverPty(StmPtyRig& rig, const fs::path& folder, const std::string& hexFile,
                    ScriptedUi& ui) {
    int argc = 1;
    char name[] = "stm32_pty_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);  // the serial port's notifiers need a Qt main thread
    SharedState state;
    state.DebugSwitch = "ON";
    LogFile log;
    log.open(folder.string(), folder.string());
    SteadyClock clock;
    QtSerialPort com;
    std::vector<std::string> warnings;
    com.setWarningSink([&](const std::string& text) { warnings.push_back(text); });
    Ports ports;
    ports.ComPort1 = &com;
    Context ctx(state, log, ui, clock, ports);
    RegisterChannelEvents(ctx);
    state.ConnectionKind = ConnectionKind::Serial;

    com.setName(rig.toolEnd());
    com.open();
    com.setBaud(115200);
    com.setParity(Parity::Even);
    if (!StmCommand(ctx, kStmSync) || state.RxBuffer[0] != kStmAck) return false;

    HexReaderState reader;
    std::ifstream in(hexFile, std::ios::binary);
    if (!CheckHexFile(ctx, reader, in)) return false;
    const bool ok = StmProgram(ctx, reader, hexFile);
    com.close();
    log.close();
    return ok;
}

TEST_F(StmPty, ToolProgramsTheModelOverASerialLine) {
    StmPtyRig rig(STM32_PTY_PEER, folder / "link");
    ScriptedUi ui;
    EXPECT_TRUE(programOverPty(rig, folder, hexFile, ui));
    const auto result = rig.stop();
    EXPECT_EQ(result.flash, flashImage(kFirmware));
    EXPECT_EQ(result.stats.at("nacks"), 0);
    EXPECT_EQ(ui.memo.back(), "End of program memory space");
}

// A whole 128 KiB flash from records of odd lengths at odd addresses, with holes: every
// write the model takes is word-aligned, and one write whose ACK is lost mid-image is
// found written by the read-back before its retry.
TEST_F(StmPty, ToolProgramsA128KiBImageOfUnevenRecordsThroughALostAnswer) {
    const UnevenImage image = unevenImage(0x08000001, 0x08020000, 21);
    const std::string file = (folder / "uneven.hex").string();
    writeFile(file, image.hex);
    StmPtyRig rig(STM32_PTY_PEER, folder / "link", {"--lose-write-ack", "300"});
    ScriptedUi ui;
    EXPECT_TRUE(programOverPty(rig, folder, file, ui)) << ui.memo.back();
    const auto result = rig.stop();
    EXPECT_TRUE(result.flash == flashImage(image.records)) << "flash differs from the file";
    EXPECT_EQ(result.stats.at("refused_writes"), 0);
    EXPECT_EQ(result.stats.at("nacks"), 0);  // the lost write was not sent again
    EXPECT_EQ(std::count(ui.memo.begin(), ui.memo.end(), "No response received: write data"), 1);
    EXPECT_EQ(ui.memo.back(), "End of program memory space");
}

}  // namespace
}  // namespace kv::test
