#pragma once

#include "core/Context.h"

namespace kv {

// Each procedure writes what it did into the upgrade state's `lastRun` as it goes, so an
// error escaping it leaves the rows done so far there.

// Network and serial-attached devices: validates the chosen files, upgrades the chosen
// rows one after another, writes the report, restores the device and shows the report.
void UpgradeNetworkDevice(Context& ctx);
// A twisted-pair transmitter on a COM port (STM32 bootloader on the line).
void UpgradeSerialDevice(Context& ctx);
// A USB device (HID bootloader).
void UpgradeUsbDevice(Context& ctx);

// UPGRADE: disables the grid, UPGRADE and FIND, runs the procedure the device needs, and
// enables them again also when an error escapes the procedure (it is rethrown).
void RunUpgrade(Context& ctx);

}  // namespace kv
