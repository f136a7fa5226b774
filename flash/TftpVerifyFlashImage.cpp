#include "flash/TftpFlashImage.h"

#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "device/TextCommands.h"
#include "module/ModuleOperations.h"

namespace kv {

std::string VerifyFlashImage(Context& ctx, const std::string& file, const std::string& host) {
    std::string result = kFlashImageNoReply;
    const std::string digest = FileMd5Hex(file);
    exit_BL_mode(ctx, host);

    TcpClient& tunnel = *ctx.ports.TcpClient1;
    const TMatrixRec* device = ctx.state.selectedDevice();
    tunnel.setHost(host);
    if (device) tunnel.setPort(device->Port);
    Disconnect(tunnel);
    try {
        ConnectUntilUp(ctx, tunnel, ctx.state.CurrentIP);
    } catch (const KvError& e) {
        // The tunnel never came back: the image cannot be checked, so the row fails.
        if (ctx.detail()) ctx.log_line("Flash image check: " + std::string(e.what()));
        return result;
    }

    const std::string command = FlashImageCommand(digest);
    SendLine(tunnel, command);
    if (ctx.detail()) ctx.log_line("-> " + command);
    if (WaitForData(tunnel, kFlashImageReplyWait)) {
        result = ReceiveLine(tunnel);
        if (ctx.detail()) ctx.log_line("<- " + result);
    }
    return result;
}

}  // namespace kv
