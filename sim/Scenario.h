#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CardBus.h"
#include "IdentCard.h"
#include "ModularCardSelect.h"
#include "NetworkModule.h"
#include "TextDevice.h"
#include "WebServer.h"
#include "World.h"

namespace kv::sim {

class PicCard;
class TftpReceiver;

// Device families the demo and the end-to-end tests can put into a world.
enum class DemoFamily {
    Matrix,                 // matrix frame: cards selected by shift register, bootloader-mode lines
    DirectMatrix,           // matrix whose module serial channel is set directly
    Modular,                // modular matrix: one I/O card on the bus
    Panel,                  // control panel: slots selected by select code
    Serial,                 // fibre device on a serial line
    DirectMatrixClassic,    // the older direct set-up matrix type
    Panel32,                // the larger control panel
    Protocol2,              // a matrix whose controller runs the second protocol
    Silent,                 // module answers, the device and its cards never do
    SerialTransmitter,      // twisted-pair transmitter, answering only at 57600 bit/s
    SerialUpgradeMode,      // fibre device left in firmware upgrade mode: only its card answers
    SerialFibreLink,        // fibre link whose cards cannot be asked
    UpgradablePanel,        // control panel whose cards take firmware and whose module takes
                            // a web server image by TFTP
    UpgradablePanel32,      // the larger control panel, upgradable like UpgradablePanel
    UpgradableExtender,     // fibre extender on the LAN: one card, web server and web content
    UpgradableTransmitter,  // twisted-pair transmitter on the LAN: two cards, both web images
};

std::optional<DemoFamily> ParseDemoFamily(const std::string& name);
std::string DemoFamilyName(DemoFamily family);
std::vector<std::string> DemoFamilyNames();
// Families that sit on a serial line instead of behind a network module.
bool IsSerialFamily(DemoFamily family);
// Families whose every controller row can be upgraded.
bool IsUpgradableFamily(DemoFamily family);
// The words of the family's cards, in the order the inventory walks them.
std::vector<CardWords> DemoFamilyCards(DemoFamily family);
// True when the module of the family carries web content besides its web server (every
// slot device whose first card is not a control panel).
bool HasWebContentRow(DemoFamily family);
// The upgradable network families a simulated fleet cycles through, in order.
std::vector<DemoFamily> FleetFamilies();

struct DemoOptions {
    DemoFamily family = DemoFamily::Matrix;
    // One network module per address (network families).
    std::vector<std::string> addresses{"127.0.0.2"};
    // The serial port the device sits on (serial family).
    std::string serialPort = "COM3";
    // Each network module also serves its web server's version page on TCP 80.
    bool webServer = true;
    // Number of the first device, for MAC addresses and serial numbers that stay unique
    // when several worlds are built into one.
    std::size_t firstIndex = 0;
};

// The models of a demo world; the world holds pointers into them, so this must outlive
// the world's use.
struct DemoDevices {
    DemoDevices();
    ~DemoDevices();
    DemoDevices(DemoDevices&&) noexcept;
    DemoDevices& operator=(DemoDevices&&) noexcept;

    std::vector<std::unique_ptr<NetworkModule>> modules;
    std::vector<std::unique_ptr<CardBus>> buses;
    std::vector<std::unique_ptr<TextDevice>> controllers;  // main controller per device
    std::vector<std::unique_ptr<IdentCard>> cards;
    std::vector<std::unique_ptr<WebServer>> webServers;           // one per module
    std::vector<std::unique_ptr<ModularCardSelect>> cardSelects;  // modular frames
    std::vector<std::unique_ptr<PicCard>> picCards;               // upgradable cards
    std::vector<std::unique_ptr<TftpReceiver>> tftpReceivers;     // one per upgradable module
};

// The web content version every demo module's web server reports before an upgrade.
inline constexpr char kDemoContentVersion[] = "1.0.4";

// Program memory of an upgradable card before the tool first erases it: not the erased
// value, so a row the tool never erased shows.
inline constexpr std::uint8_t kOldFirmwareFill = 0x00;

// The shift register value that selects matrix card walk number k (1..7): the fixed
// pattern of bits 6 and 7 and k in the low three bits.
std::uint16_t MatrixCardRegister(int k);

DemoDevices buildDemoWorld(World& world, const DemoOptions& options);

}  // namespace kv::sim
