#include "module/DeviceAnswers.h"

#include <algorithm>

namespace kv {

DeviceAnswers::DeviceAnswers(Context& ctx, UdpSocket& udp, const std::string& host)
    : ctx_(ctx), udp_(udp), address_(udp.addressOf(host)) {}

std::optional<Datagram> DeviceAnswers::receive(std::chrono::milliseconds wait) {
    using std::chrono::milliseconds;
    const auto deadline = ctx_.clock.now() + wait;
    for (;;) {
        const auto left =
            std::max(milliseconds(0), std::chrono::ceil<milliseconds>(deadline - ctx_.clock.now()));
        auto datagram = udp_.receive(left);
        if (!datagram || datagram->address == address_) return datagram;
        if (strangers_.insert(datagram->address).second) {
            ctx_.log_line("Ignored a datagram from " + datagram->address + ":" +
                          std::to_string(datagram->port) + ", not the device " + address_);
        }
        if (left == milliseconds(0)) return std::nullopt;
    }
}

}  // namespace kv
