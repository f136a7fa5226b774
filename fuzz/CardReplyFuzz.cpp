// The card identification reply decoder on arbitrary bytes from the network.
#include <algorithm>
#include <string>

#include "FuzzCheck.h"
#include "device/CardReplyDecoder.h"

using kv::CardReplyDecoder;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kv::ByteView bytes(data, size);

    CardReplyDecoder whole;
    const std::size_t used = whole.feed(bytes);
    // Never takes more than its buffer, and stops at the end byte or the limit.
    FUZZ_CHECK(used <= size);
    FUZZ_CHECK(used <= CardReplyDecoder::kBufferSize);
    const auto end = std::find(data, data + used, CardReplyDecoder::kEndByte);
    switch (whole.state()) {
        case CardReplyDecoder::State::Complete:
            FUZZ_CHECK(end == data + used - 1);
            break;
        case CardReplyDecoder::State::Overflow:
            FUZZ_CHECK(used == CardReplyDecoder::kBufferSize && end == data + used);
            break;
        case CardReplyDecoder::State::NeedMore:
            FUZZ_CHECK(used == size && size < CardReplyDecoder::kBufferSize);
            FUZZ_CHECK(end == data + used);
            break;
    }

    // The text holds no frame bytes and fits the buffer less its frame.
    const std::string text = whole.text();
    FUZZ_CHECK(text.size() + 5 <= CardReplyDecoder::kBufferSize);
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    FUZZ_CHECK(text.find(static_cast<char>(CardReplyDecoder::kEndByte)) == std::string::npos);

    // Byte by byte the decoder ends the same way.
    CardReplyDecoder single;
    for (std::size_t i = 0; i < size; ++i) {
        if (single.feed(data[i]) != CardReplyDecoder::State::NeedMore) break;
    }
    FUZZ_CHECK(single.state() == whole.state());
    FUZZ_CHECK(single.text() == text);
    return 0;
}
