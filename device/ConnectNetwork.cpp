#include <array>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string_view>

#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "device/Connect.h"
#include "device/ConnectSteps.h"
#include "device/ConvertError.h"
#include "device/Inventory.h"
#include "device/ReplyText.h"
#include "device/TextCommands.h"
#include "module/ModuleOperations.h"

namespace kv {

using namespace connect;

namespace {

constexpr auto kReplyWait = std::chrono::milliseconds(4000);
constexpr auto kLanVersionWait = std::chrono::milliseconds(3000);
// The module restarts its serial side after the set-up; 4 s before the tunnel reopens.
constexpr int kSetupSettlePauses = 8;
// Direct set-up matrices report their firmware 300 lower than the number the rest of
// the program goes by.
constexpr int kDirectMatrixFirmwareOffset = 300;
constexpr int kSecondProtocol = 2;

enum class IdentFamily { DirectMatrix, Modular, ModularByFirmware };

struct IdentRule {
    std::string_view ident;
    IdentFamily family;
};

// Identification replies compared with the whole "{I}" line. The cut-off
// "(I:NRV5x5-Max" is the reply of a modular type whose firmware sends no closing bracket.
constexpr std::array<IdentRule, 6> kIdentRules{{
    {"(I:RV-6X6-2WQRI)", IdentFamily::DirectMatrix},
    {"(I:RV6x6-2WQRI-Max)", IdentFamily::DirectMatrix},
    {"(I:NRV5x5)", IdentFamily::Modular},
    {"(I:NRV5x5-Max2)", IdentFamily::Modular},
    {"(I:NRV5x5-KD-Max2)", IdentFamily::Modular},
    {"(I:NRV5x5-Max", IdentFamily::ModularByFirmware},
}};

std::optional<IdentFamily> identFamily(const std::string& ident) {
    for (const auto& rule : kIdentRules)
        if (ident == rule.ident) return rule.family;
    return std::nullopt;
}

void detail(Context& ctx, const std::string& text) {
    if (ctx.detail()) ctx.log_and_show(text);
}

// Over a tunnel that did not connect the command goes nowhere and the wait times out.
void sendCommand(Context& ctx, TcpClient& client, const std::string& command) {
    if (!client.connected()) return;
    SendLine(client, command);
    detail(ctx, "-> " + command);
}

std::string askLine(Context& ctx, TcpClient& client, const std::string& command,
                    std::string_view fallback) {
    sendCommand(ctx, client, command);
    if (!WaitForData(client, kReplyWait)) return std::string(fallback);
    std::string reply = ReceiveLine(client);
    detail(ctx, "<- " + reply);
    return reply;
}

int protocolDigit(const std::string& text) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '9') throw ConvertError(text);
    return text[0] - '0';
}

// The three "{LAN_VER=?}" lines: a header, the web content and the web server versions.
void readLanVersions(Context& ctx, TcpClient& client, TMatrixRec& device) {
    sendCommand(ctx, client, std::string(kLanVersionQuery.text));
    if (!WaitForData(client, kLanVersionWait)) return;
    (void)ReceiveLine(client);
    device.LanVersion = ValueAfterEquals(ReceiveLine(client));
    device.ModuleVersion = ValueAfterEquals(ReceiveLine(client));
    detail(ctx, "<- LAN_VER " + device.LanVersion + " " + device.ModuleVersion);
}

TMatrixRec& selected(Context& ctx) {
    TMatrixRec* device = ctx.state.selectedDevice();
    if (!device) throw KvError("No device is selected in the device list");
    return *device;
}

// The part of a network connect up to the opened tunnel: the question, the release of
// the device opened before and the connect. false when there is nothing more to do.
bool beginConnect(Context& ctx, int entry, bool sendReleaseCommands,
                  const std::function<void(SharedState&)>& takeChoice) {
    SharedState& s = ctx.state;
    const std::optional<std::size_t> index = networkDeviceIndex(ctx, entry);
    if (!index) return false;
    // The open device stays as it is, flags and all.
    if (s.DeviceList[*index].IP == s.CurrentIP) return false;
    if (!askConnect(ctx)) return false;
    if (!releasePreviousDevice(ctx, sendReleaseCommands)) return false;

    // Only now the choice is taken: an operator who declined or cancelled keeps the open
    // device's record, flags and selection.
    s.HexFileOpened = false;
    s.deviceSwitchedOver = true;
    s.ConnectionKind = ConnectionKind::Network;
    // A serial connect before may have left a walk of one slot.
    s.CardQueryCount = kNetworkSlotCount;
    s.SelectedDevice = static_cast<std::int32_t>(*index);
    takeChoice(s);
    return openSelectedDevice(ctx);
}

