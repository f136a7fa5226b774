// Input reports from a USB device in its bootloader, idle or in the middle of a block
// transfer: whatever the device sends, only the awaited verify reply moves the transfer
// on, a verify reply that does not return the block fails it, and texts stay inside the
// report.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzRig.h"
#include "discovery/UsbState.h"
#include "flash/HidBootloader.h"

namespace {

using kv::Bytes;
using kv::ByteView;

// The device's side of the link: reports written to it are counted, none come back.
class QuietDevice : public kv::HidDevice {
  public:
    int outputReportLength() const override { return kv::kHidDefaultReportLength; }
    void writeReport(ByteView) override { ++written; }
    std::optional<Bytes> readReport() override { return std::nullopt; }
    int written = 0;
};

QuietDevice& device() {
    static QuietDevice* made = [] {
        auto& rig = kv::fuzz::sharedRig();
        kv::RegisterHidEvents(rig.ctx);
        auto* d = new QuietDevice;
        rig.ctx.usb->CurrentHidDevice = d;
        return d;
    }();
    return *made;
}

// Bytes the device must send back in a verify reply: the block as it was written.
std::uint8_t blockByte(std::size_t block, std::size_t i) {
    return static_cast<std::uint8_t>(0x40 + 16 * block + i % 4);
}

// The transfer as it stands before the device's reports arrive. Flags come from `mode`.
void prepare(kv::HidState& h, std::uint8_t mode) {
    h.HidStartAddress = kv::kHidStartAddress;
    h.HidEndAddress = kv::kHidEndAddress;
    h.HidTransferRunning = (mode & 1) != 0;
    h.HidVerifyAwaited = h.HidTransferRunning && (mode & 2) != 0;
    h.HidVerifyFailed = false;
    h.HidTransferCompleted = false;
    h.HidReadySeen = false;
    h.HidInfoReceived = false;
    h.HidVersionReply.clear();
    h.HidReceived.clear();
    // Counter 1 is the erase step; later ones send blocks.
    h.HidBlockCounter = (mode & 4) != 0 ? 0 : 5;
    // Two blocks before the end address, one more in the file than needed.
    h.HidAddress = h.HidEndAddress - 64;
    h.HidHexFile.assign(3, kv::HidBlock{});
    for (std::size_t b = 0; b < h.HidHexFile.size(); ++b) {
        for (std::size_t i = 0; i < 32; ++i) h.HidHexFile[b].data[i] = blockByte(b + 1, i);
    }
    h.HidNextBlock = 0;
    // The block last written, as the device should return it.
    h.HidCommand.fill(0);
    h.HidCommand[0] = kv::kHidVerifyBlock;
    for (std::size_t i = 0; i < 32; ++i) h.HidCommand[32 + i] = blockByte(0, i);
}

struct Before {
    bool running, awaited, failed, ready;
    int counter;
    std::string version;
    std::array<std::uint8_t, 64> command;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QuietDevice& quiet = device();
    const kv::fuzz::FreshRun run;
    auto& rig = run.rig;
    kv::HidState& h = kv::hidState(rig.ctx);
    prepare(h, size > 0 ? data[0] : 0);
    int verifyFailures = 0;

    // The reports: a length byte, then the report.
    std::size_t i = 1;
    while (i < size) {
        const std::size_t length = std::min<std::size_t>(data[i], size - i - 1);
        const Bytes report(data + i + 1, data + i + 1 + length);
        i += 1 + length;

        const Before before{h.HidTransferRunning, h.HidVerifyAwaited, h.HidVerifyFailed,
                            h.HidReadySeen,       h.HidBlockCounter,  h.HidVersionReply,
                            h.HidCommand};
        const std::uint8_t code = report.empty() ? 0 : report[0];
        const auto dialogs = rig.ui.dialogs.size();
        kv::ReadDeviceData(rig.ctx, quiet, report);

        FUZZ_CHECK(h.HidReceived == report);
        // The information reply's text: the report's bytes after the code, up to a zero.
        if (code == kv::kHidInformation) {
            FUZZ_CHECK(h.HidInfoReceived);
            FUZZ_CHECK(h.HidVersionReply.size() < report.size());
            FUZZ_CHECK(h.HidVersionReply.find('\0') == std::string::npos);
            FUZZ_CHECK(h.HidVersionReply ==
                       std::string(report.begin() + 1,
                                   report.begin() + 1 +
                                       static_cast<std::ptrdiff_t>(h.HidVersionReply.size())));
        } else {
            FUZZ_CHECK(h.HidVersionReply == before.version);
        }
        // Ready only from a text reply that says so.
        if (h.HidReadySeen && !before.ready) {
            const std::string text(report.begin(), report.end());
            FUZZ_CHECK(code == kv::kHidTextReply &&
                       text.substr(0, text.find('\0')).find("(P_PRG_READY)") != std::string::npos);
        }
        // A verify reply fails exactly when it does not return the block's 32 bytes.
        bool failedNow = false;
        if (code == kv::kHidVerifyBlock) {
            bool same = report.size() >= 64;
            for (std::size_t k = 32; same && k < 64; ++k) same = report[k] == before.command[k];
            FUZZ_CHECK(h.HidVerifyFailed == (before.failed || !same));
            if (!same && !before.failed) {
                failedNow = true;
                ++verifyFailures;
                FUZZ_CHECK(!h.HidTransferRunning);
            }
        } else {
            FUZZ_CHECK(h.HidVerifyFailed == before.failed);
        }
        // Only the awaited verify reply that confirms its block moves the transfer on, one
        // step at a time (two when the step is the erase).
        const bool moves =
            before.running && before.awaited && code == kv::kHidVerifyBlock && !failedNow;
        if (!moves) {
            FUZZ_CHECK(h.HidBlockCounter == before.counter);
            if (!before.running) FUZZ_CHECK(!h.HidTransferRunning);
            if (code != kv::kHidVerifyBlock) FUZZ_CHECK(rig.ui.dialogs.size() == dialogs);
        } else {
            FUZZ_CHECK(h.HidBlockCounter == before.counter + 1 ||
                       (before.counter == 0 && h.HidBlockCounter == 2));
        }
        FUZZ_CHECK(h.HidAddress >= h.HidStartAddress && h.HidAddress <= h.HidEndAddress);
        FUZZ_CHECK(h.HidNextBlock <= h.HidHexFile.size() || h.HidHexFile.empty());
        // Complete only with every block verified, and then no longer running.
        if (h.HidTransferCompleted) FUZZ_CHECK(!h.HidVerifyFailed && !h.HidTransferRunning);
        FUZZ_CHECK(!h.HidVerifyAwaited || h.HidTransferRunning);
    }
    // The operator hears of a failed verify once.
    FUZZ_CHECK(verifyFailures <= 1);
    // The link is left idle for the next input.
    h.HidTransferRunning = false;
    h.HidVerifyAwaited = false;
    return 0;
}
