#include "flash/PicFlash.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <string>

#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "flash/PicDeviceRules.h"
#include "flash/PicFrame.h"
#include "flash/PicLink.h"

namespace kv {

namespace {

using Block = std::array<std::uint8_t, kPicBlockSize>;

constexpr std::uint8_t kErased = 0xFF;
// Length codes of the headers: a write carries two 8-byte halves, a read asks for 16 bytes,
// an erase clears one row; the EEPROM write always sends 0x10 whatever its count.
constexpr std::uint8_t kWriteLength = 0x02;
constexpr std::uint8_t kReadLength = 0x10;
constexpr std::uint8_t kEraseRows = 0x01;
constexpr std::uint8_t kEepromLength = 0x10;
// Decoded bytes of a complete read reply: STX STX, command, length, three address bytes and
// the 16 data bytes.
constexpr int kFullReadReply = 23;
constexpr std::int64_t kEraseLogEvery = 0x200;
constexpr std::int64_t kWriteLogEvery = 0x100;
constexpr std::int64_t kWriteShowEvery = 0x40;
constexpr int kProgressMax = 100;

std::string hex(std::int64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string firstControllerType(Context& ctx) {
    auto* controllers = ctx.state.selectedControllers();
    return controllers && !controllers->empty() ? controllers->front().ControllerType
                                                : std::string();
}

ByteView firstBytes(ByteView data, int count) {
    return data.first(std::min(data.size(), static_cast<std::size_t>(std::max(count, 0))));
}

Block writeBlock(ByteView data, int count) {
    if (count > static_cast<int>(kPicBlockSize)) throw KvError("Too many data bytes for one block");
    Block block;
    block.fill(kErased);
    ByteView bytes = firstBytes(data, count);
    std::copy(bytes.begin(), bytes.end(), block.begin());
    return block;
}

bool readBackMatches(const PicState& pic, const Block& block) {
    return pic.PicReplyCount >= kFullReadReply && pic.PicReplyData == block;
}

}  // namespace

void PicWriteData(Context& ctx, PicState& pic, int command, ByteView data, int count,
                  std::int64_t address) {
    try {
        auto at = static_cast<std::uint32_t>(address);
        if (command == kPicWriteProgram) {
            Block block = writeBlock(data, count);
            PicSendPacket(ctx, pic, PicHeader(kPicWriteProgram, kWriteLength, at), block,
                          PicReadBackFlag(at, block));
        } else if (command == kPicWriteEeprom) {
            PicSendPacket(ctx, pic, PicHeader(kPicWriteEeprom, kEepromLength, at),
                          firstBytes(data, count), false);
        }
    } catch (const std::exception& e) {
        std::string text = std::string("Error while writing data:\r") + e.what();
        ctx.log_line(text);
        ctx.message_box(text);
    }
}

void PicReadData(Context& ctx, PicState& pic, int command, std::int64_t address) {
    // A read that gets no reply must not leave the previous reply looking like this one.
    pic.PicReplyCount = 0;
    try {
        PicSendPacket(ctx, pic,
                      PicHeader(static_cast<std::uint8_t>(command), kReadLength,
                                static_cast<std::uint32_t>(address)),
                      {}, false);
    } catch (const std::exception& e) {
        std::string text = std::string("Error while reading data:\r") + e.what();
        ctx.log_line(text);
        ctx.message_box(text);
    }
}

void PicWriteVerify(Context& ctx, PicState& pic, bool quickBootload, int command, ByteView data,
                    int count, std::int64_t address) {
    PicWriteData(ctx, pic, command, data, count, address);
    if (command == kPicWriteProgram && !quickBootload &&
        !PicIsFibreCard(firstControllerType(ctx))) {
        const Block block = writeBlock(data, count);
        // Once the link is lost nothing more is read: there is no reply to compare with, and
        // the programming pass ends at its next record.
        if (!ctx.state.RowOk) return;
        PicReadData(ctx, pic, kPicReadProgram, address);
        if (!ctx.state.RowOk || readBackMatches(pic, block)) return;

        ++ctx.state.RewriteCount;
        ctx.log_line("Rewrite:" + hex(address, 6) + " " + std::to_string(ctx.state.RewriteCount));
        PicWriteData(ctx, pic, command, data, count, address);
        ctx.sleep(kPicRewritePause);
        PicReadData(ctx, pic, kPicReadProgram, address);
        if (!ctx.state.RowOk || readBackMatches(pic, block)) return;

        // Each failure logs its own block only.
        pic.VerifyDump.clear();
        for (std::size_t i = 0; i < kPicBlockSize; ++i) {
            pic.VerifyDump +=
                std::to_string(pic.PicReplyData[i]) + "<->" + std::to_string(block[i]) + " ";
        }
        ctx.fail_row("Verify error at address:" + hex(address, 6));
        ctx.log_line("Verify error at address:" + hex(address, 6));
        ctx.log_line(pic.VerifyDump);
        ctx.message_box("Error occured during verify process");
        throw KvError("Program Write Error");
    }
    if (command == kPicWriteEeprom) ctx.sleep(kPicEepromWritePause);
}

void PicWriteFlash(Context& ctx, PicState& pic, bool quickBootload, int command, ByteView data,
                   int count, std::int64_t address) {
    if (address > kPicLastWritableAddress) return;
    if (ctx.detail()) {
        if (address % kWriteLogEvery == 0) {
            ctx.log_line("Write Flash: command: " + std::to_string(command) +
                         " address: " + hex(address, 4));
        }
        if (address % kWriteShowEvery == 0)
            ctx.ui.memoLine("Write Flash address: " + hex(address, 4));
    }
    ByteView bytes = firstBytes(data, count);
    bool erased =
        std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == kErased; });
    if (PicIsFibreCard(firstControllerType(ctx)) || !erased) {
        PicWriteVerify(ctx, pic, quickBootload, command, data, count, address);
    }
}

