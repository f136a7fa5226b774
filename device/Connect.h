#pragma once

#include <exception>
#include <string>

#include "core/Context.h"
#include "device/HandleAs.h"

namespace kv {

// Opening a device from the main window's lists: identification (or an assumed type),
// the module's serial set-up the family needs, and the family's controller inventory.
// `entry` is the selected root entry of the list (networkTree / comTree), -1 for none.

// Connects to an entry of the network list.
void ConnectNetworkDevice(Context& ctx, int entry);
// Connects to an entry of the COM port list.
void ConnectSerialDevice(Context& ctx, int entry);

// What a network "Handle as" entry takes the device for; nothing is asked of it.
enum class AssumedType {
    MatrixFrame,    // "Handle as RV-CTL2"
    DirectMatrix,   // "Handle as RV6x6-2WQRI-Max"
    DirectModular,  // "Handle as NRV5x5"
};
void ConnectAsType(Context& ctx, int entry, AssumedType type);

// Connects to the selected entry of the list the choice belongs to, as that type.
void ConnectHandledAs(Context& ctx, HandleAs id, int networkEntry, int comEntry);

// Message box text for a failure that ends a network connect:
// "<class> error raised, with message : <text>".
std::string RaisedErrorText(const std::exception& e);

// Firmware number from a "{F}" reply line of a network device ("(FW:a.b.c)" or
// "(FW: a.b.c)"); 0 without "(FW:".
int NetworkFirmwareNumber(const std::string& reply);

}  // namespace kv
