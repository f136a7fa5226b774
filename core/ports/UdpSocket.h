#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "Bytes.h"

namespace kv {

struct Datagram {
    std::string address;  // sender (received) or destination (sent), dotted IPv4
    std::uint16_t port = 0;
    Bytes data;
};

// UDP socket (IdUDPServer1, XPORT_GPIO_Client, TFTP1).
class UdpSocket {
  public:
    virtual ~UdpSocket() = default;

    // Binds to the local port (0 = any) on all interfaces; false when it cannot.
    virtual bool bind(std::uint16_t localPort, bool broadcast) = 0;
    virtual bool isBound() const = 0;
    virtual void close() = 0;
    // Throws ChannelError when the datagram cannot be sent.
    virtual void sendTo(const std::string& address, std::uint16_t port, ByteView data) = 0;
    // Waits up to the time-out for one datagram.
    virtual std::optional<Datagram> receive(std::chrono::milliseconds timeout) = 0;
    // The address `host` stands for, written as received datagrams name their sender, so
    // that answers can be matched to the host asked. Throws ChannelError like sendTo for a
    // host that cannot be found; a socket that only knows dotted addresses returns it as is.
    virtual std::string addressOf(const std::string& host) { return host; }
};

}  // namespace kv
