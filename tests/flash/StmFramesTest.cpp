#include <gtest/gtest.h>

#include <sstream>

#include "StmTestSupport.h"
#include "core/ports/ChannelError.h"
#include "flash/StmFrames.h"
#include "flash/StmHexSource.h"

namespace kv::test {
namespace {

TEST(StmFrames, BytesOnTheWire) {
    EXPECT_EQ(StmCommandFrame(0x7F), Bytes{0x7F});
    EXPECT_EQ(StmCommandFrame(0x43), (Bytes{0x43, 0xBC}));
    EXPECT_EQ(StmCommandFrame(0xFF), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(StmAddressFrame(0x08000000), (Bytes{0x08, 0x00, 0x00, 0x00, 0x08}));
    EXPECT_EQ(StmAddressFrame(0x08001230), (Bytes{0x08, 0x00, 0x12, 0x30, 0x2A}));
    EXPECT_EQ(StmReadRequest(256), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(StmReadRequest(1), (Bytes{0x00, 0xFF}));

    const Bytes data = pattern(256);
    const Bytes frame = StmDataFrame(data);
    ASSERT_EQ(frame.size(), 258u);
    EXPECT_EQ(frame.front(), 0xFF);
    std::uint8_t x = 0;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) x ^= frame[i];
    EXPECT_EQ(frame.back(), x);
    EXPECT_EQ(StmDataFrame(Bytes{0x12, 0x34}), (Bytes{0x01, 0x12, 0x34, 0x27}));
    EXPECT_THROW(StmDataFrame(Bytes(257, 0)), std::invalid_argument);
}

TEST(StmFrames, VersionAndIdentification) {
    EXPECT_EQ(StmVersionText(0x22), "2.2v");
    EXPECT_EQ(StmVersionText(0x3A), "3.Av");
    EXPECT_TRUE(StmChipAccepted(Bytes{0x79, 0x01, 0x04, 0x14, 0x79}));
    EXPECT_TRUE(StmChipAccepted(Bytes{0x79, 0x01, 0x04, 0x1F}));
    EXPECT_FALSE(StmChipAccepted(Bytes{0x79, 0x01, 0x04, 0x30, 0x79}));
    EXPECT_FALSE(StmChipAccepted(Bytes{0x79, 0x01, 0x06, 0x41, 0x79}));
    EXPECT_FALSE(StmChipAccepted(Bytes{0x79, 0x00, 0x04, 0x10, 0x79}));
    EXPECT_FALSE(StmChipAccepted(Bytes{0x79, 0x01, 0x04}));
}

struct Blocks {
    std::vector<StmBlock> blocks;
    std::vector<int> linesAfter;  // current line number after each block
};

Blocks collectAll(const std::string& text, std::uint16_t upper = 0x0800) {
    std::istringstream in(text);
    StmHexSource source(in);
    source.advance();
    Blocks out;
    while (!source.atEnd()) {
        if (source.recordType() != 0) {
            source.advance();
            continue;
        }
        out.blocks.push_back(source.collectBlock(upper));
        out.linesAfter.push_back(source.atEnd() ? -1 : source.lineNumber());
    }
    return out;
}

TEST(StmHexSource, BlocksFollowContiguousRecordsUpTo256Bytes) {
    // 17 records of 16 bytes from 0x0000: one full block, then the 17th alone.
    const Bytes data = pattern(272);
    std::string text;
    for (int i = 0; i < 17; ++i) {
        text +=
            hexRecord(0, static_cast<std::uint16_t>(i * 16), ByteView(data.data() + i * 16, 16));
    }
    Blocks got = collectAll(text);
    ASSERT_EQ(got.blocks.size(), 2u);
    EXPECT_EQ(got.blocks[0].address, 0x08000000u);
    EXPECT_EQ(got.blocks[0].data, Bytes(data.begin(), data.begin() + 256));
    EXPECT_EQ(got.linesAfter[0], 17);
    EXPECT_EQ(got.blocks[1].address, 0x08000100u);
    EXPECT_EQ(got.blocks[1].data.size(), 16u);
    EXPECT_EQ(got.linesAfter[1], -1);  // a last line that is a data record is in a block
}

TEST(StmHexSource, GapsAndOddRecordLengthsStartNewBlocks) {
    const Bytes a = pattern(16, 1), b = pattern(8, 2), c = pattern(8, 3);
    // 0x1230 then a jump to 0x1300; then an 8-byte record followed by one 16 above it,
    // which would land 8 bytes too low if it were appended.
    std::string text = hexRecord(0, 0x1230, a) + hexRecord(0, 0x1300, b) + hexRecord(0, 0x1310, c) +
                       hexRecord(1, 0, {});
    Blocks got = collectAll(text);
    ASSERT_EQ(got.blocks.size(), 3u);
    EXPECT_EQ(got.blocks[0].address, 0x08001230u);
    EXPECT_EQ(got.blocks[1].address, 0x08001300u);
    EXPECT_EQ(got.blocks[1].data, b);
    EXPECT_EQ(got.blocks[2].address, 0x08001310u);

    // 24-byte records: a block never grows beyond what one data frame carries.
    const Bytes long24 = pattern(24 * 12, 4);
    Blocks wide = collectAll(makeHex({{0x08000000, long24}}, 24));
    std::size_t total = 0;
    for (const auto& block : wide.blocks) {
        EXPECT_LE(block.data.size(), 256u);
        EXPECT_EQ(block.address, 0x08000000u + total);
        total += block.data.size();
    }
    EXPECT_EQ(total, long24.size());
}

TEST(StmHexSource, BrokenLinesThrowTheReadersTexts) {
    std::istringstream in(":1000000000\r\n:0400\r\n");
    StmHexSource source(in);
    source.advance();
    EXPECT_EQ(source.recordType(), 0);
    try {
        source.recordData();
        FAIL();
    } catch (const KvError& e) {
        EXPECT_STREQ(e.what(), "Illegal record length");
    }
    std::istringstream bad(":0A00G000\r\n");
    StmHexSource other(bad);
    other.advance();
    try {
        other.recordAddress();
        FAIL();
    } catch (const KvError& e) {
        EXPECT_STREQ(e.what(), "No Hex-Number");
    }
    source.advance();
    EXPECT_THROW(source.recordType(), KvError);
}

}  // namespace
}  // namespace kv::test
