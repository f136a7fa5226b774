#include "device/Inventory.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "core/ControllerGrid.h"
#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "device/InventoryRows.h"
#include "device/InventoryWords.h"
#include "device/TextCommands.h"
#include "module/ModuleOperations.h"

namespace kv {

namespace {

// The module restarts its tunnel after a change of its serial side.
constexpr auto kTunnelRestartPause = std::chrono::milliseconds(300);
// The cards' bootloaders listen at 19200 bit/s without parity.
constexpr int kCardBaud = 19200;
constexpr int kNoParity = 0;
constexpr int kMatrixWalkNumbers = 7;
// Aggregation cards share their address with the last slot and are listed only there.
const std::string kAggregationCard = "PSV_AGG";
constexpr int kAggregationWalkNumber = 7;
// The modular frame has one I/O card; the bus calls it card 2.
constexpr int kModularWalkNumber = 1;
constexpr int kModularCardNumber = 2;
// After the slot walk the lines are left on code 6, as the panels expect.
constexpr int kSlotCodeAfterWalk = 6;

const std::string kMatrixCpu = "RV-CTL2";
const std::string kModularCpu = "NRV-CTL";
const std::string kNotApplicable = "n/a";
const std::string kWebServer = "Web Server";
const std::string kWebContent = "Web Content";
const std::string kWebContentMissing = "Web Content: not installed";
const std::string kWebPackage = "Web Package";
// A device of this type may run without web content on its module.
const std::string kContentOptionalIdent = "(I:RV-FS64S)";
const std::string kQueryCardsError = "Error in Query Cards:\r";
// Serial fibre devices whose cards cannot be asked: fixed rows.
const std::string kFibreReceiverRow = "LNK-FBR-RC330-MAX HW:N/A FW:N/A FW:N/A";
const std::string kFibreLinkRow = "HQLX-FBR HW:N/A FW:N/A FW:N/A";
const std::string kPanelTypes[] = {"RV-PNL16", "RV-PNL32"};

void detail(Context& ctx, const std::string& text) {
    if (ctx.detail()) ctx.log_and_show(text);
}

std::string versionText(int number) {
    return std::to_string(number / 100) + "." + std::to_string(number % 100 / 10) + "." +
           std::to_string(number % 10);
}

bool directSetup(const SharedState& s) {
    return s.DirectSetupMatrix || s.DirectSetupModular;
}

TcpClient& tunnel(Context& ctx) {
    if (!ctx.ports.TcpClient1) throw KvError("The tunnel client is not available");
    return *ctx.ports.TcpClient1;
}

// After the module changed its serial side the tunnel is opened afresh.
void reopenTunnel(Context& ctx) {
    ctx.sleep(kTunnelRestartPause);
    ctx.ProcessMessages();
    TcpClient& client = tunnel(ctx);
    Disconnect(client);
    client.setHost(ctx.state.CurrentIP);
    if (const TMatrixRec* device = ctx.state.selectedDevice()) client.setPort(device->Port);
    ConnectUntilUp(ctx, client, ctx.state.CurrentIP);
}

void findDevice(Context& ctx, const std::string& address) {
    const auto& list = ctx.state.DeviceList;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].IP == address) ctx.state.SelectedDevice = static_cast<std::int32_t>(i);
}

void showDeviceNumber(Context& ctx) {
    if (!ctx.detail()) return;
    const std::string index = std::to_string(ctx.state.SelectedDevice);
    ctx.log_line("dev_num: " + index);
    ctx.ui.memoLine("Device number: " + index);
}

// The device's own CPU row: its firmware is the device's firmware number as a version.
TControllerRec mainControllerRow(const std::string& type, int firmwareNumber) {
    TControllerRec cpu;
    cpu.ControllerType = type;
    cpu.HardwareVersion = kNotApplicable;
    cpu.FirmwareVersion = versionText(firmwareNumber);
    return cpu;
}

TControllerRec trailingRow(const std::string& type, const std::string& firmware) {
    TControllerRec rec;
    rec.ControllerType = type;
    rec.FirmwareVersion = firmware;
    return rec;
}

// "Web Server" with the module's version, then "Web Content" with the version its web
// server reports (kept as the device's LanVersion).
void appendWebRows(Context& ctx, InventoryRows& rows, bool contentMayBeMissing) {
    rows.append(trailingRow(kWebServer, "FW:" + rows.device().ModuleVersion));
    const std::string version = QueryWebContentVersion(ctx, ctx.state.CurrentIP);
    TMatrixRec& device = rows.device();
    device.LanVersion = version;
    const bool missing = contentMayBeMissing && device.Ident == kContentOptionalIdent;
    rows.append(trailingRow(missing ? kWebContentMissing : kWebContent, "FW:" + version));
}

void finishLog(Context& ctx) {
    ctx.log_line(std::string(54, '-'));
    ctx.log_line("");
}

// Cards that did not answer give "No card found" and no row; anything else must map.
bool answered(const std::string& reply) {
    return reply != kNoCardFound;
}

std::size_t walkLength(int count) {
    return static_cast<std::size_t>(std::clamp(count, 0, SharedState::kCardAddressCount));
}

std::string slotReply(Context& ctx, const std::string& address, int code) {
    if (ctx.state.ConnectionKind != ConnectionKind::Serial) return QueryCardSlot(ctx, code, address);
    if (ctx.state.HandleAsFibreRx) return kFibreReceiverRow;
    if (ctx.state.FibreLinkMode) return kFibreLinkRow;
    return QueryCardSerial(ctx);
}

bool isPanel(const std::string& type) {
    return std::find(std::begin(kPanelTypes), std::end(kPanelTypes), type) != std::end(kPanelTypes);
}

}  // namespace

