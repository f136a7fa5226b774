#include <chrono>

#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "device/Inventory.h"

namespace kv {

namespace {

constexpr int kHttpPort = 80;
constexpr auto kVersionPageWait = std::chrono::milliseconds(4000);
// SendLine adds one more CR LF: the request ends in three of them.
const std::string kVersionRequest = "GET /js/version.html HTTP/1.0\r\n\r\n";
// Status line, one header, the empty line, then the version.
constexpr int kVersionLine = 4;

}  // namespace

std::string QueryWebContentVersion(Context& ctx, const std::string& address) {
    if (!ctx.ports.TcpClient2) throw KvError("The web client is not available");
    TcpClient& client = *ctx.ports.TcpClient2;
    struct CloseAfterwards {
        TcpClient& client;
        ~CloseAfterwards() { Disconnect(client); }
    } closing{client};

    client.setHost(address);
    client.setPort(kHttpPort);
    if (Connect(client)) SendLine(client, kVersionRequest);
    if (!WaitForData(client, kVersionPageWait)) {
        ctx.message_box("Can not retreive Web Content Version");
        return {};
    }
    std::string line;
    for (int i = 0; i < kVersionLine; ++i) line = ReceiveLine(client);
    return line;
}

}  // namespace kv
