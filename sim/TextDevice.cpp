#include "TextDevice.h"

namespace kv::sim {

namespace {
// A command that never closes is noise; the parser forgets it beyond this length.
constexpr std::size_t kMaxPending = 4096;
}  // namespace

Bytes TextDevice::receive(ByteView data) {
    received.insert(received.end(), data.begin(), data.end());
    if (!hearing()) {
        garbledBytes += data.size();
        return {};
    }
    Bytes out;
    if (config.cardText) {
        for (const Bytes& payload : frames_.feed(data)) {
            if (!card_frame::isIdentRequest(payload)) continue;
            ++identRequests;
            if (silent) continue;
            Bytes reply = card_frame::identReply(*config.cardText);
            out.insert(out.end(), reply.begin(), reply.end());
        }
    }
    pending_.append(data.begin(), data.end());
    for (;;) {
        auto open = pending_.find_first_of("{(");
        if (open == std::string::npos) {
            pending_.clear();
            break;
        }
        const char closing = pending_[open] == '{' ? '}' : ')';
        auto close = pending_.find(closing, open);
        if (close == std::string::npos) {
            pending_.erase(0, open);
            if (pending_.size() > kMaxPending) pending_.clear();
            break;
        }
        std::string command = pending_.substr(open, close - open + 1);
        pending_.erase(0, close + 1);
        commands.push_back(command);
        Bytes reply = answer(command);
        if (silent) continue;
        out.insert(out.end(), reply.begin(), reply.end());
    }
    return out;
}

Bytes TextDevice::lines(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& text : texts) {
        if (halfLineReplies > 0) {
            --halfLineReplies;
            ++halfLinesSent;
            out += text.substr(0, text.size() / 2);
            break;
        }
        out += text + "\r\n";
    }
    return Bytes(out.begin(), out.end());
}

Bytes TextDevice::answer(const std::string& command) {
    if (command == "{P_?}") return lines({config.protocol});
    if (command == "{P_1}") {
        ++protocolSwitches;
        config.protocol = "(Current protocol#1)";
        return {};
    }
    if (command == "{I}") return lines({config.ident});
    if (command == "{S}") return lines({config.serial});
    if (command == "{F}") {
        const std::optional<std::string> running = firmwareSource ? firmwareSource() : std::nullopt;
        return lines({running ? "(" + *running + ")" : config.firmware});
    }
    if (command == "{LAN_VER=?}") return lines(config.lanVersion);
    if (command == "{P_PRGRQST}") {
        if (!config.programRequestReply) return {};
        return Bytes(config.programRequestReply->begin(), config.programRequestReply->end());
    }
    for (const auto& handler : handlers_) {
        if (auto reply = handler(command)) return *reply;
    }
    ++unknownCommands;
    return {};
}

}  // namespace kv::sim