void QueryCardsMatrix(Context& ctx, const std::string& address, const CardAddressTable& addresses,
                      int /*count*/) {
    SharedState& s = ctx.state;
    try {
        detail(ctx, "Query Cards");
        if (directSetup(s)) {
            setup_19200_none(ctx, s.CurrentIP);
        } else {
            enter_BL_mode(ctx, s.CurrentIP, kCardBaud, kNoParity);
        }
        reopenTunnel(ctx);
        findDevice(ctx, address);
        showDeviceNumber(ctx);

        InventoryRows rows(ctx);
        rows.reset();
        const TControllerRec cpu = mainControllerRow(kMatrixCpu, rows.device().FwNumber);
        const std::string cpuCell = s.DirectSetupMatrix    ? "RV6X6-2WQRI"
                                    : s.DirectSetupModular ? "NRV5x5-Max"
                                                           : kMatrixCpu;
        rows.append(cpu, cpuCell);

        for (int k = 1; k <= kMatrixWalkNumbers; ++k) {
            set_GPIO_directions(ctx, "OUTPUT", address);
            detail(ctx, "--------- Card " + std::to_string(k) + " ----------");
            const std::string reply = QueryCardMatrix(ctx, MatrixCardSelectCode(k), address);
            Disconnect(tunnel(ctx));
            if (!answered(reply)) continue;
            const std::vector<std::string> words = SplitReplyWords(reply);
            if (!words.empty() && words[0] == kAggregationCard && k != kAggregationWalkNumber) {
                continue;
            }
            TControllerRec card = ControllerFromFixedWords(reply);
            // Walk numbers 6 and 7 have no select code of their own (entries 6 and 7 are 0).
            card.CardAddress = addresses[static_cast<std::size_t>(k)];
            rows.append(card, card.ControllerType + " " + std::to_string(k));
        }

        if (s.ConnectionKind == ConnectionKind::Network) {
            if (directSetup(s)) {
                s.TrailingRowCount = 2;
                appendWebRows(ctx, rows, true);
            } else {
                s.TrailingRowCount = 1;
                const TMatrixRec& device = rows.device();
                rows.append(trailingRow(kWebPackage,
                                        "S:" + device.ModuleVersion + " W:" + device.LanVersion));
            }
        }
        finishLog(ctx);
    } catch (const std::exception& e) {
        ctx.error_box(kQueryCardsError + e.what());
    }
}

void QueryCardsModular(Context& ctx, const std::string& address, const CardAddressTable& addresses,
                       int /*count*/) {
    SharedState& s = ctx.state;
    try {
        detail(ctx, "Query Cards");
        reopenTunnel(ctx);
        findDevice(ctx, address);
        showDeviceNumber(ctx);

        InventoryRows rows(ctx);
        rows.reset();
        const TControllerRec cpu = mainControllerRow(kModularCpu, rows.device().FwNumber);
        rows.append(cpu);

        set_GPIO_directions(ctx, "OUTPUT", address);
        detail(ctx, "--------- Card " + std::to_string(kModularWalkNumber) + " ----------");
        const std::string reply = QueryCardModular(ctx, kModularCardNumber, address);
        Disconnect(tunnel(ctx));
        if (answered(reply)) {
            TControllerRec card = ControllerFromFixedWords(reply);
            card.CardAddress = addresses[kModularWalkNumber];
            rows.append(card, card.ControllerType + " " + std::to_string(kModularWalkNumber));
        }

        if (s.ConnectionKind == ConnectionKind::Network) {
            s.TrailingRowCount = 2;
            appendWebRows(ctx, rows, true);
        }
        finishLog(ctx);
    } catch (const std::exception& e) {
        ctx.error_box(kQueryCardsError + e.what());
    }
}

void QueryCardsBySlot(Context& ctx, const std::string& address, const CardAddressTable& addresses,
                      int count) {
    SharedState& s = ctx.state;
    const bool network = s.ConnectionKind != ConnectionKind::Serial;
    try {
        detail(ctx, "Query Cards");
        if (network) {
            set_GPIO_directions(ctx, "OUTPUT", address);
            findDevice(ctx, address);
        }
        showDeviceNumber(ctx);

        InventoryRows rows(ctx);
        rows.reset();
        for (std::size_t i = 0; i < walkLength(count); ++i) {
            const int code = addresses[i];
            const std::string reply = slotReply(ctx, address, code);
            if (!answered(reply)) continue;
            TControllerRec card = ControllerFromHwAnchoredWords(reply);
            card.CardAddress = code;
            rows.append(card);
        }

        if (network) {
            (void)QueryCardSlot(ctx, kSlotCodeAfterWalk, address);
            const auto& list = rows.device().Controllers;
            if (list.empty()) {
                // Nothing identified itself as a panel, so the module is taken to carry
                // both web images, as on every other slot device.
                ctx.log_and_show("No card found in any slot");
            }
            if (!list.empty() && isPanel(list.front().ControllerType)) {
                rows.append(trailingRow(kWebServer, "FW:" + rows.device().ModuleVersion));
            } else {
                appendWebRows(ctx, rows, false);
            }
        }
        finishLog(ctx);
    } catch (const std::exception& e) {
        ctx.error_box(kQueryCardsError + e.what());
    }
}

void AddSingleController(Context& ctx, const std::string& type, const std::string& firmware) {
    InventoryRows rows(ctx);
    // Rows of a device shown before would otherwise stay above this one.
    rows.reset();
    TControllerRec rec;
    rec.ControllerType = type;
    rec.HardwareVersion = kNotApplicable;
    rec.FirmwareVersion = firmware;
    rec.BootloaderVersion = kNotApplicable;
    rows.append(rec);
    ctx.ui.enable(UiElement::Grids, true);
    ctx.ui.enable(UiElement::Upgrade, true);
}

}  // namespace kv
