#include <algorithm>
#include <cstdio>
#include <memory>

#include "core/ports/ChannelError.h"
#include "discovery/UsbDeviceList.h"
#include "discovery/UsbState.h"
#include "flash/HidBootloader.h"

namespace kv {

namespace {

std::string hexDump(ByteView bytes, const char* format) {
    std::string text;
    char digits[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, format, b);
        text += digits;
        text += ' ';
    }
    return text;
}

// Text from `from` up to the first 00 byte (or the end of the report).
std::string textUntilZero(ByteView data, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < data.size() && data[i] != 0; ++i) {
        text.push_back(static_cast<char>(data[i]));
    }
    return text;
}

// Report length L of the device, with room for at least the report ID and one byte.
std::size_t reportLength(HidDevice& device) {
    int length = device.outputReportLength();
    return static_cast<std::size_t>(length < 2 ? kHidDefaultReportLength : length);
}

HidDevice* currentDevice(Context& ctx) {
    return ctx.usb ? ctx.usb->CurrentHidDevice : nullptr;
}

}  // namespace

void RegisterHidEvents(Context& ctx) {
    if (ctx.usb) return;
    auto usb = std::make_shared<UsbState>();
    usb->hid = std::make_shared<HidState>();
    usb->inputReport = [](Context& c, HidDevice& device, ByteView data) {
        ReadDeviceData(c, device, data);
    };
    ctx.usb = usb.get();
    // The source owns the state, so it lives exactly as long as the context.
    ctx.addEventSource([&ctx, usb] {
        HidCtlPoll(ctx);
        HidTransferWatch(ctx);
    });
}

HidState& hidState(Context& ctx) {
    if (!ctx.usb || !ctx.usb->hid) throw KvError("The USB device list is not set up.");
    return *ctx.usb->hid;
}

void SendHidText(Context& ctx, const std::string& text) {
    HidDevice* device = currentDevice(ctx);
    if (!device) return;
    Bytes report(reportLength(*device), 0x00);
    std::copy_n(text.begin(), std::min(text.size(), report.size() - 1), report.begin() + 1);
    device->writeReport(report);
    ctx.ui.memoLine("<- " + text);
}

void SendHidReport(Context& ctx, ByteView payload, std::size_t count, std::uint8_t fill) {
    HidDevice* device = currentDevice(ctx);
    if (!device) return;
    Bytes report(reportLength(*device), fill);
    report[0] = 0x00;
    std::size_t n = std::min({count, payload.size(), report.size() - 1});
    std::copy_n(payload.begin(), n, report.begin() + 1);
    device->writeReport(report);
    ctx.log_and_show("<- " + hexDump(report, "%02X"));
}

void ReadDeviceData(Context& ctx, HidDevice& /*device*/, ByteView data) {
    HidState& h = hidState(ctx);
    h.HidReceived.assign(data.begin(), data.end());
    std::string dump = hexDump(data, "%02x");
    const std::uint8_t code = data.empty() ? 0 : data[0];

    bool newlyFailed = false;
    if (code == kHidVerifyBlock) {
        // Bytes 32 to 63 hold the flash read back; a short report cannot confirm them.
        for (std::size_t i = 32; i < h.HidCommand.size(); ++i) {
            if (i >= data.size() || data[i] != h.HidCommand[i]) {
                newlyFailed = !h.HidVerifyFailed;
                h.HidVerifyFailed = true;
                break;
            }
        }
        dump += h.HidVerifyFailed ? " FAIL " : " OK";
    }
    if (code == kHidInformation) {
        h.HidVersionReply = textUntilZero(data, 1);
        h.HidInfoReceived = true;
    }
    ctx.log_and_show("-> " + dump);

    // The failed flag stays set until the next transfer; the operator is told once.
    if (newlyFailed) {
        StopHidTransfer(ctx, "Device Verify failed at block: " + std::to_string(h.HidBlockCounter));
    }

    if (code == kHidTextReply) {
        std::string text = textUntilZero(data, 0);
        ctx.log_and_show("-> " + text);
        if (text.find("(P_PRG_READY)") != std::string::npos) h.HidReadySeen = true;
    }

    // Only the verify reply the transfer waits for moves it on; any other report leaves the
    // block unconfirmed, and the silence time-out fails the transfer.
    if (h.HidTransferRunning && h.HidVerifyAwaited && code == kHidVerifyBlock) {
        h.HidVerifyAwaited = false;
        h.HidLastReport = ctx.clock.now();
        ++h.HidBlockCounter;
        try {
            HidTransferStep(ctx);
        } catch (const std::exception& e) {
            StopHidTransfer(ctx, e.what());
        }
    }
}

void StopHidTransfer(Context& ctx, const std::string& message) {
    HidState& h = hidState(ctx);
    if (h.HidTransferRunning && h.HidAddress > h.HidStartAddress) h.HidAddress -= 32;
    h.HidTransferRunning = false;
    h.HidTransferCompleted = false;
    h.HidVerifyAwaited = false;
    h.HidHexFile.clear();
    h.HidNextBlock = 0;
    ctx.log_line(message);
    ctx.fail_row(message);
    ctx.message_box(message);
}

}  // namespace kv
