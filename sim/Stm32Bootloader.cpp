#include "Stm32Bootloader.h"

#include <array>

#include "FirmwareVersionTag.h"

namespace kv::sim {

namespace {

// Commands of the F10x bootloader this model offers, in the order GET lists them.
constexpr std::uint8_t kGet = 0x00;
constexpr std::uint8_t kGetVersion = 0x01;
constexpr std::uint8_t kGetId = 0x02;
constexpr std::uint8_t kReadMemory = 0x11;
constexpr std::uint8_t kGo = 0x21;
constexpr std::uint8_t kWriteMemory = 0x31;
constexpr std::uint8_t kErase = 0x43;
constexpr std::array<std::uint8_t, 7> kOffered{kGet, kGetVersion,  kGetId, kReadMemory,
                                               kGo,  kWriteMemory, kErase};

// A global erase is announced by this count byte and confirmed by 0x00.
constexpr std::uint8_t kEraseAll = 0xFF;

std::uint8_t xorOf(ByteView bytes) {
    std::uint8_t x = 0;
    for (std::uint8_t b : bytes) x ^= b;
    return x;
}

bool counted(int number, int from, int count) {
    return from > 0 && number >= from && number < from + count;
}

}  // namespace

Stm32Bootloader::Stm32Bootloader() : Stm32Bootloader(Config{}) {}

Stm32Bootloader::Stm32Bootloader(Config config)
    : config_(config), memory_(config.flashSize), line_(config.line), phase_(Phase::UserProgram) {
    if (config_.startInBootloader) reset(true);
}

void Stm32Bootloader::reset(bool boot0) {
    pending_.clear();
    if (boot0 && faults.refuseBootloader) ++counters.refusedEntries;
    if (!boot0 || faults.refuseBootloader) {
        phase_ = Phase::UserProgram;
        runningVersion_ = VersionTagAt(memory_.flash(), kCpuVersionTagOffset);
    } else {
        phase_ = config_.autoBaud == AutoBaud::ByBoard ? Phase::Command : Phase::WaitSync;
    }
}

bool Stm32Bootloader::inBootloader() const {
    return phase_ != Phase::UserProgram;
}

bool Stm32Bootloader::listening() const {
    return inBootloader() && (!config_.checkLine || line_ == config_.line);
}

void Stm32Bootloader::lineChanged(const LineSettings& line) {
    line_ = line;
    if (firmware_) firmware_->lineChanged(line);
}

Bytes Stm32Bootloader::receive(ByteView data) {
    counters.bytesIn += data.size();
    if (phase_ == Phase::UserProgram) {
        if (firmware_) return firmware_->receive(data);
        counters.ignoredBytes += static_cast<int>(data.size());
        return {};
    }
    if (!listening()) {
        // Wrong baud or parity: the USART sees framing errors and discards them.
        counters.ignoredBytes += static_cast<int>(data.size());
        return {};
    }
    Bytes out;
    for (std::uint8_t b : data) byte(b, out);
    counters.bytesOut += out.size();
    return out;
}

void Stm32Bootloader::nack(Bytes& out) {
    ++counters.nacks;
    out.push_back(kNack);
    pending_.clear();
    phase_ = Phase::Command;
}

bool Stm32Bootloader::addressFrame(std::uint32_t& address) {
    if (xorOf(ByteView(pending_.data(), 4)) != pending_[4]) {
        ++counters.checksumErrors;
        return false;
    }
    address = (std::uint32_t(pending_[0]) << 24) | (std::uint32_t(pending_[1]) << 16) |
              (std::uint32_t(pending_[2]) << 8) | pending_[3];
    return true;
}

void Stm32Bootloader::byte(std::uint8_t b, Bytes& out) {
    if (faults.silentAfterCommands > 0 && counters.commands >= faults.silentAfterCommands &&
        phase_ == Phase::Command && pending_.empty()) {
        ++counters.ignoredBytes;
        return;
    }
    switch (phase_) {
        case Phase::UserProgram:
            return;
        case Phase::WaitSync:
            if (b == kSync && faults.lostSyncs > 0) {
                --faults.lostSyncs;
                ++counters.ignoredBytes;
            } else if (b == kSync) {
                ++counters.syncs;
                ack(out);
                phase_ = Phase::Command;
            } else {
                ++counters.ignoredBytes;
            }
            return;
        default:
            break;
    }

    pending_.push_back(b);
    switch (phase_) {
        case Phase::Command:
            if (pending_.size() < 2) return;
            if (pending_[1] != (pending_[0] ^ 0xFF)) {
                ++counters.checksumErrors;
                nack(out);
                return;
            }
            command(pending_[0], out);
            return;

        case Phase::ReadAddress:
            if (pending_.size() < 5) return;
            if (!addressFrame(address_) || !memory_.readable(address_, 1)) return nack(out);
            pending_.clear();
            ack(out);
            phase_ = Phase::ReadCount;
            return;

        case Phase::ReadCount: {
            if (pending_.size() < 2) return;
            std::size_t count = std::size_t(pending_[0]) + 1;
            if (pending_[1] != (pending_[0] ^ 0xFF)) {
                ++counters.checksumErrors;
                return nack(out);
            }
            auto data = memory_.read(address_, count);
            if (!data) return nack(out);
            ++counters.reads;
            if (counted(counters.reads, faults.corruptReadFrom, faults.corruptReadCount)) {
                (*data)[0] ^= 0xFF;
            }
            ack(out);
            out.insert(out.end(), data->begin(), data->end());
            pending_.clear();
            phase_ = Phase::Command;
            return;
        }

        case Phase::WriteAddress:
            if (pending_.size() < 5) return;
            if (!addressFrame(address_) || !memory_.writable(address_, 1)) return nack(out);
            pending_.clear();
            ack(out);
            phase_ = Phase::WriteData;
            return;

        case Phase::WriteData:
            // N, then N + 1 data bytes, then the XOR of N and the data.
            if (pending_.size() < std::size_t(pending_[0]) + 3) return;
            finishWrite(out);
            return;

        case Phase::Erase:
            if (pending_[0] == kEraseAll) {
                if (pending_.size() < 2) return;
            } else if (pending_.size() < std::size_t(pending_[0]) + 3) {
                return;
            }
            finishErase(out);
            return;

        case Phase::GoAddress:
            if (pending_.size() < 5) return;
            if (!addressFrame(address_) || !memory_.writable(address_, 1)) return nack(out);
            pending_.clear();
            ack(out);
            phase_ = Phase::UserProgram;
            return;

        default:
            return;
    }
}

void Stm32Bootloader::command(std::uint8_t code, Bytes& out) {
    pending_.clear();
    ++counters.commands;
    ++counters.byCommand[code];
    switch (code) {
        case kGet:
            ack(out);
            out.push_back(static_cast<std::uint8_t>(kOffered.size()));  // bytes that follow - 1
            out.push_back(config_.version);
            out.insert(out.end(), kOffered.begin(), kOffered.end());
            ack(out);
            return;
        case kGetVersion:
            // Version, then the two option bytes kept for compatibility.
            out.insert(out.end(), {kAck, config_.version, 0x00, 0x00, kAck});
            return;
        case kGetId:
            out.insert(out.end(), {kAck, 0x01, std::uint8_t(config_.productId >> 8),
                                   std::uint8_t(config_.productId & 0xFF), kAck});
            return;
        case kReadMemory:
            ack(out);
            phase_ = Phase::ReadAddress;
            return;
        case kGo:
            ack(out);
            phase_ = Phase::GoAddress;
            return;
        case kWriteMemory:
            ++writeCommands_;
            if (counted(writeCommands_, faults.nackWriteFrom, faults.nackWriteCount)) {
                ++counters.injectedNacks;
                return nack(out);
            }
            ack(out);
            phase_ = Phase::WriteAddress;
            return;
        case kErase:
            ack(out);
            phase_ = Phase::Erase;
            return;
        default:
            nack(out);
            return;
    }
}

void Stm32Bootloader::finishWrite(Bytes& out) {
    std::size_t count = std::size_t(pending_[0]) + 1;
    ByteView frame(pending_.data(), count + 1);
    if (xorOf(frame) != pending_.back()) {
        ++counters.checksumErrors;
        return nack(out);
    }
    // The bootloader takes a multiple of 4 bytes at a 4-byte-aligned address and refuses
    // anything else (application note AN3155, Write Memory command; stm32flash aligns
    // and pads its writes for the same reason).
    if (count % 4 != 0 || address_ % 4 != 0) {
        ++counters.refusedWrites;
        return nack(out);
    }
    if (memory_.write(address_, ByteView(pending_.data() + 1, count)) !=
        Stm32Memory::WriteResult::Ok) {
        ++counters.refusedWrites;
        return nack(out);
    }
    ++counters.writes;
    pending_.clear();
    phase_ = Phase::Command;
    if (counted(counters.writes, faults.lostWriteAckFrom, faults.lostWriteAckCount)) return;
    ack(out);
}

void Stm32Bootloader::finishErase(Bytes& out) {
    if (pending_[0] == kEraseAll) {
        if (pending_[1] != 0x00) {
            ++counters.checksumErrors;
            return nack(out);
        }
        memory_.eraseAll();
        ++counters.globalErases;
    } else {
        ByteView list(pending_.data(), pending_.size() - 1);
        if (xorOf(list) != pending_.back()) {
            ++counters.checksumErrors;
            return nack(out);
        }
        for (std::size_t i = 1; i < list.size(); ++i) {
            if (!memory_.erasePage(list[i])) return nack(out);
            ++counters.pagesErased;
        }
    }
    pending_.clear();
    phase_ = Phase::Command;
    if (!faults.silentAfterErase) ack(out);
}

}  // namespace kv::sim
