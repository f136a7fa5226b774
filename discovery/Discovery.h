#pragma once

#include <chrono>
#include <string>

#include "core/Context.h"
#include "core/ports/UdpSocket.h"

namespace kv {

// Network discovery: the FIND action, the discovery listener (IdUDPServer1 on UDP 30718)
// and the handling of the modules' answers.

// Each "{I}" / "{S}" question through a module's tunnel waits this long for its line.
constexpr auto kTunnelAnswerWait = std::chrono::milliseconds(3000);
constexpr auto kTunnelConnectWait = std::chrono::milliseconds(3000);
// After the release commands the module and the device restart their serial side;
// 26 pauses of 500 ms, with the window left alone meanwhile.
constexpr int kReleasePauseCount = 26;
constexpr auto kReleasePause = std::chrono::milliseconds(500);
// Datagrams handled per pump, so a flood of them can never hold the engine in one pump.
constexpr int kDatagramsPerPump = 64;

// FIND: releases a connected network device, empties the lists, sends the
// module query to the broadcasts of every local IPv4 interface and rescans the COM ports.
// The answers are handled later by the listener (HandleDiscoveryAnswer).
void FindDevices(Context& ctx);
// The lists emptied as FIND empties them before it searches (modules, COM ports, USB
// entries, the grid), every answer forgotten: the next look-up starts afresh.
void ClearDeviceLists(Context& ctx);

// Returns the connected network device (CurrentIP) to normal operation and closes the
// listener, the tunnel client and the GPIO client; CurrentIP goes back to "0.0.0.0".
void ReleaseNetworkDevice(Context& ctx);

// Binds IdUDPServer1 to UDP 30718 with broadcast allowed unless it is running already;
// false when the port cannot be opened.
bool StartDiscoveryListener(Context& ctx);
void StopDiscoveryListener(Context& ctx);

// The two requests, sent from the listener's port so the answers come back to it; the
// address is remembered as one that may answer until the listener stops or FIND starts
// over. Throw ChannelError when the datagram cannot be sent.
void SendModuleQuery(Context& ctx, const std::string& address);
void SendSetupRecordQuery(Context& ctx, const std::string& address);

// One datagram that arrived on UDP 30718. Module answers count from any host after FIND's
// broadcast, otherwise only from an address queried; set-up record answers only from an
// address asked for its record. Never throws: failures are shown in the error box
// "Error while finding:\r" + text.
void HandleDiscoveryAnswer(Context& ctx, const Datagram& datagram);

// Makes ProcessMessages hand the listener's datagrams to HandleDiscoveryAnswer; called once
// when the main window is created.
void RegisterDiscoveryEvents(Context& ctx);

}  // namespace kv
