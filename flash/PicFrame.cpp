#include "flash/PicFrame.h"

namespace kv {

std::uint8_t PicChecksum(ByteView bytes) {
    unsigned sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

Bytes PicEncodeFrame(ByteView payload) {
    Bytes frame{kPicStx, kPicStx};
    frame.reserve(2 * payload.size() + 3);
    for (std::uint8_t b : payload) {
        if (PicNeedsStuffing(b)) frame.push_back(kPicDle);
        frame.push_back(b);
    }
    frame.push_back(kPicEtx);
    return frame;
}

std::array<std::uint8_t, 5> PicHeader(std::uint8_t command, std::uint8_t length,
                                      std::uint32_t address) {
    return {command, length, static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address >> 16)};
}

std::size_t PicFixedReplyLength(std::uint8_t thirdFrameByte) {
    switch (thirdFrameByte) {
        case kPicWriteProgram:
        case kPicEraseProgram:
            return 5;  // STX STX command checksum ETX
        case kPicWriteEeprom:
            return 6;  // the reply's command byte 0x05 travels behind a DLE
        default:
            return 0;
    }
}

bool PicAwaitsReply(std::uint8_t thirdFrameByte) {
    return thirdFrameByte == kPicReadProgram || PicFixedReplyLength(thirdFrameByte) > 0;
}

bool PicReadBackFlag(std::uint32_t address, ByteView block) {
    auto header = PicHeader(kPicReadProgram, kPicBlockSize, address);
    unsigned sum = 0;
    for (std::uint8_t b : header) sum += b;
    for (std::uint8_t b : block) sum += b;
    return PicNeedsStuffing(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
}

int PicReplyLengthAfterWrite(std::size_t writeFrameLength, bool readBackFlag,
                             bool ownChecksumStuffed) {
    int length = static_cast<int>(writeFrameLength);
    if (readBackFlag && !ownChecksumStuffed) return length + 1;
    if (!readBackFlag && ownChecksumStuffed) return length - 1;
    return length;
}

void PicReplyDecoder::feed(std::uint8_t byte) {
    if (!escaped_ && byte == kPicDle) {
        escaped_ = true;
        return;
    }
    escaped_ = false;
    ++count_;
    if (count_ >= kFirstDataByte && count_ < kFirstDataByte + static_cast<int>(kPicBlockSize)) {
        data_[static_cast<std::size_t>(count_ - kFirstDataByte)] = byte;
    }
}

}  // namespace kv
