#pragma once

#include <cstdint>
#include <optional>

#include "Peers.h"

namespace kv::sim {

// The module's 124-byte set-up record. The module keeps every byte it is given; of its
// contents it applies the serial channel's interface mode (byte 20) and baud rate code
// (byte 21) and the tunnel port (bytes 24/25, least significant first).
class ModuleRecord {
  public:
    static constexpr std::size_t kSize = 124;
    static constexpr std::uint8_t kAnswerCode = 0xF9;

    ModuleRecord(std::uint16_t tunnelPort, LineSettings line);

    // The record as the module sends it (byte 3 = F9).
    Bytes answer() const;
    // The bytes last stored, exactly as given (or as built at start).
    const Bytes& bytes() const { return bytes_; }
    void store(ByteView record);

    // The serial channel setting the record selects; nullopt when byte 20 or 21 holds a
    // code the model does not know (the line then carries garbage).
    std::optional<LineSettings> serialLine() const;
    std::uint16_t tunnelPort() const;

    static std::uint8_t modeCode(Parity parity);
    static std::optional<std::uint8_t> baudCode(int baud);

  private:
    Bytes bytes_;
};

}  // namespace kv::sim
