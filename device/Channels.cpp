#include "device/Channels.h"

#include <algorithm>

#include "core/ports/ChannelError.h"

namespace kv {

namespace {

constexpr auto kConnectWait = std::chrono::milliseconds(3000);
// A line that stops short of its CR LF is given up after this much silence.
constexpr auto kLineSilenceWait = std::chrono::milliseconds(4000);
// Bounds a peer that streams without ever sending CR LF.
constexpr std::size_t kMaxLineLength = 65536;
constexpr std::size_t kLineLookahead = 511;
constexpr auto kReceiveByteWait = std::chrono::milliseconds(4000);
// The module restarts its tunnel after a set-up change; give it a moment between tries.
constexpr auto kReconnectPause = std::chrono::milliseconds(250);
constexpr auto kReconnectLimit = std::chrono::milliseconds(30000);
constexpr auto kReadTotalTimeout = std::chrono::milliseconds(4000);
// A reply that never closes its bracket is garbage on the line, not a reply.
constexpr std::size_t kMaxReplyLength = 4096;

}  // namespace

bool Connect(TcpClient& client) {
    try {
        return client.connect(kConnectWait);
    } catch (const ChannelError&) {
        return false;
    }
}

void Disconnect(TcpClient& client) {
    client.disconnect();
}

void ConnectUntilUp(Context& ctx, TcpClient& client, const std::string& address) {
    const auto start = ctx.clock.now();
    while (!client.connected()) {
        client.setHost(address);
        if (Connect(client)) break;
        if (ctx.clock.now() - start >= kReconnectLimit) throw KvError("Connection Lost Error");
        ctx.sleep(kReconnectPause);
    }
}

void SendLine(TcpClient& client, const std::string& text) {
    client.send(toBytes(text + "\r\n"));
}

bool WaitForData(TcpClient& client, std::chrono::milliseconds wait) {
    try {
        return client.waitForData(wait) && !client.peek(1).empty();
    } catch (const ChannelError&) {
        return false;
    }
}

std::string ReceiveLine(TcpClient& client) {
    std::string text;
    while (text.size() < kMaxLineLength) {
        Bytes ahead = client.peek(kLineLookahead);
        if (ahead.empty()) {
            if (!WaitForData(client, kLineSilenceWait)) return text;
            continue;
        }
        // The CR may have ended the previous look-ahead.
        if (!text.empty() && text.back() == '\r' && ahead.front() == '\n') {
            client.read(1);
            text.pop_back();
            return text;
        }
        for (std::size_t i = 0; i + 1 < ahead.size(); ++i) {
            if (ahead[i] == '\r' && ahead[i + 1] == '\n') {
                client.read(i + 2);
                text.append(ahead.begin(), ahead.begin() + static_cast<std::ptrdiff_t>(i));
                return text;
            }
        }
        Bytes taken = client.read(ahead.size());
        text.append(taken.begin(), taken.end());
    }
    return text;
}

void SendBytes(TcpClient& client, ByteView bytes) {
    client.send(bytes);
}

std::uint8_t ReceiveByte(TcpClient& client) {
    Bytes one = client.read(1);
    if (one.empty() && client.waitForData(kReceiveByteWait)) one = client.read(1);
    if (one.empty()) throw ChannelError("Read timed out.");
    return one.front();
}

Bytes ReceiveBytes(TcpClient& client, std::size_t maxBytes) {
    return client.read(maxBytes);
}

void OpenPort(SerialPort& port, const std::string& name) {
    port.setName(name);
    port.open();
}

void ClosePort(SerialPort& port) {
    if (port.isOpen()) port.close();
}

void SetBaud(SerialPort& port, int baud) {
    port.setBaud(baud);
}

void SetParity(SerialPort& port, Parity parity) {
    port.setParity(parity);
}

void WriteText(SerialPort& port, const std::string& text) {
    port.write(toBytes(text));
}

void WriteBytes(SerialPort& port, ByteView bytes) {
    port.write(bytes);
}

std::optional<std::uint8_t> ReadByte(SerialPort& port, std::chrono::milliseconds timeout) {
    Bytes one = port.read(1, timeout);
    if (one.empty()) return std::nullopt;
    return one.front();
}

std::optional<char> ReadChar(SerialPort& port) {
    auto byte = ReadByte(port, kReadTotalTimeout);
    if (!byte) return std::nullopt;
    return static_cast<char>(*byte);
}

SerialReply ReadReply(Context& ctx, SerialPort& port, char closingBracket) {
    const char openingBracket = closingBracket == '}' ? '{' : '(';
    SerialReply reply;
    for (;;) {
        std::optional<char> c =
            reply.text.size() < kMaxReplyLength ? ReadChar(port) : std::optional<char>();
        if (!c) {
            reply.text.clear();
            reply.timeout = true;
            return reply;
        }
        reply.text += *c;
        if (*c == closingBracket) break;
    }
    auto open = reply.text.find(openingBracket);
    if (open != std::string::npos) reply.text.erase(0, open);
    auto close = reply.text.find(closingBracket);
    if (close != std::string::npos) reply.text.erase(close + 1);
    ctx.log_line("<=" + reply.text);
    ctx.ui.memoLine("<-" + reply.text);
    return reply;
}

}  // namespace kv
