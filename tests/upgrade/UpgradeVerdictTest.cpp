// The verdict of an upgrade run: no row reads OK unless the device holds its file, and
// every run ends with the report and the device restored, whatever went wrong.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "FakeFtpClient.h"
#include "FakeRig.h"
#include "FlashImageCheck.h"
#include "NetworkModule.h"
#include "PicBootloader.h"
#include "StmTestSupport.h"
#include "TftpReceiver.h"
#include "ZipMaker.h"
#include "core/ports/ChannelError.h"
#include "device/ChannelEvents.h"
#include "flash/TftpPackets.h"
#include "upgrade/UpgradeProcedures.h"
#include "upgrade/UpgradeState.h"

namespace kv::test {
namespace {

using Dialog = ScriptedUi::Dialog;

TControllerRec row(const std::string& type, bool selected = false, const std::string& file = "",
                   const std::string& hardware = "") {
    TControllerRec c;
    c.ControllerType = type;
    c.Selected = selected;
    c.FirmwareFile = file;
    c.HardwareVersion = hardware;
    return c;
}

std::string shownReport(const ScriptedUi& ui) {
    auto reports = ui.dialogsOf(Dialog::Report);
    return reports.size() == 1 ? reports[0].text : "<" + std::to_string(reports.size()) + ">";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// ---------------------------------------------------------------------------------------
// A fibre receiver card on COM3 (serial-attached, PIC bootloader on the line).

constexpr const char* kFibre = "LNK-FBR-RC330-MAX";
constexpr const char* kHardware = "HW-1.0";
const Bytes kFibreStart{0x0F, 0x0F, 0x02, 0x00, 0xFE, 0x04};

// Identification at 0x0600 and 0x0710, `data` at 0x0800; `leadingType4` false leaves
// out the extended address record in front of the data, `configTail` ends the file with
// configuration records.
std::string cardFile(const Bytes& data, bool leadingType4 = true, bool configTail = false) {
    std::string text;
    if (leadingType4) text += hexLinear(0) + "\r\n";
    text += sim::HexRecordLine(0, 0x0600, textBytes(kFibre, 32)) + "\r\n";
    text += sim::HexRecordLine(0, 0x0710, textBytes(kHardware, 16)) + "\r\n";
    for (std::size_t i = 0; i < data.size(); i += 16) {
        text += sim::HexRecordLine(
                    0, static_cast<std::uint16_t>(0x0800 + i),
                    ByteView(data.data() + i, std::min<std::size_t>(16, data.size() - i))) +
                "\r\n";
    }
    if (configTail) {
        text += hexLinear(0x30) + "\r\n";
        text += sim::HexRecordLine(0, 0x0000, Bytes(8, 0x12)) + "\r\n";
    }
    return text + sim::HexRecordLine(1, 0, {}) + "\r\n";
}

struct SerialCard {
    SerialCard() {
        RegisterChannelEvents(rig.ctx);
        sim::PicBootloader::Config config;
        config.eraseRowSize = 1024;
        pic = std::make_unique<sim::PicBootloader>(config);
        rig.addSerialDevice(pic.get());
        rig.com1.setBaud(19200);
        rig.state.CurrentIP = "0.0.0.0";
    }
    std::string file(const std::string& name, const std::string& text) {
        std::string path = (rig.folder / name).string();
        writeFile(path, text);
        return path;
    }
    bool startBytesSent() const {
        return std::find(rig.com1.sent.begin(), rig.com1.sent.end(), kFibreStart) !=
               rig.com1.sent.end();
    }
    bool cardHolds(const Bytes& data, std::size_t at = 0x0800) const {
        const auto& memory = pic->programMemory();
        return std::equal(data.begin(), data.end(), memory.begin() + static_cast<long>(at));
    }
    FakeRig rig;
    std::unique_ptr<sim::PicBootloader> pic;
};

TEST(SerialCard, EveryPassThatEndsEarlyEndsItsRowFailed) {
    const Bytes data = pattern(512, 7);
    struct Case {
        const char* name;
        std::string content;
        // Runs once per pumped message during the run; the argument counts them.
        std::function<void(SerialCard&, const std::string& path, int pumps)> fault;
        bool refusedBeforeErase;
        bool ok;
    };
    const std::string good = cardFile(data);
    const Case cases[] = {
        {"not a HEX file", "this is not a firmware file\r\n", {}, true, false},
        {"wrong controller type",
         [&] {
             std::string t = good;
             const std::string fibre = sim::HexRecordLine(0, 0x0600, textBytes(kFibre, 32));
             t.replace(t.find(fibre), fibre.size(),
                       sim::HexRecordLine(0, 0x0600, textBytes("LNK-OTHER-CARD", 32)));
             return t;
         }(),
         {},
         true,
         false},
        {"sound file", good, {}, false, true},
        {"record spoiled while the pass runs", good,
         [](SerialCard&, const std::string& path, int pumps) {
             if (pumps != 40) return;  // well into the programming pass
             std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(-40, std::ios::end);
             f << "ZZZZ";
         },
         false, false},
        {"file cut at a line end while the pass runs", good,
         [](SerialCard&, const std::string& path, int pumps) {
             if (pumps != 40) return;  // the rest reads as a short, sound file
             std::ifstream in(path, std::ios::binary);
             const std::string text((std::istreambuf_iterator<char>(in)), {});
             std::filesystem::resize_file(path, text.rfind('\n', text.size() / 2) + 1);
         },
         false, false},
        {"link lost mid-pass", good,
         [](SerialCard& t, const std::string&, int pumps) {
             if (pumps == 40) t.pic->faults.dropEveryReply = true;
         },
         false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SerialCard t;
        const std::string path = t.file("card.hex", c.content);
        t.rig.state.DeviceList.back().Controllers = {row(kFibre, true, path, kHardware)};
        int pumps = 0;
        if (c.fault) t.rig.ctx.addEventSource([&] { c.fault(t, path, ++pumps); });
        t.rig.ui.answers.push_back(MsgButton::Yes);
        RunUpgrade(t.rig.ctx);

        EXPECT_EQ(t.startBytesSent(), c.ok);
        // The typed result says the same as the report, and why a row failed.
        const RunResult& run = upgradeState(t.rig.ctx).lastRun;
        if (c.refusedBeforeErase) {
            EXPECT_EQ(t.pic->counters.erases, 0);
            EXPECT_TRUE(t.rig.ui.dialogsOf(Dialog::Report).empty());
            EXPECT_EQ(run.end, RunEnd::Refused);
            EXPECT_TRUE(run.rows.empty());
            continue;
        }
        ASSERT_EQ(run.rows.size(), 1u);
        EXPECT_EQ(run.rows[0].state, c.ok ? RowState::Ok : RowState::Failed);
        EXPECT_EQ(run.rows[0].reason.empty(), c.ok) << run.rows[0].reason;
        if (c.ok) {
            EXPECT_EQ(run.rows[0].bytes, data.size() + 32 + 16);
        }
        const std::string report = shownReport(t.rig.ui);
        EXPECT_TRUE(contains(report, std::string(kFibre) + (c.ok ? "...OK" : "...FAILED")))
            << report;
        EXPECT_TRUE(contains(report, c.ok ? "Upgrade successful" : "Upgrade FAILED")) << report;
        EXPECT_EQ(t.cardHolds(data), c.ok);
    }
}

TEST(SerialCard, AFileWithoutLeadingAddressRecordIsProgramMemoryAfterAConfigurationFile) {
    SerialCard t;
    auto& rig = t.rig;
    // The first row's file ends in configuration records; the second starts straight
    // with data records, which must still be written as program memory.
    const Bytes first = pattern(256, 3), second = pattern(256, 9);
    rig.state.DeviceList.back().Controllers = {
        row(kFibre, true, t.file("a.hex", cardFile(first, true, true)), kHardware),
        row(kFibre, true, t.file("b.hex", cardFile(second, false)), kHardware)};
    rig.ui.answers.push_back(MsgButton::Yes);
    RunUpgrade(rig.ctx);
    EXPECT_TRUE(t.cardHolds(second));
    EXPECT_TRUE(contains(shownReport(rig.ui), "Upgrade successful"));
}

// ---------------------------------------------------------------------------------------
// A matrix CPU's web package, and errors that escape a row of the network procedure.

struct WebPackage {
    WebPackage() {
        RegisterChannelEvents(rig.ctx);
        module = std::make_unique<sim::NetworkModule>(sim::NetworkModule::Config{});
        module->attach(rig.world);
        module->setSerialDevice(&checkPeer);  // the matrix behind: checks the firmware image
        rig.world.bindUdp("127.0.0.2", 69, &tftp);
        rig.ports.IdFTP1 = &ftp;
        ftp.addFolder("/mnt/flash/http");
        TMatrixRec& device = rig.addDevice("127.0.0.2", 10001);
        device.MAC = "00-20-4A-01-02-03";
        rig.state.CurrentIP = "127.0.0.2";
        rig.state.ConnectionKind = ConnectionKind::Network;
        rig.state.AppDataFolder = (rig.folder / "appdata").string();
        rig.ports.TcpClient1->setHost("127.0.0.2");
        rig.ports.TcpClient1->setPort(10001);
    }
    std::string package(const std::vector<ZipEntry>& entries) {
        auto path = rig.folder / "package.zip";
        makeZip(path, entries);
        return path.string();
    }
    bool firmwareSent() const {
        return tftp.image(TftpRemoteName(kTftpKindFirmwareImage)).has_value();
    }

    FakeRig rig;
    std::unique_ptr<sim::NetworkModule> module;
    sim::TftpReceiver tftp;
    sim::FlashImageCheck check{tftp};
    sim::FlashImageCheckPeer checkPeer{check};
    FakeFtpClient ftp;
};

TEST(WebPackage, TheRowIsOkOnlyWhenFirmwareAndContentBothWentUp) {
    const std::vector<ZipEntry> whole{{"firmware.bin", "FW"}, {"webcontent/index.htm", "<p>"}};
    struct Case {
        const char* name;
        std::vector<ZipEntry> entries;
        std::function<void(WebPackage&)> fault;
        bool firmwareGoesUp;
        bool ok;
    };
    const Case cases[] = {
        {"whole package", whole, {}, true, true},
        {"no webcontent folder", {{"firmware.bin", "FW"}}, {}, false, false},
        {"matrix does not come back", whole,
         [](WebPackage& t) {
             // The tunnel refuses from the moment the firmware image is in.
             t.rig.ctx.addEventSource([&t] {
                 if (t.firmwareSent()) t.rig.world.stopListening("127.0.0.2", 10001);
             });
         },
         true, false},
        {"FTP server refuses", whole, [](WebPackage& t) { t.ftp.refuse = "STOR index.htm"; }, true,
         false},
        {"ZIP64 end record claims 3 GiB", whole,
         [](WebPackage& t) {
             const auto path = t.rig.folder / "package.zip";
             writeAll(path, withZip64Record(readAll(path), 0, 3ull << 30));
         },
         false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WebPackage t;
        t.rig.state.DeviceList.back().Controllers = {
            row("RV-CTL2"), row("Web Package", true, t.package(c.entries))};
        if (c.fault) c.fault(t);
        t.rig.ui.answers.push_back(MsgButton::Yes);
        RunUpgrade(t.rig.ctx);

        EXPECT_EQ(t.firmwareSent(), c.firmwareGoesUp);
        EXPECT_EQ(t.ftp.hasFile("/mnt/flash/http/index.htm"), c.ok);
        const std::string report = shownReport(t.rig.ui);
        EXPECT_TRUE(contains(report, c.ok ? "Web Package...OK" : "Web Package...FAILED")) << report;
        EXPECT_TRUE(contains(report, c.ok ? "Upgrade successful" : "Upgrade FAILED")) << report;
        EXPECT_TRUE(t.rig.ui.dialogsOf(Dialog::Error).size() <= (c.ok ? 0u : 1u));
        EXPECT_TRUE(t.rig.ui.enabled(UiElement::Upgrade));
        EXPECT_EQ(t.rig.ui.grid.size(), 1u);  // the grid was reset
    }
}

TEST(WebPackage, AnErrorEscapingARowFailsItAndTheRowsAfterItAndStillRestores) {
    WebPackage t;
    auto& rig = t.rig;
    auto& tftp = t.tftp;
    // A device without controller rows of its own: web server image, then web content.
    rig.state.DeviceList.back().Controllers = {
        row("Web Server", true, (rig.folder / "a.rom").string()),
        row("Web Content", true, (rig.folder / "b.rom").string())};
    writeFile((rig.folder / "a.rom").string(), "server");
    writeFile((rig.folder / "b.rom").string(), "content");
    bool thrown = false;
    rig.ctx.addEventSource([&] {
        // Once the first row is done with and cleared, before the second begins.
        if (!thrown && !rig.state.DeviceList.back().Controllers[0].Selected) {
            thrown = true;
            throw KvError("Connection Lost Error");
        }
    });
    rig.ui.answers.push_back(MsgButton::Yes);
    RunUpgrade(rig.ctx);

    EXPECT_EQ(tftp.requests, 1);  // the web content was not attempted
    const std::string report = shownReport(rig.ui);
    EXPECT_TRUE(contains(report, "Web Server...FAILED\r\nWeb Content...FAILED")) << report;
    EXPECT_TRUE(contains(report, "Total rewrites:")) << report;
    EXPECT_TRUE(contains(report, "Upgrade FAILED")) << report;
    EXPECT_EQ(t.module->gpio().selectCode(), 7);  // restored
    EXPECT_TRUE(rig.ui.enabled(UiElement::Upgrade));
}

}  // namespace
}  // namespace kv::test
