#include "discovery/Discovery.h"

#include <exception>
#include <memory>

#include "core/ControllerGrid.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "discovery/ComPorts.h"
#include "discovery/DiscoveryMessages.h"
#include "module/ModuleOperations.h"

namespace kv {

namespace {

// Below this firmware number the device is returned to normal operation with the card
// select lines and the 9600 set-up; from it on, with the module's bootloader-mode commands.
constexpr int kBootloaderModeFirmware = 300;
const std::string kNoDevice = "0.0.0.0";
const std::string kFindErrorPrefix = "Error while finding:\r";

UdpSocket& listener(Context& ctx) {
    if (!ctx.ports.IdUDPServer1) throw ChannelError("The discovery listener is not available");
    return *ctx.ports.IdUDPServer1;
}

// One question through the tunnel; an unanswered one gives an empty text.
std::string askTunnel(TcpClient& client, const std::string& command) {
    SendLine(client, command);
    if (!WaitForData(client, kTunnelAnswerWait)) return {};
    return ReceiveLine(client);
}

// Whether `sender` may answer on the discovery port now; a refused sender is named in
// the log the first time.
bool expectedAnswer(Context& ctx, const std::string& sender, bool anyModule) {
    SharedState& s = ctx.state;
    if (anyModule || s.discoveryQueried.count(sender) != 0) return true;
    if (s.discoveryRefused.insert(sender).second) {
        ctx.log_line("Ignored a discovery answer from " + sender + ", which was not asked");
    }
    return false;
}

void forgetQueries(SharedState& s) {
    s.discoveryBroadcastSent = false;
    s.discoveryQueried.clear();
    s.discoveryRefused.clear();
}

// Sends one query on the discovery port and remembers whom it asked.
void query(Context& ctx, const std::string& address, const Bytes& message) {
    UdpSocket& udp = listener(ctx);
    udp.sendTo(address, kDiscoveryPort, message);
    ctx.state.discoveryQueried.insert(udp.addressOf(address));
}

void handleModuleAnswer(Context& ctx, const std::string& sender, const ModuleAnswer& answer) {
    auto& devices = ctx.state.DeviceList;
    bool known = false;
    for (const auto& device : devices) known = known || device.IP == sender;
    if (!known) {
        TMatrixRec device;
        device.IP = sender;
        device.MAC = answer.MAC;
        device.ModuleVersion = answer.ModuleVersion;
        devices.push_back(std::move(device));
        SendSetupRecordQuery(ctx, sender);
    }
    if (ctx.detail()) {
        const std::string count = std::to_string(devices.size());
        ctx.log_line("devicelist length: " + count);
        ctx.ui.memoLine("Devicelist length: " + count);
    }
}

void handleSetupRecordAnswer(Context& ctx, const std::string& sender, int port) {
    // One answer per module and FIND: repeats (or a flood) add nothing.
    if (!ctx.state.setupAnswered.insert(sender).second) return;
    auto& tree = ctx.state.networkTree;
    tree.push_back(sender);
    const std::size_t entry = tree.size() - 1;
    ctx.showNetworkTree();
    // The busy overlay goes away 2.5 s after the last answer's handling ended; the tunnel
    // exchange below may take seconds and the overlay stays meanwhile.
    ctx.ui.stopBusyTimer();

    // The port is known now: keep it even if the tunnel fails below, so the device can
    // still be connected later.
    for (auto& device : ctx.state.DeviceList)
        if (device.IP == sender) device.Port = port;

    std::string ident;
    std::string serial;
    std::string failure;
    TcpClient* client = ctx.ports.TcpClient1;
    try {
        if (!client) throw ChannelError("The tunnel client is not available");
        if (client->connected()) Disconnect(*client);
        client->setHost(sender);
        client->setPort(port);
        if (!client->connect(kTunnelConnectWait)) {
            throw ChannelError("Could not connect to " + sender + ":" + std::to_string(port));
        }
        ident = askTunnel(*client, "{I}");
        serial = askTunnel(*client, "{S}");
        for (auto& device : ctx.state.DeviceList) {
            if (device.IP != sender) continue;
            device.Serial = serial;
            device.Ident = ident;
            device.Port = port;
        }
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (entry < tree.size()) tree[entry] += " " + ident + " " + serial;
    ctx.showNetworkTree();
    if (client) {
        try {
            Disconnect(*client);
        } catch (const std::exception& e) {
            if (failure.empty()) failure = e.what();
        }
    }
    ctx.ui.restartBusyTimer();
    if (failure.empty()) return;
    // One box per FIND; further failures only go to the log.
    if (ctx.state.tunnelErrorShown) {
        ctx.log_line("Error while finding: " + sender + ": " + failure);
        return;
    }
    ctx.state.tunnelErrorShown = true;
    ctx.error_box(kFindErrorPrefix + failure);
}

// FIND's queries: for each interface, its subnet broadcast and the broadcast one level up.
void queryInterfaces(Context& ctx) {
    if (!ctx.ports.System) return;
    for (const std::string& address : ctx.ports.System->localIPv4Addresses()) {
        ctx.state.LocalIP = address;
        const std::vector<std::string> broadcasts = InterfaceBroadcasts(address);
        if (broadcasts.empty()) continue;
        // Another program holds UDP 30718: no answer could reach us, so nothing is sent.
        if (!StartDiscoveryListener(ctx)) return;
        ctx.state.discoveryBroadcastSent = true;
        try {
            for (const std::string& broadcast : broadcasts) SendModuleQuery(ctx, broadcast);
        } catch (const std::exception&) {
            // An interface without a route for its broadcast; the others may still work.
        }
    }
}

}  // namespace

bool StartDiscoveryListener(Context& ctx) {
    UdpSocket* udp = ctx.ports.IdUDPServer1;
    if (!udp) return false;
    return udp->isBound() || udp->bind(kDiscoveryPort, true);
}

void StopDiscoveryListener(Context& ctx) {
    if (ctx.ports.IdUDPServer1) ctx.ports.IdUDPServer1->close();
    forgetQueries(ctx.state);
}

void SendModuleQuery(Context& ctx, const std::string& address) {
    query(ctx, address, ModuleQueryMessage());
}

void SendSetupRecordQuery(Context& ctx, const std::string& address) {
    query(ctx, address, SetupRecordQueryMessage());
}

void ReleaseNetworkDevice(Context& ctx) {
    SharedState& s = ctx.state;
    ctx.ui.enable(UiElement::Upgrade, false);
    ctx.setBusyText("Closing connections ...");
    // Lets the overlay's new text reach the window before the long pause.
    ctx.ProcessMessages();

    const std::string address = s.CurrentIP;
    try {
        if (s.DeviceFwNumber < kBootloaderModeFirmware) {
            // Code 0 first, so the lines never pass through another card's code.
            select_GPIO(ctx, 0, address);
            select_GPIO(ctx, 7, address);
            setup_9600_none(ctx, address);
            ctx.journal_restored();
        } else if (s.DirectSetupMatrix || s.DirectSetupModular) {
            setup_57600_none(ctx, address);
            ctx.journal_restored();
        } else {
            exit_BL_mode(ctx, address);
        }
    } catch (const std::exception& e) {
        // A module that cannot be reached must not keep FIND from ever searching again.
        ctx.error_box(kFindErrorPrefix + e.what());
    }

    // The device restarts its controllers after the change; no window messages meanwhile.
    for (int i = 0; i < kReleasePauseCount; ++i) ctx.sleep(kReleasePause);

    ctx.hideBusy();
    StopDiscoveryListener(ctx);
    if (ctx.ports.TcpClient1) Disconnect(*ctx.ports.TcpClient1);
    if (ctx.ports.XPORT_GPIO_Client) ctx.ports.XPORT_GPIO_Client->close();
    s.CurrentIP = kNoDevice;
    ClearDeviceProperties(ctx);
}

void ClearDeviceLists(Context& ctx) {
    // The list goes first: the grid's check cells are drawn from the selected device's
    // rows, and an old device's ticks must not stay on the empty row.
    ctx.state.DeviceList.clear();
    GridReset(ctx);
    ctx.state.networkTree.clear();
    ctx.state.comTree.clear();
    ctx.state.setupAnswered.clear();
    ctx.state.tunnelErrorShown = false;
    forgetQueries(ctx.state);
    ctx.showNetworkTree();
    ctx.showComTree();
}

void FindDevices(Context& ctx) {
    ctx.showBusy("Searching...");
    if (ctx.state.CurrentIP != kNoDevice) ReleaseNetworkDevice(ctx);
    ClearDeviceLists(ctx);

    queryInterfaces(ctx);
    ScanComPorts(ctx);
}

void HandleDiscoveryAnswer(Context& ctx, const Datagram& datagram) {
    // The tool's own broadcast comes back on the interface it went out of.
    if (datagram.address == ctx.state.LocalIP) return;
    try {
        const std::string& sender = datagram.address;
        if (auto module = DecodeModuleAnswer(datagram.data)) {
            // Every module may answer FIND's broadcast: listing them is its purpose.
            if (expectedAnswer(ctx, sender, ctx.state.discoveryBroadcastSent)) {
                handleModuleAnswer(ctx, sender, *module);
            }
        } else if (auto port = DecodeSetupRecordAnswer(datagram.data)) {
            if (expectedAnswer(ctx, sender, false)) handleSetupRecordAnswer(ctx, sender, *port);
        }
    } catch (const std::exception& e) {
        ctx.error_box(kFindErrorPrefix + e.what());
    }
}

void RegisterDiscoveryEvents(Context& ctx) {
    // A handler that pumps must not take the next datagram before it is done.
    auto handling = std::make_shared<bool>(false);
    ctx.addEventSource([&ctx, handling] {
        UdpSocket* udp = ctx.ports.IdUDPServer1;
        if (*handling || !udp || !udp->isBound()) return;
        *handling = true;
        struct Done {
            bool& flag;
            ~Done() { flag = false; }
        } done{*handling};
        for (int i = 0; i < kDatagramsPerPump && udp->isBound(); ++i) {
            std::optional<Datagram> datagram;
            try {
                datagram = udp->receive(std::chrono::milliseconds(0));
            } catch (const std::exception&) {
                return;
            }
            if (!datagram) {
                // A socket layer may give up a socket on an error while it waits; the
                // answers to queries already sent still have to come in, so the listener
                // is opened again on its port.
                if (!udp->isBound()) udp->bind(kDiscoveryPort, true);
                return;
            }
            HandleDiscoveryAnswer(ctx, *datagram);
        }
    });
}

}  // namespace kv
