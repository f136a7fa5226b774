#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>

#include "core/Context.h"
#include "core/ports/UdpSocket.h"

namespace kv {

// The answers of one host on a UDP socket (the module's GPIO port, its TFTP receiver).
// Only the host asked may answer, from any port; a datagram from another host on the
// same network is ignored within the same wait, and each such sender is named in the log
// once, so that a flood cannot fill it.
class DeviceAnswers {
  public:
    // Throws ChannelError when `host` cannot be found.
    DeviceAnswers(Context& ctx, UdpSocket& udp, const std::string& host);

    // The first datagram from the host within `wait`, or nullopt when none came.
    std::optional<Datagram> receive(std::chrono::milliseconds wait);

    const std::string& address() const { return address_; }

  private:
    Context& ctx_;
    UdpSocket& udp_;
    std::string address_;
    std::set<std::string> strangers_;
};

}  // namespace kv
