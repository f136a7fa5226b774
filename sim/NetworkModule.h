#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ModuleGpio.h"
#include "ModuleRecord.h"
#include "Peers.h"
#include "World.h"

namespace kv::sim {

// The device's embedded Ethernet-to-serial module at one address:
// - UDP 30718: module query 00 00 00 F6 -> F7 answer (version, MAC); set-up record
//   query 00 01 00 F8 -> F9 answer (the set-up record, tunnel port in bytes 24/25);
// - TCP 30718: set-up record read (00 00 00 F8) and store (124 bytes, code FA, acknowledged
//   with 4 bytes); the stored record's serial setting is applied at once;
// - UDP 30704: the GPIO lines and bootloader-mode commands (ModuleGpio);
// - TCP tunnel port: every connection passes its bytes to the device behind the module
//   and returns that device's answer.
// The serial line the device sees is the bootloader-mode setting while that mode is on,
// else the set-up record's.
class NetworkModule {
  public:
    static constexpr std::uint16_t kSetupPort = 30718;
    static constexpr std::uint16_t kDiscoveryPort = 30718;

    struct Config {
        std::string address = "127.0.0.2";
        std::array<std::uint8_t, 6> mac{0x00, 0x20, 0x4A, 0x9B, 0x0C, 0x11};
        std::uint8_t versionHigh = 0x06;
        std::uint8_t versionLow = 0x0B;
        std::uint16_t tunnelPort = 10001;
        LineSettings serialLine{9600, Parity::None};
    };

    NetworkModule();
    explicit NetworkModule(Config config);
    ~NetworkModule();
    NetworkModule(const NetworkModule&) = delete;
    NetworkModule& operator=(const NetworkModule&) = delete;

    // Registers the module's ports in the world at its address (the tunnel at the port the
    // record holds now).
    void attach(World& world);

    // The device behind the module, on its serial side; it is told the current line.
    void setSerialDevice(StreamPeer* device);
    StreamPeer* serialDevice() const { return device_; }

    const Config& config() const { return config_; }
    // The version the module answers discovery with, from now on (a new image).
    void setVersion(std::uint8_t high, std::uint8_t low);
    // The module's version as the tool writes it: "6.B.0" (two hex bytes, then 0).
    static std::string versionText(std::uint8_t high, std::uint8_t low);
    // The two bytes of such a text ("6.C.0", "FW:6.C.0"); nothing for any other text.
    static std::optional<std::array<std::uint8_t, 2>> parseVersionText(const std::string& text);
    ModuleGpio& gpio() { return gpio_; }
    const ModuleGpio& gpio() const { return gpio_; }
    const ModuleRecord& record() const { return record_; }
    // The serial line the device behind sees now ({0, None} for an unknown record setting).
    LineSettings serialLine() const;

    // Named failure modes.
    void setSilent(bool silent);  // answers nothing on UDP 30718, UDP 30704 and TCP 30718
    bool silent() const { return silent_; }
    bool silentTunnel = false;  // accepts tunnel connections, passes nothing on

    // What came in and what happened, for tests.
    std::vector<Bytes> discoveryQueries;
    std::vector<Bytes> setupRequests;       // record reads on TCP 30718
    std::vector<Bytes> storedRecords;       // records written on TCP 30718, as received
    std::vector<Bytes> tunnelBytes;         // every chunk that came through the tunnel
    std::vector<LineSettings> lineHistory;  // every change of the serial line
    int unansweredDiscovery = 0;
    int unansweredSetup = 0;
    std::size_t droppedTunnelBytes = 0;
    int rejectedSetup = 0;

    // Protocol handlers (the sessions and datagram ports call these).
    std::vector<Datagram> discoveryReceive(const Datagram& fromTool);
    Bytes setupReceive(Bytes& pending);
    Bytes tunnelReceive(ByteView data);

  private:
    class DiscoveryPort;
    void refreshLine();

    Config config_;
    ModuleGpio gpio_;
    ModuleRecord record_;
    std::unique_ptr<DiscoveryPort> discovery_;
    StreamPeer* device_ = nullptr;
    LineSettings notified_{};
    bool silent_ = false;
};

}  // namespace kv::sim
