#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "StmTestSupport.h"
#include "core/ports/ChannelError.h"
#include "flash/StmFrames.h"
#include "flash/StmHexSource.h"
#include "flash/StmImage.h"

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

// Walks a file as the programmer does: the blocks each data record asks for, in order.
std::vector<StmBlock> cutAll(const std::string& text) {
    std::istringstream in(text);
    StmImage image = StmImage::read(in);
    std::istringstream again(text);
    StmHexSource source(again);
    std::vector<StmBlock> blocks;
    std::uint32_t upper = 0;
    while (source.advance()) {
        if (source.recordType() == 4) upper = std::uint32_t(source.upperAddress()) << 16;
        if (source.recordType() != 0) continue;
        for (auto& block : image.takeBlocksCovering(upper | source.recordAddress(),
                                                    std::size_t(source.byteCount()))) {
            blocks.push_back(std::move(block));
        }
    }
    return blocks;
}

// The flash as the blocks leave it, each word written once (as the chip requires).
std::map<std::uint32_t, std::uint8_t> program(const std::vector<StmBlock>& blocks) {
    std::map<std::uint32_t, std::uint8_t> flash;
    for (const auto& block : blocks) {
        EXPECT_EQ(block.address % 4, 0u);
        EXPECT_EQ(block.data.size() % 4, 0u);
        EXPECT_LE(block.data.size(), 256u);
        for (std::size_t i = 0; i < block.data.size(); ++i) {
            EXPECT_TRUE(flash.emplace(block.address + std::uint32_t(i), block.data[i]).second)
                << "byte written twice at " << block.address + i;
        }
    }
    return flash;
}

TEST(StmImage, BlocksAreAlignedWholeWordsAndHoldTheFile) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, std::size_t>> records;  // address, length
        std::size_t blocks;
    };
    const std::vector<Case> cases{
        {"17 records of 16 bytes: a full block, then one", {}, 2},
        {"16-, 13- and 7-byte records back to back", {{0x0100, 16}, {0x0110, 13}, {0x011D, 7}}, 1},
        {"odd start, gap inside a word", {{0x0201, 3}, {0x0206, 5}, {0x0300, 1}}, 2},
        {"two records sharing a word out of order", {{0x0408, 6}, {0x0400, 6}}, 2},
        {"a 64 KiB boundary ends a block", {{0xFFF8, 8}, {0x10000, 8}}, 2},
    };
    for (const auto& c : cases) {
        auto records = c.records;
        if (records.empty()) {
            for (std::uint32_t i = 0; i < 17; ++i) records.emplace_back(i * 16, 16);
        }
        std::string text;
        std::map<std::uint32_t, std::uint8_t> expected;
        std::uint32_t upper = 0xFFFFFFFF;
        std::uint8_t seed = 1;
        for (const auto& [offset, length] : records) {
            const std::uint32_t address = 0x08000000 + offset;
            if ((address >> 16) != upper) {
                upper = address >> 16;
                text += hexLinear(upper) + "\r\n";
            }
            const Bytes data = pattern(length, seed++);
            text += sim::HexRecordLine(0, std::uint16_t(address), data) + "\r\n";
            for (std::size_t i = 0; i < length; ++i) expected[address + std::uint32_t(i)] = data[i];
        }
        text += sim::HexRecordLine(1, 0, {}) + "\r\n";
        SCOPED_TRACE(c.name);
        const auto blocks = cutAll(text);
        EXPECT_EQ(blocks.size(), c.blocks);
        for (const auto& [address, value] : program(blocks)) {
            auto it = expected.find(address);
            EXPECT_EQ(value, it == expected.end() ? 0xFF : it->second) << std::hex << address;
        }
        for (const auto& [address, value] : expected) {
            (void)value;
            EXPECT_TRUE(program(blocks).count(address)) << std::hex << address;
        }
    }
}

// An extended address record of another length than 2 would take its upper address
// from its checksum: the file is refused while it is read, before anything is erased.
TEST(StmImage, ExtendedAddressRecordOfAnotherLengthIsRefused) {
    for (const char* record : {":0100000408F3", ":03000004080000F1", ":00000004FC"}) {
        SCOPED_TRACE(record);
        std::istringstream in(std::string(record) + "\r\n:0400000001020304F2\r\n");
        EXPECT_THROW(StmImage::read(in), KvError);
    }
    std::istringstream good(":020000040800F2\r\n:0400000001020304F2\r\n");
    EXPECT_EQ(StmImage::read(good).wordCount(), 1u);
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
