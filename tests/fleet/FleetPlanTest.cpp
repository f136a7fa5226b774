// Plan files, the time estimates and the fleet report, without devices.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <sstream>

#include "../cli/KvbootRun.h"
#include "../firmware/HexLines.h"
#include "cli/FleetRunner.h"
#include "cli/Versions.h"

namespace kv::cli {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

class PlanFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("kv-plan-" + std::to_string(::getpid()));
        fs::create_directories(folder / "fw");
        std::ofstream(folder / "fw" / "panel-1.4.2.hex") << cardHex("RV-PNL16");
        std::ofstream(folder / "fw" / "web.rom") << "image";
    }
    // A card image naming its type, with one data record.
    static std::string cardHex(const std::string& type) {
        return sim::HexRecordLine(0, 0x0600, test::textBytes(type, 32)) + "\n" +
               sim::HexRecordLine(0, 0x0800, Bytes{1, 2, 3, 4}) + "\n:00000001FF\n";
    }
    void TearDown() override { fs::remove_all(folder); }
    FleetPlan parse(const std::string& text) { return ParsePlan(text, "plan.json", folder); }
    fs::path folder;
};

TEST_F(PlanFiles, ADeviceOfEachKindWithItsOptions) {
    const FleetPlan plan = parse(R"({"parallel": 3, "discovery_wait": 7.5, "devices": [
        {"name": "left", "address": "10.0.0.7", "files": {"RV-PNL16": "fw/panel-1.4.2.hex",
         "2": "fw/web.rom"}, "quick": true, "answers": {"protocol-switch": "yes"},
         "discovery_wait": 0.5},
        {"port": "/dev/ttyUSB0", "as": "HQLX-FBR", "files": {"0": "fw/panel-1.4.2.hex"}},
        {"usb": "KV123", "files": {"0": "fw/panel-1.4.2.hex"}, "answers": {"upgrade": "no"}}]})");
    EXPECT_EQ(plan.parallel, 3);
    ASSERT_EQ(plan.devices.size(), 3u);
    const PlanDevice& left = plan.devices[0];
    EXPECT_EQ(left.name, "left");
    EXPECT_EQ(left.target.kind, TargetKind::Network);
    EXPECT_EQ(left.target.address, "10.0.0.7");
    EXPECT_TRUE(left.quick);
    ASSERT_EQ(left.files.size(), 2u);
    EXPECT_EQ(left.files[0].row, "RV-PNL16");
    EXPECT_EQ(fs::path(left.files[0].path), folder / "fw" / "panel-1.4.2.hex");
    EXPECT_EQ(left.answers.at(Question::ProtocolSwitch), MsgButton::Yes);
    // Running the plan answers the upgrade question unless the plan says no.
    EXPECT_EQ(left.answers.at(Question::Upgrade), MsgButton::Yes);
    EXPECT_EQ(plan.devices[2].answers.at(Question::Upgrade), MsgButton::No);
    EXPECT_EQ(plan.devices[1].target.kind, TargetKind::Serial);
    EXPECT_EQ(plan.devices[1].target.address, "/dev/ttyUSB0");
    EXPECT_EQ(plan.devices[1].as, HandleAs::HqlxFbr);
    EXPECT_EQ(plan.devices[1].name, plan.devices[1].target.text);
    EXPECT_EQ(plan.devices[2].target.kind, TargetKind::Usb);
    // A device's own discovery wait; the others take the plan's.
    EXPECT_EQ(plan.discoveryWait, milliseconds(7500));
    EXPECT_EQ(left.discoveryWait, milliseconds(500));
    EXPECT_FALSE(plan.devices[1].discoveryWait.has_value());
}

