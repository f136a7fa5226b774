#include "PicBootloader.h"

#include <algorithm>
#include <memory>

#include "CardFrame.h"
#include "PicConnection.h"

namespace kv::sim {

namespace {

constexpr std::uint8_t kRead = 1;
constexpr std::uint8_t kWrite = 2;
constexpr std::uint8_t kErase = 3;
constexpr std::uint8_t kWriteEeprom = 5;
// The write command counts its data in 8-byte halves of a block.
constexpr std::size_t kWriteUnit = 8;

}  // namespace

PicBootloader::PicBootloader() : PicBootloader(Config{}) {}

PicBootloader::PicBootloader(Config config)
    : config_(config),
      line_(config.initialLine),
      program_(config.programSize, config.initialFill),
      eeprom_(config.eepromSize, 0xFF) {}

void PicBootloader::lineChanged(const LineSettings& line) {
    line_ = line;
    reader_.reset();
}

World::StreamFactory PicBootloader::connectionFactory() {
    return
        [this]() -> std::unique_ptr<StreamPeer> { return std::make_unique<PicConnection>(*this); };
}

void PicBootloader::connectionOpened() {
    reader_.reset();
    closed_ = false;
}

Bytes PicBootloader::receive(ByteView data) {
    Bytes out;
    if (closed_) return out;
    if (line_ != config_.expectedLine) {
        // At another baud rate or parity the bytes arrive as garbage.
        counters.ignoredBytes += data.size();
        return out;
    }
    counters.bytesIn += data.size();
    for (std::uint8_t b : data) {
        const PicFrameReader::Event event = reader_.take(b);
        if (event == PicFrameReader::Event::TooLong) ++counters.badFrames;
        if (event != PicFrameReader::Event::Frame) continue;
        handleFrame(reader_.payload(), out);
        if (closed_) break;
    }
    counters.bytesOut += out.size();
    return out;
}

void PicBootloader::handleFrame(const Bytes& frame, Bytes& out) {
    ++counters.frames;
    if (faults.closeAfterFrames > 0 && --faults.closeAfterFrames == 0) {
        closed_ = true;
        ++counters.closedConnections;
    }
    if (frame.size() < 2 || !card_frame::checksumOk(frame)) {
        ++counters.badFrames;
        return;
    }
    const std::uint8_t command = frame[0];
    if (frame.size() < 6) {
        // Shorter than a header and checksum: not a bootloader command (the card firmware's
        // version request, for one).
        ++counters.unknownCommands;
        return;
    }
    const std::uint8_t length = frame[1];
    const std::uint32_t address = frame[2] | (frame[3] << 8) | (frame[4] << 16);
    const auto dataBegin = frame.begin() + 5;
    const auto dataEnd = frame.end() - 1;
    const std::size_t dataSize = static_cast<std::size_t>(dataEnd - dataBegin);

    switch (command) {
        case kRead: {
            if (!programRange(address, length)) break;
            ++counters.reads;
            Bytes payload(5 + length);
            std::copy_n(frame.begin(), 5, payload.begin());
            std::copy_n(program_.begin() + address, length, payload.begin() + 5);
            if (faults.corruptReadBacks > 0 && length > 0) {
                --faults.corruptReadBacks;
                ++counters.corruptedReadBacks;
                payload[5] ^= 0x01;
            }
            reply(payload, out);
            return;
        }
        case kWrite: {
            if (dataSize != length * kWriteUnit || !programRange(address, dataSize)) break;
            if (address < config_.protectedBelow) {
                ++counters.refusedProtected;
                return;
            }
            ++counters.writes;
            // Programming can only clear bits: a row must be erased before it is written.
            std::transform(dataBegin, dataEnd, program_.begin() + address,
                           program_.begin() + address, [](std::uint8_t in, std::uint8_t cell) {
                               return static_cast<std::uint8_t>(in & cell);
                           });
            reply({kWrite}, out);
            return;
        }
        case kErase: {
            std::size_t row = config_.eraseRowSize;
            std::uint32_t start = address / row * row;
            if (!programRange(start, length * row)) break;
            if (start < config_.protectedBelow) {
                ++counters.refusedProtected;
                return;
            }
            ++counters.erases;
            std::fill_n(program_.begin() + start, length * row, std::uint8_t{0xFF});
            reply({kErase}, out);
            return;
        }
        case kWriteEeprom: {
            std::uint32_t at = address & 0xFFFF;
            if (at + dataSize > eeprom_.size()) break;
            ++counters.eepromWrites;
            std::copy(dataBegin, dataEnd, eeprom_.begin() + at);
            reply({kWriteEeprom}, out);
            return;
        }
        default:
            ++counters.unknownCommands;
            return;
    }
    ++counters.badFrames;
}

void PicBootloader::reply(const Bytes& payload, Bytes& out) {
    const bool stopped = faults.silentAfterFrames > 0 && counters.frames > faults.silentAfterFrames;
    const bool lost = faults.dropReplyOfFrame > 0 && counters.frames == faults.dropReplyOfFrame;
    if (faults.dropEveryReply || faults.dropFirstReply || stopped || lost) {
        faults.dropFirstReply = false;
        ++counters.droppedReplies;
        return;
    }
    const Bytes frame = card_frame::frame(payload);
    out.insert(out.end(), frame.begin(), frame.end());
}

}  // namespace kv::sim
