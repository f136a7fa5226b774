#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "core/Context.h"

namespace kv::connect {

// Steps shared by the connect paths of the network and COM port lists.

inline const std::string kNoDevice = "0.0.0.0";
// From this firmware number on, a network device is driven through the module's
// bootloader-mode commands or its direct serial set-up instead of the card select lines.
constexpr int kBootloaderModeFirmware = 300;
// Slots a network inventory walks (every entry of CardAddresses that holds a code).
constexpr int kNetworkSlotCount = 6;
constexpr auto kSettlePause = std::chrono::milliseconds(500);

TcpClient& tunnel(Context& ctx);
SerialPort& comPort(Context& ctx);

// "Do you want to establish connenction with the device?", No focused.
bool askConnect(Context& ctx);

// The DeviceList entry behind a network list entry: the last one whose IP is the entry's
// first word. nullopt when no entry is selected; throws KvError when the list entry
// names a device that is not in DeviceList.
std::optional<std::size_t> networkDeviceIndex(Context& ctx, int entry);
// The port name of a COM list entry; throws KvError when none is selected.
std::string comPortName(Context& ctx, int entry);

// Releases the device opened before (CurrentIP), if any: when its module answers, the
// card select lines and the 9600 set-up (only with sendReleaseCommands and a firmware
// below 300), 11 s for the device to restart, and CurrentIP "0.0.0.0". When it does
// not answer, the operator decides. false: the operator cancelled.
bool releasePreviousDevice(Context& ctx, bool sendReleaseCommands);

// Closes the discovery listener, the GPIO client and the tunnel, shows the loading
// banner, takes the selected device's address and MAC, resets the grids and connects
// the tunnel. false when the device has no address (nothing more to do).
bool openSelectedDevice(Context& ctx);

// The four Device Properties lines in the log.
void logProperties(Context& ctx);
// The GPIO client aimed at the opened device and ready.
void activateGpioClient(Context& ctx);
// `count` pauses, with pending events delivered after each.
void pumpPauses(Context& ctx, int count, std::chrono::milliseconds pause);
// Closes the tunnel, enables the grid and UPGRADE and hides the banner.
void finishNetworkConnect(Context& ctx);

// The serial family flags of an earlier serial connect.
void clearSerialFlags(SharedState& s);

// COM list "Handle as" entries: a fibre receiver (9600 bit/s) or fibre link (19200 bit/s)
// listed without asking it, and a twisted-pair transmitter at 57600 bit/s.
void HandleAsFibre(Context& ctx, int entry, bool receiver);
void HandleAsTransmitter(Context& ctx, int entry, const std::string& type);

}  // namespace kv::connect
