#include <chrono>
#include <exception>

#include "core/ports/ChannelError.h"
#include "device/Channels.h"
#include "module/ModuleOperations.h"
#include "module/SetupRecord.h"

namespace kv {

namespace {

constexpr auto kSetupAnswerWait = std::chrono::milliseconds(3500);

[[noreturn]] void connectionLost(Context& ctx) {
    ctx.message_box("Connection lost with the device");
    throw KvError("Connection Lost Error");
}

// The record may arrive in several segments; a record cut short must never be written
// back, or the module would store the missing bytes as zeros.
Bytes receiveRecord(Context& ctx, TcpClient& client) {
    Bytes record;
    while (record.size() < kSetupRecordSize) {
        if (!WaitForData(client, kSetupAnswerWait)) connectionLost(ctx);
        Bytes part = ReceiveBytes(client, kSetupRecordSize - record.size());
        record.insert(record.end(), part.begin(), part.end());
    }
    return record;
}

// `switchesOver`: the setting takes the device away from normal operation.
void runSetup(Context& ctx, const std::string& address, const SerialSetting& setting,
              bool switchesOver) {
    TcpClient& client = *ctx.ports.TcpClient1;
    const std::string previousHost = client.host();
    const int previousPort = client.port();
    try {
        if (client.connected()) Disconnect(client);
        client.setHost(address);
        client.setPort(kSetupPort);
        // A refused connection shows up as the missing answer below.
        if (Connect(client)) SendBytes(client, kSetupRecordRequest);

        Bytes record = receiveRecord(ctx, client);
        if (record[3] != kSetupRecordCode) throw KvError("Invalid set-up record");
        if (switchesOver) {
            NoteSwitchedOver(ctx, address, DeviceChange::SerialSetup,
                             std::string(NormalSettingOf(record)));
        }
        SendBytes(client, ApplySerialSetting(record, setting));

        if (!WaitForData(client, kSetupAnswerWait)) connectionLost(ctx);
        (void)ReceiveBytes(client, kSetupAckSize);

        Disconnect(client);
        // Later tunnel users reconnect with the client's settings, not the set-up port.
        client.setHost(previousHost);
        client.setPort(previousPort);
        if (ctx.detail()) ctx.log_and_show(std::string(setting.logLine));
    } catch (const std::exception& e) {
        ctx.error_box(std::string("Error in Setup:\r") + e.what());
    }
}

}  // namespace

void setup_57600_even(Context& ctx, const std::string& address) {
    runSetup(ctx, address, kSetup57600Even, true);
}

void setup_57600_none(Context& ctx, const std::string& address) {
    runSetup(ctx, address, kSetup57600None, false);
}

void setup_19200_none(Context& ctx, const std::string& address) {
    runSetup(ctx, address, kSetup19200None, true);
}

void setup_9600_none(Context& ctx, const std::string& address) {
    runSetup(ctx, address, kSetup9600None, false);
}

}  // namespace kv
