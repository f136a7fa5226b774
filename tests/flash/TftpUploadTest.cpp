#include <gtest/gtest.h>

#include <fstream>

#include "FakeRig.h"
#include "FlashImageCheck.h"
#include "TftpReceiver.h"
#include "core/ports/ChannelError.h"
#include "flash/TftpFlashImage.h"
#include "flash/TftpPackets.h"
#include "flash/TftpUpload.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using test::FakeRig;
using test::ScriptedUi;

constexpr const char* kModule = "127.0.0.50";

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

class TftpUploadTest : public ::testing::Test {
  protected:
    TftpUploadTest() {
        rig.world.bindUdp(kModule, 69, &receiver);
        rig.state.CurrentIP = kModule;
        rig.state.RowOk = true;
    }

    std::string writeFile(const std::string& name, const Bytes& content) {
        const auto path = (rig.folder / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
        return path;
    }

    // Sizes of the datagrams the tool sent, in order.
    std::vector<std::size_t> sentSizes() const {
        std::vector<std::size_t> sizes;
        for (const auto& d : rig.tftp.sent) sizes.push_back(d.data.size());
        return sizes;
    }

    std::vector<std::string> errorTexts() const {
        std::vector<std::string> texts;
        for (const auto& d : rig.ui.dialogsOf(ScriptedUi::Dialog::Error)) texts.push_back(d.text);
        return texts;
    }

    bool logHas(const std::string& line) const {
        const auto lines = rig.logLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    FakeRig rig;
    sim::TftpReceiver receiver;
};

TEST(TftpPackets, WriteRequestsNameTheImageSlot) {
    auto request = [](const std::string& name) {
        return toBytes(std::string("\0\2", 2) + name + std::string("\0octet\0", 7));
    };
    EXPECT_EQ(TftpWriteRequest(1), request("X5"));
    EXPECT_EQ(TftpWriteRequest(5), request("X9"));
    EXPECT_EQ(TftpWriteRequest(2), request("WEB1"));
    EXPECT_EQ(TftpWriteRequest(3), request("/var/firmware.img"));
    EXPECT_EQ(TftpWriteRequest(1).size(), 11u);
    EXPECT_EQ(TftpWriteRequest(2).size(), 13u);
    EXPECT_EQ(TftpWriteRequest(3).size(), 26u);
    EXPECT_THROW(TftpWriteRequest(4), KvError);
}

TEST(TftpPackets, BlockNumbersWrapAt65536) {
    const Bytes data{0xAA};
    EXPECT_EQ(TftpDataPacket(1, data), (Bytes{0x00, 0x03, 0x00, 0x01, 0xAA}));
    EXPECT_EQ(TftpDataPacket(65535, {}), (Bytes{0x00, 0x03, 0xFF, 0xFF}));
    EXPECT_EQ(TftpDataPacket(65536, {}), (Bytes{0x00, 0x03, 0x00, 0x00}));
    EXPECT_EQ(TftpDataPacket(65537, {}), (Bytes{0x00, 0x03, 0x00, 0x01}));
    EXPECT_THROW(TftpDataPacket(1, pattern(513)), KvError);
}

TEST(TftpPackets, WebServerKindFollowsTheSecondOctetOfTheMac) {
    EXPECT_EQ(TftpWebServerKind("00-80-A3-12-34-56"), 5);
    EXPECT_EQ(TftpWebServerKind("00-8F-00-00-00-01"), 5);
    EXPECT_EQ(TftpWebServerKind("00-20-4A-12-34-56"), 1);
    EXPECT_EQ(TftpWebServerKind("00-08-00-00-00-00"), 1);  // 8 is the second digit here
    EXPECT_EQ(TftpWebServerKind("80-00-00-00-00-00"), 1);
    EXPECT_EQ(TftpWebServerKind(""), 1);
}

TEST_F(TftpUploadTest, FullLastBlockIsFollowedByAnEmptyOne) {
    const Bytes content = pattern(1024);
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, writeFile("a.rom", content), 1));

