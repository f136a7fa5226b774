#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Peers.h"

namespace kv::sim {

// The module's three GPIO lines and its bootloader-mode commands (UDP 30704). Lines:
// bit 0 EN, bit 1 CLK, bit 2 DATA. A line set as input floats high (the device's
// pull-ups), so with every line an input the device sees select code 7.
//
// The device hardware reads the lines as a 3-bit card select code and as a 9-bit shift
// register: every rising CLK edge while EN is 1 shifts DATA in at bit 0; when EN falls
// the register's value is latched onto the card-select outputs.
class ModuleGpio : public DatagramPeer {
  public:
    static constexpr std::uint16_t kPort = 30704;
    static constexpr std::uint16_t kRegisterMask = 0x1FF;

    std::vector<Datagram> receive(const Datagram& fromTool) override;

    // The levels the device sees on its inputs.
    std::uint8_t levels() const;
    std::uint8_t selectCode() const { return levels(); }
    std::uint8_t states() const { return states_; }
    std::uint8_t directions() const { return directions_; }
    std::uint8_t activeLevels() const { return activeLevels_; }
    std::uint16_t shiftRegister() const { return register_; }
    // The value latched at the last falling EN edge, none before the first one.
    std::optional<std::uint16_t> latched() const { return latched_; }
    bool bootloaderMode() const { return bootloaderMode_; }
    LineSettings bootloaderLine() const { return bootloaderLine_; }

    void setStates(std::uint8_t states);
    void setDirections(std::uint8_t directions) { directions_ = directions & 0x07; }

    // Called after every message that was applied (the module re-derives its serial line).
    std::function<void()> changed;

    // Named failure mode: the module takes nothing in and answers nothing.
    bool silent = false;

    // What came in, for tests.
    std::vector<Bytes> messages;         // every datagram, as received
    std::vector<std::uint16_t> latches;  // every latched register value, in order
    int risingEdges = 0;                 // shifting CLK edges
    int unanswered = 0;                  // datagrams dropped while silent
    int rejected = 0;                    // not nine bytes, or an unknown command

  private:
    void applyLevels(std::uint8_t before);

    std::uint8_t states_ = 0x07;
    std::uint8_t directions_ = 0x07;
    std::uint8_t activeLevels_ = 0x00;
    std::uint16_t register_ = 0;
    std::optional<std::uint16_t> latched_;
    bool bootloaderMode_ = false;
    LineSettings bootloaderLine_{};
};

}  // namespace kv::sim
