#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "Peers.h"
#include "Stm32Memory.h"

namespace kv::sim {

// The system-memory bootloader of an STM32F10x on its USART, as a sans-I/O stream
// peer: 0x7F auto-baud, then command byte + complement, ACK 0x79 / NACK 0x1F, with
// every checksum checked as the chip checks it. It answers only while the CPU was
// reset into the bootloader and the line runs at the setting it expects.
class Stm32Bootloader : public StreamPeer {
  public:
    static constexpr std::uint8_t kAck = 0x79;
    static constexpr std::uint8_t kNack = 0x1F;
    static constexpr std::uint8_t kSync = 0x7F;

    // The ways a CPU card gets into its bootloader, as the upgrade procedures use them.
    enum class Entry {
        SerialDevice,          // COM port at 115200 8E1, the tool sends 0x7F
        MatrixBootloaderMode,  // "RV-CTL2" through the module's bootloader mode + 0x7F
        MatrixDirectSetup,     // "RV-CTL2" of a device with direct set-up: no 0x7F sent
        Modular,               // "NRV-CTL": no 0x7F sent
    };
    enum class AutoBaud {
        ByHost,   // the chip waits for the host's 0x7F and answers nothing before it
        ByBoard,  // the board's own firmware runs the auto-baud before handing the line over
    };

    // The system bootloader measures the line from the first 0x7F it receives and is
    // silent until then (STM32 application note AN3155, "USART bootloader code
    // sequence"). The tool sends that byte only on the serial path and on the matrix
    // path through the module's bootloader mode; on the direct set-up and modular paths
    // it starts with the version command, so there the board's firmware must have done
    // the auto-baud before it let the module's line through to the chip.
    static constexpr AutoBaud autoBaudOf(Entry entry) {
        return entry == Entry::SerialDevice || entry == Entry::MatrixBootloaderMode
                   ? AutoBaud::ByHost
                   : AutoBaud::ByBoard;
    }

    struct Config {
        std::uint16_t productId = 0x410;  // medium density F10x
        std::uint8_t version = 0x22;
        LineSettings line{57600, Parity::Even};
        // A serial line whose setting the tool cannot change (a pty) is not checked.
        bool checkLine = true;
        // Who sends the 0x7F auto-baud byte after a reset into the bootloader (see
        // autoBaudOf). A chip left to the host answers nothing before that byte.
        AutoBaud autoBaud = AutoBaud::ByHost;
        // Reset with BOOT0 high at power-up.
        bool startInBootloader = true;
        std::size_t flashSize = 128 * 1024;
    };

    // Named failure modes; numbers count from 1 over the whole life of the model.
    struct Faults {
        int nackWriteFrom = 0;          // the write command with this number is refused...
        int nackWriteCount = 1;         // ...and so are the following ones, this many in all
        bool silentAfterErase = false;  // erase done, its final ACK never sent
        int corruptReadFrom = 0;        // read-backs with these numbers return one flipped byte
        int corruptReadCount = 1;
        int silentAfterCommands = 0;  // after this many commands the chip stops answering
        int lostWriteAckFrom = 0;     // writes with these numbers land but their ACK is lost
        int lostWriteAckCount = 1;
        int lostSyncs = 0;  // this many 0x7F bytes never reach the chip (line settling)
        // A reset with BOOT0 high starts the user program all the same: the board refuses
        // programming (its firmware holds BOOT0 low), and the bootloader never answers.
        bool refuseBootloader = false;
    };

    struct Counters {
        int syncs = 0;
        int commands = 0;
        std::map<std::uint8_t, int> byCommand;
        int writes = 0;  // data frames programmed
        int reads = 0;   // read replies sent
        int globalErases = 0;
        int pagesErased = 0;
        int nacks = 0;
        int refusedWrites = 0;  // misaligned, odd-sized or onto programmed flash
        int injectedNacks = 0;
        int checksumErrors = 0;
        int refusedEntries = 0;  // resets into the bootloader that refuseBootloader turned away
        int ignoredBytes = 0;    // garbled by a wrong line setting, or sent while not listening
        std::size_t bytesIn = 0;
        std::size_t bytesOut = 0;
    };

    Stm32Bootloader();
    explicit Stm32Bootloader(Config config);

    Bytes receive(ByteView data) override;
    void lineChanged(const LineSettings& line) override;

    // nRST released with the given BOOT0 level: high enters the bootloader (which
    // waits for the auto-baud byte), low starts the user program (silent here, or the
    // firmware peer when one is set).
    void reset(bool boot0);
    bool inBootloader() const;
    bool listening() const;
    // The version the program it was last reset into carries (FirmwareVersionTag.h);
    // nothing before such a reset or when the flash holds no tag.
    std::optional<std::string> runningVersion() const { return runningVersion_; }

    // What the CPU's own program says on the line while it runs (may be null).
    void setFirmware(StreamPeer* firmware) { firmware_ = firmware; }

    Stm32Memory& memory() { return memory_; }
    const Stm32Memory& memory() const { return memory_; }
    const Config& config() const { return config_; }

    Faults faults;
    Counters counters;

  private:
    enum class Phase {
        WaitSync,
        Command,
        ReadAddress,
        ReadCount,
        WriteAddress,
        WriteData,
        Erase,
        GoAddress,
        UserProgram,
    };

    void byte(std::uint8_t b, Bytes& out);
    void command(std::uint8_t code, Bytes& out);
    void ack(Bytes& out) { out.push_back(kAck); }
    void nack(Bytes& out);
    bool addressFrame(std::uint32_t& address);
    void finishWrite(Bytes& out);
    void finishErase(Bytes& out);

    Config config_;
    Stm32Memory memory_;
    LineSettings line_;
    Phase phase_;
    Bytes pending_;
    std::uint32_t address_ = 0;
    int writeCommands_ = 0;
    StreamPeer* firmware_ = nullptr;
    std::optional<std::string> runningVersion_;
};

}  // namespace kv::sim