void PicErase(Context& ctx, PicState& pic, std::int64_t step, std::int64_t first,
              std::int64_t last) {
    try {
        if (step <= 0) throw KvError("Invalid erase step");
        TcpClient* client = ctx.ports.TcpClient1;
        if (client && client->connected()) {
            // A fresh tunnel connection before the long run of erase frames.
            Disconnect(*client);
            Connect(*client);
            ctx.sleep(kPicEraseReconnectPause);
        }
        const std::int64_t divisor = std::max<std::int64_t>(1, (last - first) / kProgressMax);
        for (std::int64_t address = first; address <= last && ctx.state.RowOk; address += step) {
            auto header =
                PicHeader(kPicEraseProgram, kEraseRows, static_cast<std::uint32_t>(address));
            Bytes payload(header.begin(), header.end());
            payload.push_back(PicChecksum(payload));
            ctx.ProcessMessages();
            // An interrupt ends the erase after the frame in flight.
            ctx.checkInterrupt();
            if (ctx.detail() && address % kEraseLogEvery == 0) {
                ctx.log_and_show("Erase address: " + hex(address, 4));
            }
            PicSendFrame(ctx, pic, payload, false, false);
            ctx.set_progress(
                static_cast<int>(std::min<std::int64_t>((address + step) / divisor, kProgressMax)));
            ctx.report_progress(ProgressPhase::Erasing,
                                static_cast<std::uint64_t>(std::min(address + step, last + 1) - first),
                                static_cast<std::uint64_t>(last + 1 - first));
        }
    } catch (const std::exception& e) {
        std::string text = std::string("Error while erasing pic:\r") + e.what();
        ctx.fail_row(text);
        ctx.log_line(text);
        ctx.message_box(text);
    }
}

void PicProgramRecord(Context& ctx, PicState& pic, bool quickBootload,
                      const HexDataRecord& record) {
    if (!ctx.state.RowOk) throw KvError("Connection Lost Error");
    // An interrupt ends the pass between records: the last record's frames went whole.
    ctx.checkInterrupt();
    const std::int64_t start = (static_cast<std::int64_t>(record.upper) << 16) + record.address;
    const std::size_t size = record.data.size();
    // Before any extended linear address record the file addresses the first 64 KiB
    // linearly, which is program memory; dropping such records would leave an erased card.
    if (record.memoryClass == kHexClassProgram || record.memoryClass == kHexClassNone) {
        // An empty record still stands for one (erased) block.
        std::size_t offset = 0;
        do {
            std::int64_t address = start + static_cast<std::int64_t>(offset);
            ByteView chunk = record.data.subspan(offset, std::min(kPicBlockSize, size - offset));
            if (address >= kPicFirstWritableAddress) {
                PicWriteFlash(ctx, pic, quickBootload, kPicWriteProgram, chunk,
                              static_cast<int>(chunk.size()), address);
            }
            offset += kPicBlockSize;
        } while (offset < size);
        // ID locations (upper byte 0x20) lie far above the card's memory: the bar stays full.
        ctx.set_progress(static_cast<int>(std::min<std::int64_t>(
            start / PicProgressDivisor(firstControllerType(ctx)), kProgressMax)));
    } else if (record.memoryClass == kHexClassEeprom) {
        for (std::size_t offset = 0; offset < size; offset += kPicBlockSize) {
            ByteView chunk = record.data.subspan(offset, std::min(kPicBlockSize, size - offset));
            PicWriteVerify(ctx, pic, quickBootload, kPicWriteEeprom, chunk,
                           static_cast<int>(chunk.size()),
                           record.address + static_cast<std::int64_t>(offset));
        }
    }
}

int PicProgramHexFile(Context& ctx, PicState& pic, HexReaderState& reader, bool quickBootload,
                      std::istream& hexFile, std::uint64_t totalBytes) {
    std::uint64_t done = 0;
    return ProcessHexFile(ctx, reader, kHexProgrammingPass, hexFile,
                          [&](const HexDataRecord& record) {
                              PicProgramRecord(ctx, pic, quickBootload, record);
                              done += record.data.size();
                              ctx.report_progress(ProgressPhase::Programming, done, totalBytes);
                          });
}

}  // namespace kv
