#pragma once

#include "core/Context.h"

namespace kv {

// UPGRADE for network and serial-attached devices: validates the chosen files, upgrades
// the chosen rows one after another, writes the report, restores the device and shows
// the report window.
void UpgradeNetworkDevice(Context& ctx);
// UPGRADE for a twisted-pair transmitter on a COM port (STM32 bootloader on the line).
void UpgradeSerialDevice(Context& ctx);
// UPGRADE for a USB device (HID bootloader).
void UpgradeUsbDevice(Context& ctx);

// The UPGRADE button: disables the grid, UPGRADE and FIND, runs the procedure the device
// needs, and enables them again also when an error escapes the procedure.
void RunUpgrade(Context& ctx);

}  // namespace kv
