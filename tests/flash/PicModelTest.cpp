#include <gtest/gtest.h>

#include "FirmwareVersionTag.h"
#include "PicBootloader.h"
#include "PicCard.h"
#include "PicFrameReader.h"
#include "flash/PicFrame.h"

namespace kv {
namespace {

using sim::PicBootloader;

Bytes frame(std::initializer_list<std::uint8_t> header, const Bytes& data = {}) {
    Bytes payload(header);
    payload.insert(payload.end(), data.begin(), data.end());
    payload.push_back(PicChecksum(payload));
    return PicEncodeFrame(payload);
}

const Bytes kWriteAck{0x0F, 0x0F, 0x02, 0xFE, 0x04};

TEST(PicModel, AnswersEveryCommandAsTheLinkExpects) {
    PicBootloader pic;
    Bytes block(16, 0x05);
    EXPECT_EQ(pic.receive(frame({2, 2, 0x00, 0x08, 0x00}, block)), kWriteAck);
    Bytes read = pic.receive(frame({1, 0x10, 0x00, 0x08, 0x00}));
    EXPECT_EQ(read.size(), 2u + 5 + 32 + 1 + 1);  // every data byte 0x05 travels stuffed
    EXPECT_EQ(pic.receive(frame({3, 1, 0x00, 0x08, 0x00})), (Bytes{0x0F, 0x0F, 0x03, 0xFD, 0x04}));
    EXPECT_EQ(pic.receive(frame({5, 0x10, 0xFF, 0x03, 0x00}, {7})),
              (Bytes{0x0F, 0x0F, 0x05, 0x05, 0xFB, 0x04}));
    EXPECT_EQ(pic.eeprom()[0x3FF], 7);
    // The card firmware's version request is not a bootloader command.
    EXPECT_TRUE(pic.receive(Bytes{0x0F, 0x0F, 0x00, 0x02, 0xFE, 0x04}).empty());
    EXPECT_EQ(pic.counters.unknownCommands, 1);
}

TEST(PicModel, FrameSplitAtEveryByteGivesTheSameReply) {
    Bytes write = frame({2, 2, 0x40, 0x08, 0x00},
                        Bytes{0x0F, 0x04, 0x05, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
    for (std::size_t cut = 0; cut <= write.size(); ++cut) {
        PicBootloader pic;
        Bytes out = pic.receive(ByteView(write).first(cut));
        Bytes rest = pic.receive(ByteView(write).subspan(cut));
        out.insert(out.end(), rest.begin(), rest.end());
        EXPECT_EQ(out, kWriteAck) << cut;
        EXPECT_EQ(pic.programMemory()[0x0840], 0x0F) << cut;
        EXPECT_EQ(pic.programMemory()[0x0842], 0x05) << cut;
    }
}

// The card's side of the framing: the payloads a byte stream yields, fed whole and split at
// every byte position. A start byte without its DLE always starts a frame.
TEST(PicFrameReader, StartByteInsideAFrameStartsItAgain) {
    const Bytes read{0x0F, 0x0F, 0x01, 0x10, 0x00, 0x08, 0x00, 0xE7, 0x04};
    const Bytes readPayload{0x01, 0x10, 0x00, 0x08, 0x00, 0xE7};
    auto then = [](Bytes head, const Bytes& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    Bytes tooLong{0x0F, 0x0F};
    tooLong.resize(2 + sim::PicFrameReader::kMaxPayload + 1, 0x11);
    const struct {
        const char* name;
        Bytes stream;
        std::vector<Bytes> payloads;
    } cases[] = {
        {"plain", read, {readPayload}},
        {"stuffed",
         {0x0F, 0x0F, 0x03, 0x01, 0x00, 0x05, 0x04, 0x00, 0xF8, 0x04},
         {{0x03, 0x01, 0x00, 0x04, 0x00, 0xF8}}},
        {"escaped start byte is data", {0x0F, 0x0F, 0x05, 0x0F, 0xF1, 0x04}, {{0x0F, 0xF1}}},
        {"start pair inside a frame", then({0x0F, 0x0F, 0x03, 0x01, 0x00}, read), {readPayload}},
        {"one start byte inside a frame",
         then({0x0F, 0x0F, 0x03, 0x01, 0x0F}, Bytes(read.begin() + 2, read.end())),
         {readPayload}},
        {"noise and a third start byte", then({0x04, 0x55, 0x0F}, read), {readPayload}},
        {"two frames", then(read, read), {readPayload, readPayload}},
        {"too long, then a frame", then(then(tooLong, {0x04}), read), {readPayload}},
    };
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.stream.size(); ++cut) {
            sim::PicFrameReader reader;
            std::vector<Bytes> got = reader.feed(ByteView(c.stream).first(cut));
            for (Bytes& p : reader.feed(ByteView(c.stream).subspan(cut))) got.push_back(p);
            EXPECT_EQ(got, c.payloads) << c.name << ", cut at " << cut;
        }
    }
}

TEST(PicModel, FlashRulesRowsAndBadFrames) {
    PicBootloader::Config config;
    config.initialFill = 0x00;
    PicBootloader pic(config);
    // Writing cannot set bits: without an erase the cells stay 0.
    pic.receive(frame({2, 2, 0x00, 0x08, 0x00}, Bytes(16, 0xAA)));
    EXPECT_EQ(pic.programMemory()[0x0800], 0x00);
    // An erase clears the whole 64-byte row the address falls in.
    pic.receive(frame({3, 1, 0x10, 0x08, 0x00}));
    EXPECT_EQ(pic.programMemory()[0x07FF], 0x00);
    EXPECT_EQ(pic.programMemory()[0x0800], 0xFF);
    EXPECT_EQ(pic.programMemory()[0x083F], 0xFF);
    EXPECT_EQ(pic.programMemory()[0x0840], 0x00);

    Bytes bad = frame({3, 1, 0x00, 0x0C, 0x00});
    bad[bad.size() - 2] ^= 1;
    EXPECT_TRUE(pic.receive(bad).empty());
    EXPECT_TRUE(pic.receive(frame({1, 0x10, 0xF8, 0xFF, 0x01})).empty());  // past the end
    EXPECT_EQ(pic.counters.badFrames, 2);

    // The bootloader's own area below 0x0800 is never erased or written; reading is fine.
    EXPECT_TRUE(pic.receive(frame({3, 1, 0xC0, 0x07, 0x00})).empty());
    EXPECT_TRUE(pic.receive(frame({2, 2, 0xF8, 0x07, 0x00}, Bytes(16, 0x11))).empty());
    EXPECT_EQ(pic.receive(frame({1, 0x10, 0x00, 0x07, 0x00})).size(), 2u + 5 + 16 + 1 + 1);
    EXPECT_EQ(pic.programMemory()[0x07C0], 0x00);
    EXPECT_EQ(pic.counters.refusedProtected, 2);
}

TEST(PicModel, SilentAtAnyOtherLineSetting) {
    PicBootloader pic;
    pic.lineChanged({19200, Parity::Even});
    EXPECT_TRUE(pic.receive(frame({3, 1, 0x00, 0x08, 0x00})).empty());
    pic.lineChanged({9600, Parity::None});
    EXPECT_TRUE(pic.receive(frame({3, 1, 0x00, 0x08, 0x00})).empty());
    EXPECT_EQ(pic.counters.erases, 0);
    EXPECT_EQ(pic.counters.ignoredBytes, 18u);
    pic.lineChanged({19200, Parity::None});
    EXPECT_FALSE(pic.receive(frame({3, 1, 0x00, 0x08, 0x00})).empty());
}

TEST(PicModel, FailureModesAndTheirCounters) {
    PicBootloader pic;
    pic.faults.dropFirstReply = true;
    pic.faults.corruptReadBacks = 1;
    pic.faults.closeAfterFrames = 3;
    auto world = sim::World();
    world.listenTcp("127.0.0.2", 10001, pic.connectionFactory());
    auto connection = world.connectTcp("127.0.0.2", 10001);

    EXPECT_TRUE(connection->receive(frame({3, 1, 0, 8, 0})).empty());
    EXPECT_EQ(connection->receive(frame({3, 1, 0, 8, 0})).size(), 5u);
    Bytes read = connection->receive(frame({1, 0x10, 0, 8, 0}));
    EXPECT_EQ(read[7], 0xFE);  // erased 0xFF with a flipped bit
    EXPECT_TRUE(connection->closed());
    EXPECT_TRUE(connection->receive(frame({3, 1, 0, 8, 0})).empty());

    auto again = world.connectTcp("127.0.0.2", 10001);
    EXPECT_FALSE(again->closed());
    Bytes clean = again->receive(frame({1, 0x10, 0, 8, 0}));
    EXPECT_EQ(clean[7], 0xFF);
    EXPECT_EQ(pic.counters.droppedReplies, 1);
    EXPECT_EQ(pic.counters.corruptedReadBacks, 1);
    EXPECT_EQ(pic.counters.closedConnections, 1);

    pic.faults.dropEveryReply = true;
    EXPECT_TRUE(again->receive(frame({3, 1, 0, 8, 0})).empty());
    EXPECT_EQ(pic.counters.droppedReplies, 2);
}

// A card reports the version its program carries once the device leaves the bootloader's
// line setting (the tool's release), the configured one when the program has no sound tag.
TEST(PicModel, CardReportsTheVersionItsProgramCarriesAfterARestart) {
    const sim::CardWords words{"RV-PNL16", "HW:1.0", "FW:1.4.0", "BL:1.0"};
    const sim::LineSettings normal{9600, Parity::None};
    const std::string tooLong(sim::kMaxVersionText + 1, '9');
    const struct {
        Bytes program;  // at the tag's place
        sim::LineSettings line;
        std::string firmware;
    } cases[] = {
        {sim::VersionTag("FW:1.4.1"), normal, "FW:1.4.1"},
        // Still in the bootloader: no restart yet.
        {sim::VersionTag("FW:1.4.1"), sim::PicBootloader::Config{}.expectedLine, "FW:1.4.0"},
        {Bytes(16, 0xFF), normal, "FW:1.4.0"},                           // erased
        {sim::VersionTag("FW:\x01"), normal, "FW:1.4.0"},                // no text
        {sim::VersionTag(""), normal, "FW:1.4.0"},                       // empty
        {sim::VersionTag(tooLong), normal, "FW:1.4.0"},                  // longer than a version
        {Bytes{'K', 'V', 'V', 'E', 'R', '=', '1'}, normal, "FW:1.4.0"},  // no NUL after it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program.begin(), c.program.end()));
        sim::PicCard card(
            sim::IdentCard::configFor(words, sim::PicBootloader::Config{}.expectedLine),
            sim::PicBootloader::Config{});
        auto& memory = card.bootloader.programMemory();
        std::fill(memory.begin() + sim::kCardVersionTagAddress, memory.end(), 0xFF);
        std::copy(c.program.begin(), c.program.end(), memory.begin() + sim::kCardVersionTagAddress);
        card.lineChanged(c.line);
        EXPECT_EQ(card.ident.config.words->firmware, c.firmware);
        EXPECT_EQ(card.ident.config.text, "RV-PNL16 HW:1.0 " + c.firmware + " BL:1.0");
    }
    EXPECT_EQ(sim::NextVersion("FW:1.0.9"), "FW:1.0.10");
    EXPECT_EQ(sim::NextVersion("1.0.4"), "1.0.5");
}

}  // namespace
}  // namespace kv
