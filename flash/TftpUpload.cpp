#include "flash/TftpUpload.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <stdexcept>

#include "core/ports/ChannelError.h"
#include "flash/TftpFlashImage.h"
#include "flash/TftpPackets.h"
#include "module/DeviceAnswers.h"

namespace kv {

namespace {

// An ERROR packet (opcode 5) ends the upload: its message goes to the log and becomes
// the failure's text.
void FailOnErrorPacket(Context& ctx, const Datagram& answer) {
    const auto message = TftpErrorMessage(answer.data);
    if (!message) return;
    const std::string text = "TFTP error from " + answer.address + " " + *message;
    ctx.log_line(text);
    throw KvError(text);
}

// The module does not tie its answers to the request (its receiver may answer from
// another port): whatever the device sends to our local port within the wait is taken as
// the acknowledgement of the packet just sent. Other hosts can neither acknowledge a
// block nor end the upload.
void SendAndWait(Context& ctx, UdpSocket& udp, DeviceAnswers& device, const Bytes& packet,
                 std::int64_t blockCounter) {
    for (int attempt = 0; attempt < kTftpSendCount; ++attempt) {
        udp.sendTo(device.address(), kTftpPort, packet);
        if (const auto answer = device.receive(kTftpAnswerWait)) {
            FailOnErrorPacket(ctx, *answer);
            return;
        }
    }
    if (ctx.detail()) ctx.log_line("Connecion lost at block: " + std::to_string(blockCounter));
    throw KvError("Connection Lost Error");
}

int ProgressPercent(std::int64_t blockCounter, std::uintmax_t fileSize) {
    if (fileSize == 0) return 100;
    const auto share = blockCounter * 51200 / static_cast<std::int64_t>(fileSize);
    return static_cast<int>(std::min<std::int64_t>(100, share));
}

void Transfer(Context& ctx, UdpSocket& udp, const std::string& host, const std::string& file,
              int kind) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw KvError("Cannot open file \"" + file + "\"");
    in.seekg(0, std::ios::end);
    const auto size = static_cast<std::uintmax_t>(in.tellg());
    in.seekg(0, std::ios::beg);

    DeviceAnswers device(ctx, udp, host);
    std::int64_t blockCounter = 0;
    SendAndWait(ctx, udp, device, TftpWriteRequest(kind), blockCounter);

    std::array<char, kTftpBlockSize> buffer{};
    std::size_t lastRead = 0;
    while (in.peek() != std::ifstream::traits_type::eof()) {
        ctx.ProcessMessages();
        // An interrupt ends the transfer between blocks.
        ctx.checkInterrupt();
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        lastRead = static_cast<std::size_t>(in.gcount());
        if (in.bad()) throw KvError("Cannot read file \"" + file + "\"");
        ++blockCounter;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
        SendAndWait(ctx, udp, device, TftpDataPacket(blockCounter, ByteView(bytes, lastRead)),
                    blockCounter);
        ctx.set_progress(ProgressPercent(blockCounter, size));
        ctx.report_progress(
            ProgressPhase::Uploading,
            std::min<std::uint64_t>(static_cast<std::uint64_t>(blockCounter) * kTftpBlockSize,
                                    static_cast<std::uint64_t>(size)),
            static_cast<std::uint64_t>(size));
    }
    if (in.bad()) throw KvError("Cannot read file \"" + file + "\"");

    // A block shorter than 512 bytes ends a transfer. After a full last block (and for an
    // empty file, which has no block at all) the module needs an empty one to close it.
    if (lastRead == kTftpBlockSize || blockCounter == 0) {
        ++blockCounter;
        SendAndWait(ctx, udp, device, TftpDataPacket(blockCounter, {}), blockCounter);
    }
    ctx.set_progress(100);
}

}  // namespace

bool TftpUpload(Context& ctx, const std::string& host, const std::string& file, int kind) {
    UdpSocket& udp = *ctx.ports.TFTP1;
    const bool bindHere = !udp.isBound();
    try {
        if (bindHere && !udp.bind(0, false)) throw ChannelError("Cannot open the TFTP socket");
        ctx.journal_change(DeviceChange::Upload);
        Transfer(ctx, udp, host, file, kind);
        if (bindHere) udp.close();
        if (kind != kTftpKindFirmwareImage) return true;
        // The device answers its own text when the image does not match; any reply but
        // this exact line (line feed included) fails the row without a box.
        ctx.report_progress(ProgressPhase::Verifying);
        if (VerifyFlashImage(ctx, file, host) == kFlashImageConfirmed) return true;
        ctx.fail_row("The device did not confirm the flash image");
        return false;
    } catch (const std::exception& e) {
        if (bindHere) udp.close();
        ctx.fail_row(e.what());
        ctx.error_box(std::string("Error while processing:\r") + e.what());
        return false;
    }
}

}  // namespace kv