    EXPECT_EQ(sentSizes(), (std::vector<std::size_t>{11, 516, 516, 4}));
    EXPECT_EQ(rig.tftp.sent[3].data, (Bytes{0x00, 0x03, 0x00, 0x03}));
    for (const auto& d : rig.tftp.sent) {
        EXPECT_EQ(d.address, kModule);
        EXPECT_EQ(d.port, 69);
    }
    EXPECT_EQ(receiver.image("X5"), content);
    EXPECT_EQ(receiver.blockNumbers, (std::vector<std::uint16_t>{1, 2, 3}));
    EXPECT_TRUE(rig.ui.dialogs.empty());
    EXPECT_FALSE(rig.tftp.isBound()) << "bound for the transfer only";
    EXPECT_TRUE(rig.state.RowOk);
}

TEST_F(TftpUploadTest, ShortLastBlockEndsTheTransfer) {
    const Bytes content = pattern(1000);
    rig.tftp.bind(0, false);
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, writeFile("a.cob", content), 2));

    EXPECT_EQ(sentSizes(), (std::vector<std::size_t>{13, 516, 492}));
    EXPECT_EQ(receiver.image("WEB1"), content);
    EXPECT_TRUE(rig.tftp.isBound()) << "the caller's socket is left as it was";
}

TEST_F(TftpUploadTest, EmptyFileIsSentAsOneEmptyBlock) {
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, writeFile("empty.rom", {}), 5));
    EXPECT_EQ(sentSizes(), (std::vector<std::size_t>{11, 4}));
    EXPECT_EQ(rig.tftp.sent[1].data, (Bytes{0x00, 0x03, 0x00, 0x01}));
    EXPECT_EQ(receiver.image("X9"), Bytes{});
    EXPECT_EQ(rig.ui.progressValues.back().first, 100);
}

TEST_F(TftpUploadTest, ProgressMovesInWholePercentOfTheFile) {
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, writeFile("a.rom", pattern(1500)), 1));
    std::vector<int> positions;
    for (const auto& [position, maximum] : rig.ui.progressValues) positions.push_back(position);
    EXPECT_EQ(positions, (std::vector<int>{34, 68, 100, 100}));
}

TEST_F(TftpUploadTest, RepeatAnsweredWhenTheFirstCopyIsLost) {
    receiver.mode = sim::TftpReceiver::Mode::DropFirstCopy;
    const Bytes content = pattern(700);
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, writeFile("a.rom", content), 1));

    EXPECT_EQ(sentSizes(), (std::vector<std::size_t>{11, 11, 516, 516, 192, 192}));
    EXPECT_EQ(rig.clock.elapsed(), 3 * kTftpAnswerWait);
    EXPECT_EQ(receiver.image("X5"), content);
    EXPECT_TRUE(rig.ui.dialogs.empty());
}

TEST_F(TftpUploadTest, SilentModuleFailsAfterThreeCopiesOfTheRequest) {
    receiver.mode = sim::TftpReceiver::Mode::Silent;
    EXPECT_FALSE(TftpUpload(rig.ctx, kModule, writeFile("a.rom", pattern(100)), 1));

    EXPECT_EQ(sentSizes(), (std::vector<std::size_t>{11, 11, 11}));
    EXPECT_EQ(rig.clock.elapsed(), 30000ms);
    EXPECT_TRUE(logHas("Connecion lost at block: 0"));
    EXPECT_EQ(errorTexts(),
              std::vector<std::string>{"Error while processing:\rConnection Lost Error"});
}

TEST_F(TftpUploadTest, LossInTheMiddleNamesTheBlock) {
    receiver.answerLimit = 2;  // the request and block 1
    EXPECT_FALSE(TftpUpload(rig.ctx, kModule, writeFile("a.rom", pattern(2000)), 1));

    EXPECT_EQ(sentSizes(), (std::vector<std::size_t>{11, 516, 516, 516, 516}));
    EXPECT_TRUE(logHas("Connecion lost at block: 2"));
    EXPECT_EQ(errorTexts().size(), 1u);
    EXPECT_FALSE(receiver.image("X5"));
    EXPECT_FALSE(rig.state.RowOk);
}

Bytes errorPacket(std::uint8_t code, const std::string& text) {
    Bytes packet(4 + text.size() + 1, 0x00);
    packet[1] = 0x05;
    packet[3] = code;
    std::copy(text.begin(), text.end(), packet.begin() + 4);
    return packet;
}

// The module's receiver, except that it answers the n-th datagram with an ERROR packet.
class RefusingModule : public sim::DatagramPeer {
  public:
    explicit RefusingModule(int refuseAt) : refuseAt_(refuseAt) {}
    std::vector<Datagram> receive(const Datagram& fromTool) override {
        if (++seen_ == refuseAt_) return {Datagram{"", 0, errorPacket(3, "Disk full")}};
        return inner_.receive(fromTool);
    }

