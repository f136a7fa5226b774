#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "FakeRig.h"
#include "HexLines.h"
#include "core/ports/ChannelError.h"
#include "firmware/HexFile.h"

namespace kv {
namespace {

using sim::HexRecordLine;
using test::hexLinear;
using test::textBytes;

struct Seen {
    int memoryClass;
    int upper;
    int address;
    Bytes data;
};

class HexFileTest : public ::testing::Test {
  protected:
    test::FakeRig rig;
    HexReaderState reader;
    std::vector<Seen> seen;

    int program(const std::string& text) {
        std::istringstream in(text);
        return ProcessHexFile(
            rig.ctx, reader, kHexProgrammingPass, in, [&](const HexDataRecord& r) {
                seen.push_back(
                    {r.memoryClass, r.upper, r.address, Bytes(r.data.begin(), r.data.end())});
            });
    }
    int scan(const std::string& text) {
        std::istringstream in(text);
        return ProcessHexFile(rig.ctx, reader, kHexInformationScan, in);
    }
    bool check(const std::string& text) {
        std::istringstream in(text);
        return CheckHexFile(rig.ctx, reader, in);
    }
};

TEST_F(HexFileTest, LinearAddressRecordsChooseMemoryClassAndUpperByte) {
    const std::string data = HexRecordLine(0, 0x2000, Bytes{1, 2, 3});
    EXPECT_EQ(program(hexLinear(0x0030) + "\n" + data + "\n" + hexLinear(0x00F0) + "\n" + data +
                      "\n" + hexLinear(0x0001) + "\n" + data + "\n" + hexLinear(0x0020) + "\n" +
                      data + "\n" + hexLinear(0xAB00) + "\n" + data + "\n:00000001FF\n"),
              0);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].memoryClass, kHexClassConfig);
    EXPECT_EQ(seen[0].upper, 0x30);
    EXPECT_EQ(seen[1].memoryClass, kHexClassEeprom);
    EXPECT_EQ(seen[1].upper, 0x00);
    EXPECT_EQ(seen[2].memoryClass, kHexClassProgram);  // full address 0x12000
    EXPECT_EQ(seen[2].upper, 0x01);
    EXPECT_EQ(seen[2].address, 0x2000);
    EXPECT_EQ(seen[3].memoryClass, kHexClassProgram);
    EXPECT_EQ(seen[3].upper, 0x20);
    // The high byte of the value takes no part.
    EXPECT_EQ(seen[4].upper, 0x00);
    EXPECT_EQ(seen[4].data, (Bytes{1, 2, 3}));
    EXPECT_TRUE(rig.state.HexFileOpened);
}

TEST_F(HexFileTest, EveryPassStartsAsForAFreshFile) {
    program(hexLinear(0x00F0) + "\n" + HexRecordLine(0, 0x10, Bytes{9}) + "\n");
    seen.clear();
    // Records in front of the first type 4 record carry no class (program memory), whatever
    // the previous pass ended with.
    program(HexRecordLine(0, 0x0800, Bytes{1}) + "\n" + hexLinear(0) + "\n" +
            HexRecordLine(0, 0x0800, Bytes{2}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].memoryClass, kHexClassNone);
    EXPECT_EQ(seen[1].memoryClass, kHexClassProgram);
}

TEST_F(HexFileTest, AddressAndStartRecordsAreNotData) {
    // Type 2 moves the base to segment * 16; types 3 and 5 hold an execution start address.
    program(HexRecordLine(2, 0, Bytes{0x10, 0x00}) + "\n" + HexRecordLine(0, 0x0010, Bytes{7}) +
            "\n" + HexRecordLine(3, 0, Bytes{0, 0, 0x12, 0x34}) + "\n" +
            HexRecordLine(5, 0, Bytes{0, 1, 0x23, 0x45}) + "\n:00000001FF\n" +
            HexRecordLine(0, 0x0900, Bytes{8}) + "\n");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].upper, 0x01);
    EXPECT_EQ(seen[0].address, 0x0010);
    // Reading goes on past the end-of-file record.
    EXPECT_EQ(seen[1].address, 0x0900);
}

