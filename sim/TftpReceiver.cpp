#include "TftpReceiver.h"

#include <algorithm>

namespace kv::sim {

namespace {

constexpr std::size_t kBlockSize = 512;
constexpr std::uint8_t kOpWriteRequest = 2;
constexpr std::uint8_t kOpData = 3;
constexpr std::uint8_t kOpAck = 4;
constexpr std::uint8_t kOpError = 5;
constexpr std::uint8_t kErrorAccessViolation = 2;
constexpr std::uint8_t kErrorIllegalOperation = 4;
constexpr std::uint8_t kErrorUnknownTransfer = 5;

Bytes ack(std::uint16_t block) {
    return {0x00, kOpAck, static_cast<std::uint8_t>(block >> 8),
            static_cast<std::uint8_t>(block & 0xFF)};
}

Bytes error(std::uint8_t code, const std::string& text) {
    Bytes packet;
    packet.reserve(5 + text.size());
    packet.push_back(0x00);
    packet.push_back(kOpError);
    packet.push_back(0x00);
    packet.push_back(code);
    packet.insert(packet.end(), text.begin(), text.end());
    packet.push_back(0x00);
    return packet;
}

// Zero-terminated text starting at `pos`; pos moves past the terminator.
std::optional<std::string> cString(const Bytes& packet, std::size_t& pos) {
    auto end = std::find(packet.begin() + static_cast<std::ptrdiff_t>(pos), packet.end(), 0);
    if (end == packet.end()) return std::nullopt;
    std::string text(packet.begin() + static_cast<std::ptrdiff_t>(pos), end);
    pos = static_cast<std::size_t>(end - packet.begin()) + 1;
    return text;
}

}  // namespace

const std::set<std::string>& TftpReceiver::slots() {
    static const std::set<std::string> kSlots = {"X5", "X9", "WEB1", "/var/firmware.img"};
    return kSlots;
}

std::optional<Bytes> TftpReceiver::image(const std::string& slot) const {
    auto it = images_.find(slot);
    if (it == images_.end()) return std::nullopt;
    return it->second;
}

std::vector<Datagram> TftpReceiver::receive(const Datagram& fromTool) {
    if (mode == Mode::Silent || answerLimit == 0) {
        ++dropped;
        return {};
    }
    if (mode == Mode::DropFirstCopy) {
        if (droppedCopy_ != fromTool.data) {
            droppedCopy_ = fromTool.data;
            ++dropped;
            return {};
        }
        droppedCopy_.reset();
    }
    if (answerLimit > 0) --answerLimit;
    return answer(fromTool, handle(fromTool.data));
}

std::vector<Datagram> TftpReceiver::answer(const Datagram& to, Bytes packet) {
    ++answers;
    return {Datagram{to.address, to.port, std::move(packet)}};
}

Bytes TftpReceiver::handle(const Bytes& packet) {
    if (packet.size() < 4 || packet[0] != 0x00) {
        return error(kErrorIllegalOperation, "Illegal TFTP operation");
    }
    if (packet[1] == kOpWriteRequest) {
        ++requests;
        std::size_t pos = 2;
        auto name = cString(packet, pos);
        auto mode = name ? cString(packet, pos) : std::nullopt;
        if (!name || !mode) return error(kErrorIllegalOperation, "Illegal TFTP operation");
        requestedNames.push_back(*name);
        if (!slots().count(*name) || *mode != "octet") {
            ++refused;
            active_ = false;
            return error(kErrorAccessViolation, "Access violation");
        }
        active_ = true;
        slot_ = *name;
        buffer_.clear();
        lastBlock_ = 0;
        return ack(0);
    }
    if (packet[1] == kOpData) {
        const auto block = static_cast<std::uint16_t>((packet[2] << 8) | packet[3]);
        if (!active_) {
            // The repeat of a last block whose answer the tool missed.
            if (completed > 0 && block == lastBlock_) {
                ++duplicates;
                return ack(block);
            }
            return error(kErrorUnknownTransfer, "Unknown transfer ID");
        }
        const std::size_t length = packet.size() - 4;
        blockNumbers.push_back(block);
        if (block == lastBlock_) {
            ++duplicates;
            return ack(block);
        }
        if (block != static_cast<std::uint16_t>(lastBlock_ + 1) || length > kBlockSize) {
            ++outOfOrder;
            return ack(lastBlock_);
        }
        ++dataPackets;
        buffer_.insert(buffer_.end(), packet.begin() + 4, packet.end());
        lastBlock_ = block;
        if (length < kBlockSize) {
            images_[slot_] = buffer_;
            ++completed;
            if (imageTaken) imageTaken(slot_, buffer_);
            active_ = false;
        }
        return ack(block);
    }
    return error(kErrorIllegalOperation, "Illegal TFTP operation");
}

}  // namespace kv::sim
