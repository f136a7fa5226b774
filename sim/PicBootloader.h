#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Peers.h"
#include "PicFrameReader.h"
#include "World.h"

namespace kv::sim {

// A PIC card in its serial bootloader: 128 KiB of program memory in erase rows, data EEPROM,
// and the framed command set (STX STX, DLE-stuffed payload with checksum, ETX). It answers
// only at the line setting it expects. It sits on a serial line, behind the network
// module's card bus, or straight behind a TCP listener (connectionFactory()).
class PicBootloader : public StreamPeer {
  public:
    struct Config {
        std::size_t programSize = 0x20000;
        std::size_t eraseRowSize = 64;  // 1024 on the fibre extender cards
        std::size_t eepromSize = 1024;
        LineSettings expectedLine{19200, Parity::None};
        // The line setting until the tool's side reports one (a TCP listener never does).
        LineSettings initialLine{19200, Parity::None};
        // Content of the program memory at power-up; something other than 0xFF shows a
        // missing erase.
        std::uint8_t initialFill = 0xFF;
        // The bootloader lives below this address and keeps itself: erases and writes that
        // reach into it are refused, as a self-protecting bootloader must (else a
        // mistaken erase would leave a card that can never be programmed again).
        std::uint32_t protectedBelow = 0x0800;
    };

    // Named failure modes; the counters below tell how often each one struck.
    struct Faults {
        bool dropFirstReply = false;  // the first reply due is swallowed, later ones go out
        bool dropEveryReply = false;  // a silent bootloader
        int corruptReadBacks = 0;     // the next this many read replies carry a wrong data byte
        int closeAfterFrames = 0;     // the TCP connection closes after this many more frames
        int silentAfterFrames = 0;    // the card stops answering once this many frames came in
        int dropReplyOfFrame = 0;     // the reply to the frame with this number is lost
    };

    struct Counters {
        int frames = 0;     // complete frames received
        int badFrames = 0;  // wrong checksum, too long, bad length or address
        int reads = 0;
        int writes = 0;
        int erases = 0;
        int eepromWrites = 0;
        int unknownCommands = 0;
        int refusedProtected = 0;  // erases and writes into the bootloader's own area
        int droppedReplies = 0;
        int corruptedReadBacks = 0;
        int closedConnections = 0;
        std::size_t ignoredBytes = 0;  // arrived while the line setting was wrong
        std::size_t bytesIn = 0;       // bytes taken in at the right line setting
        std::size_t bytesOut = 0;      // reply bytes sent
    };

    PicBootloader();
    explicit PicBootloader(Config config);

    Bytes receive(ByteView data) override;
    void lineChanged(const LineSettings& line) override;
    bool closed() const override { return closed_; }

    // For World::listenTcp: each connection talks to this same device (its memory outlives
    // the connection) and starts with a fresh frame reader.
    World::StreamFactory connectionFactory();
    // A new connection: the frame reader starts over and a closed connection is forgotten.
    void connectionOpened();

    const Config& config() const { return config_; }
    const std::vector<std::uint8_t>& programMemory() const { return program_; }
    std::vector<std::uint8_t>& programMemory() { return program_; }
    const std::vector<std::uint8_t>& eeprom() const { return eeprom_; }

    Faults faults;
    Counters counters;

  private:
    void handleFrame(const Bytes& frame, Bytes& out);
    void reply(const Bytes& payload, Bytes& out);
    bool programRange(std::uint32_t address, std::size_t size) const {
        return address + size <= program_.size();
    }

    Config config_;
    LineSettings line_;
    std::vector<std::uint8_t> program_;
    std::vector<std::uint8_t> eeprom_;
    PicFrameReader reader_;
    bool closed_ = false;
};

}  // namespace kv::sim
