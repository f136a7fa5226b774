#pragma once

#include <string>

#include "core/ports/HidBus.h"

namespace kv {

// The HID devices of the computer through hidapi (hidraw backend). hidapi sends no
// arrival or removal notices; the message pump polls enumerate() instead.
class HidapiBus : public HidBus {
  public:
    HidapiBus();
    std::vector<HidDeviceInfo> enumerate() override;
    // nullptr when the device cannot be opened.
    std::unique_ptr<HidDevice> open(const HidDeviceInfo& device) override;

    static std::string toUtf8(const wchar_t* text);
    // Output report length read from the device's report descriptor; 0 when unknown.
    static int outputReportLength(const std::string& path);
};

}  // namespace kv