  private:
    sim::TftpReceiver inner_;
    int refuseAt_;
    int seen_ = 0;
};

TEST_F(TftpUploadTest, ErrorPacketFromTheModuleEndsTheUploadOthersDoNot) {
    struct Case {
        const char* name;
        int refuseAt;                      // 0: the module never refuses
        std::optional<Datagram> stranger;  // waiting on the socket before the upload
        const char* failure;               // nullptr: the upload goes through
    };
    const Case cases[] = {
        {"module runs out of space at block 2", 3, std::nullopt,
         "TFTP error from 127.0.0.50 (3) Disk full"},
        {"error packet from another host", 0,
         Datagram{"127.0.0.66", 4444, errorPacket(1, "File\x01 not found")}, nullptr},
        {"error packet from the module's other port", 0,
         Datagram{kModule, 50000, errorPacket(1, "File\x01 not found")},
         "TFTP error from 127.0.0.50 (1) File? not found"},
        {"plain answer from another port", 0, Datagram{kModule, 50000, Bytes{0x00, 0x04, 0, 0}},
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRig caseRig;
        RefusingModule module(c.refuseAt);
        caseRig.world.bindUdp(kModule, 69, &module);
        caseRig.state.RowOk = true;
        if (c.stranger) caseRig.tftp.inbox.push_back(*c.stranger);
        const auto path = (caseRig.folder / "a.rom").string();
        {
            std::ofstream out(path, std::ios::binary);
            out << std::string(2000, 'x');
        }
        const bool ok = TftpUpload(caseRig.ctx, kModule, path, 1);
        const auto lines = caseRig.logLines();
        if (!c.failure) {
            EXPECT_TRUE(ok);
            EXPECT_TRUE(caseRig.ui.dialogs.empty());
            const bool named = std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
                return c.stranger && line.find(c.stranger->address + ":") != std::string::npos;
            });
            EXPECT_EQ(named, c.stranger && c.stranger->address != kModule);
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_FALSE(caseRig.state.RowOk);
        ASSERT_EQ(caseRig.ui.dialogs.size(), 1u);
        EXPECT_EQ(caseRig.ui.dialogs[0].text, std::string("Error while processing:\r") + c.failure);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.failure), lines.end());
        // Nothing more is sent once the refusal arrived.
        EXPECT_EQ(caseRig.tftp.sent.size(), static_cast<std::size_t>(std::max(c.refuseAt, 1)));
    }
}

TEST_F(TftpUploadTest, MissingFileShowsTheErrorAndSendsNothing) {
    EXPECT_FALSE(TftpUpload(rig.ctx, kModule, (rig.folder / "none.rom").string(), 1));
    EXPECT_TRUE(rig.tftp.sent.empty());
    ASSERT_EQ(errorTexts().size(), 1u);
    EXPECT_EQ(errorTexts()[0].rfind("Error while processing:\rCannot open file", 0), 0u);
    EXPECT_FALSE(rig.state.RowOk);
}

TEST_F(TftpUploadTest, BlockCounterWrapsOnLargeImages) {
    // 65536 full blocks and a short one: block 65536 goes out as 00 00, 65537 as 00 01.
    const Bytes content = pattern(65536 * 512 + 10);
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, writeFile("big.rom", content), 1));

    ASSERT_EQ(rig.tftp.sent.size(), 1u + 65537u);
    const Bytes& wrapped = rig.tftp.sent[65536].data;
    EXPECT_EQ(Bytes(wrapped.begin(), wrapped.begin() + 4), (Bytes{0x00, 0x03, 0x00, 0x00}));
    EXPECT_EQ(rig.tftp.sent.back().data.size(), 14u);
    EXPECT_EQ(receiver.outOfOrder, 0);
    EXPECT_EQ(receiver.image("X5"), content);
}

// ---- the firmware image of a web package and its check by the device

class FlashImageTest : public TftpUploadTest {
  protected:
    FlashImageTest() : check(receiver) {
        rig.addDevice(kModule, 10001);
        rig.world.listenTcp(kModule, 10001,
                            [this] { return std::make_unique<sim::FlashImageCheckPeer>(check); });
    }

