#include "PicBootloader.h"

#include <algorithm>
#include <memory>

#include "PicConnection.h"

namespace kv::sim {

namespace {

constexpr std::uint8_t kStx = 0x0F;
constexpr std::uint8_t kEtx = 0x04;
constexpr std::uint8_t kDle = 0x05;
// Longest payload the bootloader's receive buffer holds.
constexpr std::size_t kMaxPayload = 64;

constexpr std::uint8_t kRead = 1;
constexpr std::uint8_t kWrite = 2;
constexpr std::uint8_t kErase = 3;
constexpr std::uint8_t kWriteEeprom = 5;
// The write command counts its data in 8-byte halves of a block.
constexpr std::size_t kWriteUnit = 8;

std::uint8_t checksumOf(const Bytes& bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

}  // namespace

PicBootloader::PicBootloader() : PicBootloader(Config{}) {}

PicBootloader::PicBootloader(Config config)
    : config_(config),
      line_(config.initialLine),
      program_(config.programSize, config.initialFill),
      eeprom_(config.eepromSize, 0xFF) {}

void PicBootloader::lineChanged(const LineSettings& line) {
    line_ = line;
    state_ = ReadState::Idle;
}

World::StreamFactory PicBootloader::connectionFactory() {
    return
        [this]() -> std::unique_ptr<StreamPeer> { return std::make_unique<PicConnection>(*this); };
}

void PicBootloader::connectionOpened() {
    state_ = ReadState::Idle;
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
        take(b, out);
        if (closed_) break;
    }
    counters.bytesOut += out.size();
    return out;
}

void PicBootloader::take(std::uint8_t byte, Bytes& out) {
    switch (state_) {
        case ReadState::Idle:
            if (byte == kStx) state_ = ReadState::OneStx;
            return;
        case ReadState::OneStx:
            state_ = byte == kStx ? ReadState::InFrame : ReadState::Idle;
            frame_.clear();
            return;
        case ReadState::Escaped:
            state_ = ReadState::InFrame;
            break;
        case ReadState::InFrame:
            if (byte == kDle) {
                state_ = ReadState::Escaped;
                return;
            }
            if (byte == kStx) {
                // An unescaped start byte begins the frame anew.
                frame_.clear();
                return;
            }
            if (byte == kEtx) {
                state_ = ReadState::Idle;
                handleFrame(out);
                return;
            }
            break;
    }
    frame_.push_back(byte);
    if (frame_.size() > kMaxPayload) {
        ++counters.badFrames;
        state_ = ReadState::Idle;
    }
}

void PicBootloader::handleFrame(Bytes& out) {
    ++counters.frames;
    if (faults.closeAfterFrames > 0 && --faults.closeAfterFrames == 0) {
        closed_ = true;
        ++counters.closedConnections;
    }
    // A card that dies in the middle of a run: every later frame goes unanswered.
    if (faults.silentAfterFrames > 0 && --faults.silentAfterFrames == 0) faults.dropEveryReply = true;
    unsigned sum = 0;
    for (std::uint8_t b : frame_) sum += b;
    if (frame_.size() < 2 || (sum & 0xFF) != 0) {
        ++counters.badFrames;
        return;
    }
    const std::uint8_t command = frame_[0];
    if (frame_.size() < 6) {
        // Shorter than a header and checksum: not a bootloader command (the card firmware's
        // version request, for one).
        ++counters.unknownCommands;
        return;
    }
    const std::uint8_t length = frame_[1];
    const std::uint32_t address = frame_[2] | (frame_[3] << 8) | (frame_[4] << 16);
    const auto dataBegin = frame_.begin() + 5;
    const auto dataEnd = frame_.end() - 1;
    const std::size_t dataSize = static_cast<std::size_t>(dataEnd - dataBegin);

    switch (command) {
        case kRead: {
            if (!programRange(address, length)) break;
            ++counters.reads;
            Bytes payload(5 + length);
            std::copy_n(frame_.begin(), 5, payload.begin());
            std::copy_n(program_.begin() + address, length, payload.begin() + 5);
            if (faults.corruptReadBacks > 0 && length > 0) {
                --faults.corruptReadBacks;
                ++counters.corruptedReadBacks;
                payload[5] ^= 0x01;
            }
            reply(std::move(payload), out);
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

void PicBootloader::reply(Bytes payload, Bytes& out) {
    if (faults.dropEveryReply || faults.dropFirstReply) {
        faults.dropFirstReply = false;
        ++counters.droppedReplies;
        return;
    }
    payload.push_back(checksumOf(payload));
    out.push_back(kStx);
    out.push_back(kStx);
    for (std::uint8_t b : payload) {
        if (b == kStx || b == kEtx || b == kDle) out.push_back(kDle);
        out.push_back(b);
    }
    out.push_back(kEtx);
}

}  // namespace kv::sim
