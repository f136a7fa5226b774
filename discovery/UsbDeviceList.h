#pragma once

#include <chrono>
#include <string>

#include "core/Context.h"
#include "core/ports/HidBus.h"

namespace kv {

// Only the maker's own HID devices are listed; the comparison is case-sensitive.
inline constexpr const char* kHidMakerName = "Korvandel";
// hidraw gives no arrival or removal notices: the attached devices are compared this often.
constexpr auto kHidPollInterval = std::chrono::milliseconds(500);
// Input reports handed out per device and pump, so one pump always returns.
constexpr int kHidReportsPerPump = 64;

// The set of attached HID devices changed: forget CurrentHidDevice, release every
// claimed device and rebuild the claimed list and the USB list from a fresh enumeration.
// Failures are ignored.
void HidCtlDeviceChange(Context& ctx);
// One present HID device during an enumeration: a maker device is claimed and gets a
// claimed-list entry, a DeviceList entry and a USB list row. A device that cannot be
// read or claimed is skipped. Returns whether to go on (always).
bool HidCtlEnumerate(Context& ctx, const HidDeviceInfo& device);
// One HID device (of any maker) left: drops one stale USB entry from DeviceList.
void HidCtlRemoval(Context& ctx, const HidDeviceInfo& device);

// The HID layer's part of the message pump: compares the attached devices with the last
// poll (removals, then the device change) and hands pending input reports of the claimed
// devices to the input handler. The first poll only takes note of what is attached.
void HidCtlPoll(Context& ctx);

}  // namespace kv
