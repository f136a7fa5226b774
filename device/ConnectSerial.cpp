#include <chrono>
#include <exception>

#include "device/Channels.h"
#include "device/Connect.h"
#include "device/ConnectSteps.h"
#include "device/Inventory.h"
#include "device/ReplyText.h"
#include "device/TextCommands.h"

namespace kv {

using namespace connect;

namespace {

constexpr int kStartBaud = 9600;
// Twisted-pair transmitters talk only at 57600 bit/s.
constexpr int kTransmitterBaud = 57600;
// The cards' bootloaders listen at 19200 bit/s.
constexpr int kCardBaud = 19200;
constexpr auto kRequestSettle = std::chrono::milliseconds(200);
constexpr auto kRestartSlice = std::chrono::milliseconds(100);
// After "{P_PRGRQST}" the device restarts into its bootloader (about 4 s); a device that
// was in upgrade mode already gets 20 s, as its bootloader starts the cards afresh.
constexpr int kRestartSlices = 40;
constexpr int kUpgradeModeRestartSlices = 200;
const std::string kTransmitterFirmware = "1.0.0";

bool isTransmitter(const std::string& ident) {
    return ident.find("NRV-TW-SN") != std::string::npos ||
           ident.find("NRV-FK-TW-SN") != std::string::npos;
}

void sendCommand(Context& ctx, SerialPort& port, const TextCommand& command) {
    SendCommand(port, command);
    if (ctx.detail()) ctx.log_and_show("-> " + std::string(command.text));
}

void reopen(SerialPort& port, const std::string& name, int baud) {
    ClosePort(port);
    SetBaud(port, baud);
    OpenPort(port, name);
}

void enableInventory(Context& ctx) {
    ctx.ui.enable(UiElement::Grids, true);
    ctx.ui.enable(UiElement::Upgrade, true);
}

void beginSerial(SharedState& s, const std::string& portName) {
    s.ConnectionKind = ConnectionKind::Serial;
    s.CardQueryCount = 1;
    // Flags of a "Handle as" entry used on another port must not follow to this one.
    clearSerialFlags(s);
    // The port's own entry takes the inventory, so that the record of a network device
    // opened before keeps its controllers.
    for (std::size_t i = 0; i < s.DeviceList.size(); ++i)
        if (s.DeviceList[i].IP == portName) s.SelectedDevice = static_cast<std::int32_t>(i);
}

void connectSerial(Context& ctx, int entry) {
    SharedState& s = ctx.state;
    // Without a port nothing is changed, so an open network device stays as it is.
    const std::string name = comPortName(ctx, entry);
    beginSerial(s, name);
    SerialPort& port = comPort(ctx);
    ClosePort(port);
    if (ctx.ports.TcpClient1) Disconnect(*ctx.ports.TcpClient1);
    OpenPort(port, name);
    ctx.log_and_show(name + " opened");

    sendCommand(ctx, port, kIdentQuery);
    SerialReply ident = ReadReply(ctx, port, ')');
    ctx.ui.memoLine("d1" + ident.text);
    if (ident.text.find("HQLX-FBR") != std::string::npos) s.FibreLinkMode = true;
    if (ident.timeout) {
        reopen(port, name, kTransmitterBaud);
        sendCommand(ctx, port, kIdentQuery);
        ident = ReadReply(ctx, port, ')');
    }

    if (isTransmitter(ident.text)) {
        sendCommand(ctx, port, kFirmwareQuery);
        const SerialReply firmware = ReadReply(ctx, port, ')');
        AddSingleController(ctx, ValueAfterColon(ident.text), ValueAfterColon(firmware.text));
        return;
    }

    reopen(port, name, kStartBaud);
    ctx.sleep(kRequestSettle);
    ctx.ProcessMessages();
    ctx.journal_change(DeviceChange::BootloaderMode);
    sendCommand(ctx, port, kProgramRequest);
    const SerialReply request = ReadReply(ctx, port, '}');
    int slices = kRestartSlices;
    if (request.timeout) {
        ctx.log_and_show("Device has been in firmware upgrade mode...");
        slices = kUpgradeModeRestartSlices;
    }
    ctx.ui.memoLine("Query Installed Cards...");
    pumpPauses(ctx, slices + 1, kRestartSlice);
    SetBaud(port, kCardBaud);
    QueryCardsBySlot(ctx, name, s.CardAddresses, s.CardQueryCount);
    enableInventory(ctx);
}

// "Handle as" entries of the COM list: a port must be selected; other failures are shown
// like those of the network paths.
template <typename Body>
void onSelectedPort(Context& ctx, int entry, Body body) {
    std::string name;
    try {
        name = comPortName(ctx, entry);
    } catch (const std::exception&) {
        ctx.message_box("Please select a device");
        return;
    }
    try {
        body(name);
    } catch (const std::exception& e) {
        ctx.message_box(RaisedErrorText(e));
    }
}

}  // namespace

void ConnectSerialDevice(Context& ctx, int entry) {
    try {
        if (askConnect(ctx)) connectSerial(ctx, entry);
    } catch (const std::exception& e) {
        ctx.log_line(e.what());
        ctx.message_box("Please select a device");
    }
    // Enabled again when the device is closed.
    ctx.ui.enable(UiElement::ComTree, false);
}

namespace connect {

void HandleAsFibre(Context& ctx, int entry, bool receiver) {
    onSelectedPort(ctx, entry, [&](const std::string& name) {
        SharedState& s = ctx.state;
        beginSerial(s, name);
        if (receiver) {
            s.HandleAsFibreRx = true;
        } else {
            s.FibreLinkMode = true;
        }
        reopen(comPort(ctx), name, receiver ? kStartBaud : kCardBaud);
        QueryCardsBySlot(ctx, name, s.CardAddresses, s.CardQueryCount);
        enableInventory(ctx);
    });
}

void HandleAsTransmitter(Context& ctx, int entry, const std::string& type) {
    onSelectedPort(ctx, entry, [&](const std::string& name) {
        SharedState& s = ctx.state;
        beginSerial(s, name);
        s.TpTransmitterMode = true;
        if (ctx.ports.TcpClient1) Disconnect(*ctx.ports.TcpClient1);
        reopen(comPort(ctx), name, kTransmitterBaud);
        AddSingleController(ctx, type, kTransmitterFirmware);
    });
}

}  // namespace connect

}  // namespace kv
