#include <gtest/gtest.h>

#include "FirmwareVersionTag.h"
#include "Stm32Bootloader.h"
#include "StmTestSupport.h"
#include "TextDevice.h"
#include "flash/StmFrames.h"

namespace kv::test {
namespace {

using sim::Stm32Bootloader;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

class Stm32Model : public ::testing::Test {
  protected:
    Stm32Bootloader chip;
    Bytes send(const Bytes& bytes) { return chip.receive(bytes); }
    void sync() { ASSERT_EQ(send({0x7F}), Bytes{0x79}); }
};

// The device's "{F}" gives the version the CPU's program carries once it was reset into
// it, and the configured firmware before.
TEST_F(Stm32Model, ReportsTheVersionItsProgramCarriesOnceResetIntoIt) {
    sim::TextDevice controller;
    controller.firmwareSource = [this] { return chip.runningVersion(); };
    const std::string configured = controller.config.firmware;
    auto firmware = [&controller] {
        const Bytes reply = controller.receive(Bytes{'{', 'F', '}'});
        return std::string(reply.begin(), reply.end());
    };
    EXPECT_EQ(firmware(), configured + "\r\n");
    Bytes tag = sim::VersionTag("FW:3.1.3");
    if (tag.size() % 2) tag.push_back(0xFF);  // flash takes half-words
    ASSERT_EQ(chip.memory().write(sim::Stm32Memory::kFlashBase + sim::kCpuVersionTagOffset, tag),
              sim::Stm32Memory::WriteResult::Ok);
    EXPECT_EQ(firmware(), configured + "\r\n");  // still in its bootloader
    chip.reset(false);
    EXPECT_EQ(firmware(), "(FW:3.1.3)\r\n");
    chip.memory().eraseAll();
    chip.reset(false);
    EXPECT_EQ(firmware(), configured + "\r\n");
}

TEST_F(Stm32Model, AnswersOnlyAfterAutoBaudAndOnlyOnItsLine) {
    EXPECT_TRUE(send({0x01, 0xFE}).empty());  // commands before the 0x7F are line noise
    sync();
    EXPECT_EQ(send({0x01, 0xFE}), (Bytes{0x79, 0x22, 0x00, 0x00, 0x79}));
    EXPECT_EQ(send({0x02, 0xFD}), (Bytes{0x79, 0x01, 0x04, 0x10, 0x79}));
    // Once synchronised, a second 0x7F is a command without its complement.
    EXPECT_EQ(send({0x7F, 0x00}), Bytes{0x1F});
    EXPECT_EQ(send({0x44, 0xBB}), Bytes{0x1F});  // not offered by this bootloader

    chip.lineChanged({57600, Parity::None});
    EXPECT_TRUE(send({0x01, 0xFE}).empty());
    chip.lineChanged({57600, Parity::Even});
    EXPECT_EQ(send({0x02, 0xFD}).size(), 5u);

    chip.reset(false);  // the user program runs: the bootloader is gone
    EXPECT_TRUE(send({0x7F}).empty());
    chip.reset(true);
    sync();
    EXPECT_EQ(chip.counters.syncs, 2);
}

TEST_F(Stm32Model, WritesReadsAndChecksEveryChecksum) {
    sync();
    const Bytes data = pattern(256);
    const Bytes address = StmAddressFrame(0x08000400);
    EXPECT_EQ(send(cat({{0x31, 0xCE}, address, StmDataFrame(data)})), (Bytes{0x79, 0x79, 0x79}));
    Bytes reply = send(cat({{0x11, 0xEE}, address, StmReadRequest(256)}));
    ASSERT_EQ(reply.size(), 2u + 1u + 256u);
    EXPECT_EQ(Bytes(reply.begin() + 3, reply.end()), data);

    Bytes badFrame = StmDataFrame(Bytes{1, 2, 3, 4});
    badFrame.back() ^= 1;
    EXPECT_EQ(send(cat({{0x31, 0xCE}, StmAddressFrame(0x08000000), badFrame})),
              (Bytes{0x79, 0x79, 0x1F}));
    Bytes badAddress = StmAddressFrame(0x08000000);
    badAddress.back() ^= 1;
    EXPECT_EQ(send(cat({{0x31, 0xCE}, badAddress})), (Bytes{0x79, 0x1F}));
    EXPECT_EQ(send(cat({{0x11, 0xEE}, address, {0x03, 0xFF}})), (Bytes{0x79, 0x79, 0x1F}));
    EXPECT_EQ(chip.counters.checksumErrors, 3);

    // Programmed cells need an erase before they take another value.
    EXPECT_EQ(send(cat({{0x31, 0xCE}, address, StmDataFrame(Bytes{0x00})})),
              (Bytes{0x79, 0x79, 0x1F}));
    // Outside every memory area.
    EXPECT_EQ(send(cat({{0x31, 0xCE}, StmAddressFrame(0x08020000)})), (Bytes{0x79, 0x1F}));
    EXPECT_EQ(chip.counters.writes, 1);
}

TEST_F(Stm32Model, ErasesPagesOrEverything) {
    sync();
    send(cat({{0x31, 0xCE}, StmAddressFrame(0x08000000), StmDataFrame(pattern(4))}));
    send(cat({{0x31, 0xCE}, StmAddressFrame(0x08000800), StmDataFrame(pattern(4))}));
    // Pages 0 and 1: count 01, the pages, XOR of all of them.
    EXPECT_EQ(send({0x43, 0xBC, 0x01, 0x00, 0x01, 0x00}), (Bytes{0x79, 0x79}));
    EXPECT_EQ(chip.memory().flashByte(0x08000000), 0xFF);
    EXPECT_NE(chip.memory().flash()[0x800], 0xFF);
    EXPECT_EQ(send({0x43, 0xBC, 0xFF, 0x00}), (Bytes{0x79, 0x79}));
    EXPECT_EQ(chip.memory().flash(), Bytes(128 * 1024, 0xFF));
    EXPECT_EQ(send({0x43, 0xBC, 0xFF, 0x01}), (Bytes{0x79, 0x1F}));
    EXPECT_EQ(chip.counters.pagesErased, 2);
    EXPECT_EQ(chip.counters.globalErases, 1);
}

TEST_F(Stm32Model, RefusesWritesTheChipRefuses) {
    sync();
    auto write = [&](std::uint32_t address, const Bytes& data) {
        return send(cat({{0x31, 0xCE}, StmAddressFrame(address), StmDataFrame(data)}));
    };
    const Bytes ack3{0x79, 0x79, 0x79}, refused{0x79, 0x79, 0x1F};
    struct Case {
        const char* what;
        std::uint32_t address;
        Bytes data;
        Bytes reply;
    };
    const std::vector<Case> cases{
        {"aligned words", 0x08000000, {1, 2, 3, 4, 5, 6, 7, 8}, ack3},
        {"length not a multiple of 4", 0x08000100, {1, 2, 3}, refused},
        {"address not 4-byte aligned", 0x08000102, {1, 2, 3, 4}, refused},
        {"same value again over programmed flash", 0x08000000, {1, 2, 3, 4}, refused},
        {"zeros over programmed flash", 0x08000000, {0, 0, 0, 0}, ack3},
        {"RAM is not flash, but the rule on sizes holds", 0x20000001, {1, 2, 3, 4}, refused},
    };
    for (const auto& c : cases) EXPECT_EQ(write(c.address, c.data), c.reply) << c.what;
    EXPECT_EQ(chip.counters.refusedWrites, 4);
    EXPECT_EQ(chip.memory().flashByte(0x08000000), 0x00);
    EXPECT_EQ(chip.memory().flashByte(0x08000004), 0x05);
    EXPECT_EQ(chip.memory().flashByte(0x08000100), 0xFF);  // nothing of a refused write stays
}

TEST_F(Stm32Model, FailureModesCountWhatTheyDid) {
    chip.faults.nackWriteFrom = 2;
    chip.faults.nackWriteCount = 2;
    chip.faults.corruptReadFrom = 1;
    chip.faults.silentAfterErase = true;
    sync();
    EXPECT_EQ(send({0x31, 0xCE}), Bytes{0x79});
    EXPECT_EQ(send(StmAddressFrame(0x20000000)), Bytes{0x79});
    EXPECT_EQ(send(StmDataFrame(Bytes{0xAA, 0xBB, 0xCC, 0xDD})), Bytes{0x79});
    EXPECT_EQ(send({0x31, 0xCE}), Bytes{0x1F});
    EXPECT_EQ(send({0x31, 0xCE}), Bytes{0x1F});
    EXPECT_EQ(send({0x31, 0xCE}), Bytes{0x79});
    EXPECT_EQ(chip.counters.injectedNacks, 2);
    send(StmAddressFrame(0x20000000));
    send(StmDataFrame(Bytes{0xAA, 0xBB, 0xCC, 0xDD}));

    Bytes reply = send(cat({{0x11, 0xEE}, StmAddressFrame(0x20000000), StmReadRequest(1)}));
    EXPECT_EQ(reply, (Bytes{0x79, 0x79, 0x79, 0x55}));
    EXPECT_EQ(send({0x43, 0xBC, 0xFF, 0x00}), Bytes{0x79});  // erased, but no final ACK

    Stm32Bootloader tired;
    tired.faults.silentAfterCommands = 1;
    tired.receive(Bytes{0x7F});
    EXPECT_EQ(tired.receive(Bytes{0x01, 0xFE}).size(), 5u);
    EXPECT_TRUE(tired.receive(Bytes{0x01, 0xFE}).empty());

    // A board that refuses programming keeps its program running through the reset.
    Stm32Bootloader refusing;
    refusing.faults.refuseBootloader = true;
    refusing.reset(true);
    EXPECT_FALSE(refusing.inBootloader());
    EXPECT_TRUE(refusing.receive(Bytes{0x7F}).empty());
    EXPECT_EQ(refusing.counters.refusedEntries, 1);
}

TEST_F(Stm32Model, SameConversationWhateverTheChunking) {
    const Bytes data = pattern(200, 7);
    const Bytes stream = cat({{0x7F, 0x43, 0xBC, 0xFF, 0x00, 0x31, 0xCE},
                              StmAddressFrame(0x08001230),
                              StmDataFrame(data),
                              {0x11, 0xEE},
                              StmAddressFrame(0x08001230),
                              StmReadRequest(200)});
    Stm32Bootloader whole;
    const Bytes expected = whole.receive(stream);
    for (std::size_t split = 1; split < stream.size(); ++split) {
        Stm32Bootloader pieces;
        Bytes got = pieces.receive(ByteView(stream.data(), split));
        Bytes rest = pieces.receive(ByteView(stream.data() + split, stream.size() - split));
        got.insert(got.end(), rest.begin(), rest.end());
        ASSERT_EQ(got, expected) << "split at " << split;
        ASSERT_EQ(pieces.memory().flash(), whole.memory().flash()) << "split at " << split;
    }
    EXPECT_EQ(Bytes(expected.end() - 200, expected.end()), data);
}

}  // namespace
}  // namespace kv::test
