// An STM32 CPU card behind the network module, brought into its bootloader and programmed
// over the real Qt channels: GPIO on UDP 30704, the set-up record on TCP 30718 and the
// tunnel on TCP 10001 of the module model served on 127.0.0.2.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>

#include "../flash/StmTestSupport.h"
#include "NetworkModule.h"
#include "RealRig.h"
#include "Stm32BootControl.h"
#include "Stm32Bootloader.h"
#include "World.h"
#include "device/ChannelEvents.h"
#include "firmware/HexFile.h"
#include "flash/StmUpgrade.h"
#include "server/WorldServer.h"
#include "server/WorldServerThread.h"

namespace kv::test {
namespace {

using sim::Stm32BootControl;
using sim::Stm32Bootloader;
const std::string kModule = "127.0.0.2";

struct CpuCase {
    const char* name;
    const char* card;
    Stm32Bootloader::Entry entry;
    Stm32BootControl::Wiring wiring;
};

class StmModuleEndToEnd : public ::testing::TestWithParam<CpuCase> {
  protected:
    void SetUp() override {
        Stm32Bootloader::Config config;
        config.autoBaud = Stm32Bootloader::autoBaudOf(GetParam().entry);
        config.startInBootloader = false;  // running its firmware until the tool resets it
        cpu = std::make_unique<Stm32Bootloader>(config);
        // One write mid-image lands but its ACK is lost on the way back.
        cpu->faults.lostWriteAckFrom = 200;
        module.attach(world);
        control = std::make_unique<Stm32BootControl>(*cpu, module.gpio(), GetParam().wiring);
        module.setSerialDevice(cpu.get());
        server = std::make_unique<sim::WorldServerThread>(world);
        server->run([](sim::WorldServer& s) { s.serveAll(); });

        RegisterChannelEvents(rig.ctx);
        TMatrixRec device;
        device.IP = kModule;
        device.Port = 10001;
        TControllerRec row;
        row.ControllerType = GetParam().card;
        device.Controllers.push_back(row);
        rig.state.DeviceList.push_back(device);
        rig.state.SelectedDevice = 0;
        rig.state.CurrentIP = kModule;
        rig.state.ConnectionKind = ConnectionKind::Network;
        rig.ctx.ports.TcpClient1->setHost(kModule);
        rig.ctx.ports.TcpClient1->setPort(10001);
    }

    std::unique_lock<std::mutex> models() { return std::unique_lock<std::mutex>(server->mutex()); }

    sim::World world;
    sim::NetworkModule module;
    std::unique_ptr<Stm32Bootloader> cpu;
    std::unique_ptr<Stm32BootControl> control;
    std::unique_ptr<sim::WorldServerThread> server;
    RealRig rig;
};

// A whole 128 KiB flash from records of odd lengths at odd addresses, with holes, through
// the module's tunnel; the lost write answer is recovered by reading the block back.
TEST_P(StmModuleEndToEnd, UnevenRecordsFillTheWholeFlashThroughTheTunnel) {
    const UnevenImage image = unevenImage(0x08000001, 0x08020000, 33);
    const std::string file = (rig.folder / "cpu.hex").string();
    writeFile(file, image.hex);
    HexReaderState reader;
    {
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(CheckHexFile(rig.ctx, reader, in));
    }
    const bool ok = GetParam().entry == Stm32Bootloader::Entry::Modular
                        ? StmUpgradeModular(rig.ctx, reader, kModule, file)
                        : StmUpgradeMatrix(rig.ctx, reader, kModule, file);
    EXPECT_TRUE(ok) << rig.ui.memo.back();
    auto lock = models();
    EXPECT_TRUE(cpu->memory().flash() == flashImage(image.records)) << "flash differs from file";
    EXPECT_EQ(cpu->counters.refusedWrites, 0);
    EXPECT_EQ(cpu->counters.nacks, 0);  // the write whose answer was lost went out once
    EXPECT_EQ(control->bootloaderStarts, 1);
    EXPECT_FALSE(cpu->inBootloader());
    const auto& memo = rig.ui.memo;
    EXPECT_NE(std::find(memo.begin(), memo.end(), "End of program memory space"), memo.end());
    EXPECT_EQ(memo.back(), "Finished.");
}

INSTANTIATE_TEST_SUITE_P(
    Cards, StmModuleEndToEnd,
    ::testing::Values(CpuCase{"Matrix", "RV-CTL2", Stm32Bootloader::Entry::MatrixBootloaderMode,
                              Stm32BootControl::Wiring::ShiftRegister},
                      CpuCase{"Modular", "NRV-CTL", Stm32Bootloader::Entry::Modular,
                              Stm32BootControl::Wiring::DirectLines}),
    [](const ::testing::TestParamInfo<CpuCase>& c) { return std::string(c.param.name); });

}  // namespace
}  // namespace kv::test
