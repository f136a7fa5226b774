#include <gtest/gtest.h>

#include <sstream>

#include "core/ports/ChannelError.h"
#include "firmware/HexRecord.h"

namespace kv {
namespace {

TEST(HexToInt, AcceptsBothCasesAndRejectsAnythingElse) {
    EXPECT_EQ(HexToInt("1f"), 31);
    EXPECT_EQ(HexToInt("1F"), 31);
    EXPECT_EQ(HexToInt(""), 0);
    EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
    for (const char* bad : {"G1", " 1", "1-", "0x10"}) {
        try {
            HexToInt(bad);
            ADD_FAILURE() << bad;
        } catch (const KvError& e) {
            EXPECT_STREQ(e.what(), "No Hex-Number") << bad;
        }
    }
}

TEST(HexFieldValue, ReadsFieldsByPositionAndFlagsBadOnes) {
    const std::string line = ":10080000000102030405060708090A0B0C0D0E0F70";
    EXPECT_EQ(HexFieldValue(line, 1, 3), 0x10);
    EXPECT_EQ(HexFieldValue(line, 3, 7), 0x0800);
    EXPECT_EQ(HexFieldValue(line, 7, 9), 0);
    EXPECT_EQ(HexFieldValue(line, 9 + 2 * 15, 11 + 2 * 15), 0x0F);
    EXPECT_EQ(HexFieldValue(":1g", 1, 3), kNoHexValue);
    EXPECT_EQ(HexFieldValue(":1", 1, 3), kNoHexValue);  // runs past the end
    EXPECT_EQ(HexFieldValue(":ab", 1, 3), 0xAB);
}

TEST(DecodeHexRecord, KeepsOnlyTrustworthyRecords) {
    HexRecord r;
    ASSERT_TRUE(DecodeHexRecord(":10080000000102030405060708090A0B0C0D0E0F70", r));
    EXPECT_EQ(r.count, 16);
    EXPECT_EQ(r.address, 0x0800);
    EXPECT_EQ(r.type, 0);
    ASSERT_EQ(r.data.size(), 16u);
    EXPECT_EQ(r.data[15], 0x0F);
    ASSERT_TRUE(DecodeHexRecord(":020000040030ca", r));  // lower case digits
    EXPECT_EQ(r.data[1], 0x30);

    for (const char* bad : {":10080000000102030405060708090A0B0C0D0E0F71",    // checksum off by one
                            ":10080000000102030405060708090A0B0C0D0E0F7000",  // 2n + 13 characters
                            ":100800000102030405060708090A0B0C0D0E0F70",      // a byte missing
                            ":10080000000102030405060708090A0B0C0D0EGF70",    // not hexadecimal
                            "10080000000102030405060708090A0B0C0D0E0F70",     // no colon
                            " :020000040030CA", ":", ""}) {
        EXPECT_FALSE(DecodeHexRecord(bad, r)) << bad;
    }
}

TEST(HexLineFault, RunsTheFourTestsInOrder) {
    EXPECT_EQ(HexLineFault(":10080000000102030405060708090A0B0C0D0E0F70"), "");
    EXPECT_EQ(HexLineFault(":00000001FF"), "");
    EXPECT_EQ(HexLineFault(""), "Illegal record");
    EXPECT_EQ(HexLineFault(" :00000001FF"), "Illegal record");
    EXPECT_EQ(HexLineFault(":00000001FF0"), "Illegal record length");  // 2n + 12
    EXPECT_EQ(HexLineFault(":00000001FE"), "Checksum error");
    EXPECT_EQ(HexLineFault(":00000006FA"), "Unknown record type 06");
    // A bad length wins over a bad checksum; a non-hex count or byte is "No Hex-Number".
    EXPECT_EQ(HexLineFault(":00000001FE0"), "Illegal record length");
    EXPECT_EQ(HexLineFault(":0G000001FF"), "No Hex-Number");
    EXPECT_EQ(HexLineFault(":0000000XFF"), "No Hex-Number");
    // The type is tested last: a type 07 line with a wrong checksum is a checksum error.
    EXPECT_EQ(HexLineFault(":00000007FA"), "Checksum error");
}

TEST(ReadHexLine, SplitsAtEveryLineEndAndBoundsLongLines) {
    std::istringstream in(std::string("a\r\nb\nc\rd\n\nlast") + "\n" + std::string(5000, 'x') +
                          "\ntail");
    std::string line;
    std::vector<std::string> lines;
    while (ReadHexLine(in, line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "a");
    EXPECT_EQ(lines[1], "b");
    EXPECT_EQ(lines[2], "c");
    EXPECT_EQ(lines[3], "d");
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "last");
    EXPECT_EQ(lines[6].size(), kMaxHexLineLength + 1);
    EXPECT_EQ(lines[7], "tail");
    // An over-long line is never a record and fails the length test.
    EXPECT_EQ(HexLineFault(":" + std::string(5000, '0')), "Illegal record length");
}

}  // namespace
}  // namespace kv