TEST_F(HexFileTest, BadRecordStopsThePassWithItsLineNumber) {
    std::string text;
    for (int i = 0; i < 6; ++i)
        text += HexRecordLine(0, static_cast<std::uint16_t>(0x800 + 16 * i), Bytes{1, 2}) + "\r\n";
    std::string bad = HexRecordLine(0, 0x900, Bytes{1, 2});
    bad.back() =
        bad.back() == 'F' ? '0' : static_cast<char>(bad.back() + 1);  // checksum off by one
    text += bad + "\r\n" + HexRecordLine(0, 0x910, Bytes{3}) + "\r\n";

    EXPECT_EQ(program(text), 1);
    EXPECT_EQ(seen.size(), 6u);  // what came before stays handed on
    auto boxes = rig.ui.dialogsOf(test::ScriptedUi::Dialog::Message);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Invalid checksum in record 7");

    EXPECT_FALSE(check(text));
    EXPECT_EQ(reader.HexLineCount, 7);
    EXPECT_EQ(rig.logLines().back(), "-> Line 7: Checksum error");
    EXPECT_EQ(rig.ui.memo.back(), "-> Line 7: Checksum error");
}

TEST_F(HexFileTest, DamagedLinesFailCleanlyWithoutHandingOnData) {
    const std::string good = HexRecordLine(0, 0x800, Bytes{1, 2, 3, 4});
    std::string nonHex = good;
    nonHex[10] = 'Z';
    std::string longer = good + "00";
    std::string shorter = good.substr(0, good.size() - 2);
    for (const std::string& damaged :
         {nonHex, longer, shorter, std::string(" ") + good, HexRecordLine(6, 0, {}),
          HexRecordLine(4, 0, {}), std::string(":"), std::string("\x01\x02\x03")}) {
        seen.clear();
        rig.ui.dialogs.clear();
        EXPECT_EQ(program(good + "\n" + damaged + "\n" + good + "\n"), 1) << damaged;
        EXPECT_EQ(seen.size(), 1u) << damaged;
        ASSERT_EQ(rig.ui.dialogs.size(), 1u);
        EXPECT_EQ(rig.ui.dialogs[0].text, "Invalid checksum in record 2");
    }
}

TEST_F(HexFileTest, HandlerErrorEndsThePassInAnErrorBox) {
    std::istringstream in(HexRecordLine(0, 0x800, Bytes{1}) + "\n" +
                          HexRecordLine(0, 0x810, Bytes{2}) + "\n");
    int calls = 0;
    int result =
        ProcessHexFile(rig.ctx, reader, kHexProgrammingPass, in, [&](const HexDataRecord&) {
            ++calls;
            throw KvError("Program Write Error");
        });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(calls, 1);
    auto boxes = rig.ui.dialogsOf(test::ScriptedUi::Dialog::Error);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error while processing:\rProgram Write Error");
}

TEST_F(HexFileTest, UnopenedFileIsReportedByBothOperations) {
    std::ifstream missing(rig.folder / "missing.hex");
    EXPECT_EQ(ProcessHexFile(rig.ctx, reader, kHexInformationScan, missing), 0);
    ASSERT_EQ(rig.ui.dialogs.size(), 1u);
    EXPECT_EQ(rig.ui.dialogs[0].text, "Error while processing:\rCannot open file");
    std::ifstream missingAgain(rig.folder / "missing.hex");
    EXPECT_FALSE(CheckHexFile(rig.ctx, reader, missingAgain));
    EXPECT_EQ(rig.logLines().back(), "-> Line 0: Cannot open file");
    EXPECT_EQ(reader.HexLineCount, 0);
}

