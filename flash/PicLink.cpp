#include "flash/PicLink.h"

#include <algorithm>
#include <exception>
#include <string>

#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "flash/PicFrame.h"

namespace kv {

namespace {


// The log line written when the last attempt of a command got no reply.
const char* lossLine(std::uint8_t command) {
    switch (command) {
        case kPicReadProgram:
            return "Connection loss error #101! ";
        case kPicWriteProgram:
            return "Connection loss error #102! ";
        case kPicEraseProgram:
            return "Connection loss error #103! ";
        default:
            return "Connection loss error #105! ";
    }
}

TcpClient& tunnel(Context& ctx) {
    if (!ctx.ports.TcpClient1) throw ChannelError("Socket is not available");
    return *ctx.ports.TcpClient1;
}

SerialPort& comPort(Context& ctx) {
    if (!ctx.ports.ComPort1) throw ChannelError("Com port is not available");
    return *ctx.ports.ComPort1;
}

void countRetransmission(Context& ctx, const char* line) {
    ++ctx.state.RetransmissionCount;
    ctx.log_line(line + std::to_string(ctx.state.RetransmissionCount));
}

[[noreturn]] void linkLost(Context& ctx, std::uint8_t command) {
    ++ctx.state.RetransmissionCount;
    const std::string line = lossLine(command) + std::to_string(ctx.state.RetransmissionCount);
    ctx.fail_row(line);
    ctx.log_line(line);
    throw KvError("Connection Lost Error");
}

// One reply from the tunnel: what has arrived, completed by what keeps coming, up to
// `expected` bytes (or, when the length is unknown, until the line falls silent).
Bytes receiveTunnelReply(TcpClient& client, std::size_t expected) {
    std::size_t limit =
        expected > 0 ? std::min(expected, kPicTunnelBufferSize) : kPicTunnelBufferSize;
    Bytes reply = ReceiveBytes(client, limit);
    while (reply.size() < limit && WaitForData(client, kPicTunnelReplyGap)) {
        Bytes more = ReceiveBytes(client, limit - reply.size());
        reply.insert(reply.end(), more.begin(), more.end());
    }
    return reply;
}

// Bytes left over from an earlier exchange (a late reply to a frame that was sent again)
// would be taken for the answer to the next frame.
void discardStaleTunnelBytes(TcpClient& client) {
    while (!ReceiveBytes(client, kPicTunnelBufferSize).empty()) {
    }
}

}  // namespace

void PicSendPacket(Context& ctx, PicState& pic, ByteView header, ByteView data, bool readBackFlag) {
    try {
        Bytes payload(header.begin(), header.end());
        payload.insert(payload.end(), data.begin(), data.end());
        if (payload.size() + 1 > kPicMaxPayload) throw KvError("Packet too long");
        std::uint8_t checksum = PicChecksum(payload);
        payload.push_back(checksum);
        PicSendFrame(ctx, pic, payload, PicNeedsStuffing(checksum), readBackFlag);
    } catch (const std::exception& e) {
        ctx.log_line(std::string("Error while matching header #107:\r") + e.what());
        ctx.message_box(std::string("Error while matching header:\r") + e.what());
    }
}

void PicSendFrame(Context& ctx, PicState& pic, ByteView payload, bool ownChecksumStuffed,
                  bool readBackFlag) {
    try {
        Bytes frame = PicEncodeFrame(payload);
        if (frame.size() > kPicMaxFrame) throw KvError("Frame too long");
        if (ctx.state.ConnectionKind == ConnectionKind::Network) {
            TMatrixRec* device = ctx.state.selectedDevice();
            if (!device) throw KvError("No device selected");
            PicTunnelExchange(ctx, pic, frame, device->Port, ownChecksumStuffed, readBackFlag);
        } else if (ctx.state.ConnectionKind == ConnectionKind::Serial) {
            PicSerialExchange(ctx, pic, frame);
        }
    } catch (const std::exception&) {
        ctx.fail_row("Data sending error #106 DLE!");
        ctx.log_line("Data sending error #106 DLE!");
        ctx.message_box(
            "An error occured during the process\r\nPlease repeat the upgrade procedure!");
    }
}

void PicTunnelExchange(Context& ctx, PicState& pic, ByteView frame, int tunnelPort,
                       bool ownChecksumStuffed, bool readBackFlag) {
    TcpClient& client = tunnel(ctx);
    if (client.connected() && client.port() != tunnelPort) Disconnect(client);
    if (!client.connected()) {
        client.setHost(ctx.state.CurrentIP);
        client.setPort(tunnelPort);
        Connect(client);
    }
    if (client.connected()) discardStaleTunnelBytes(client);
    SendBytes(client, frame);

    const std::uint8_t command = frame.size() > 2 ? frame[2] : 0;
    if (!PicAwaitsReply(command) || !ctx.state.RowOk) return;

    bool answered = WaitForData(client, kPicTunnelReplyWait);
    if (!answered) {
        countRetransmission(ctx, "Data sending error #1! ");
        SendBytes(client, frame);
        answered = WaitForData(client, kPicTunnelReplyWait);
    }
    if (!answered) {
        // The module may have dropped the tunnel: start it afresh for the last attempt.
        Disconnect(client);
        ctx.sleep(kPicReconnectPause);
        client.setHost(ctx.state.CurrentIP);
        Connect(client);
        ctx.sleep(kPicReconnectPause);
        countRetransmission(ctx, "Data sending error #2! ");
        SendBytes(client, frame);
        answered = WaitForData(client, kPicTunnelReplyWait);
    }
    if (!answered) linkLost(ctx, command);

    if (command == kPicReadProgram) {
        std::size_t expected = static_cast<std::size_t>(
            std::clamp<int>(pic.PicExpectedReplyLength, 0, kPicTunnelBufferSize));
        Bytes reply = receiveTunnelReply(client, expected);
        PicReplyDecoder decoder(pic.PicReplyData);
        decoder.feed(reply);
        pic.PicReplyCount = decoder.count();
    } else {
        receiveTunnelReply(client, PicFixedReplyLength(command));
        if (command == kPicWriteProgram) {
            pic.PicExpectedReplyLength =
                PicReplyLengthAfterWrite(frame.size(), readBackFlag, ownChecksumStuffed);
        }
    }
}

void PicSerialExchange(Context& ctx, PicState& pic, ByteView frame) {
    SerialPort& port = comPort(ctx);
    // Whatever is still on the line belongs to an earlier exchange.
    if (port.isOpen()) port.poll();
    WriteBytes(port, frame);

    const std::uint8_t command = frame.size() > 2 ? frame[2] : 0;
    if (!PicAwaitsReply(command) || !ctx.state.RowOk) return;

    auto goodReply = [&] {
        if (command == kPicReadProgram) return PicReadSerialReply(ctx, pic) != 0;
        int expected = static_cast<int>(PicFixedReplyLength(command));
        return PicReadSerialBytes(ctx, expected) == expected;
    };
    if (goodReply()) return;
    countRetransmission(ctx, "Data sending error #1! ");
    WriteBytes(port, frame);
    if (goodReply()) return;
    countRetransmission(ctx, "Data sending error #2! ");
    WriteBytes(port, frame);
    if (goodReply()) return;
    linkLost(ctx, command);
}

int PicReadSerialReply(Context& ctx, PicState& pic) {
    SerialPort& port = comPort(ctx);
    PicReplyDecoder decoder(pic.PicReplyData);
    auto wait = kPicSerialFirstByteWait;
    // A device that never stops sending must not hold the link forever.
    for (std::size_t received = 0; received < kPicTunnelBufferSize; ++received) {
        std::optional<std::uint8_t> byte = ReadByte(port, wait);
        if (!byte) break;
        decoder.feed(*byte);
        wait = kPicSerialReplyGap;
    }
    pic.PicReplyCount = decoder.count();
    return decoder.count();
}

int PicReadSerialBytes(Context& ctx, int count) {
    SerialPort& port = comPort(ctx);
    int received = 0;
    while (received < count && ReadByte(port, kPicSerialFirstByteWait)) ++received;
    return received;
}

}  // namespace kv
