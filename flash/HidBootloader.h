#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Context.h"
#include "core/ports/Bytes.h"
#include "core/ports/HidBus.h"
#include "flash/HidState.h"

namespace kv {

// Waits of the USB HID bootloader link, each a number of (pump, wait) rounds.
constexpr auto kHidPumpRound = std::chrono::milliseconds(50);
constexpr int kHidReadyRounds = 80;   // 4 s for "(P_PRG_READY)"
constexpr int kHidResetRounds = 160;  // 8 s while the device restarts and re-enumerates
constexpr int kHidInfoRounds = 80;    // 4 s for the information reply
// The erase of the application area takes the device about a second.
constexpr auto kHidEraseRound = std::chrono::milliseconds(300);
constexpr int kHidEraseRounds = 3;
constexpr auto kHidWriteSettle = std::chrono::milliseconds(10);
// A transfer whose device stays silent this long ends as failed.
constexpr auto kHidTransferReplyWait = std::chrono::milliseconds(5000);
constexpr auto kHidTransferWaitRound = std::chrono::milliseconds(10);
// Used when a device does not tell its output report length: report ID + 64 bytes.
constexpr int kHidDefaultReportLength = 65;

// Payload codes of the coded commands (first payload byte) and of the replies.
enum HidCode : std::uint8_t {
    kHidErase = 0x04,
    kHidWriteBlock = 0x05,
    kHidEndOfTransfer = 0x06,
    kHidVerifyBlock = 0x07,
    kHidFinish = 0x08,
    kHidInformation = 0x09,
    kHidTextReply = 0x28,  // "("
};

// Creates the USB device list and the HID link state (reachable as ctx.usb) and
// registers their part of the message pump: device-change polling, input reports to
// ReadDeviceData and the transfer's silence time-out. Called once when the program starts.
void RegisterHidEvents(Context& ctx);
// The link's variables; throws KvError when RegisterHidEvents has not run.
HidState& hidState(Context& ctx);

// A text command to CurrentHidDevice ("<- " + text in the communication memo). Sends
// nothing while there is no CurrentHidDevice.
void SendHidText(Context& ctx, const std::string& text);
// Report ID 0, `count` payload bytes, the rest of the device's output report filled
// with `fill`; logged as "<- " and the whole report in hexadecimal. Sends nothing while
// there is no CurrentHidDevice.
void SendHidReport(Context& ctx, ByteView payload, std::size_t count, std::uint8_t fill);
// Input report handler: verify, information and text replies; during a transfer every
// report starts the next step.
void ReadDeviceData(Context& ctx, HidDevice& device, ByteView data);

// Double click on a row of the USB list (-1 for none): puts the device into its
// bootloader and lists its controller row.
void UsbDeviceChosen(Context& ctx, int row);
// Asks the device for its information reply and builds the controller row from it.
void QueryHidDeviceInfo(Context& ctx, const std::string& productName,
                        const std::string& serialNumber);

// True when the file's string descriptor names another product than CurrentHidDevice
// (or when there is no CurrentHidDevice). Sets HexControllerType from the file when the
// file carries a descriptor. Throws KvError when the file cannot be read.
bool CheckHidDeviceType(Context& ctx, const std::string& file);
// An upgrade's refusal of a file for another product.
inline constexpr char kHidTypeRefusal[] = "Upgrade failed: Device type missmatch\n\r";
// The refusals an upgrade of `product` would make of `file` (empty: none), found without
// the device: kvboot checks its files before the connect puts the device into its
// bootloader.
std::string HidFileRefusal(const std::string& file, const std::string& product);
// Starts the block transfer of the file into CurrentHidDevice. The file is checked
// first: one that cannot be sent whole is refused with a message and nothing is sent.
void StartHidTransfer(Context& ctx, const std::string& file);
// One step of the transfer (erase at the first, then one block), run per reply.
void HidTransferStep(Context& ctx);
// Ends a running transfer as failed, telling the operator why. HidAddress goes back to
// the block whose verification is missing, so it stays below HidEndAddress.
void StopHidTransfer(Context& ctx, const std::string& message);
// Ends a running transfer as failed when the device stayed silent for
// kHidTransferReplyWait.
void HidTransferWatch(Context& ctx);
// Pumps messages until the transfer is over (bounded by the silence time-out).
void WaitHidTransfer(Context& ctx);
// The transfer reached the end address, every block was verified and the end command
// went out.
bool HidTransferSucceeded(Context& ctx);

}  // namespace kv
