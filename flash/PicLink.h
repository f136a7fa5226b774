#pragma once

#include <chrono>
#include <cstdint>

#include "core/Context.h"
#include "core/ports/Bytes.h"
#include "flash/PicState.h"

namespace kv {

// PIC bootloader link layer ("Bootload"): frames a packet, carries it over the active
// device channel (a network device: the module's tunnel on TcpClient1; a serial one: ComPort1), waits
// for the reply, retransmits twice and declares the link lost after that.

inline constexpr auto kPicTunnelReplyWait = std::chrono::milliseconds(3000);
// Before the last attempt the tunnel is closed and opened again, with a pause on each side.
inline constexpr auto kPicReconnectPause = std::chrono::milliseconds(300);
inline constexpr auto kPicSerialFirstByteWait = std::chrono::milliseconds(4000);
// A serial read reply ends this long after its last byte.
inline constexpr auto kPicSerialReplyGap = std::chrono::milliseconds(100);
// A tunnel reply that arrived in pieces is completed while its bytes keep coming this close.
inline constexpr auto kPicTunnelReplyGap = std::chrono::milliseconds(100);
// Raw bytes of one tunnel read reply kept at most.
inline constexpr std::size_t kPicTunnelBufferSize = 128;

// Appends the data and the checksum to the header and hands the payload to PicSendFrame.
// `readBackFlag`: the read reply that will return this write's block needs a DLE in front of
// its checksum. Errors are reported here ("Error while matching header ...") and not raised.
void PicSendPacket(Context& ctx, PicState& pic, ByteView header, ByteView data, bool readBackFlag);

// Frames the payload and runs the exchange on the active transport. Never raises: a failed
// exchange clears RowOk, logs "Data sending error #106 DLE!" and tells the operator.
void PicSendFrame(Context& ctx, PicState& pic, ByteView payload, bool ownChecksumStuffed,
                  bool readBackFlag);

// Tunnel exchange with retransmission and reconnection; raises "Connection Lost Error".
void PicTunnelExchange(Context& ctx, PicState& pic, ByteView frame, int tunnelPort,
                       bool ownChecksumStuffed, bool readBackFlag);

// COM port exchange with retransmission; raises "Connection Lost Error".
void PicSerialExchange(Context& ctx, PicState& pic, ByteView frame);

// Reads and decodes one read reply from ComPort1; returns the number of decoded bytes.
int PicReadSerialReply(Context& ctx, PicState& pic);

// Reads up to `count` raw bytes from ComPort1 one at a time; returns how many arrived.
int PicReadSerialBytes(Context& ctx, int count);

}  // namespace kv
