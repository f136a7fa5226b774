#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "HidBootloaderDevice.h"
#include "VirtualClock.h"
#include "core/ports/HidBus.h"

namespace kv::test {

// The HID devices attached to the computer, on virtual time. Devices are plugged and
// unplugged by the test; a simulated bootloader device answers the reports written to
// it at once and, when it restarts, leaves the bus for `resetDowntime` and comes back
// under a new path, as a real re-enumeration does. Handles opened before a device left
// are dead: writes fail, nothing arrives. Enumeration lists devices in the order of their
// device nodes, so a device that came back is listed after the others.
class FakeHidBus : public HidBus {
  public:
    explicit FakeHidBus(VirtualClock& clock) : clock_(clock) {}

    std::chrono::milliseconds resetDowntime{1000};
    // Paths whose open fails (the device cannot be claimed).
    std::set<std::string> failOpen;
    int enumerations = 0;
    // Every report written to any device, in order.
    std::vector<Bytes> written;
    // Input reports a device sent, counted from 1 over the bus's life; the one with the
    // number `loseInputReport` never reaches the computer (0: none is lost).
    int inputReports = 0;
    int loseInputReport = 0;
    int lostInputReports = 0;

    // A device without behaviour (any maker): written reports are only recorded.
    std::string plug(const std::string& manufacturer, const std::string& product,
                     const std::string& serial);
    // A simulated bootloader device; the bus follows its restarts.
    std::string plug(sim::HidBootloaderDevice& device);
    void unplug(const std::string& path);
    void unplug(const sim::HidBootloaderDevice& device);
    // Current path of a plugged device (empty while it is off the bus).
    std::string pathOf(const sim::HidBootloaderDevice& device) const;
    // Puts an input report into the device's queue, as if the device had sent it.
    void inject(const std::string& path, Bytes report);

    std::vector<HidDeviceInfo> enumerate() override;
    std::unique_ptr<HidDevice> open(const HidDeviceInfo& device) override;

  private:
    class Handle;
    struct Slot {
        HidDeviceInfo info;
        int node = 0;  // number of the device node in info.path
        sim::HidBootloaderDevice* model = nullptr;
        bool plugged = true;
        VirtualClock::TimePoint backAt{};
        int generation = 0;
        std::deque<Bytes> inbox;
    };

    bool present(const Slot& slot) const { return slot.plugged && clock_.now() >= slot.backAt; }
    Slot* findByPath(const std::string& path);
    void newNode(Slot& slot) {
        slot.node = nextNode_++;
        slot.info.path = "/dev/hidraw" + std::to_string(slot.node);
    }
    void write(std::size_t slot, int generation, ByteView report);

    VirtualClock& clock_;
    std::vector<Slot> slots_;
    int nextNode_ = 0;
};

}  // namespace kv::test
