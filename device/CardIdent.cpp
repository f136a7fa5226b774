#include "device/CardIdent.h"

#include <exception>

#include "device/CardReplyDecoder.h"
#include "device/Channels.h"
#include "device/TextCommands.h"

namespace kv {

namespace {

constexpr auto kShortByteWait = std::chrono::milliseconds(300);
constexpr auto kLongByteWait = std::chrono::milliseconds(800);
constexpr auto kSerialSlice = std::chrono::milliseconds(100);
constexpr int kSerialSlices = 3;
// A card answers within a fraction of a second; one that keeps trickling bytes is not
// allowed to hold the engine beyond this, however short each pause.
constexpr auto kNetworkReplyLimit = std::chrono::milliseconds(5000);
// What is left of an overlong reply is drained so it does not prefix the next answer.
constexpr std::size_t kDrainBytes = 4096;

std::string finish(Context& ctx, const CardReplyDecoder& decoder) {
    if (decoder.state() == CardReplyDecoder::State::Overflow) {
        ctx.log_line("Card reply longer than " + std::to_string(CardReplyDecoder::kBufferSize) +
                     " bytes");
    }
    std::string result = decoder.state() == CardReplyDecoder::State::Complete
                             ? decoder.text()
                             : std::string(kNoCardFound);
    if (ctx.detail()) ctx.log_and_show(result);
    return result;
}

void reportQueryError(Context& ctx, const std::exception& e) {
    ctx.error_box(std::string("Error in Query card:\r") + e.what());
}

std::string readNetwork(Context& ctx, bool reconnect, std::chrono::milliseconds byteWait) {
    TcpClient& client = *ctx.ports.TcpClient1;
    const std::string& address = ctx.state.CurrentIP;
    try {
        const TMatrixRec* device = ctx.state.selectedDevice();
        const int port = device ? device->Port : client.port();
        if (client.connected() && (client.host() != address || client.port() != port)) {
            Disconnect(client);
        }
        client.setHost(address);
        client.setPort(port);
        if (reconnect) Disconnect(client);
        ConnectUntilUp(ctx, client, address);
        SendBytes(client, kCardIdentRequest);
    } catch (const std::exception& e) {
        reportQueryError(ctx, e);
        return {};
    }

    CardReplyDecoder decoder;
    const auto start = ctx.clock.now();
    try {
        while (decoder.state() == CardReplyDecoder::State::NeedMore) {
            if (ctx.clock.now() - start >= kNetworkReplyLimit) break;
            if (!WaitForData(client, byteWait)) break;
            decoder.feed(ReceiveByte(client));
        }
        if (decoder.state() == CardReplyDecoder::State::Overflow) {
            ReceiveBytes(client, kDrainBytes);
        }
    } catch (const std::exception&) {
        // A failing read is a silent card.
    }
    return finish(ctx, decoder);
}

std::string readSerial(Context& ctx) {
    ctx.state.RxCount = 0;
    try {
        WriteBytes(*ctx.ports.ComPort1, kCardIdentRequest);
    } catch (const std::exception& e) {
        reportQueryError(ctx, e);
        return {};
    }
    for (int i = 0; i < kSerialSlices; ++i) {
        ctx.sleep(kSerialSlice);
        ctx.ProcessMessages();
    }
    CardReplyDecoder decoder;
    decoder.feed(ctx.state.rxBytes());
    return finish(ctx, decoder);
}

}  // namespace

std::string ReadCardIdent(Context& ctx, CardIdentVariant variant) {
    switch (variant) {
        case CardIdentVariant::Network300:
            return readNetwork(ctx, false, kShortByteWait);
        case CardIdentVariant::Network800:
            return readNetwork(ctx, true, kLongByteWait);
        case CardIdentVariant::Serial:
            return readSerial(ctx);
    }
    return std::string(kNoCardFound);
}

}  // namespace kv
