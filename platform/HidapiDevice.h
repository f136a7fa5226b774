#pragma once

#include <optional>

#include "core/ports/HidBus.h"

struct hid_device_;

namespace kv {

// One HID device opened through hidapi; closed with the object.
class HidapiDevice : public HidDevice {
  public:
    HidapiDevice(hid_device_* device, int outputReportLength);
    ~HidapiDevice() override;
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    int outputReportLength() const override { return outputReportLength_; }
    void writeReport(ByteView report) override;
    // The devices number no reports, so hidraw delivers the data without a report ID.
    std::optional<Bytes> readReport() override;

  private:
    hid_device_* device_;
    int outputReportLength_;
};

}  // namespace kv
