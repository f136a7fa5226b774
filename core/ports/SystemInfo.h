#pragma once

#include <string>
#include <vector>

namespace kv {

// What the tool asks of the machine itself.
class SystemInfo {
  public:
    virtual ~SystemInfo() = default;
    // Every configured IPv4 address of the machine, in the order the platform lists them.
    virtual std::vector<std::string> localIPv4Addresses() = 0;
    // Names of the serial ports the COM scan tries, at most 20 (COM1..COM20 on Windows,
    // the tty devices on Linux).
    virtual std::vector<std::string> serialPortCandidates() = 0;
    // Opens the port exclusively and closes it; true when it worked, AccessDenied: no rights.
    virtual bool trySerialPort(const std::string& name) = 0;
};

}  // namespace kv