TEST_F(PlanFiles, EveryMistakeIsRefusedWithItsPlace) {
    const std::string file = R"("files": {"0": "fw/web.rom"})";
    const struct {
        std::string plan;
        std::string says;
    } cases[] = {
        {"{", "not valid JSON"},
        {"[]", "must be a JSON object"},
        {R"({"devices": []})", "\"devices\" is empty"},
        {R"({"device": []})", "unknown key \"device\""},
        {R"({"devices": {}})", "\"devices\" must be a list"},
        {R"({"parallel": 0, "devices": [{"address": "10.0.0.1", )" + file + "}]}",
         "\"parallel\" must be"},
        {R"({"devices": [{"address": "10.0.0.1"}]})", "device 1: \"files\" is missing"},
        {R"({"devices": [{)" + file + "}]}", "exactly one of"},
        {R"({"devices": [{"address": "10.0.0.1", "port": "COM3", )" + file + "}]}",
         "exactly one of"},
        {R"({"devices": [{"address": "10.0.0.1", "files": {}}]})", "names no row"},
        {R"({"devices": [{"address": "10.0.0.1", "files": {"0": "missing.hex"}}]})",
         "does not exist"},
        {R"({"devices": [{"address": "10.0.0.1", "files": {"0": 5}}]})", "must be a string"},
        {R"({"devices": [{"address": "10.0.0.1", "quick": "yes", )" + file + "}]}",
         "\"quick\" must be true or false"},
        {R"({"devices": [{"address": "10.0.0.1", "verify": 1, )" + file + "}]}",
         "\"verify\" must be true or false"},
        {R"({"devices": [{"address": "10.0.0.1", "expect": {"1": "FW:1.0"}, )" + file + "}]}",
         "\"expect\" names the row \"1\" that \"files\" does not give"},
        {R"({"devices": [{"address": "10.0.0.1", "expect": ["FW:1.0"], )" + file + "}]}",
         "\"expect\" must be an object"},
        {R"({"devices": [{"address": "10.0.0.1", "expect": {"0": ""}, )" + file + "}]}",
         "\"expect.0\" is empty"},
        {R"({"devices": [{"address": "10.0.0.1", "files": {"0": {"sha256": "00"}}}]})",
         "\"files.0\" has no \"path\""},
        {R"({"devices": [{"address": "10.0.0.1", "files": {"0": {"path": "fw/web.rom", )"
         R"("sha256": "00"}}}]})",
         "SHA-256 digest of 64 hex digits"},
        {R"({"devices": [{"address": "10.0.0.1", "files": {"0": {"path": "fw/web.rom", )"
         R"("md5": "00"}}}]})",
         "unknown key \"md5\" in \"files.0\""},
        {R"({"devices": [{"address": "10.0.0.1", "as": "toaster", )" + file + "}]}",
         "unknown \"as\" type \"toaster\""},
        {R"({"devices": [{"address": "10.0.0.1", "answers": {"exit": "yes"}, )" + file + "}]}",
         "unknown question \"exit\""},
        {R"({"devices": [{"address": "10.0.0.1", "answers": {"upgrade": "maybe"}, )" + file + "}]}",
         "must be \"yes\" or \"no\""},
        {R"({"devices": [{"address": "10.0.0.1", "speed": 1, )" + file + "}]}",
         "device 1: unknown key \"speed\""},
        {R"({"discovery_wait": "long", "devices": [{"address": "10.0.0.1", )" + file + "}]}",
         "\"discovery_wait\" must be a number of seconds"},
        {R"({"devices": [{"address": "10.0.0.1", "discovery_wait": 0, )" + file + "}]}",
         "device 1: \"discovery_wait\" must be"},
        {R"({"devices": [{"address": "10.0.0.1", "discovery_wait": 1e6, )" + file + "}]}",
         "device 1: \"discovery_wait\" must be"},
        {R"({"devices": [{"name": "a", "address": "10.0.0.1", )" + file +
             R"(}, {"name": "A", "address": "10.0.0.2", )" + file + "}]}",
         "device 2 (A): the name \"A\" is used twice"},
        {R"({"devices": [{"address": "10.0.0.1", )" + file +
             R"(}, {"name": "b", "address": )"
             R"("10.0.0.1", )" +
             file + "}]}",
         "is in the plan twice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.plan);
        try {
            parse(c.plan);
            ADD_FAILURE() << "accepted";
        } catch (const PlanError& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("plan.json: ", 0), 0u) << text;
            EXPECT_NE(text.find(c.says), std::string::npos) << text;
        }
    }
}

