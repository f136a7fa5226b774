#pragma once

#include <QUdpSocket>

#include "core/ports/UdpSocket.h"

namespace kv {

// UDP socket (IdUDPServer1, XPORT_GPIO_Client, TFTP1) on QUdpSocket, which may always
// send to broadcast addresses.
class QtUdpSocket : public UdpSocket {
  public:
    bool bind(std::uint16_t localPort, bool broadcast) override;
    bool isBound() const override { return socket_.state() == QAbstractSocket::BoundState; }
    void close() override { socket_.close(); }
    void sendTo(const std::string& address, std::uint16_t port, ByteView data) override;
    std::optional<Datagram> receive(std::chrono::milliseconds timeout) override;
    std::string addressOf(const std::string& host) override;

  private:
    QUdpSocket socket_;
};

}  // namespace kv
