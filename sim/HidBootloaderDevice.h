#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ports/Bytes.h"

namespace kv::sim {

// A USB device of the maker as its HID reports see it: the application answers the
// upgrade request and restarts into the HID bootloader, which erases, writes and reads
// back its flash in 32-byte blocks. Sans-I/O: one output report in, the input reports it
// answers with out; the bus that carries it follows its restarts (takeResetRequest).
class HidBootloaderDevice {
  public:
    enum class Mode { Application, Bootloader };

    // Flash of the device; the bootloader programs only the application area.
    static constexpr std::size_t kMemorySize = 0x10000;
    static constexpr std::size_t kApplicationStart = 0x2000;
    static constexpr std::size_t kInputReportSize = 64;

    struct Counters {
        int textCommands = 0;
        int readyReplies = 0;
        int resets = 0;
        int infoRequests = 0;
        int erases = 0;
        int blocksWritten = 0;
        int verifyRequests = 0;
        int verifyReplies = 0;
        int endCommands = 0;
        int finishCommands = 0;
        int ignored = 0;  // commands the current mode does not take
    };

    // Named failure modes.
    struct Faults {
        // Zero-based number of the write block stored with its last byte changed.
        std::optional<int> corruptBlock;
        // Stops answering anything once this many verify requests were answered.
        std::optional<int> silentAfterVerifies;
        // Never answers the upgrade request.
        bool neverReady = false;
        // Never answers the information request.
        bool noInformation = false;
        // Answers every write block with an extra report (a chatty firmware revision).
        bool echoWrites = false;
        // Zero-based number of the verify request answered with a stray text report
        // instead of its verify reply.
        std::optional<int> strayInsteadOfVerify;
    };

    HidBootloaderDevice(std::string product, std::string serial,
                        std::string manufacturer = "Korvandel");

    const std::string& manufacturer() const { return manufacturer_; }
    const std::string& product() const { return product_; }
    const std::string& serial() const { return serial_; }

    // Output report length including the report ID byte.
    int outputReportLength = 65;
    std::string infoText = "USB-DEVICE HW:1.0 FW:1.0.0 BL:1.0";
    std::string readyText = "(P_PRG_READY)";
    Faults faults;
    Counters counters;

    // One output report (byte 0 the report ID); the input reports it answers with, each
    // kInputReportSize bytes without a report ID.
    std::vector<Bytes> receive(ByteView report);
    // True once after "{P_PRGRESET}": the device leaves the bus and comes back.
    bool takeResetRequest();

    Mode mode() const { return mode_; }
    void setMode(Mode mode) { mode_ = mode; }
    bool finished() const { return counters.endCommands > 0; }
    const std::array<std::uint8_t, kMemorySize>& memory() const { return memory_; }

  private:
    Bytes reply(std::uint8_t code, ByteView body) const;
    Bytes textReply(const std::string& text) const;
    std::vector<Bytes> textCommand(const std::string& text);
    std::vector<Bytes> codedCommand(ByteView payload);
    bool silent() const;

    std::string manufacturer_;
    std::string product_;
    std::string serial_;
    Mode mode_ = Mode::Application;
    bool resetRequested_ = false;
    std::array<std::uint8_t, kMemorySize> memory_{};
};

}  // namespace kv::sim
