#include "IdentCard.h"

namespace kv::sim {

Bytes IdentCard::receive(ByteView data) {
    received.insert(received.end(), data.begin(), data.end());
    if (!hearing()) {
        garbledBytes += data.size();
        return {};
    }
    Bytes out;
    for (const Bytes& payload : frames_.feed(data)) {
        if (!card_frame::isIdentRequest(payload)) {
            ++otherFrames;
            continue;
        }
        ++identRequests;
        if (silent) continue;
        Bytes reply = card_frame::identReply(config.text);
        out.insert(out.end(), reply.begin(), reply.end());
    }
    return out;
}

}  // namespace kv::sim
