#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "FakeRig.h"
#include "NetworkModule.h"
#include "Stm32BootControl.h"
#include "Stm32Bootloader.h"
#include "StmTestSupport.h"
#include "core/ports/ChannelError.h"
#include "device/ChannelEvents.h"
#include "firmware/HexFile.h"
#include "flash/StmUpgrade.h"

namespace kv::test {
namespace {

using namespace std::chrono_literals;
using sim::Stm32BootControl;
using sim::Stm32Bootloader;

const std::string kIp = "127.0.0.2";
const std::vector<HexSegment> kFirmware{{0x08000000, pattern(1000, 5)},
                                        {0x08004000, pattern(300, 6)}};

using Entry = Stm32Bootloader::Entry;

Stm32Bootloader::Config cpuConfig(Entry entry) {
    Stm32Bootloader::Config config;
    config.autoBaud = Stm32Bootloader::autoBaudOf(entry);
    config.startInBootloader = false;  // running its firmware until the tool resets it
    return config;
}

// A network device with its CPU card behind the module's tunnel, the CPU's BOOT0 and
// reset wired to the module's GPIO lines as the card type has them.
class StmUpgradeRun : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterChannelEvents(rig.ctx);
        module.attach(rig.world);
        rig.addDevice(kIp, 10001);
        rig.state.ConnectionKind = ConnectionKind::Network;
        rig.state.CurrentIP = kIp;
        rig.tcp1.setHost(kIp);
        rig.tcp1.setPort(10001);
        file = (rig.folder / "cpu.hex").string();
        writeFile(file, makeHex(kFirmware));
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(CheckHexFile(rig.ctx, reader, in));
    }

    void plugCpu(Stm32BootControl::Wiring wiring, Entry entry) {
        plugCpu(wiring, cpuConfig(entry));
    }
    void plugCpu(Stm32BootControl::Wiring wiring, const Stm32Bootloader::Config& config) {
        cpu = std::make_unique<Stm32Bootloader>(config);
        control = std::make_unique<Stm32BootControl>(*cpu, module.gpio(), wiring);
        module.setSerialDevice(cpu.get());
    }

    bool shown(const std::string& line) const {
        return std::find(rig.ui.memo.begin(), rig.ui.memo.end(), line) != rig.ui.memo.end();
    }
    int gpioCommands(std::uint8_t code) const {
        return static_cast<int>(
            std::count_if(module.gpio().messages.begin(), module.gpio().messages.end(),
                          [code](const Bytes& m) { return !m.empty() && m[0] == code; }));
    }

    FakeRig rig;
    sim::NetworkModule module;
    std::unique_ptr<Stm32Bootloader> cpu;
    std::unique_ptr<Stm32BootControl> control;
    HexReaderState reader;
    std::string file;
};

TEST_F(StmUpgradeRun, ModularCpuIsProgrammedAndRestarted) {
    plugCpu(Stm32BootControl::Wiring::DirectLines, Entry::Modular);
    ASSERT_TRUE(StmUpgradeModular(rig.ctx, reader, kIp, file));
    EXPECT_EQ(cpu->memory().flash(), flashImage(kFirmware));
    // The bootloader ran at 57600 8E1; afterwards the CPU runs its firmware at 57600 8N1.
    EXPECT_EQ(control->bootloaderStarts, 1);
    EXPECT_FALSE(cpu->inBootloader());
    EXPECT_EQ(module.serialLine(), (sim::LineSettings{57600, Parity::None}));
    ASSERT_FALSE(module.lineHistory.empty());
    EXPECT_NE(std::find(module.lineHistory.begin(), module.lineHistory.end(),
                        sim::LineSettings{57600, Parity::Even}),
              module.lineHistory.end());
    for (const char* line : {"Waiting for KTQ", "Starting bootloader...", "STM32F10x found",
                             "Recovering from bootload mode and starting firmware", "Finished."}) {
        EXPECT_TRUE(shown(line)) << line;
    }
    EXPECT_FALSE(rig.socket1.connected());
}

TEST_F(StmUpgradeRun, ModularCpuThatNeverStartsItsBootloaderFailsTheRow) {
    // BOOT0 is not wired: the reset pulse restarts the firmware, which ignores the tool.
    cpu = std::make_unique<Stm32Bootloader>(cpuConfig(Entry::Modular));
    module.setSerialDevice(cpu.get());
    EXPECT_FALSE(StmUpgradeModular(rig.ctx, reader, kIp, file));
    EXPECT_TRUE(shown("There is no response from the bootloader."));
    EXPECT_TRUE(shown("Finished."));
    EXPECT_EQ(module.serialLine(), (sim::LineSettings{57600, Parity::None}));
}

TEST_F(StmUpgradeRun, TunnelThatNeverOpensIsGivenUpAndTheCpuRestored) {
    plugCpu(Stm32BootControl::Wiring::DirectLines, Entry::Modular);
    rig.state.DeviceList[0].Port = 10002;  // nobody listens there
    const auto start = rig.clock.elapsed();
    EXPECT_FALSE(StmUpgradeModular(rig.ctx, reader, kIp, file));
    EXPECT_TRUE(shown("Connection Lost Error"));
    EXPECT_FALSE(shown("Starting bootloader..."));
    EXPECT_TRUE(shown("Finished."));
    EXPECT_FALSE(cpu->inBootloader());
    EXPECT_LE(rig.clock.elapsed() - start, 60s);
}

