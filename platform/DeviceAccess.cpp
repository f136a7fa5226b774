#include "DeviceAccess.h"

#include <cerrno>

#if defined(__unix__)
#include <unistd.h>
#endif

namespace kv {

namespace {
// Serial ports belong to this group on Debian; membership counts from the next login.
constexpr const char* kSerialGroup = "dialout";
constexpr const char* kUdevRule = "/usr/lib/udev/rules.d/70-korvandel.rules";
}  // namespace

bool LacksAccess(const std::string& path) {
#if defined(__unix__)
    if (::access(path.c_str(), F_OK) != 0) return false;
    return ::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
#else
    (void)path;
    return false;
#endif
}

std::string SerialAccessMessage(const std::string& port) {
    return "Permission denied on the serial port " + port + ": add the user to the " +
           kSerialGroup + " group (sudo adduser $USER " + kSerialGroup + ") and log in again";
}

std::string HidAccessMessage(const std::string& product, const std::string& serial,
                             const std::string& path) {
    return "Permission denied on the USB device " + product + " " + serial + " (" + path +
           "): install the korvandel-bootloader package's udev rule (" + kUdevRule +
           ") and unplug and replug the device";
}

}  // namespace kv
