#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/Context.h"
#include "core/ports/HidBus.h"

namespace kv {

struct HidState;

// One entry of the claimed-device list: "product:serial" and the device held open for
// the program's exclusive use.
struct ClaimedHid {
    std::string name;
    HidDeviceInfo info;
    std::unique_ptr<HidDevice> device;
};

// The USB side of the main window (HidCtl): the claimed-device list behind the USB
// list rows, the device being talked to, and what the device-change polling remembers.
struct UsbState {
    using InputHandler = std::function<void(Context&, HidDevice&, ByteView)>;

    std::vector<ClaimedHid> claimed;
    HidDevice* CurrentHidDevice = nullptr;
    // Input reports of every claimed device go here (ReadDeviceData).
    InputHandler inputReport;
    // The bootloader link's variables (flash/HidState.h).
    std::shared_ptr<HidState> hid;

    // The maker's devices the last list could not open for lack of permission, each with
    // the message that names the fix (kvboot's error for a device it cannot find).
    std::vector<std::pair<HidDeviceInfo, std::string>> denied;
    // Bumped whenever the claimed list is rebuilt: a delivery loop that sees it change
    // must stop using the devices it was walking.
    std::uint64_t listGeneration = 0;
    // Devices seen at the last poll, by platform path; none before the first poll.
    std::optional<std::map<std::string, HidDeviceInfo>> present;
    Clock::TimePoint nextPoll{};
    // True while input reports are being handed out; pumps nested in a handler then
    // leave further reports queued for the outer delivery loop.
    bool delivering = false;

    // The claimed entry of CurrentHidDevice, or nullptr.
    const ClaimedHid* current() const {
        for (const auto& c : claimed)
            if (c.device && c.device.get() == CurrentHidDevice) return &c;
        return nullptr;
    }
};

}  // namespace kv
