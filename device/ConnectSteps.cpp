#include "device/ConnectSteps.h"

#include "core/ControllerGrid.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "module/ModuleOperations.h"

namespace kv::connect {

namespace {

constexpr int kReleasePauseCount = 22;
const std::string kUnreachableQuestion =
    "The selected device is unreachable!\n\r"
    "Do you want to continue?\n\r"
    "If you click YES, the baud rate and timing settings will be configured wrong.\n\r"
    "You must set them later for porper operation!\n\r"
    "(By reconnecting to the device with the bootloader, and then closing it properly\n\r"
    "If you click CANCEL, you must replug the network cable and try again!";
const std::string kLoadingBanner = "Loading processor information ...";
// Code 7 routes the module's serial side back to the main controller.
constexpr int kMainControllerCode = 7;

}  // namespace

TcpClient& tunnel(Context& ctx) {
    if (!ctx.ports.TcpClient1) throw KvError("The tunnel client is not available");
    return *ctx.ports.TcpClient1;
}

SerialPort& comPort(Context& ctx) {
    if (!ctx.ports.ComPort1) throw KvError("The COM port is not available");
    return *ctx.ports.ComPort1;
}

bool askConnect(Context& ctx) {
    return ctx.ask(QuestionId::ConnectDevice,
                   "Do you want to establish connenction with the device?",
                   DialogKind::Confirmation, {MsgButton::Yes, MsgButton::No},
                   static_cast<int>(MsgButton::No)) == MsgButton::Yes;
}

std::optional<std::size_t> networkDeviceIndex(Context& ctx, int entry) {
    const auto& tree = ctx.state.networkTree;
    if (entry < 0 || static_cast<std::size_t>(entry) >= tree.size()) return std::nullopt;
    const std::string& text = tree[static_cast<std::size_t>(entry)];
    const std::string ip = text.substr(0, text.find(' '));
    std::optional<std::size_t> index;
    const auto& list = ctx.state.DeviceList;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].IP == ip) index = i;
    // Going on with another entry would open a device the operator did not choose.
    if (!index) throw KvError("The device " + ip + " is not in the device list");
    return index;
}

std::string comPortName(Context& ctx, int entry) {
    const auto& tree = ctx.state.comTree;
    if (entry < 0 || static_cast<std::size_t>(entry) >= tree.size()) {
        throw KvError("No COM port is selected");
    }
    return tree[static_cast<std::size_t>(entry)];
}

bool releasePreviousDevice(Context& ctx, bool sendReleaseCommands) {
    SharedState& s = ctx.state;
    if (s.CurrentIP == kNoDevice) return true;
    TcpClient& client = tunnel(ctx);
    if (client.connected()) Disconnect(client);
    ctx.showBusy("Closing connections ...");

    const std::string previous = s.CurrentIP;
    client.setHost(previous);
    for (const auto& device : s.DeviceList)
        if (device.IP == previous) client.setPort(device.Port);
    if (!Connect(client)) {
        if (ctx.ask(QuestionId::ReleaseUnreachable, kUnreachableQuestion, DialogKind::Confirmation,
                    {MsgButton::Yes, MsgButton::Cancel},
                    static_cast<int>(MsgButton::Cancel)) == MsgButton::Yes) {
            return true;
        }
        ctx.hideBusy();
        return false;
    }

    if (ctx.detail()) ctx.log_line("closing connections...");
    ctx.ProcessMessages();
    if (sendReleaseCommands && s.DeviceFwNumber < kBootloaderModeFirmware) {
        select_GPIO(ctx, 0, previous);
        select_GPIO(ctx, kMainControllerCode, previous);
        setup_9600_none(ctx, previous);
        ctx.journal_restored();
    }
    // The device restarts its controllers after the change.
    pumpPauses(ctx, kReleasePauseCount, kSettlePause);
    s.CurrentIP = kNoDevice;
    ctx.ui.enable(UiElement::Upgrade, false);
    return true;
}

bool openSelectedDevice(Context& ctx) {
    SharedState& s = ctx.state;
    TcpClient& client = tunnel(ctx);
    // The listener would take the tunnel client for its own questions meanwhile.
    if (ctx.ports.IdUDPServer1) ctx.ports.IdUDPServer1->close();
    if (ctx.ports.XPORT_GPIO_Client) ctx.ports.XPORT_GPIO_Client->close();
    Disconnect(client);
    ctx.setBusyText(kLoadingBanner);
    ctx.log_line(kLoadingBanner);
    ctx.showBusy(kLoadingBanner);
    ctx.ProcessMessages();

    const TMatrixRec* device = s.selectedDevice();
    if (!device) throw KvError("No device is selected in the device list");
    s.properties.mac = device->MAC;
    s.CurrentIP = device->IP;
    s.properties.ip = s.CurrentIP;
    ctx.showDeviceProperties();
    if (s.CurrentIP == kNoDevice) {
        ctx.hideBusy();
        return false;
    }

    ctx.log_line(s.CurrentIP);
    GridReset(ctx);
    client.setHost(s.CurrentIP);
    client.setPort(device->Port);
    // A refused connection is not examined here: every question then times out and the
    // defaults stand in for the answers.
    (void)Connect(client);
    return true;
}

void logProperties(Context& ctx) {
    if (!ctx.detail()) return;
    const DeviceProperties& p = ctx.state.properties;
    ctx.log_line("Matrix type: " + p.name);
    ctx.log_line("Serial number: " + p.serial);
    ctx.log_line("IP address: " + p.ip);
    ctx.log_line("MAC address: " + p.mac);
}

void activateGpioClient(Context& ctx) {
    UdpSocket* udp = ctx.ports.XPORT_GPIO_Client;
    if (udp && !udp->isBound() && !udp->bind(0, false)) {
        throw KvError("The GPIO client cannot be opened");
    }
}

void pumpPauses(Context& ctx, int count, std::chrono::milliseconds pause) {
    for (int i = 0; i < count; ++i) {
        ctx.sleep(pause);
        ctx.ProcessMessages();
    }
}

void finishNetworkConnect(Context& ctx) {
    Disconnect(tunnel(ctx));
    ctx.ui.enable(UiElement::Grids, true);
    ctx.hideBusy();
    ctx.ui.enable(UiElement::Upgrade, true);
}

void clearSerialFlags(SharedState& s) {
    s.HandleAsFibreRx = false;
    s.FibreLinkMode = false;
    s.TpTransmitterMode = false;
}

}  // namespace kv::connect
