#pragma once

#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace kv::test {

// A pseudo terminal whose slave side stands in for a serial port.
class DiscoveryPty {
  public:
    DiscoveryPty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            if (const char* name = ::ptsname(master_)) path_ = name;
        }
    }
    ~DiscoveryPty() {
        if (master_ >= 0) ::close(master_);
    }
    DiscoveryPty(const DiscoveryPty&) = delete;
    DiscoveryPty& operator=(const DiscoveryPty&) = delete;

    const std::string& path() const { return path_; }

  private:
    int master_ = -1;
    std::string path_;
};

}  // namespace kv::test
