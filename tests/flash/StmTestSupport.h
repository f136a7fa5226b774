#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../firmware/HexLines.h"
#include "Peers.h"
#include "Stm32Bootloader.h"
#include "core/ports/Bytes.h"

namespace kv::test {

// Data at an absolute address, as a HEX file describes it.
struct HexSegment {
    std::uint32_t address;
    Bytes data;
};

// Records of `recordLength` bytes, a type 4 record whenever the upper address changes.
inline std::string makeHex(const std::vector<HexSegment>& segments, std::size_t recordLength = 16,
                           bool endRecord = true) {
    std::string text;
    int upper = -1;
    for (const auto& segment : segments) {
        std::size_t offset = 0;
        while (offset < segment.data.size()) {
            const std::uint32_t address = segment.address + static_cast<std::uint32_t>(offset);
            if (static_cast<int>(address >> 16) != upper) {
                upper = static_cast<int>(address >> 16);
                text += hexLinear(upper) + "\r\n";
            }
            std::size_t room = 0x10000 - (address & 0xFFFF);
            std::size_t n = std::min({recordLength, segment.data.size() - offset, room});
            text += sim::HexRecordLine(0, static_cast<std::uint16_t>(address),
                                       ByteView(segment.data.data() + offset, n)) +
                    "\r\n";
            offset += n;
        }
    }
    if (endRecord) text += sim::HexRecordLine(1, 0, {}) + "\r\n";
    return text;
}

inline Bytes pattern(std::size_t size, std::uint8_t seed = 1) {
    Bytes data(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return data;
}

// Records of odd lengths, most at odd addresses, with a few holes, over [first, end) as
// some toolchains write them (a type 4 record at every 64 KiB segment), and the data the
// file holds. Records that share a 4-byte word are common in it.
struct UnevenImage {
    std::string hex;
    std::vector<HexSegment> records;
};
inline UnevenImage unevenImage(std::uint32_t first, std::uint32_t end, std::uint8_t seed) {
    static constexpr std::size_t kLengths[] = {13, 7, 16, 11, 3, 9, 1, 15, 5};
    const Bytes data = pattern(end - first, seed);
    UnevenImage image;
    std::uint32_t upper = 0xFFFFFFFF;
    std::size_t n = 0;
    for (std::uint32_t address = first; address < end; ++n) {
        if (n % 37 == 36) {
            address += 5;  // a hole the file does not describe
            continue;
        }
        std::size_t length = kLengths[n % std::size(kLengths)];
        length = std::min<std::size_t>({length, end - address, 0x10000 - (address & 0xFFFF)});
        if ((address >> 16) != upper) {
            upper = address >> 16;
            image.hex += hexLinear(upper) + "\r\n";
        }
        const auto at = data.begin() + static_cast<std::ptrdiff_t>(address - first);
        HexSegment record{address, Bytes(at, at + static_cast<std::ptrdiff_t>(length))};
        image.hex +=
            sim::HexRecordLine(0, static_cast<std::uint16_t>(address), record.data) + "\r\n";
        image.records.push_back(std::move(record));
        address += static_cast<std::uint32_t>(length);
    }
    image.hex += sim::HexRecordLine(1, 0, {}) + "\r\n";
    return image;
}

// The flash of an erased chip with the segments programmed.
inline Bytes flashImage(const std::vector<HexSegment>& segments, std::size_t size = 128 * 1024) {
    Bytes flash(size, 0xFF);
    for (const auto& segment : segments) {
        for (std::size_t i = 0; i < segment.data.size(); ++i) {
            flash.at(segment.address - 0x08000000 + i) = segment.data[i];
        }
    }
    return flash;
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Hands a World connection to a model that outlives it.
class PeerLink : public sim::StreamPeer {
  public:
    explicit PeerLink(sim::StreamPeer& peer) : peer_(peer) {}
    Bytes receive(ByteView data) override { return peer_.receive(data); }
    void lineChanged(const sim::LineSettings& line) override { peer_.lineChanged(line); }

  private:
    sim::StreamPeer& peer_;
};

// Answers each chunk it receives with the next scripted reply.
class ScriptPeer : public sim::StreamPeer {
  public:
    std::deque<Bytes> replies;
    std::vector<Bytes> received;
    Bytes receive(ByteView data) override {
        received.emplace_back(data.begin(), data.end());
        if (replies.empty()) return {};
        Bytes reply = replies.front();
        replies.pop_front();
        return reply;
    }
};

}  // namespace kv::test
