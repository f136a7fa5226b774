#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "core/ports/ChannelError.h"
#include "discovery/UsbState.h"
#include "firmware/HexFile.h"
#include "firmware/HexRecord.h"
#include "flash/HidBootloader.h"
#include "flash/HidHexBlocks.h"

namespace kv {

namespace {

std::vector<std::string> readLines(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw KvError("Cannot open file " + file);
    std::vector<std::string> lines;
    for (std::string line; ReadHexLine(in, line);) lines.push_back(line);
    return lines;
}

std::string firstRowType(Context& ctx) {
    const auto* controllers = ctx.state.selectedControllers();
    return controllers && !controllers->empty() ? controllers->front().ControllerType : "";
}

void runStep(Context& ctx) {
    try {
        HidTransferStep(ctx);
    } catch (const std::exception& e) {
        StopHidTransfer(ctx, e.what());
    }
}

}  // namespace

bool CheckHidDeviceType(Context& ctx, const std::string& file) {
    std::optional<std::string> name = HidDescriptorName(HidDescriptorBytes(readLines(file)));
    if (name) ctx.state.HexControllerType = *name;
    const ClaimedHid* current = ctx.usb ? ctx.usb->current() : nullptr;
    if (!current) return true;
    return ctx.state.HexControllerType != current->info.product;
}

std::string HidFileRefusal(const std::string& file, const std::string& product) {
    if (!HexFileSound(file)) return kInvalidChecksumRefusal;
    if (HidDescriptorName(HidDescriptorBytes(readLines(file))) != product) return kHidTypeRefusal;
    return {};
}

void StartHidTransfer(Context& ctx, const std::string& file) {
    HidState& h = hidState(ctx);
    // Whatever happens below, a refused transfer must not look like a finished one.
    h.HidTransferRunning = false;
    h.HidTransferCompleted = false;
    h.HidVerifyFailed = false;
    h.HidVerifyAwaited = false;
    h.HidAddress = h.HidStartAddress;
    if (!ctx.usb->CurrentHidDevice) {
        ctx.message_box("The USB device is not connected.");
        return;
    }
    ctx.set_progress(0, h.HidEndAddress - h.HidStartAddress);
    try {
        h.HidHexFile = HidBlocksFromHex(readLines(file), h.HidStartLine,
                                        HidBlockCount(h.HidStartAddress, h.HidEndAddress));
    } catch (const KvError& e) {
        ctx.log_and_show(e.what());
        ctx.message_box(e.what());
        return;
    }
    h.HidNextBlock = 0;
    h.HidTransferRunning = true;
    h.HidBlockCounter = 1;
    h.HidLastReport = ctx.clock.now();
    runStep(ctx);
}

void HidTransferStep(Context& ctx) {
    HidState& h = hidState(ctx);
    const std::string type = firstRowType(ctx);
    ctx.show_status("Erasing " + type + "...");
    if (h.HidBlockCounter == 1) {
        const std::uint8_t erase[] = {kHidErase};
        ctx.report_progress(ProgressPhase::Erasing);
        ctx.journal_change(DeviceChange::Erase);
        SendHidReport(ctx, erase, 1, 0x00);
        for (int i = 0; i < kHidEraseRounds; ++i) {
            ctx.sleep(kHidEraseRound);
            ctx.ProcessMessages();
        }
        if (!h.HidTransferRunning) return;
        ++h.HidBlockCounter;
    }
    ctx.show_status("Program/Verify " + type + "...");

    if (h.HidAddress >= h.HidEndAddress) {
        h.HidHexFile.clear();
        ctx.show_status("Done " + type + "...");
        const std::uint8_t end[] = {kHidEndOfTransfer};
        SendHidReport(ctx, end, 1, 0x00);
        h.HidTransferRunning = false;
        h.HidTransferCompleted = !h.HidVerifyFailed;
        return;
    }

    if (h.HidNextBlock >= h.HidHexFile.size()) {
        throw KvError("Invalid firmware file: it ends before the end address");
    }
    const HidBlock& block = h.HidHexFile[h.HidNextBlock++];
    h.HidCommand.fill(0);
    h.HidCommand[0] = kHidWriteBlock;
    h.HidCommand[1] = block.addressLow;
    h.HidCommand[2] = block.addressHigh;
    h.HidCommand[5] = static_cast<std::uint8_t>(block.data.size());
    std::copy(block.data.begin(), block.data.end(), h.HidCommand.begin() + 32);
    SendHidReport(ctx, h.HidCommand, h.HidCommand.size(), 0xFF);

    ctx.sleep(kHidWriteSettle);
    ctx.ProcessMessages();
    if (!h.HidTransferRunning) return;

    // Same address and length: the device answers with what it now holds there.
    h.HidCommand[0] = kHidVerifyBlock;
    h.HidVerifyAwaited = true;
    h.HidLastReport = ctx.clock.now();
    SendHidReport(ctx, h.HidCommand, 6, 0x00);
    h.HidAddress += 32;
    const int maximum = h.HidEndAddress - h.HidStartAddress;
    const int done = std::min(h.HidAddress - h.HidStartAddress, maximum);
    ctx.set_progress(done, maximum);
    ctx.report_progress(ProgressPhase::Programming, static_cast<std::uint64_t>(std::max(done, 0)),
                        static_cast<std::uint64_t>(std::max(maximum, 0)));
}

void HidTransferWatch(Context& ctx) {
    if (!ctx.usb || !ctx.usb->hid) return;
    HidState& h = *ctx.usb->hid;
    if (h.HidTransferRunning && ctx.clock.now() - h.HidLastReport >= kHidTransferReplyWait) {
        StopHidTransfer(ctx, "The device does not answer, transfer stopped at block: " +
                                 std::to_string(h.HidBlockCounter));
    }
}

void WaitHidTransfer(Context& ctx) {
    HidState& h = hidState(ctx);
    while (h.HidTransferRunning) {
        ctx.ProcessMessages();
        // An interrupt stops the transfer after the block in flight.
        if (ctx.interruptRequested()) StopHidTransfer(ctx, "Interrupted by the operator");
        HidTransferWatch(ctx);
        if (h.HidTransferRunning) ctx.sleep(kHidTransferWaitRound);
    }
}

bool HidTransferSucceeded(Context& ctx) {
    const HidState& h = hidState(ctx);
    return h.HidTransferCompleted && !h.HidVerifyFailed && h.HidAddress >= h.HidEndAddress;
}

}  // namespace kv
