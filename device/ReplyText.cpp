#include "device/ReplyText.h"

namespace kv {

namespace {

std::string valueAfter(const std::string& reply, char marker) {
    auto start = reply.find(marker);
    if (start == std::string::npos) return {};
    ++start;
    auto end = reply.find(')', start);
    return reply.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int digitAt(const std::string& text, std::size_t index) {
    if (index >= text.size()) return 0;
    char c = text[index];
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

}  // namespace

std::string IdentName(const std::string& reply) {
    if (reply.size() < 2) return {};
    return reply.substr(1, reply.size() - 2);
}

std::string SerialNumberText(const std::string& reply) {
    auto close = reply.find(')');
    if (close == std::string::npos || close < 1) return {};
    return reply.substr(1, close - 1);
}

std::string ValueAfterColon(const std::string& reply) {
    return valueAfter(reply, ':');
}

std::string ValueAfterEquals(const std::string& reply) {
    return valueAfter(reply, '=');
}

int FirmwareNumber(const std::string& version) {
    return 100 * digitAt(version, 0) + 10 * digitAt(version, 2) + digitAt(version, 4);
}

std::optional<std::string> ProtocolNumberText(const std::string& reply) {
    if (reply.find("(Current protocol") == std::string::npos &&
        reply.find("(CURRENT PROTOCOL") == std::string::npos) {
        return std::nullopt;
    }
    auto hash = reply.find('#');
    if (hash == std::string::npos || hash + 1 >= reply.size()) return std::string();
    return reply.substr(hash + 1, 1);
}

}  // namespace kv
