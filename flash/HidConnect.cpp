#include <optional>
#include <string>
#include <vector>

#include "core/ControllerGrid.h"
#include "core/ports/ChannelError.h"
#include "device/InventoryWords.h"
#include "discovery/UsbState.h"
#include "firmware/Util.h"
#include "flash/HidBootloader.h"

namespace kv {

namespace {

constexpr char kUpgradeModeQuestion[] =
    "The device will go to firmware upgrade mode!\r\n"
    "It will remain in this mode until a proper firmware is uploaded to the memory!\r\n"
    "Make sure your connection is stable, and you have the proper binary file!\r\n"
    "Do you want to establish connenction with the device?";
constexpr char kUsbAddressText[] = "USB connection";

// The claimed entry behind a USB list row (its hidden index).
ClaimedHid& claimedForRow(Context& ctx, int row) {
    const auto& rows = ctx.state.usbRows;
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) {
        throw KvError("No USB device selected");
    }
    const std::string& index = rows[static_cast<std::size_t>(row)].index;
    std::size_t k = 0;
    try {
        k = static_cast<std::size_t>(std::stoul(index));
    } catch (const std::exception&) {
        throw KvError("No USB device selected");
    }
    auto& claimed = ctx.usb->claimed;
    if (k >= claimed.size() || !claimed[k].device) throw KvError("No USB device selected");
    return claimed[k];
}

// After the restart the list has been rebuilt and rows may have moved: the device is
// looked up by its name first, so that another maker device is never taken in its place.
ClaimedHid& claimedAgain(Context& ctx, const std::string& name, int row) {
    for (auto& c : ctx.usb->claimed)
        if (c.name == name && c.device) return c;
    return claimedForRow(ctx, row);
}

bool pumpUntil(Context& ctx, int rounds, const bool& flag) {
    for (int i = 0; i < rounds && !flag; ++i) {
        ctx.ProcessMessages();
        ctx.sleep(kHidPumpRound);
    }
    return flag;
}

}  // namespace

void UsbDeviceChosen(Context& ctx, int row) {
    if (ctx.ask(QuestionId::UsbUpgradeMode, kUpgradeModeQuestion, DialogKind::Confirmation,
                {MsgButton::Yes, MsgButton::No},
                static_cast<int>(MsgButton::No)) != MsgButton::Yes) {
        return;
    }
    try {
        ctx.state.ConnectionKind = ConnectionKind::Usb;
        ctx.state.CardQueryCount = 1;
        if (ctx.ports.ComPort1 && ctx.ports.ComPort1->isOpen()) ctx.ports.ComPort1->close();
        if (ctx.ports.TcpClient1) ctx.ports.TcpClient1->disconnect();

        HidState& h = hidState(ctx);
        ClaimedHid& clicked = claimedForRow(ctx, row);
        ctx.usb->CurrentHidDevice = clicked.device.get();
        // Copies: the pumps below may rebuild the claimed list.
        const std::string name = clicked.name;
        ctx.state.properties = {clicked.info.product, clicked.info.serial, kUsbAddressText,
                                kUsbAddressText};
        ctx.showDeviceProperties();

        h.HidStartAddress = kHidStartAddress;
        h.HidEndAddress = kHidEndAddress;
        h.HidStartLine = kHidStartLine;

        h.HidReadySeen = false;
        ctx.journal_change(DeviceKey{ConnectionKind::Usb, clicked.info.serial, {}},
                           DeviceChange::UsbBootloader);
        SendHidText(ctx, "{P_PRGRQST}");
        if (!pumpUntil(ctx, kHidReadyRounds, h.HidReadySeen)) {
            ctx.message_box("Can not enter bootload mode");
            return;
        }

        SendHidText(ctx, "{P_PRGRESET}");
        // The device restarts into its bootloader and announces itself again meanwhile.
        for (int i = 0; i < kHidResetRounds; ++i) {
            ctx.ProcessMessages();
            ctx.sleep(kHidPumpRound);
        }

        ClaimedHid& again = claimedAgain(ctx, name, row);
        ctx.usb->CurrentHidDevice = again.device.get();
        const std::string product = again.info.product;
        const std::string serial = again.info.serial;
        QueryHidDeviceInfo(ctx, product, serial);
        ctx.ui.enable(UiElement::Grids, true);
        ctx.ui.enable(UiElement::Upgrade, true);
    } catch (const std::exception&) {
        ctx.message_box("Please select a device");
    }
}

void QueryHidDeviceInfo(Context& ctx, const std::string& productName,
                        const std::string& serialNumber) {
    try {
        HidState& h = hidState(ctx);
        h.HidTransferRunning = false;
        if (ctx.detail()) ctx.log_and_show("Query Cards");

        std::optional<std::size_t> index;
        const auto& list = ctx.state.DeviceList;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].Ident == productName && list[i].Serial == serialNumber) index = i;
        }
        // Without its own entry the rows would land in another device's list.
        if (!index) throw KvError("The device " + productName + " is not in the device list");
        ctx.state.SelectedDevice = static_cast<std::int32_t>(*index);
        if (ctx.detail()) {
            ctx.log_line("dev_num: " + std::to_string(*index));
            ctx.ui.memoLine("Device number: " + std::to_string(*index));
        }

        GridReset(ctx);
        ctx.state.DeviceList[*index].Controllers.clear();

        h.HidInfoReceived = false;
        const std::uint8_t request[] = {kHidInformation};
        SendHidReport(ctx, request, 1, 0x00);
        if (!pumpUntil(ctx, kHidInfoRounds, h.HidInfoReceived)) h.HidVersionReply = "NO VALID DATA";
        const std::string text = h.HidVersionReply;

        if (text != "No card found") {
            TControllerRec rec = ControllerFromHwAnchoredWords(text);
            rec.CardAddress = ctx.state.CardAddresses[0];
            // The pumps may have shifted the list (removals): look the entry up again.
            TMatrixRec* device = ctx.state.selectedDevice();
            if (!device) throw KvError("The device " + productName + " is not in the device list");
            device->Controllers.push_back(rec);
            ctx.state.setGridRow(0, rec);
            ctx.showControllerGrid();
            ctx.log_line("Controller type: " + rec.ControllerType + "  HW: " + rec.HardwareVersion +
                         "  Bootloader: " + rec.BootloaderVersion + "  FW: " + rec.FirmwareVersion);
        }
        ctx.log_line(std::string(54, '-'));
        ctx.log_line("");
    } catch (const std::exception& e) {
        ctx.error_box(std::string("Error in Query Cards:\r") + e.what());
    }
}

}  // namespace kv