TEST_F(StmUpgradeRun, MatrixCpuThroughTheModulesBootloaderMode) {
    plugCpu(Stm32BootControl::Wiring::ShiftRegister, Entry::MatrixBootloaderMode);
    ASSERT_TRUE(StmUpgradeMatrix(rig.ctx, reader, kIp, file));
    EXPECT_EQ(cpu->memory().flash(), flashImage(kFirmware));
    EXPECT_EQ(cpu->counters.syncs, 1);
    EXPECT_TRUE(shown("-> 7F"));
    EXPECT_EQ(gpioCommands(0x20), 1);
    EXPECT_EQ(gpioCommands(0x21), 1);
    EXPECT_FALSE(module.gpio().bootloaderMode());
    EXPECT_FALSE(cpu->inBootloader());
    // Bootloader entry, CPU release, idle pattern.
    EXPECT_EQ(module.gpio().latches, (std::vector<std::uint16_t>{0x1D9, 0x0C0, 0x1E1}));
    EXPECT_TRUE(module.storedRecords.empty());  // the set-up record is left alone
    EXPECT_EQ(module.gpio().levels() & 0x01, 0x01);
}

TEST_F(StmUpgradeRun, MatrixCpuWithDirectSetup) {
    rig.state.DirectSetupMatrix = true;
    plugCpu(Stm32BootControl::Wiring::ShiftRegister, Entry::MatrixDirectSetup);
    ASSERT_TRUE(StmUpgradeMatrix(rig.ctx, reader, kIp, file));
    EXPECT_EQ(cpu->memory().flash(), flashImage(kFirmware));
    EXPECT_EQ(gpioCommands(0x20), 0);
    EXPECT_EQ(gpioCommands(0x21), 0);
    EXPECT_TRUE(shown("Waiting for KTQ"));
    EXPECT_EQ(module.serialLine(), (sim::LineSettings{57600, Parity::None}));
}

TEST_F(StmUpgradeRun, MatrixSyncUnansweredLeavesAtOnce) {
    plugCpu(Stm32BootControl::Wiring::ShiftRegister, Entry::MatrixBootloaderMode);
    module.silentTunnel = true;
    try {
        (void)StmUpgradeMatrix(rig.ctx, reader, kIp, file);
        FAIL() << "no error raised";
    } catch (const KvError& e) {
        EXPECT_STREQ(e.what(), "There is no response from the bootloader.");
    }
    EXPECT_FALSE(shown("Starting bootloader..."));
    EXPECT_EQ(gpioCommands(0x21), 0);
}

// A chip that never saw a 0x7F answers nothing: the bootloader-mode path whose sync byte
// is lost leaves at once with its error, and the paths that send none (direct set-up,
// modular) on a board that did not synchronise the chip end the run with the bootloader's
// error and still restore the CPU. Nothing is erased or written in any case.
struct UnsyncedCase {
    const char* what;
    Entry entry;
    Stm32BootControl::Wiring wiring;
    bool modularProcedure;
    bool raises;
};
class StmUnsyncedEntry : public StmUpgradeRun,
                         public ::testing::WithParamInterface<UnsyncedCase> {};

TEST_P(StmUnsyncedEntry, FailsCleanlyWithoutTheSyncByte) {
    const UnsyncedCase& c = GetParam();
    SCOPED_TRACE(c.what);
    auto config = cpuConfig(c.entry);
    config.autoBaud = Stm32Bootloader::AutoBaud::ByHost;  // nobody but the tool syncs it
    plugCpu(c.wiring, config);
    cpu->faults.lostSyncs = 1;  // the tool's 0x7F, where it sends one, is lost
    rig.state.DirectSetupMatrix = c.entry == Entry::MatrixDirectSetup;
    std::string raised;
    bool ok = false;
    try {
        ok = c.modularProcedure ? StmUpgradeModular(rig.ctx, reader, kIp, file)
                                : StmUpgradeMatrix(rig.ctx, reader, kIp, file);
    } catch (const KvError& e) {
        raised = e.what();
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(cpu->counters.commands, 0);
    EXPECT_EQ(cpu->memory().flash(), Bytes(128 * 1024, 0xFF));
    EXPECT_FALSE(shown("STM32F10x found"));
    if (c.raises) {
        EXPECT_EQ(raised, "There is no response from the bootloader.");
        EXPECT_FALSE(shown("Starting bootloader..."));
    } else {
        EXPECT_EQ(raised, "");
        EXPECT_TRUE(shown("There is no response from the bootloader."));
        EXPECT_TRUE(shown("Finished."));
        EXPECT_FALSE(cpu->inBootloader());
        EXPECT_EQ(module.serialLine(), (sim::LineSettings{57600, Parity::None}));
    }
}
INSTANTIATE_TEST_SUITE_P(
    Entries, StmUnsyncedEntry,
    ::testing::Values(UnsyncedCase{"matrix bootloader mode", Entry::MatrixBootloaderMode,
                                   Stm32BootControl::Wiring::ShiftRegister, false, true},
                      UnsyncedCase{"matrix direct set-up", Entry::MatrixDirectSetup,
                                   Stm32BootControl::Wiring::ShiftRegister, false, false},
                      UnsyncedCase{"modular", Entry::Modular, Stm32BootControl::Wiring::DirectLines,
                                   true, false}),
    [](const ::testing::TestParamInfo<UnsyncedCase>& c) { return std::to_string(c.index); });

}  // namespace
}  // namespace kv::test
