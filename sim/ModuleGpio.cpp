#include "ModuleGpio.h"

namespace kv::sim {

namespace {
constexpr std::size_t kMessageSize = 9;
constexpr std::uint8_t kEN = 0x01;
constexpr std::uint8_t kCLK = 0x02;
constexpr std::uint8_t kDATA = 0x04;
}  // namespace

std::uint8_t ModuleGpio::levels() const {
    // Active levels invert the driven value of the lines they are set for.
    std::uint8_t driven = (states_ ^ activeLevels_) & directions_;
    return static_cast<std::uint8_t>(driven | (~directions_ & 0x07));
}

void ModuleGpio::setStates(std::uint8_t states) {
    const std::uint8_t before = levels();
    states_ = states & 0x07;
    applyLevels(before);
}

void ModuleGpio::applyLevels(std::uint8_t before) {
    const std::uint8_t now = levels();
    if ((before & kEN) && (now & kEN) && !(before & kCLK) && (now & kCLK)) {
        register_ = static_cast<std::uint16_t>(((register_ << 1) | ((now & kDATA) ? 1 : 0)) &
                                               kRegisterMask);
        ++risingEdges;
    }
    if ((before & kEN) && !(now & kEN)) {
        latched_ = register_;
        latches.push_back(register_);
    }
    if (!(before & kEN) && (now & kEN)) register_ = 0;
}

std::vector<Datagram> ModuleGpio::receive(const Datagram& fromTool) {
    if (silent) {
        ++unanswered;
        return {};
    }
    messages.push_back(fromTool.data);
    const Bytes& m = fromTool.data;
    if (m.size() != kMessageSize) {
        ++rejected;
        return {};
    }
    const std::uint8_t before = levels();
    switch (m[0]) {
        case 0x1B: {
            const std::uint8_t mask = m[1] & 0x07;
            states_ = static_cast<std::uint8_t>((states_ & ~mask) | (m[5] & mask));
            break;
        }
        case 0x1A: {
            const std::uint8_t mask = m[1] & 0x07;
            activeLevels_ = static_cast<std::uint8_t>((activeLevels_ & ~mask) | (m[5] & mask));
            break;
        }
        case 0x19: {
            const std::uint8_t mask = m[1] & 0x07;
            directions_ = static_cast<std::uint8_t>((directions_ & ~mask) | (m[5] & mask));
            break;
        }
        case 0x20:
            bootloaderMode_ = true;
            bootloaderLine_.baud = m[2] * 256 + m[3];
            bootloaderLine_.parity = m[8] ? Parity::Even : Parity::None;
            break;
        case 0x21:
            bootloaderMode_ = false;
            break;
        default:
            ++rejected;
            return {};
    }
    applyLevels(before);
    if (changed) changed();
    // The answer repeats the command and reports the line states in byte 5.
    Bytes answer{m[0], 0x07, 0xFF, 0xFF, 0xFF, levels(), 0xFF, 0xFF, 0xFF};
    return {Datagram{fromTool.address, fromTool.port, answer}};
}

}  // namespace kv::sim