TEST_F(PlanFiles, ExpectedVersionsPinsAndTheirDefaults) {
    // The pin as some tools print it, in capitals.
    const std::string digest = test::Sha256Sum((folder / "fw" / "panel-1.4.2.hex").string());
    ASSERT_EQ(digest.size(), 64u);
    std::string pin = digest;
    for (char& c : pin) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const FleetPlan plan = parse(R"({"devices": [
        {"address": "10.0.0.7", "files": {"RV-PNL16": {"path": "fw/panel-1.4.2.hex", "sha256": ")" +
                                 pin + R"("}, "2": "fw/web.rom"},
         "expect": {"rv-pnl16": "1.4.2"}, "force": true, "verify": false},
        {"address": "10.0.0.8", "files": {"0": "fw/web.rom"}}]})");
    const PlanDevice& pinned = plan.devices[0];
    EXPECT_EQ(fs::path(pinned.files[0].path), folder / "fw" / "panel-1.4.2.hex");
    EXPECT_EQ(pinned.files[0].sha256, digest);
    EXPECT_EQ(pinned.files[0].expected, "1.4.2");  // put in the device's form once it answers
    EXPECT_EQ(pinned.files[1].sha256, "");
    EXPECT_EQ(pinned.files[1].expected, "");
    EXPECT_TRUE(pinned.force);
    EXPECT_FALSE(pinned.verify);
    // Plans read the versions back unless told not to.
    EXPECT_FALSE(plan.devices[1].force);
    EXPECT_TRUE(plan.devices[1].verify);
}

// A pinned file that is not the one pinned stops the plan before any device is contacted
// (nobody answers at 10.0.0.x here), naming the device, the row and both digests.
TEST_F(PlanFiles, AWrongPinStopsThePlanWithStatus2) {
    const std::string file = (folder / "fw" / "web.rom").string();
    const std::string digest = test::Sha256Sum(file);
    ASSERT_EQ(digest.size(), 64u);
    const std::string wrong(64, 'e');
    std::ofstream(folder / "pinned.json") << R"({"devices": [
        {"name": "good", "address": "10.0.0.7", "files": {"0": {"path": "fw/web.rom", "sha256": ")"
                                          << digest << R"("}}},
        {"name": "stale", "address": "10.0.0.8", "files": {"Web Server": {"path": "fw/web.rom",
         "sha256": ")" << wrong << R"("}}}]})";
    const test::KvbootRun run =
        test::RunKvbootWith({"plan", (folder / "pinned.json").string(), "--json"});
    EXPECT_EQ(run.status, 2);
    const Json doc = Json::parse(run.out);
    const std::string message = doc["error"]["message"];
    for (const std::string& part :
         {std::string("device 2 (stale): the file for row \"Web Server\""), digest, wrong})
        EXPECT_NE(message.find(part), std::string::npos) << message;
}

// A file the upgrade would refuse stops the plan before any device is contacted, and the
// error names the device, the row and the file. What a row's name tells decides what is
// checked.
TEST_F(PlanFiles, AFileTheUpgradeWouldRefuseStopsThePlanNamingDeviceRowAndFile) {
    std::string spoiled = cardHex("RV-PNL16");
    spoiled[spoiled.find('\n') - 1] ^= 1;  // the first record's checksum
    const struct {
        const char* file;
        std::string content;  // none: the file does not exist
        const char* target;   // "address", "port" or "usb"
        const char* row;
        const char* says;  // nullptr: the plan is taken
    } cases[] = {
        {"bad.hex", spoiled, "address", "RV-PNL16", "Line 1: "},
        {"other.hex", cardHex("RV-BTN16"), "address", "rv-pnl16",
         "Invalid controller type info for rv-pnl16 (RV-BTN16)"},
        {"empty.hex", ":00000001FF\n", "address", "3", "no data records"},
        {"site.rom", "image", "address", "Web Content", "the row takes a .cob file"},
        {"site.rom", "image", "usb", "0", "a USB device takes a .hex file"},
        {"notes.txt", "text", "port", "0", "no firmware file kvboot knows"},
        {"missing.hex", "", "address", "RV-PNL16", "does not exist"},
        // Taken: the type without its last character, either web server image, any kind
        // for a row named by number, a CPU's or a transmitter's image of any type.
        {"short.hex", cardHex("RV-PNL1"), "address", "RV-PNL16", nullptr},
        {"web.ro5", "image", "address", "web server", nullptr},
        {"web.rom", "image", "address", "2", nullptr},
        {"cpu.hex", cardHex("OTHER"), "address", "RV-CTL2", nullptr},
        {"tx.hex", cardHex("OTHER"), "port", "NRV-TW-SN500S", nullptr},
    };
    const std::map<std::string, std::string> targets{
        {"address", "10.0.0.1"}, {"port", "/dev/ttyS9"}, {"usb", "KV1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " for " + c.row);
        const fs::path path = folder / "fw" / c.file;
        if (!c.content.empty()) std::ofstream(path, std::ios::binary) << c.content;
        const std::string plan = R"({"devices": [{"name": "stage", ")" + std::string(c.target) +
                                 R"(": ")" + targets.at(c.target) + R"(", "files": {")" + c.row +
                                 R"(": "fw/)" + c.file + R"("}}]})";
        try {
            parse(plan);
            EXPECT_EQ(c.says, nullptr) << "taken";
        } catch (const PlanError& e) {
            const std::string text = e.what();
            ASSERT_NE(c.says, nullptr) << text;
            EXPECT_EQ(text.rfind("plan.json: device 1 (stage): the file for row \"" +
                                     std::string(c.row) + "\" ",
                                 0),
                      0u)
                << text;
            EXPECT_NE(text.find(path.string()), std::string::npos) << text;
            EXPECT_NE(text.find(c.says), std::string::npos) << text;
        }
    }
}

