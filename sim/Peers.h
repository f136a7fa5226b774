#pragma once

#include <string>
#include <vector>

#include "core/ports/Bytes.h"
#include "core/ports/SerialPort.h"
#include "core/ports/UdpSocket.h"

namespace kv::sim {

// Serial line setting as a device on the line sees it.
struct LineSettings {
    int baud = 9600;
    Parity parity = Parity::None;
    bool operator==(const LineSettings&) const = default;
};

// The device side of a byte stream: one TCP connection, or a serial line. Sans-I/O:
// bytes from the tool go in, the bytes the device sends back come out.
class StreamPeer {
  public:
    virtual ~StreamPeer() = default;
    virtual Bytes receive(ByteView data) = 0;
    // The line setting of the tool's side changed (serial lines only). A device that
    // expects another setting receives garbage and stays silent.
    virtual void lineChanged(const LineSettings& /*line*/) {}
    // The device side closed the connection.
    virtual bool closed() const { return false; }
};

// The device side of a UDP port. Each datagram from the tool may produce answers;
// an answer's address/port name where it goes (normally the sender).
class DatagramPeer {
  public:
    virtual ~DatagramPeer() = default;
    virtual std::vector<Datagram> receive(const Datagram& fromTool) = 0;
};

}  // namespace kv::sim
