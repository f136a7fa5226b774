#pragma once

#include <string>

#include "Bytes.h"

namespace kv {

// Event-driven TCP client (ClientSocket1): open() starts the connection in the
// background, the caller polls connected(); arrivals are collected by poll(), which
// the message pump calls and which hands them to the receive buffer.
class StreamSocket {
  public:
    virtual ~StreamSocket() = default;

    virtual void setHost(const std::string& host) = 0;
    virtual void setPort(int port) = 0;
    virtual std::string host() const = 0;
    virtual int port() const = 0;

    virtual void open() = 0;
    virtual bool connected() = 0;
    virtual void close() = 0;
    virtual void send(ByteView bytes) = 0;
    // Bytes that arrived since the last poll (never waits).
    virtual Bytes poll() = 0;
};

}  // namespace kv
