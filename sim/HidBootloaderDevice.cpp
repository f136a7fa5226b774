#include "HidBootloaderDevice.h"

#include <algorithm>

namespace kv::sim {

namespace {

constexpr std::uint8_t kErase = 0x04;
constexpr std::uint8_t kWriteBlock = 0x05;
constexpr std::uint8_t kEndOfTransfer = 0x06;
constexpr std::uint8_t kVerifyBlock = 0x07;
constexpr std::uint8_t kFinish = 0x08;
constexpr std::uint8_t kInformation = 0x09;
constexpr std::size_t kBlockSize = 32;
constexpr std::size_t kBlockDataOffset = 32;  // in the payload, after the 6-byte header

}  // namespace

HidBootloaderDevice::HidBootloaderDevice(std::string product, std::string serial,
                                         std::string manufacturer)
    : manufacturer_(std::move(manufacturer)),
      product_(std::move(product)),
      serial_(std::move(serial)) {
    // The old application: all zero, so a block written without an erase reads back wrong
    // (flash cells only go from 1 to 0 when programmed).
    memory_.fill(0x00);
}

bool HidBootloaderDevice::takeResetRequest() {
    bool requested = resetRequested_;
    resetRequested_ = false;
    return requested;
}

bool HidBootloaderDevice::silent() const {
    return faults.silentAfterVerifies && counters.verifyReplies >= *faults.silentAfterVerifies;
}

Bytes HidBootloaderDevice::reply(std::uint8_t code, ByteView body) const {
    Bytes out(kInputReportSize, 0x00);
    out[0] = code;
    std::copy_n(body.begin(), std::min(body.size(), out.size() - 1), out.begin() + 1);
    return out;
}

Bytes HidBootloaderDevice::textReply(const std::string& text) const {
    Bytes out(kInputReportSize, 0x00);
    std::copy_n(text.begin(), std::min(text.size(), out.size()), out.begin());
    return out;
}

std::vector<Bytes> HidBootloaderDevice::receive(ByteView report) {
    if (report.size() < 2) return {};
    ByteView payload = report.subspan(1);
    if (payload[0] == '{') {
        std::string text;
        for (std::uint8_t b : payload) {
            if (b == 0) break;
            text.push_back(static_cast<char>(b));
        }
        return textCommand(text);
    }
    return codedCommand(payload);
}

std::vector<Bytes> HidBootloaderDevice::textCommand(const std::string& text) {
    ++counters.textCommands;
    if (text == "{P_PRGRQST}") {
        ++counters.readyReplies;
        if (faults.neverReady || silent()) return {};
        return {textReply(readyText)};
    }
    if (text == "{P_PRGRESET}") {
        ++counters.resets;
        mode_ = Mode::Bootloader;
        resetRequested_ = true;
        return {};
    }
    ++counters.ignored;
    return {};
}

std::vector<Bytes> HidBootloaderDevice::codedCommand(ByteView payload) {
    const std::uint8_t code = payload[0];
    if (code == kInformation) {
        ++counters.infoRequests;
        if (faults.noInformation || silent()) return {};
        return {reply(kInformation, toBytes(infoText))};
    }
    if (mode_ != Mode::Bootloader) {
        ++counters.ignored;
        return {};
    }
    const std::size_t address =
        payload.size() > 2 ? payload[1] | static_cast<std::size_t>(payload[2]) << 8 : 0;
    switch (code) {
        case kErase:
            ++counters.erases;
            std::fill(memory_.begin() + kApplicationStart, memory_.end(), 0xFF);
            return {};
        case kWriteBlock: {
            const int number = counters.blocksWritten++;
            if (payload.size() < kBlockDataOffset + kBlockSize || payload[5] != kBlockSize ||
                address < kApplicationStart || address + kBlockSize > kMemorySize) {
                ++counters.ignored;
                return {};
            }
            for (std::size_t i = 0; i < kBlockSize; ++i) {
                memory_[address + i] &= payload[kBlockDataOffset + i];
            }
            if (faults.corruptBlock && *faults.corruptBlock == number) {
                memory_[address + kBlockSize - 1] ^= 0x5A;
            }
            if (faults.echoWrites && !silent()) return {reply(kWriteBlock, payload.subspan(1, 5))};
            return {};
        }
        case kVerifyBlock: {
            const int number = counters.verifyRequests++;
            if (silent()) return {};
            if (faults.strayInsteadOfVerify && *faults.strayInsteadOfVerify == number) {
                return {textReply("(P_BUSY)")};
            }
            ++counters.verifyReplies;
            Bytes out(kInputReportSize, 0x00);
            out[0] = kVerifyBlock;
            std::copy_n(payload.begin() + 1, std::min<std::size_t>(5, payload.size() - 1),
                        out.begin() + 1);
            if (address + kBlockSize <= kMemorySize) {
                std::copy_n(memory_.begin() + static_cast<std::ptrdiff_t>(address), kBlockSize,
                            out.begin() + kBlockDataOffset);
            }
            return {out};
        }
        case kEndOfTransfer:
            ++counters.endCommands;
            return {};
        case kFinish:
            ++counters.finishCommands;
            return {};
        default:
            ++counters.ignored;
            return {};
    }
}

}  // namespace kv::sim
