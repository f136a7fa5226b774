#include "flash/StmUpgrade.h"

#include <array>

#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "flash/StmFrames.h"
#include "flash/StmLink.h"
#include "flash/StmProgram.h"
#include "module/ModuleOperations.h"

namespace kv {

namespace {

constexpr int kEN = 1;
constexpr int kCLK = 2;
constexpr int kDATA = 3;

constexpr int kEvenParityFlag = 1;
constexpr int kDefaultTunnelPort = 10001;

// Shift register patterns of the "RV-CTL2" CPU card (b0 .. b7, then the final level).
struct ShiftPattern {
    std::array<int, 8> bits;
    int finalLevel;
};
constexpr ShiftPattern kMatrixBootEntry{{0, 0, 1, 1, 0, 1, 1, 1}, 1};
constexpr ShiftPattern kMatrixReleaseCpu{{0, 0, 0, 0, 0, 1, 1, 0}, 0};
constexpr ShiftPattern kMatrixIdle{{0, 0, 0, 0, 1, 1, 1, 1}, 1};

constexpr auto kPumpStep = std::chrono::milliseconds(100);
constexpr auto kResetLow = std::chrono::milliseconds(500);
constexpr auto kResetSettle = std::chrono::milliseconds(100);
constexpr auto kClockPulse = std::chrono::milliseconds(3);
// The module restarts its serial side after a set-up change ("KTQ").
constexpr int kModuleRestartSteps = 60;    // 6 s
constexpr int kSlowConnectSteps = 30;      // 3 s per connection try
constexpr int kFastConnectSteps = 10;      // 1 s per try after the bootloader-mode command
constexpr int kBootloaderStartSteps = 10;  // 1 s
constexpr auto kBeforeRelease = std::chrono::milliseconds(300);
constexpr auto kAfterRelease = std::chrono::milliseconds(100);
constexpr auto kBeforeIdle = std::chrono::milliseconds(150);

const std::string kNoResponse = "There is no response from the bootloader.";

void pumpedWait(Context& ctx, int steps) {
    for (int i = 0; i < steps; ++i) {
        ctx.sleep(kPumpStep);
        ctx.ProcessMessages();
    }
}

void activateGpioClient(Context& ctx) {
    UdpSocket* gpio = ctx.ports.XPORT_GPIO_Client;
    if (gpio && !gpio->isBound()) gpio->bind(0, false);
}

void shift(Context& ctx, const ShiftPattern& pattern, const std::string& ip) {
    set_shift_register(ctx, pattern.bits, pattern.finalLevel, ip);
}

int tunnelPort(Context& ctx) {
    const TMatrixRec* device = ctx.state.selectedDevice();
    return device && device->Port > 0 ? device->Port : kDefaultTunnelPort;
}

// The text channel gives way to the bootloader stream on the same tunnel.
void releaseTunnel(Context& ctx) {
    if (ctx.ports.TcpClient1) Disconnect(*ctx.ports.TcpClient1);
    if (ctx.ports.ClientSocket1) ctx.ports.ClientSocket1->close();
}

// Opens ClientSocket1 on the tunnel, waiting `steps` pumped 100 ms steps after each try.
bool connectTunnel(Context& ctx, const std::string& ip, int steps) {
    StreamSocket* socket = ctx.ports.ClientSocket1;
    if (!socket) return false;
    socket->setHost(ip);
    socket->setPort(tunnelPort(ctx));
    for (int attempt = 0; attempt < kStmTunnelConnectTries && !socket->connected(); ++attempt) {
        try {
            socket->open();
        } catch (const ChannelError&) {
            // Refused while the module restarts: the next try may get through.
        }
        pumpedWait(ctx, steps);
    }
    if (socket->connected()) return true;
    ctx.log_and_show("Connection Lost Error");
    return false;
}

void startBootloader(Context& ctx) {
    ctx.log_and_show("Starting bootloader...");
    ctx.ProcessMessages();
    pumpedWait(ctx, kBootloaderStartSteps);
}

// Closes the bootloader stream and gives the tunnel back to the text channel.
void restoreTextChannel(Context& ctx) {
    if (ctx.ports.ClientSocket1) ctx.ports.ClientSocket1->close();
    if (ctx.ports.TcpClient1) Connect(*ctx.ports.TcpClient1);
    ctx.log_and_show("Recovering from bootload mode and starting firmware");
}

}  // namespace

bool StmUpgradeModular(Context& ctx, const HexReaderState& reader, const std::string& ip,
                       const std::string& fileName) {
    activateGpioClient(ctx);
    NoteSwitchedOver(ctx, ip, DeviceChange::CpuBootloader);
    // EN holds the CPU's BOOT0 high while DATA pulses its reset.
    set_GPIO_directions(ctx, "OUTPUT", ip);
    update_GPIO(ctx, kEN, 1, ip);
    update_GPIO(ctx, kDATA, 0, ip);
    ctx.sleep(kResetLow);
    update_GPIO(ctx, kDATA, 1, ip);
    ctx.sleep(kResetSettle);

    setup_57600_even(ctx, ip);
    ctx.log_and_show("Waiting for KTQ");
    ctx.ProcessMessages();
    releaseTunnel(ctx);
    pumpedWait(ctx, kModuleRestartSteps);

    bool ok = false;
    if (connectTunnel(ctx, ip, kSlowConnectSteps)) {
        startBootloader(ctx);
        ok = StmProgram(ctx, reader, fileName);
    }

    restoreTextChannel(ctx);
    set_GPIO_directions(ctx, "OUTPUT", ip);
    reset_GPIO_lines(ctx, ip);
    ctx.sleep(kAfterRelease);
    setup_57600_none(ctx, ip);
    ctx.log_and_show("Finished.");
    return ok;
}

bool StmUpgradeMatrix(Context& ctx, const HexReaderState& reader, const std::string& ip,
                      const std::string& fileName) {
    activateGpioClient(ctx);
    NoteSwitchedOver(ctx, ip, DeviceChange::CpuBootloader);
    set_GPIO_directions(ctx, "OUTPUT", ip);
    shift(ctx, kMatrixBootEntry, ip);
    ctx.sleep(kResetSettle);
    update_GPIO(ctx, kDATA, 1, ip);
    update_GPIO(ctx, kCLK, 0, ip);
    ctx.sleep(kClockPulse);
    update_GPIO(ctx, kCLK, 1, ip);
    ctx.ProcessMessages();

    const bool direct = ctx.state.DirectSetupMatrix || ctx.state.DirectSetupModular;
    bool connected = false;
    if (direct) {
        setup_57600_even(ctx, ip);
        ctx.log_and_show("Waiting for KTQ");
        ctx.ProcessMessages();
        releaseTunnel(ctx);
        pumpedWait(ctx, kModuleRestartSteps);
        connected = connectTunnel(ctx, ip, kSlowConnectSteps);
    } else {
        enter_BL_mode(ctx, ip, kStmTunnelBaud, kEvenParityFlag);
        releaseTunnel(ctx);
        connected = connectTunnel(ctx, ip, kFastConnectSteps);
        if (connected && (!StmCommand(ctx, kStmSync) || ctx.state.RxBuffer[0] != kStmAck)) {
            throw KvError(kNoResponse);
        }
    }

    bool ok = false;
    if (connected) {
        startBootloader(ctx);
        ok = StmProgram(ctx, reader, fileName);
    }

    restoreTextChannel(ctx);
    if (!direct) exit_BL_mode(ctx, ip);
    ctx.sleep(kBeforeRelease);
    set_GPIO_directions(ctx, "OUTPUT", ip);
    shift(ctx, kMatrixReleaseCpu, ip);
    ctx.ProcessMessages();
    ctx.sleep(kAfterRelease);
    if (direct) setup_57600_none(ctx, ip);
    ctx.sleep(kBeforeIdle);
    ctx.ProcessMessages();
    shift(ctx, kMatrixIdle, ip);
    update_GPIO(ctx, kEN, 1, ip);
    ctx.log_and_show("Finished.");
    return ok;
}

}  // namespace kv
