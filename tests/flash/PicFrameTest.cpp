#include <gtest/gtest.h>

#include <numeric>

#include "flash/PicFrame.h"

namespace kv {
namespace {

Bytes payloadOf(std::initializer_list<std::uint8_t> header, Bytes data = {}) {
    Bytes payload(header);
    payload.insert(payload.end(), data.begin(), data.end());
    payload.push_back(PicChecksum(payload));
    return payload;
}

TEST(PicFrame, ReadAndEraseFramesOnTheWire) {
    Bytes read = payloadOf({0x01, 0x10, 0x00, 0x08, 0x00});
    EXPECT_EQ(read.back(), 0xE7);
    EXPECT_EQ(PicEncodeFrame(read), (Bytes{0x0F, 0x0F, 0x01, 0x10, 0x00, 0x08, 0x00, 0xE7, 0x04}));

    // The address byte 0x04 travels behind a DLE.
    Bytes erase = payloadOf({0x03, 0x01, 0x00, 0x04, 0x00});
    EXPECT_EQ(erase.back(), 0xF8);
    EXPECT_EQ(PicEncodeFrame(erase),
              (Bytes{0x0F, 0x0F, 0x03, 0x01, 0x00, 0x05, 0x04, 0x00, 0xF8, 0x04}));
    EXPECT_EQ(payloadOf({0x03, 0x01, 0x00, 0x08, 0x00}),
              (Bytes{0x03, 0x01, 0x00, 0x08, 0x00, 0xF4}));
}

TEST(PicFrame, WriteFrameStuffsDataAndPredictsTheVerifyReply) {
    Bytes block(16);
    std::iota(block.begin(), block.end(), 0);
    Bytes write = payloadOf({0x02, 0x02, 0x00, 0x08, 0x00}, block);
    EXPECT_EQ(write.back(), 0x7C);
    Bytes frame = PicEncodeFrame(write);
    EXPECT_EQ(frame.size(), 28u);  // 04, 05 and 0F each gain a DLE
    EXPECT_EQ(Bytes(frame.begin() + 7, frame.begin() + 15),
              (Bytes{0x00, 0x01, 0x02, 0x03, 0x05, 0x04, 0x05, 0x05}));
    EXPECT_FALSE(PicReadBackFlag(0x0800, block));
    EXPECT_EQ(PicReplyLengthAfterWrite(frame.size(), false, false), 28);

    // Fifteen 0xFF and 0xE7: the write's checksum needs no DLE, the read reply's (0x0F) does.
    Bytes ff(15, 0xFF);
    ff.push_back(0xE7);
    Bytes write2 = payloadOf({0x02, 0x02, 0x00, 0x08, 0x00}, ff);
    EXPECT_EQ(write2.back(), 0x1C);
    EXPECT_EQ(PicEncodeFrame(write2).size(), 25u);
    EXPECT_TRUE(PicReadBackFlag(0x0800, ff));
    EXPECT_EQ(PicReplyLengthAfterWrite(25, true, false), 26);
    EXPECT_EQ(PicReplyLengthAfterWrite(25, false, true), 24);
    EXPECT_EQ(PicReplyLengthAfterWrite(25, true, true), 25);
}

TEST(PicFrame, RepliesAwaitedByThirdFrameByte) {
    EXPECT_TRUE(PicAwaitsReply(1));
    EXPECT_EQ(PicFixedReplyLength(2), 5u);
    EXPECT_EQ(PicFixedReplyLength(3), 5u);
    EXPECT_EQ(PicFixedReplyLength(5), 6u);  // also the DLE in front of a stuffed command
    EXPECT_FALSE(PicAwaitsReply(0));
    EXPECT_FALSE(PicAwaitsReply(4));
    EXPECT_FALSE(PicAwaitsReply(0x0F));
}

TEST(PicReplyDecoder, KeepsSixteenDataBytesAndDropsEscapes) {
    Bytes reply{0x0F, 0x0F, 0x01, 0x10, 0x00, 0x08, 0x00};
    Bytes data{0x10, 0x11, 0x05, 0x13, 0x14, 0x15, 0x16, 0x17,
               0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
    for (std::uint8_t b : data) {
        if (b == 0x05) reply.push_back(0x05);
        reply.push_back(b);
    }
    reply.push_back(0x05);  // a stuffed checksum
    reply.push_back(0x0F);
    reply.push_back(0x04);

    std::array<std::uint8_t, 16> out{};
    PicReplyDecoder decoder(out);
    decoder.feed(reply);
    EXPECT_EQ(decoder.count(), 25);
    EXPECT_EQ(Bytes(out.begin(), out.end()), data);

    // A short reply leaves the positions it did not reach alone.
    std::array<std::uint8_t, 16> partial;
    partial.fill(0xAA);
    PicReplyDecoder shortDecoder(partial);
    shortDecoder.feed(ByteView(reply).first(9));
    EXPECT_EQ(shortDecoder.count(), 9);
    EXPECT_EQ(partial[0], 0x10);
    EXPECT_EQ(partial[1], 0x11);
    EXPECT_EQ(partial[2], 0xAA);
}

}  // namespace
}  // namespace kv
