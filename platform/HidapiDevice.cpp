#include "HidapiDevice.h"

#include <hidapi/hidapi.h>

#include <string>

#include "HidapiBus.h"
#include "core/ports/ChannelError.h"

namespace kv {

namespace {

// Larger than any input report of a full-speed device.
constexpr std::size_t kInputBufferSize = 1024;

[[noreturn]] void fail(hid_device* device, const std::string& what) {
    const wchar_t* error = hid_error(device);
    throw ChannelError(what + (error ? ": " + HidapiBus::toUtf8(error) : std::string()));
}

}  // namespace

HidapiDevice::HidapiDevice(hid_device_* device, int outputReportLength)
    : device_(device), outputReportLength_(outputReportLength) {}

HidapiDevice::~HidapiDevice() {
    hid_close(device_);
}

void HidapiDevice::writeReport(ByteView report) {
    if (hid_write(device_, report.data(), report.size()) < 0) fail(device_, "HID write failed");
}

std::optional<Bytes> HidapiDevice::readReport() {
    Bytes buffer(kInputBufferSize);
    int n = hid_read_timeout(device_, buffer.data(), buffer.size(), 0);
    if (n < 0) fail(device_, "HID read failed");
    if (n == 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(n));
    return buffer;
}

}  // namespace kv
