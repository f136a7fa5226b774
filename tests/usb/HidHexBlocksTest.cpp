#include <gtest/gtest.h>

#include "UsbTestRig.h"
#include "core/ports/ChannelError.h"
#include "flash/HidHexBlocks.h"

namespace kv::test {
namespace {

std::vector<std::string> twoBlocks() {
    return {":020000040000FA",
            sim::HexRecordLine(0, 0x1FF0, std::vector<std::uint8_t>(16, 0xEE)),
            sim::HexRecordLine(0, 0x2000, std::vector<std::uint8_t>(16, 0x01)),
            sim::HexRecordLine(0, 0x2010, std::vector<std::uint8_t>(16, 0x02)),
            sim::HexRecordLine(0, 0x2020, std::vector<std::uint8_t>(16, 0x03)),
            sim::HexRecordLine(0, 0x2030, std::vector<std::uint8_t>(16, 0x04)),
            ":00000001FF"};
}

std::string errorOf(const std::vector<std::string>& lines, int blocks = 2) {
    try {
        HidBlocksFromHex(lines, ":101FF0", blocks);
    } catch (const KvError& e) {
        return e.what();
    }
    return "";
}

TEST(HidHexBlocks, CutsLinePairsIntoBlocks) {
    auto lines = twoBlocks();
    lines[3] += "\r";  // CR LF files
    auto blocks = HidBlocksFromHex(lines, ":101FF0", 2);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].addressHigh, 0x20);
    EXPECT_EQ(blocks[1].addressLow, 0x20);
    EXPECT_EQ(blocks[1].data[0], 0x03);
    EXPECT_EQ(blocks[1].data[31], 0x04);
    EXPECT_EQ(HidBlockCount(kHidStartAddress, kHidEndAddress), 1791);
}

TEST(HidHexBlocks, UnfitFilesAreNamedPrecisely) {
    auto lines = twoBlocks();
    lines.erase(lines.begin() + 1);
    EXPECT_EQ(errorOf(lines), "Invalid firmware file: no line starts with :101FF0");

    EXPECT_EQ(errorOf(twoBlocks(), 3), "Invalid firmware file: it ends after 4 of 6 data lines");
    lines = twoBlocks();
    lines.pop_back();
    EXPECT_EQ(errorOf(lines, 3), "Invalid firmware file: it ends after 4 of 6 data lines");

    lines = twoBlocks();
    lines[3] = sim::HexRecordLine(0, 0x2010, std::vector<std::uint8_t>(8, 0x02));
    EXPECT_EQ(errorOf(lines), "Invalid firmware file: line 4 is not a 16-byte data record");
    lines = twoBlocks();
    lines[4] = ":020000040001F9";
    EXPECT_EQ(errorOf(lines), "Invalid firmware file: line 5 is not a 16-byte data record");
    lines = twoBlocks();
    lines[2][12] = 'G';
    EXPECT_EQ(errorOf(lines), "Invalid firmware file: line 3: No Hex-Number");

    lines = twoBlocks();
    lines[5][10] = lines[5][10] == '0' ? '1' : '0';
    EXPECT_EQ(errorOf(lines), "Invalid firmware file: line 6: Checksum error");
}

TEST(HidHexBlocks, DescriptorNameIsTheLowBytesOfTheStringDescriptor) {
    EXPECT_EQ(HidDescriptorName(HidDescriptorBytes(UsbImage("USB-SW").lines)), "USB-SW");

    std::string longName(40, 'N');
    EXPECT_EQ(HidDescriptorName(HidDescriptorBytes(UsbImage(longName).lines)),
              std::string(31, 'N'));

    std::array<std::uint8_t, 64> erased;
    erased.fill(0xFF);
    EXPECT_EQ(HidDescriptorName(erased), std::nullopt);

    // Without the line at 0x1830 nothing is read: an empty name, never a stale one.
    EXPECT_EQ(HidDescriptorName(HidDescriptorBytes(twoBlocks())), "");
}

}  // namespace
}  // namespace kv::test
