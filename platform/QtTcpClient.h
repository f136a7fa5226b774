#pragma once

#include <QTcpSocket>

#include "core/ports/TcpClient.h"

namespace kv {

// Blocking TCP client (TcpClient1, TcpClient2) on a QTcpSocket driven by its waitFor*
// calls; usable on a thread without an event loop.
class QtTcpClient : public TcpClient {
  public:
    void setHost(const std::string& host) override { host_ = host; }
    void setPort(int port) override { port_ = port; }
    std::string host() const override { return host_; }
    int port() const override { return port_; }

    bool connect(std::chrono::milliseconds timeout) override;
    void disconnect() override;
    bool connected() const override;
    void send(ByteView bytes) override;
    bool waitForData(std::chrono::milliseconds timeout) override;
    Bytes peek(std::size_t maxBytes) override;
    Bytes read(std::size_t maxBytes) override;

  private:
    QTcpSocket socket_;
    std::string host_;
    int port_ = 0;
};

}  // namespace kv
