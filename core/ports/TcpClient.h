#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "Bytes.h"

namespace kv {

// Blocking TCP client (TcpClient1, TcpClient2). Operations that fail on the wire
// throw ChannelError; waits return false on time-out.
class TcpClient {
  public:
    virtual ~TcpClient() = default;

    virtual void setHost(const std::string& host) = 0;
    virtual void setPort(int port) = 0;
    virtual std::string host() const = 0;
    virtual int port() const = 0;

    // Connects to host():port(); false when the peer did not accept within the time-out.
    virtual bool connect(std::chrono::milliseconds timeout) = 0;
    virtual void disconnect() = 0;
    virtual bool connected() const = 0;

    virtual void send(ByteView bytes) = 0;
    // True when at least one byte can be read within the time-out.
    virtual bool waitForData(std::chrono::milliseconds timeout) = 0;
    // Copies up to maxBytes already received without consuming them.
    virtual Bytes peek(std::size_t maxBytes) = 0;
    // Takes up to maxBytes already received (never waits).
    virtual Bytes read(std::size_t maxBytes) = 0;
};

}  // namespace kv