void connectNetwork(Context& ctx, int entry) {
    SharedState& s = ctx.state;
    if (!beginConnect(ctx, entry, true, [](SharedState& state) {
            state.DirectSetupMatrix = false;
            state.DirectSetupModular = false;
        })) {
        return;
    }
    TcpClient& client = tunnel(ctx);

    s.ProtocolReply = askLine(ctx, client, "{P_?}", kDefaultProtocolReply);
    if (const std::optional<std::string> digit = ProtocolNumberText(s.ProtocolReply)) {
        if (protocolDigit(*digit) == kSecondProtocol) {
            s.ProtocolNumber = kSecondProtocol;
            if (ctx.ask(QuestionId::ProtocolSwitch,
                        "Protocol#2 is active! Do you want to switch to Korvandel protocol?",
                        DialogKind::Confirmation, {MsgButton::Yes, MsgButton::No},
                        static_cast<int>(MsgButton::No)) == MsgButton::Yes) {
                sendCommand(ctx, client, std::string(kSwitchToProtocol1.text));
                ctx.message_box("Please reconnect to the matrix!");
            }
            ctx.hideBusy();
            return;
        }
        s.ProtocolNumber = 1;
    }

    s.IdentReply = askLine(ctx, client, "{I}", kUnknownDeviceReply);
    selected(ctx).Ident = s.IdentReply;
    s.properties.name = IdentName(s.IdentReply);

    const std::string serial = askLine(ctx, client, "{S}", kNoSerialReply);
    selected(ctx).Serial = serial;
    s.properties.serial = SerialNumberText(serial);

    const int firmware = NetworkFirmwareNumber(askLine(ctx, client, "{F}", kUnknownDeviceReply));
    selected(ctx).FwNumber = firmware;
    s.DeviceFwNumber = firmware;
    ctx.showDeviceProperties();

    if (s.DeviceFwNumber > kBootloaderModeFirmware) readLanVersions(ctx, client, selected(ctx));
    logProperties(ctx);

    Disconnect(client);
    activateGpioClient(ctx);

    const std::optional<IdentFamily> family = identFamily(s.IdentReply);
    if (family == IdentFamily::DirectMatrix) {
        s.DirectSetupMatrix = true;
        s.DeviceFwNumber += kDirectMatrixFirmwareOffset;
    } else if (family || s.DeviceFwNumber < kBootloaderModeFirmware) {
        // The cards' bootloaders listen at 19200 bit/s behind the select lines.
        setup_19200_none(ctx, s.CurrentIP);
    }
    pumpPauses(ctx, kSetupSettlePauses, kSettlePause);
    ConnectUntilUp(ctx, client, s.CurrentIP);

    if (family == IdentFamily::Modular) {
        QueryCardsModular(ctx, s.CurrentIP, s.CardAddresses, s.CardQueryCount);
    } else if (s.DeviceFwNumber >= kBootloaderModeFirmware) {
        QueryCardsMatrix(ctx, s.CurrentIP, s.CardAddresses, s.CardQueryCount);
    } else {
        QueryCardsBySlot(ctx, s.CurrentIP, s.CardAddresses, s.CardQueryCount);
    }
    finishNetworkConnect(ctx);
}

void connectAsType(Context& ctx, int entry, AssumedType type) {
    SharedState& s = ctx.state;
    if (!beginConnect(ctx, entry, false, [type](SharedState& state) {
            state.DeviceFwNumber = kBootloaderModeFirmware;
            state.DirectSetupMatrix = type == AssumedType::DirectMatrix;
            state.DirectSetupModular = type == AssumedType::DirectModular;
        })) {
        return;
    }
    TcpClient& client = tunnel(ctx);
    selected(ctx).FwNumber = kBootloaderModeFirmware;
    s.DeviceFwNumber = kBootloaderModeFirmware;
    logProperties(ctx);
    Disconnect(client);

    selected(ctx).Ident = s.DirectSetupMatrix    ? "(I:RV6x6-2WQRI-Max)"
                          : s.DirectSetupModular ? "(I:NRV5x5-Max)"
                                                 : "(I:RV-FS64S)";
    activateGpioClient(ctx);
    pumpPauses(ctx, kSetupSettlePauses, kSettlePause);
    ConnectUntilUp(ctx, client, s.CurrentIP);

    if (s.DirectSetupModular) {
        QueryCardsModular(ctx, s.CurrentIP, s.CardAddresses, s.CardQueryCount);
    } else {
        QueryCardsMatrix(ctx, s.CurrentIP, s.CardAddresses, s.CardQueryCount);
    }
    finishNetworkConnect(ctx);
}

void showRaised(Context& ctx, const std::exception& e) {
    ctx.hideBusy();
    ctx.message_box(RaisedErrorText(e));
}

}  // namespace

std::string RaisedErrorText(const std::exception& e) {
    const auto* own = dynamic_cast<const KvError*>(&e);
    return std::string(own ? own->className() : "Exception") +
           " error raised, with message : " + e.what();
}

int NetworkFirmwareNumber(const std::string& reply) {
    const auto tag = reply.find("(FW:");
    if (tag == std::string::npos) return 0;
    std::size_t start = tag + 4;
    const auto spaced = reply.find("(FW: ");
    if (spaced != std::string::npos) start = spaced + 5;
    // At most (1-based position of the first ")") - 2 characters.
    const auto close = reply.find(')');
    const long length = close == std::string::npos ? 0 : static_cast<long>(close) - 1;
    if (length <= 0 || start >= reply.size()) return FirmwareNumber("");
    return FirmwareNumber(reply.substr(start, static_cast<std::size_t>(length)));
}

void ConnectNetworkDevice(Context& ctx, int entry) {
    try {
        connectNetwork(ctx, entry);
    } catch (const std::exception& e) {
        showRaised(ctx, e);
    }
}

void ConnectAsType(Context& ctx, int entry, AssumedType type) {
    try {
        connectAsType(ctx, entry, type);
    } catch (const std::exception& e) {
        showRaised(ctx, e);
    }
}

}  // namespace kv