TEST_F(PlanFiles, AMissingPlanFileIsAPlanError) {
    EXPECT_THROW(LoadPlan((folder / "none.json").string()), PlanError);
}

// kvboot plan refuses a bad plan with exit status 2 before it touches any device, and says
// where the mistake is on standard error.
TEST_F(PlanFiles, TheCommandRefusesBadPlansWithStatus2) {
    std::ofstream(folder / "typo.json") << R"({"devices": [{"adress": "10.0.0.1"}]})";
    const struct {
        std::vector<std::string> arguments;
        std::string says;
    } cases[] = {
        {{"plan", (folder / "none.json").string()}, "cannot be read"},
        {{"plan", (folder / "typo.json").string()}, "unknown key \"adress\""},
        {{"plan", (folder / "typo.json").string(), "--parallel", "0"}, "--parallel"},
        {{"plan"}, "FILE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const test::KvbootRun run = test::RunKvbootWith(c.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST(Estimates, RowKindsAndTheirModel) {
    // Demo card image: 256 blocks of program data.
    const FileFigures card{4096, 256, true};
    const struct {
        RowKind kind;
        std::string type;
        FileFigures file;
        bool quick;
        TargetKind target;
        milliseconds wire;
        milliseconds waits;
    } cases[] = {
        // 2016 erase frames of 14 bytes, 256 writes of 30 and reads of 34, at 1920 bytes/s.
        {RowKind::PicCard, "RV-PNL16", card, false, TargetKind::Network, milliseconds(23233),
         milliseconds(3200)},
        {RowKind::PicCard, "RV-PNL16", card, true, TargetKind::Network, milliseconds(18700),
         milliseconds(3200)},
        // On a serial port each read-back reply ends 100 ms after its last byte.
        {RowKind::PicCard, "RV-PNL16", card, false, TargetKind::Serial, milliseconds(23233),
         milliseconds(1500 + 256 * 100)},
        // Fibre sender cards erase 1 KiB rows and are never read back.
        {RowKind::PicCard, "LNK-FBR-SN330-MAX", card, false, TargetKind::Network,
         milliseconds(4911), milliseconds(3200)},
        {RowKind::WebServer,
         "Web Server",
         {3000, 0, true},
         false,
         TargetKind::Network,
         milliseconds(6),
         milliseconds(4500)},
        {RowKind::WebContent,
         "Web Content",
         {3000, 0, true},
         false,
         TargetKind::Network,
         milliseconds(6),
         milliseconds(6000)},
        {RowKind::WebPackage,
         "Web Package",
         {2000000, 0, true},
         false,
         TargetKind::Network,
         milliseconds(2000),
         milliseconds(4800)},
        // 64 KiB through 256-byte writes and read-backs at 57600 8E1 over the module.
        {RowKind::Cpu,
         "RV-CTL2",
         {65536, 0, true},
         false,
         TargetKind::Network,
         milliseconds(26156),
         milliseconds(12500 + 15 * 256 * 6 / 2)},
        {RowKind::Cpu,
         "NRV-CTL",
         {65536, 0, true},
         true,
         TargetKind::Serial,
         milliseconds(6527),
         milliseconds(12500)},
        // The whole window of 1791 blocks whatever the file holds: two reports, the settle
        // and a wait round each, after the erase.
        {RowKind::Usb,
         "USB",
         {6400, 0, true},
         false,
         TargetKind::Usb,
         milliseconds(2 * 1791),
         milliseconds(900 + 20 * 1791)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type + (c.quick ? " quick" : ""));
        EXPECT_EQ(RowKindOf(c.type, c.target), c.kind);
        const RowEstimate estimate = EstimateRow(c.kind, c.type, c.file, c.quick, c.target);
        EXPECT_LE(std::chrono::abs(estimate.wire - c.wire), milliseconds(2));
        EXPECT_EQ(estimate.waits, c.waits);
    }
    // The close settle, the main controller selected twice and the 11 release rounds.
    EXPECT_EQ(EstimateRestore(TargetKind::Network, false), milliseconds(11350));
    EXPECT_LT(EstimateRestore(TargetKind::Network, true), milliseconds(1000));
}

TEST(Estimates, HexFilesCountTheBlocksTheCardGetsWritten) {
    const fs::path file = fs::temp_directory_path() / ("kv-blocks-" + std::to_string(::getpid()));
    {
        std::ofstream out(file);
        using sim::HexRecordLine;
        const std::vector<std::uint8_t> counting{0, 1, 2,  3,  4,  5,  6,  7,
                                                 8, 9, 10, 11, 12, 13, 14, 15};
        out << test::hexLinear(0) << "\n"
            << HexRecordLine(0, 0x0600, test::textBytes("RV", 16)) << "\n"  // the loader's own area
            << HexRecordLine(0, 0x0800, counting) << "\n"
            << HexRecordLine(0, 0x0810, std::vector<std::uint8_t>(16, 0xFF)) << "\n"  // erased
            << HexRecordLine(0, 0x0820, std::vector<std::uint8_t>(32, 0x11)) << "\n"  // two blocks
            << HexRecordLine(0, 0xFFF0, counting) << "\n"  // inside the writable window
            << test::hexLinear(1) << "\n"
            << HexRecordLine(0, 0xFFD0, counting) << "\n"  // above the last writable block
            << test::hexLinear(0x00F0) << "\n"             // data EEPROM from here
            << HexRecordLine(0, 0x0000, Bytes{1, 2}) << "\n"
            << ":00000001FF\n";
    }
    const FileFigures figures = MeasureFile(file.string(), RowKind::PicCard);
    EXPECT_TRUE(figures.readable);
    EXPECT_EQ(figures.bytes, 16u * 5 + 32u + 2u);
    EXPECT_EQ(figures.programBlocks, 4u);
    EXPECT_EQ(figures.erasedBlocks, 1u);  // written on fibre cards only
    EXPECT_EQ(figures.eepromWrites, 1u);
    EXPECT_EQ(MeasureFile(file.string(), RowKind::WebServer).bytes, fs::file_size(file));
    EXPECT_FALSE(MeasureFile("/nonexistent/file.hex", RowKind::PicCard).readable);
    fs::remove(file);
}

TEST(Estimates, TextHelpers) {
    // Only a dotted group that stands apart in the name is a version.
    const struct {
        std::string path;
        std::string version;
    } names[] = {{"/fw/panel-1.4.2.hex", "1.4.2"},
                 {"RV-PNL16-1.4.0.hex", "1.4.0"},  // not "16.1.4"
                 {"web-server-6.B.0.rom", "6.B.0"},
                 {"RV-PNL16.hex", ""},
                 {"web_v2_0_11.rom", ""},  // no dots: not clearly a version
                 {"fw-v1.2.0.hex", "1.2.0"},
                 {"panel-1.4.2-beta.hex", "1.4.2"},
                 {"old-1.0.0-new-1.1.0.hex", "1.1.0"},
                 {"fw-1.2.3", "1.2.3"},  // no extension
                 {"cafe.beef.hex", ""},  // words, not digits
                 {"RV1.2.hex", ""},      // glued to the name
                 {"/v1.2.3/card.hex", ""},
                 {"card.hex", ""}};
    for (const auto& n : names) EXPECT_EQ(VersionInFileName(n.path), n.version) << n.path;
    // Versions compared in the form the device reports them.
    const struct {
        std::string given;
        std::string device;
        bool same;
        std::string inDeviceForm;
    } versions[] = {
        {"1.5.0", "FW:1.5.0", true, "FW:1.5.0"},   {"FW:1.5.0", "FW:1.5.0", true, "FW:1.5.0"},
        {"6.b.0", "FW:6.B.0", true, "FW:6.b.0"},   {"1.5.0", "FW:1.4.0", false, "FW:1.5.0"},
        {"1.5", "FW:1.5.0", false, "FW:1.5"},      {"3.1.2", "3.1.2", true, "3.1.2"},
        {"V:1.5.0", "FW:1.5.0", false, "V:1.5.0"}, {"1.5.0", "", false, "1.5.0"}};
    for (const auto& v : versions) {
        SCOPED_TRACE(v.given + " vs " + v.device);
        EXPECT_EQ(SameVersion(v.given, v.device), v.same);
        EXPECT_EQ(InDeviceForm(v.given, v.device), v.inDeviceForm);
    }
    EXPECT_EQ(FormatDuration(milliseconds(0)), "0:00");
    EXPECT_EQ(FormatDuration(milliseconds(65400)), "1:05");
    EXPECT_EQ(FormatDuration(milliseconds(3723000)), "1:02:03");
    EXPECT_EQ(LogNameFor("stage left/1"), "stage_left_1");
    EXPECT_EQ(LogNameFor(".."), "device..");
    EXPECT_EQ(LogNameFor("127.0.0.2"), "127.0.0.2");
}

TEST(FleetReport, OneLinePerDeviceAndRowThenTheVerdict) {
    FleetResult result;
    FleetDeviceResult ok;
    ok.name = "a";
    ok.rows = {{0,
                "RV-PNL16",
                "FW:1.4.0",
                "p.hex",
                "",
                "",
                {},
                RowState::Ok,
                "",
                "FW:1.4.1",
                false,
                "FW:1.4.1"},
               {1,
                "RV-BTN16",
                "FW:1.0.6",
                "b.hex",
                "",
                "",
                {},
                RowState::Skipped,
                "already at FW:1.0.6",
                "FW:1.0.6",
                true,
                ""}};
    FleetDeviceResult failed;
    failed.name = "bb";
    failed.status = ExitStatus::RowFailed;
    failed.rows = {
        {0, "RV-PNL32", "2.0.1", "q.hex", "", "", {}, RowState::Failed, "", "", false, ""},
        {1,
         "Web Server",
         "FW:6.11",
         "w.rom",
         "",
         "",
         {},
         RowState::NotAttempted,
         "",
         "",
         false,
         ""}};
    FleetDeviceResult lost;
    lost.name = "c";
    lost.status = ExitStatus::Unreachable;
    lost.result = {SessionError::NotFound, "no answer from 10.0.0.9"};
    result.devices = {ok, failed, lost};
    result.status = ExitStatus::Unreachable;
    const std::vector<std::string> expected{
        "a   row 0 RV-PNL16  OK  FW:1.4.0 -> FW:1.4.1",
        "a   row 1 RV-BTN16  SKIPPED: already at FW:1.0.6",
        "bb  row 0 RV-PNL32  FAILED",
        "bb  row 1 Web Server  NOT DONE",
        "c   unreachable: no answer from 10.0.0.9",
        "Fleet upgrade FAILED: 1 of 3 devices upgraded in 0:00",
    };
    EXPECT_EQ(FleetReportLines(result), expected);
    const Json json = FleetJson(result);
    EXPECT_EQ(json["exit"], 3);
    EXPECT_EQ(json["devices"][1]["rows"][1]["state"], "not-attempted");
    EXPECT_EQ(json["devices"][0]["rows"][0]["to"], "FW:1.4.1");
    EXPECT_EQ(json["devices"][0]["rows"][1]["state"], "skipped");
    EXPECT_EQ(json["devices"][0]["rows"][1]["to"], nullptr);
    EXPECT_EQ(json["devices"][2]["error"]["message"], "no answer from 10.0.0.9");
}

}  // namespace
}  // namespace kv::cli