TEST(HexFaults, TheFirstFaultWithItsLineAndFailureForEveryReader) {
    const std::string good = HexRecordLine(0, 0x800, Bytes{1, 2});
    const struct {
        std::string text;
        int line;             // 0: sound
        std::string failure;  // the integrity check's
        bool walkFails;       // the record walk refuses the file too
    } cases[] = {
        {good + "\n:00000001FF\n", 0, "", false},
        {"", 1, "Illegal record", false},  // empty file: nothing to walk
        {good + "\nRV-PNL16\n", 2, "Illegal record", true},
        {good + "\n" + good.substr(0, good.size() - 2) + "00\n", 2, "Checksum error", true},
        {good + "\n" + HexRecordLine(9, 0, {}) + "\n", 2, "Unknown record type 09", true},
        // Sound as a line, but an extended address carries two bytes.
        {HexRecordLine(4, 0, Bytes{0, 1, 2}) + "\n", 0, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::istringstream lines(c.text);
        const HexIntegrity integrity = TestHexLines(lines);
        EXPECT_EQ(integrity.ok(), c.line == 0);
        if (!integrity.ok()) {
            EXPECT_EQ(integrity.fault->line, c.line);
            EXPECT_EQ(integrity.fault->failure, c.failure);
        }
        std::istringstream records(c.text);
        HexReaderState reader;
        const std::optional<HexFault> walked = WalkHexRecords(records, reader, {}, {});
        EXPECT_EQ(walked.has_value(), c.walkFails);
        if (walked && c.line) {
            EXPECT_EQ(walked->line, c.line);
        }
    }
}

TEST_F(HexFileTest, PumpsMessagesOncePerLine) {
    int pumps = 0;
    rig.ctx.addEventSource([&] { ++pumps; });
    program(HexRecordLine(0, 0x800, Bytes{1}) + "\n\n" + HexRecordLine(0, 0x810, Bytes{1}) +
            "\n:00000001FF");
    EXPECT_EQ(pumps, 4);
}

TEST_F(HexFileTest, InformationScanReadsTypeAndHardware) {
    rig.state.HexControllerType = "stale";
    rig.state.HexHardwareInfo = "stale";
    scan(HexRecordLine(0, 0x0600, textBytes("RV-PNL16", 16)) + "\n" +
         HexRecordLine(0, 0x0700, std::vector<std::uint8_t>(16, 0xFF)) + "\n" +
         HexRecordLine(0, 0x0710, textBytes("HW:1.2", 16)) + "\n");
    EXPECT_EQ(rig.state.HexControllerType, "RV-PNL16");
    EXPECT_EQ(rig.state.HexHardwareInfo, "HW:1.2");

    // 0x0700 overrides 0x0600 when it is not erased; a field filling all 16 bytes is whole.
    scan(HexRecordLine(0, 0x0600, textBytes("OLD", 16)) + "\n" +
         HexRecordLine(0, 0x0700, textBytes("ABCDEFGHIJKLMNOP", 16)) + "\n");
    EXPECT_EQ(rig.state.HexControllerType, "ABCDEFGHIJKLMNOP");
    // A file without identification does not keep the previous file's.
    EXPECT_EQ(rig.state.HexHardwareInfo, "");

    // Only the first 64 KiB are looked at.
    scan(hexLinear(1) + "\n" + HexRecordLine(0, 0x0600, textBytes("HIGH", 16)) + "\n");
    EXPECT_EQ(rig.state.HexControllerType, "");
}

TEST_F(HexFileTest, InformationScanFindsFieldsInsideLongRecords) {
    std::vector<std::uint8_t> both = textBytes("NRV-IO8", 16);
    std::vector<std::uint8_t> hw = textBytes("HW2", 16);
    both.insert(both.end(), hw.begin(), hw.end());
    scan(HexRecordLine(0, 0x06F0, std::vector<std::uint8_t>(16, 0)) + "\n" +
         HexRecordLine(0, 0x0700, both));
    EXPECT_EQ(rig.state.HexControllerType, "NRV-IO8");
    EXPECT_EQ(rig.state.HexHardwareInfo, "HW2");
}

TEST_F(HexFileTest, IntegrityCheckAcceptsFilesWithoutEndRecord) {
    EXPECT_TRUE(check(HexRecordLine(0, 0x800, Bytes{1, 2}) + "\r\n" +
                      HexRecordLine(0, 0x802, Bytes{3}) + "\r\n"));
    EXPECT_EQ(reader.HexLineCount, 2);
    EXPECT_EQ(rig.logLines().back(), "-> HEX file integrity has verified");
    EXPECT_EQ(rig.ui.memo.back(), "-> HEX file integrity has verified");

    EXPECT_FALSE(check(HexRecordLine(0, 0x800, Bytes{1}) + "\n\n"));
    EXPECT_EQ(rig.logLines().back(), "-> Line 2: Illegal record");
    EXPECT_FALSE(check(""));
    EXPECT_EQ(rig.logLines().back(), "-> Line 1: Illegal record");
    EXPECT_EQ(reader.HexLineCount, 1);
}

}  // namespace
}  // namespace kv
