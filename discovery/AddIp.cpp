#include "discovery/AddIp.h"

#include <charconv>
#include <exception>

#include "core/ports/ChannelError.h"
#include "discovery/Discovery.h"

namespace kv {

namespace {

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

std::optional<int> ParsePortNumber(const std::string& text) {
    std::string digits = trimmed(text);
    if (!digits.empty() && digits.front() == '+') digits.erase(0, 1);
    if (digits.empty()) return std::nullopt;
    long value = 0;
    const char* end = digits.data() + digits.size();
    auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (error != std::errc() || stop != end) return std::nullopt;
    // A port outside the TCP range would be cut down to some other port on connect.
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<int>(value);
}

void AddIP(Context& ctx, const std::string& addressText, bool usePort,
           const std::string& portText) {
    // The connect takes the entry's first word as the address; stray blanks would make it
    // miss the DeviceList entry.
    const std::string address = trimmed(addressText);
    if (address.empty()) return;

    if (usePort) {
        const std::optional<int> port = ParsePortNumber(portText);
        if (!port) {
            ctx.message_box("Misstyped IP or port number");
            return;
        }
        TMatrixRec device;
        device.IP = address;
        device.Port = *port;
        ctx.state.DeviceList.push_back(std::move(device));
        ctx.state.networkTree.push_back(address);
        ctx.showNetworkTree();
        return;
    }

    try {
        if (!StartDiscoveryListener(ctx)) throw ChannelError("UDP port 30718 cannot be opened");
        SendModuleQuery(ctx, address);
    } catch (const std::exception&) {
        ctx.message_box("Error on finding devices");
    }
}

}  // namespace kv
