#pragma once

#include <string>
#include <vector>

#include "core/ports/SystemInfo.h"

namespace kv {

// The machine as Qt sees it: the IPv4 addresses of its interfaces and its serial ports.
//
// Serial port names are what SerialPort::setName opens again: on Windows "COM1".."COM20";
// elsewhere the device name of each tty serial port ("ttyUSB0", "ttyACM0", "ttyS0"), and
// the paths listed in the environment variable KV_EXTRA_SERIAL_PORTS (colon-separated,
// e.g. a pty's link "/tmp/kv-serial"), which come first and are listed as given.
class QtSystemInfo : public SystemInfo {
  public:
    static constexpr const char* kExtraPortsVariable = "KV_EXTRA_SERIAL_PORTS";
    static constexpr std::size_t kMaxPorts = 20;

    std::vector<std::string> localIPv4Addresses() override;
    std::vector<std::string> serialPortCandidates() override;
    bool trySerialPort(const std::string& name) override;
};

}  // namespace kv
