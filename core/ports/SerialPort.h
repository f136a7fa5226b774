#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "Bytes.h"

namespace kv {

enum class Parity { None, Even };

// Serial port (ComPort1): 8 data bits, 1 stop bit, no flow control, DTR/RTS off.
// Baud and parity apply at once, also to an open port. Arrivals are taken either by
// read() (blocking, total time-out) or by poll() from the message pump.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    virtual void setName(const std::string& name) = 0;
    virtual std::string name() const = 0;
    // Throws ChannelError when the port cannot be opened.
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    virtual void setBaud(int baud) = 0;
    virtual int baud() const = 0;
    virtual void setParity(Parity parity) = 0;
    virtual Parity parity() const = 0;

    virtual void write(ByteView bytes) = 0;
    // Waits until maxBytes arrived or the total time-out ran out; returns what came.
    virtual Bytes read(std::size_t maxBytes, std::chrono::milliseconds totalTimeout) = 0;
    // Bytes that arrived since the last read or poll (never waits).
    virtual Bytes poll() = 0;
};

}  // namespace kv
