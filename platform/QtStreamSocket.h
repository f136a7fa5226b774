#pragma once

#include <QTcpSocket>

#include "core/ports/StreamSocket.h"

namespace kv {

// Event-driven tunnel socket (ClientSocket1): the connection and the arrivals progress
// whenever the owning thread's events are pumped (connected() and poll() pump them).
class QtStreamSocket : public StreamSocket {
  public:
    QtStreamSocket();

    void setHost(const std::string& host) override { host_ = host; }
    void setPort(int port) override { port_ = port; }
    std::string host() const override { return host_; }
    int port() const override { return port_; }

    void open() override;
    bool connected() override;
    void close() override;
    void send(ByteView bytes) override;
    Bytes poll() override;

  private:
    QTcpSocket socket_;
    std::string host_;
    int port_ = 10001;
};

}  // namespace kv
