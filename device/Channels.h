#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Context.h"
#include "core/ports/SerialPort.h"
#include "core/ports/TcpClient.h"

namespace kv {

// Operations on the device channels, shared by every procedure that talks to a device.

// ---- Blocking TCP client (TcpClient1, TcpClient2)
bool Connect(TcpClient& client);
void Disconnect(TcpClient& client);
// Connects to `address` on the client's port, retrying until the channel is up;
// throws KvError("Connection Lost Error") when it does not come up within its bound.
void ConnectUntilUp(Context& ctx, TcpClient& client, const std::string& address);
void SendLine(TcpClient& client, const std::string& text);  // text + CR LF
bool WaitForData(TcpClient& client, std::chrono::milliseconds wait);
// Text up to the next CR LF (consumed, not returned); bounded: returns what arrived
// when no CR LF comes in time.
std::string ReceiveLine(TcpClient& client);
void SendBytes(TcpClient& client, ByteView bytes);
std::uint8_t ReceiveByte(TcpClient& client);
// Up to maxBytes that have already arrived; never waits.
Bytes ReceiveBytes(TcpClient& client, std::size_t maxBytes);

// ---- Serial port (ComPort1)
void OpenPort(SerialPort& port, const std::string& name);
void ClosePort(SerialPort& port);
void SetBaud(SerialPort& port, int baud);
void SetParity(SerialPort& port, Parity parity);
void WriteText(SerialPort& port, const std::string& text);
std::optional<char> ReadChar(SerialPort& port);  // waits up to the 4000 ms read time-out
void WriteBytes(SerialPort& port, ByteView bytes);
// One raw byte, waiting up to `timeout` (the port's read total time-out by default).
std::optional<std::uint8_t> ReadByte(
    SerialPort& port, std::chrono::milliseconds timeout = std::chrono::milliseconds(4000));

struct SerialReply {
    std::string text;
    bool timeout = false;
};
// Reads a reply up to the closing bracket ')' or '}' (logs "<=" and shows "<-").
SerialReply ReadReply(Context& ctx, SerialPort& port, char closingBracket);

}  // namespace kv