    std::string tunnelText() const {
        std::string text;
        for (const auto& b : rig.tcp1.sent) text += toText(b);
        return text;
    }

    sim::FlashImageCheck check;
};

TEST_F(FlashImageTest, DigestIsUpperCaseMd5OfTheWholeFile) {
    const std::string text = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(FileMd5Hex(writeFile("fox", Bytes(text.begin(), text.end()))),
              "9E107D9D372BB6826BD81D3542A419D6");
    EXPECT_EQ(FileMd5Hex(writeFile("empty", {})), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_THROW(FileMd5Hex((rig.folder / "none").string()), KvError);
}

TEST_F(FlashImageTest, ConfirmedImageIsFlashed) {
    const Bytes content = pattern(3000);
    const auto file = writeFile("firmware.bin", content);
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, file, 3));

    EXPECT_EQ(receiver.requestedNames, std::vector<std::string>{"/var/firmware.img"});
    EXPECT_EQ(tunnelText(), "(FLASH_IMAGE=" + sim::Md5UpperHex(content) + ")\r\n");
    EXPECT_EQ(check.flashed, content);
    // The module leaves bootloader mode before the tunnel is used.
    ASSERT_FALSE(rig.gpioClient.sent.empty());
    EXPECT_EQ(rig.gpioClient.sent.back().data,
              (Bytes{0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(rig.gpioClient.sent.back().port, 30704);
    EXPECT_TRUE(rig.tcp1.connected()) << "the tunnel stays open";
    EXPECT_TRUE(rig.ui.dialogs.empty());
    EXPECT_TRUE(rig.state.RowOk);
}

TEST_F(FlashImageTest, ReplyMustEndInItsLineFeed) {
    check.mode = sim::FlashImageCheck::Mode::NoLineFeed;
    const auto file = writeFile("firmware.bin", pattern(600));
    EXPECT_FALSE(TftpUpload(rig.ctx, kModule, file, 3));
    EXPECT_TRUE(rig.ui.dialogs.empty()) << "a refused check shows no box";
    EXPECT_FALSE(rig.state.RowOk);
    EXPECT_EQ(VerifyFlashImage(rig.ctx, file, kModule), "UPGRADE WAS SUCCESFUL");
}

TEST_F(FlashImageTest, DeviceRefusesAnImageThatDiffers) {
    const auto file = writeFile("firmware.bin", pattern(600));
    ASSERT_TRUE(TftpUpload(rig.ctx, kModule, file, 3));
    // The file changed after the transfer: the digest sent no longer matches.
    writeFile("firmware.bin", pattern(601));
    EXPECT_NE(VerifyFlashImage(rig.ctx, file, kModule), kFlashImageConfirmed);
}

TEST_F(FlashImageTest, SilentDeviceGivesUnsuccessfulAfter35Seconds) {
    check.mode = sim::FlashImageCheck::Mode::Silent;
    const auto file = writeFile("firmware.bin", pattern(600));
    const auto before = rig.clock.elapsed();
    EXPECT_EQ(VerifyFlashImage(rig.ctx, file, kModule), "UNSUCCESFUL");
    EXPECT_GE(rig.clock.elapsed() - before, 35000ms);
    EXPECT_LT(rig.clock.elapsed() - before, 35000ms + 10000ms);
}

TEST_F(FlashImageTest, TunnelThatNeverComesBackFailsTheRowInBoundedTime) {
    rig.world.stopListening(kModule, 10001);
    const auto file = writeFile("firmware.bin", pattern(600));
    EXPECT_FALSE(TftpUpload(rig.ctx, kModule, file, 3));
    EXPECT_LT(rig.clock.elapsed(), 120000ms);
    EXPECT_TRUE(rig.ui.dialogs.empty());
    EXPECT_TRUE(logHas("Flash image check: Connection Lost Error"));
    EXPECT_FALSE(rig.state.RowOk);
}

TEST_F(FlashImageTest, FailedTransferSkipsTheCheck) {
    receiver.mode = sim::TftpReceiver::Mode::Silent;
    EXPECT_FALSE(TftpUpload(rig.ctx, kModule, writeFile("firmware.bin", pattern(600)), 3));
    EXPECT_EQ(check.checks, 0);
    EXPECT_TRUE(rig.gpioClient.sent.empty());
}

}  // namespace
}  // namespace kv
