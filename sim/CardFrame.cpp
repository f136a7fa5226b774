#include "CardFrame.h"

namespace kv::sim {

namespace card_frame {

namespace {
std::uint8_t checksumOf(ByteView bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
    return static_cast<std::uint8_t>(-sum);
}
}  // namespace

Bytes frame(ByteView body) {
    Bytes out{kStx, kStx};
    auto put = [&out](std::uint8_t b) {
        if (b == kStx || b == kDle || b == kEtx) out.push_back(kDle);
        out.push_back(b);
    };
    for (std::uint8_t b : body) put(b);
    put(checksumOf(body));
    out.push_back(kEtx);
    return out;
}

Bytes identReply(std::string_view text) {
    Bytes body{kReadVersion};
    body.insert(body.end(), text.begin(), text.end());
    return frame(body);
}

bool checksumOk(ByteView payload) {
    return !payload.empty() && checksumOf(payload) == 0;
}

bool isIdentRequest(ByteView payload) {
    return payload.size() == 3 && payload[0] == kReadVersion && payload[1] == 0x02 &&
           checksumOk(payload);
}

}  // namespace card_frame

}  // namespace kv::sim
