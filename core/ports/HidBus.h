#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Bytes.h"

namespace kv {

struct HidDeviceInfo {
    std::string path;  // platform handle used to open the device
    std::string manufacturer;
    std::string product;
    std::string serial;
};

// One opened (claimed) HID device.
class HidDevice {
  public:
    virtual ~HidDevice() = default;
    // Output report length including the report ID byte.
    virtual int outputReportLength() const = 0;
    // Sends one output report (byte 0 is the report ID). Throws ChannelError.
    virtual void writeReport(ByteView report) = 0;
    // One pending input report, never waits.
    virtual std::optional<Bytes> readReport() = 0;
};

// The set of HID devices attached to the computer (HidCtl).
class HidBus {
  public:
    virtual ~HidBus() = default;
    virtual std::vector<HidDeviceInfo> enumerate() = 0;
    // Claims the device for exclusive use; nullptr when it cannot, AccessDenied: no rights.
    virtual std::unique_ptr<HidDevice> open(const HidDeviceInfo& device) = 0;
};

}  // namespace kv
