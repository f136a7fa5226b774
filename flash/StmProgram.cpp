#include "flash/StmProgram.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <variant>

#include "core/ports/ChannelError.h"
#include "flash/StmFrames.h"
#include "flash/StmHexSource.h"
#include "flash/StmImage.h"
#include "flash/StmLink.h"

namespace kv {

namespace {

// The tunnel delivers a read-back in pieces; each may take this long to show up.
constexpr auto kTunnelChunkPoll = std::chrono::milliseconds(5);
constexpr int kTunnelChunkPolls = 200;

const std::string kNoResponse = "There is no response from the bootloader.";

// The transfer steps of one block and what each says when it goes wrong, per transport.
struct TransferStep {
    const char* noReply;
    const char* comRefused;
    const char* tunnelRefused;
};
enum Step { kWriteCommand, kWriteAddress, kWriteData, kReadCommand, kReadAddress, kReadData };
constexpr std::array<TransferStep, kStmTransferSteps> kSteps{{
    {"No response received.", "NACK received:write memory", "NACK received. 1"},
    {"No response received:write address", "NACK received:write address", "NACK received. 2"},
    {"No response received: write data", "NACK received: write data", "NACK received. 3"},
    {"No response received: read memory", "NACK received: read memory", "NACK received.4"},
    {"No response received: read address", "NACK received: read address", "NACK received.5"},
    {"No response received: read data", "NACK received: read data", "NACK received. 6"},
}};
const std::string kVerifyError = "Verify error";

bool onTunnel(const Context& ctx) {
    return ctx.state.ConnectionKind == ConnectionKind::Network;
}

std::string refusal(const Context& ctx, Step step) {
    return onTunnel(ctx) ? kSteps[step].tunnelRefused : kSteps[step].comRefused;
}

std::size_t rxCount(const Context& ctx) {
    return ctx.state.RxCount > 0 ? static_cast<std::size_t>(ctx.state.RxCount) : 0;
}

// Waits for the next piece of a reply: true when RxBuffer holds at least one byte.
bool awaitReply(Context& ctx, std::size_t wanted, std::chrono::milliseconds poll, int polls) {
    for (int i = 0; i < polls; ++i) {
        StmWaitRx(ctx, wanted, poll);
        if (rxCount(ctx) > 0) return true;
    }
    return false;
}

// Sends one part of a request and requires the chip's ACK; the failure text otherwise.
std::optional<std::string> sendExpectAck(Context& ctx, ByteView bytes, Step step) {
    StmClearRx(ctx);
    StmSend(ctx, bytes);
    if (!awaitReply(ctx, 1, kStmAckPoll, kStmAckPolls)) return kSteps[step].noReply;
    if (ctx.state.RxBuffer[0] != kStmAck) return refusal(ctx, step);
    return std::nullopt;
}

// Asks for the block's bytes back: the bytes after the ACK, or the failure text.
std::variant<Bytes, std::string> readBlock(Context& ctx, std::size_t size) {
    const std::size_t total = size + 1;  // the ACK and the data
    const auto poll = onTunnel(ctx) ? kTunnelChunkPoll : kStmAckPoll;
    const int polls = onTunnel(ctx) ? kTunnelChunkPolls : kStmAckPolls;
    Bytes collected;
    collected.reserve(total);
    StmClearRx(ctx);
    StmSend(ctx, StmReadRequest(size));
    while (collected.size() < total) {
        if (!awaitReply(ctx, total - collected.size(), poll, polls)) break;
        const std::size_t take = std::min(rxCount(ctx), total - collected.size());
        collected.insert(collected.end(), ctx.state.RxBuffer.begin(),
                         ctx.state.RxBuffer.begin() + static_cast<std::ptrdiff_t>(take));
        ctx.state.RxCount = 0;
        // A refusal is a single byte; nothing else will follow it.
        if (collected.front() != kStmAck) break;
    }
    if (collected.empty()) return kSteps[kReadData].noReply;
    if (collected.front() != kStmAck) return refusal(ctx, kReadData);
    if (collected.size() < total && !onTunnel(ctx)) return kSteps[kReadData].noReply;
    return Bytes(collected.begin() + 1, collected.end());
}

// Asks for the block back and compares it; the failure text otherwise.
std::optional<std::string> readBack(Context& ctx, const StmBlock& block) {
    auto reply = readBlock(ctx, block.data.size());
    if (auto* failure = std::get_if<std::string>(&reply)) return *failure;
    if (std::get<Bytes>(reply) != block.data) return kVerifyError;
    return std::nullopt;
}

// What the flash holds where a block failed to go: its data, still erased, or other data.
enum class BlockState { Written, Erased, Other, Unknown };

BlockState readBlockState(Context& ctx, const StmBlock& block, const Bytes& address) {
    if (sendExpectAck(ctx, StmCommandFrame(kStmReadMemory), kReadCommand)) {
        return BlockState::Unknown;
    }
    if (sendExpectAck(ctx, address, kReadAddress)) return BlockState::Unknown;
    auto reply = readBlock(ctx, block.data.size());
    const Bytes* held = std::get_if<Bytes>(&reply);
    if (!held || held->size() != block.data.size()) return BlockState::Unknown;
    if (*held == block.data) return BlockState::Written;
    if (std::all_of(held->begin(), held->end(), [](std::uint8_t b) { return b == 0xFF; })) {
        return BlockState::Erased;
    }
    return BlockState::Other;
}

// dataSent tells whether the data frame went out, so that the write may have landed.
std::optional<std::string> transfer(Context& ctx, const StmBlock& block, const Bytes& address,
                                    const Bytes& dataFrame, bool& dataSent) {
    dataSent = false;
    if (auto failure = sendExpectAck(ctx, StmCommandFrame(kStmWriteMemory), kWriteCommand)) {
        return failure;
    }
    if (auto failure = sendExpectAck(ctx, address, kWriteAddress)) return failure;
    dataSent = true;
    if (auto failure = sendExpectAck(ctx, dataFrame, kWriteData)) return failure;
    if (auto failure = sendExpectAck(ctx, StmCommandFrame(kStmReadMemory), kReadCommand)) {
        return failure;
    }
    if (auto failure = sendExpectAck(ctx, address, kReadAddress)) return failure;
    return readBack(ctx, block);
}

void writeBlock(Context& ctx, const StmBlock& block) {
    const Bytes address = StmAddressFrame(block.address);
    const std::string digits = StmHex(ByteView(address.data(), 4));
    ctx.log_and_show("Write 0x" + digits);
    const Bytes dataFrame = StmDataFrame(block.data);
    bool dataSent = false;
    for (int attempt = 1; attempt <= kStmBlockAttempts; ++attempt) {
        if (dataSent) {
            // The flash takes a half-word only from the erased state: a write that landed
            // but whose answer or read-back was lost cannot be written again. Look first.
            const BlockState state = readBlockState(ctx, block, address);
            if (state == BlockState::Written) return;
            if (state == BlockState::Other) {
                ctx.log_and_show("Flash at 0x" + digits + " holds other data and is not erased.");
                break;
            }
        }
        auto failure = transfer(ctx, block, address, dataFrame, dataSent);
        if (!failure) return;
        ctx.log_and_show(*failure);
        ctx.ProcessMessages();
    }
    throw KvError("Writing " + digits + " has failed.");
}

void checkBootloader(Context& ctx) {
    if (!StmCommand(ctx, kStmGetVersion, kStmVersionReplyLength) ||
        ctx.state.RxBuffer[0] != kStmAck || rxCount(ctx) < 2) {
        throw KvError(kNoResponse);
    }
    const std::uint8_t version = ctx.state.RxBuffer[1];
    ctx.log_and_show("Bootloader version: " + StmVersionText(version));
    if (version < kStmCurrentVersion) {
        ctx.log_and_show("WARNING: The hw bootloader version is deprecated...");
    }

    if (!StmCommand(ctx, kStmGetId, kStmIdReplyLength) || ctx.state.RxBuffer[0] != kStmAck ||
        rxCount(ctx) < 4) {
        throw KvError(kNoResponse);
    }
    if (!StmChipAccepted(ctx.state.rxBytes())) throw KvError("Illegal device ID");
    ctx.log_and_show("STM32F10x found");
}

void eraseFlash(Context& ctx) {
    ctx.log_and_show("Erasing memory...");
    ctx.journal_change(DeviceChange::Erase);
    if (!StmCommand(ctx, kStmErase) || ctx.state.RxBuffer[0] != kStmAck) {
        throw KvError(kNoResponse);
    }
    if (!StmCommand(ctx, kStmEraseAll) || ctx.state.RxBuffer[0] != kStmAck) {
        throw KvError(kNoResponse);
    }
    ctx.log_and_show("Flash memory has been erased.");
}

std::string firstControllerType(Context& ctx) {
    const auto* controllers = ctx.state.selectedControllers();
    return controllers && !controllers->empty() ? controllers->front().ControllerType : "";
}

void run(Context& ctx, const HexReaderState& reader, const std::string& fileName) {
    // The file is opened before anything is erased: a missing file must not leave the
    // CPU with an empty flash.
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw KvError("Cannot open file " + fileName);

    // The whole file is read before anything is erased: a broken line must not leave the
    // CPU with an empty flash, and blocks are cut from the data as one image.
    StmImage image = StmImage::read(in);
    in.clear();
    in.seekg(0);

    checkBootloader(ctx);
    ctx.report_progress(ProgressPhase::Erasing);
    eraseFlash(ctx);
    const std::uint64_t total = image.wordCount() * StmImage::kWord;
    std::uint64_t done = 0;
    ctx.report_progress(ProgressPhase::Programming, done, total);

    StmHexSource source(in);
    source.advance();
    ctx.show_status("Upgrading " + firstControllerType(ctx) + "...");
    std::uint16_t upper = 0;
    while (!source.atEnd()) {
        // An interrupt ends the run between blocks.
        ctx.checkInterrupt();
        // Without a line count (no integrity check ran) the bar stays at 0.
        const int lines = std::max(reader.HexLineCount, 0);
        ctx.set_progress(lines > 0 ? std::min(100, source.lineNumber() * 100 / lines) : 0);
        switch (source.recordType()) {
            case 0: {
                const std::uint32_t address = (std::uint32_t(upper) << 16) | source.recordAddress();
                for (const StmBlock& block : image.takeBlocksCovering(
                         address, static_cast<std::size_t>(source.byteCount()))) {
                    writeBlock(ctx, block);
                    done += block.data.size();
                    ctx.report_progress(ProgressPhase::Programming, done, total);
                }
                source.advance();
                break;
            }
            case 1:
                ctx.log_and_show("End of program memory space");
                return;
            case 4:
                upper = source.upperAddress();
                ctx.log_and_show("Address space set to 0x" +
                                 StmHex(Bytes{std::uint8_t(upper >> 8), std::uint8_t(upper)}) +
                                 "0000");
                source.advance();
                break;
            default:
                source.advance();
                break;
        }
    }
}

}  // namespace

bool StmProgram(Context& ctx, const HexReaderState& reader, const std::string& fileName) {
    try {
        run(ctx, reader, fileName);
        return true;
    } catch (const std::exception& e) {
        ctx.log_and_show(e.what());
        return false;
    }
}

}  // namespace kv
