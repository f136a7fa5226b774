// What kvboot reads from its command line and how results become exit statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "../firmware/HexLines.h"
#include "KvbootRun.h"
#include "cli/Commands.h"
#include "cli/ConsoleUi.h"
#include "cli/HistoryCommand.h"

namespace kv::cli {
namespace {

TEST(FileChoice, SplitsAtTheFirstEqualsSignAndRefusesEmptySides) {
    struct Case {
        const char* text;
        bool valid;
        const char* row;
        const char* path;
    } cases[] = {
        {"RV-PNL16=/tmp/fw/RV-PNL16.hex", true, "RV-PNL16", "/tmp/fw/RV-PNL16.hex"},
        {"0=a.hex", true, "0", "a.hex"},
        {"Web Server=panel.rom", true, "Web Server", "panel.rom"},
        {" Web Server =panel.rom", true, "Web Server", "panel.rom"},
        {"RV-PNL16=dir/a=b.hex", true, "RV-PNL16", "dir/a=b.hex"},  // '=' in the path
        {"RV-PNL16", false, "", ""},
        {"=a.hex", false, "", ""},
        {"  =a.hex", false, "", ""},
        {"RV-PNL16=", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<FileChoice> choice = ParseFileChoice(c.text);
        ASSERT_EQ(choice.has_value(), c.valid);
        if (!choice) continue;
        EXPECT_EQ(choice->row, c.row);
        EXPECT_EQ(choice->path, c.path);
    }
}

TEST(Targets, TellAddressesPortsAndUsbDevicesApart) {
    struct Case {
        const char* text;
        bool valid;
        TargetKind kind;
        const char* address;
        int port;
        const char* product;
    } cases[] = {
        {"192.168.1.20", true, TargetKind::Network, "192.168.1.20", 0, ""},
        {"127.0.0.2:10001", true, TargetKind::Network, "127.0.0.2", 10001, ""},
        {"/dev/ttyUSB0", true, TargetKind::Serial, "/dev/ttyUSB0", 0, ""},
        {"COM3", true, TargetKind::Serial, "COM3", 0, ""},
        {"serial:/tmp/kv-pty", true, TargetKind::Serial, "/tmp/kv-pty", 0, ""},
        {"usb:KV123", true, TargetKind::Usb, "KV123", 0, ""},
        {"USB:NRV-USB:KV123", true, TargetKind::Usb, "KV123", 0, "NRV-USB"},
        {"127.0.0.2:0", false, TargetKind::Network, "", 0, ""},
        {"127.0.0.2:65536", false, TargetKind::Network, "", 0, ""},
        {"127.0.0.2:port", false, TargetKind::Network, "", 0, ""},
        {"127.0.0.256", false, TargetKind::Network, "", 0, ""},  // a mistyped address
        {"10.1.2", false, TargetKind::Network, "", 0, ""},
        {"usb:", false, TargetKind::Usb, "", 0, ""},
        {"serial:", false, TargetKind::Serial, "", 0, ""},
        {"", false, TargetKind::Network, "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const std::optional<Target> target = ParseTarget(c.text, error);
        ASSERT_EQ(target.has_value(), c.valid) << error;
        if (!target) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(target->kind, c.kind);
        EXPECT_EQ(target->address, c.address);
        EXPECT_EQ(target->tunnelPort, c.port);
        EXPECT_EQ(target->product, c.product);
    }
}

TEST(Targets, HandleAsNamesAreTheMenuEntriesInEitherCase) {
    EXPECT_EQ(HandleAsChoices().size(), 7u);
    for (const HandleAsChoice& choice : HandleAsChoices()) {
        const auto type = ParseHandleAs(std::string(choice.name));
        ASSERT_TRUE(type) << choice.name;
        EXPECT_EQ(*type, choice.id);
    }
    EXPECT_EQ(ParseHandleAs("rv6x6-2wqri-max"), HandleAs::Rv6x6Max);
    EXPECT_TRUE(Describe(HandleAs::Nrv5x5).network);
    EXPECT_FALSE(Describe(HandleAs::HqlxFbr).network);
    EXPECT_FALSE(ParseHandleAs("RV-CTL"));
}

TEST(ExitStatuses, ResultsMapToTheDocumentedStatuses) {
    struct Case {
        SessionError error;
        ExitStatus status;
    } cases[] = {
        {SessionError::None, ExitStatus::Ok},
        {SessionError::NotFound, ExitStatus::Unreachable},
        {SessionError::Unreachable, ExitStatus::Unreachable},
        {SessionError::BadInput, ExitStatus::Usage},
        {SessionError::Question, ExitStatus::Usage},
        {SessionError::Interrupted, ExitStatus::Interrupted},
        {SessionError::Failed, ExitStatus::RowFailed},
    };
    for (const Case& c : cases) EXPECT_EQ(StatusOf(c.error), c.status);

    UpgradeOutcome outcome;
    RowResult row;
    row.state = RowState::Ok;
    outcome.run.rows = {row};
    EXPECT_EQ(outcome.status(), ExitStatus::Ok);
    row.state = RowState::Failed;
    outcome.run.rows.push_back(row);
    EXPECT_EQ(outcome.status(), ExitStatus::RowFailed);
    outcome.result = {SessionError::NotFound, "gone"};
    EXPECT_EQ(outcome.status(), ExitStatus::Unreachable);
    outcome.interrupted = true;  // an interrupt outranks what it caused
    EXPECT_EQ(outcome.status(), ExitStatus::Interrupted);

    EXPECT_EQ(Worst(ExitStatus::Ok, ExitStatus::RowFailed), ExitStatus::RowFailed);
    EXPECT_EQ(Worst(ExitStatus::Unreachable, ExitStatus::RowFailed), ExitStatus::Unreachable);
    EXPECT_EQ(Worst(ExitStatus::Usage, ExitStatus::Interrupted), ExitStatus::Interrupted);
    EXPECT_EQ(ExitStatusName(ExitStatus::Interrupted), "interrupted");
    // A refused file is bad input to the exit code, and says so in its own words.
    EXPECT_EQ(ToInt(ExitStatus::FileRefused), ToInt(ExitStatus::Usage));
    EXPECT_EQ(ExitStatusName(ExitStatus::FileRefused), "file-refused");
}

TEST(ConsoleQuestions, AnsweredByIdFromTheTableOrTheSafeButtonAndARecordOfIt) {
    ConsoleUi ui;
    const std::vector<MsgButton> yesCancel{MsgButton::Yes, MsgButton::Cancel};
    // Unanswered: the default (safe) button at once, and the question is kept.
    EXPECT_EQ(ui.ask(QuestionId::ConfirmUpgrade, "Do you really want to upgrade?",
                     DialogKind::Confirmation, yesCancel, static_cast<int>(MsgButton::Cancel)),
              MsgButton::Cancel);
    ASSERT_TRUE(ui.unanswered());
    EXPECT_EQ(ui.unanswered()->id, QuestionId::ConfirmUpgrade);
    EXPECT_EQ(FlagFor(ui.unanswered()->id), "--yes");

    // The answer goes by the question's id, whatever its wording.
    ui.resetCollected();
    for (QuestionId id : QuestionIdsOf(Question::UnreachableDevice))
        ui.setAnswer(id, MsgButton::Yes);
    EXPECT_EQ(ui.ask(QuestionId::RestoreUnreachable, "reworded", DialogKind::Confirmation,
                     yesCancel, static_cast<int>(MsgButton::Cancel)),
              MsgButton::Yes);
    EXPECT_EQ(ui.ask(QuestionId::ConfirmUpgrade, "Do you really want to upgrade?",
                     DialogKind::Confirmation, yesCancel, static_cast<int>(MsgButton::Cancel)),
              MsgButton::Cancel);
}

TEST(Subcommands, AnUnknownOrMissingOneIsNamedWithTheKnownOnes) {
    const struct {
        std::vector<std::string> words;
        std::string says;
    } cases[] = {
        {{"bogus"},
         "unknown subcommand \"bogus\"; known: discover, inventory, upgrade, check, plan"},
        {{}, "a subcommand is required: discover, inventory, upgrade, check, plan"},
    };
    for (const auto& c : cases) {
        const test::KvbootRun run = test::RunKvbootWith(c.words);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}

// With --json every command that cannot start still prints its one document.
TEST(Subcommands, WithJsonEveryRefusalIsOneDocument) {
    const std::vector<std::vector<std::string>> cases{
        {"bogus", "--json"},
        {"upgrade", "--json"},  // no target, no file
        {"inventory", "usb:", "--json"},
        {"inventory", "127.0.0.1:1", "--as", "RV-NONE", "--json"},
        {"upgrade", "127.0.0.1:1", "--file", "RV-PNL16=/no/such/file.hex", "--json"},
        {"plan", "/no/such/plan.json", "--json"},
    };
    for (const auto& words : cases) {
        SCOPED_TRACE(words.front() + " " + words[1]);
        const test::KvbootRun run = test::RunKvbootWith(words);
        EXPECT_EQ(run.status, 2);
        const auto doc = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << run.out;
        EXPECT_EQ(doc["status"], "usage");
        EXPECT_EQ(doc["exit"], 2);
        EXPECT_EQ(doc["error"]["code"], "bad-input");
        EXPECT_FALSE(doc["error"]["message"].get<std::string>().empty());
    }
}

// A card file the upgrade takes for an RV-PNL16 row: its type and one data record.
std::string panelCardHex() {
    return sim::HexRecordLine(0, 0x0600, test::textBytes("RV-PNL16", 32)) + "\n" +
           sim::HexRecordLine(0, 0x0800, Bytes{1, 2, 3}) + "\n:00000001FF\n";
}

// --expect and --sha256 name rows as a --file does; a mistake, or a pinned file that is not
// the one pinned, stops the upgrade before the device is contacted (nobody listens at
// 127.0.0.1:1), with the device unchanged.
TEST(UpgradeCommand, RowOptionsAreCheckedBeforeTheDeviceIsContacted) {
    namespace fs = std::filesystem;
    const fs::path file =
        fs::temp_directory_path() / ("kv-pin-" + std::to_string(::getpid()) + ".hex");
    std::ofstream(file) << panelCardHex();
    const std::string digest = test::Sha256Sum(file.string());
    ASSERT_EQ(digest.size(), 64u);
    const std::string wrong(64, '0');
    const std::string files = "RV-PNL16=" + file.string();
    const struct {
        std::vector<std::string> more;
        std::vector<std::string> says;
    } cases[] = {
        {{"--expect", "RV-BTN16=1.0.6"}, {"no --file names the row \"RV-BTN16\""}},
        {{"--expect", "RV-PNL16"}, {"expected ROW=VERSION"}},
        {{"--expect", "rv-pnl16=1.5.0", "--expect", "RV-PNL16=1.5.1"}, {"given twice"}},
        {{"--sha256", "RV-PNL16=abc"}, {"64 hex digits"}},
        {{"--sha256", "RV-PNL16=" + wrong},
         {"127.0.0.1:1: the file for row \"RV-PNL16\"", digest, wrong}},
        {{"--sha256", "RV-PNL16=" + std::string(64, 'g')}, {"64 hex digits"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.more.front() + " " + c.more.back());
        std::vector<std::string> words{"upgrade", "127.0.0.1:1", "--yes",
                                       "--file",  files,         "--json"};
        words.insert(words.end(), c.more.begin(), c.more.end());
        const test::KvbootRun run = test::RunKvbootWith(words);
        EXPECT_EQ(run.status, 2);
        const auto doc = nlohmann::json::parse(run.out);
        EXPECT_EQ(doc["changed"], false);
        for (const std::string& text : c.says)
            EXPECT_NE(doc["error"]["message"].get<std::string>().find(text), std::string::npos)
                << doc["error"]["message"];
    }
    // The right digest, in capitals as some tools print it, passes on to the connect.
    std::string upper = digest;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const test::KvbootRun pinned =
        test::RunKvbootWith({"upgrade", "127.0.0.1:1", "--yes", "--file", files, "--sha256",
                             "RV-PNL16=" + upper, "--json"});
    EXPECT_EQ(pinned.status, 3) << pinned.err;
    fs::remove(file);
}

// kvboot upgrade refuses what it can without the device before it contacts the device: no
// module answers at 127.0.0.1:1, so a refusal that waited for the connect would say so.
TEST(UpgradeCommand, RefusesFilesAndUnansweredQuestionsBeforeContactingTheDevice) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("kv-refuse-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string card = panelCardHex();
    std::string spoiled = card;
    spoiled[spoiled.find('\n') - 1] ^= 1;
    std::ofstream(folder / "good.hex") << card;
    std::ofstream(folder / "bad.hex") << spoiled;
    const struct {
        std::vector<std::string> words;
        const char* status;
        const char* code;
        const char* says;
    } cases[] = {
        {{"--file", "RV-PNL16=" + (folder / "bad.hex").string(), "--yes"},
         "file-refused",
         "bad-input",
         "127.0.0.1:1: the file for row \"RV-PNL16\" is refused: "},
        {{"--file", "RV-BTN16=" + (folder / "good.hex").string(), "--yes"},
         "file-refused",
         "bad-input",
         "Invalid controller type info for RV-BTN16 (RV-PNL16)"},
        {{"--file", "RV-PNL16=" + (folder / "good.hex").string()},
         "usage",
         "unanswered-question",
         "needs an answer to \"Do you really want to upgrade?\"; give --yes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<std::string> words{"upgrade", "127.0.0.1:1", "--json"};
        words.insert(words.end(), c.words.begin(), c.words.end());
        const test::KvbootRun run = test::RunKvbootWith(words);
        EXPECT_EQ(run.status, 2);
        const auto doc = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_TRUE(doc.is_object()) << run.out;
        EXPECT_EQ(doc["status"], c.status);
        EXPECT_EQ(doc["error"]["code"], c.code);
        EXPECT_EQ(doc["changed"], false);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    fs::remove_all(folder);
}

// check says what a file is by its extension; a HEX file is refused with the first bad line
// or when it holds no data; the controller type's bytes never reach the terminal raw.
TEST(CheckCommand, SaysWhatTheFileIsAndRefusesWhatNoUpgradeTakes) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("kv-check-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string typeField = std::string("RV\x01PNL\xFF", 7);
    const std::string good = sim::HexRecordLine(0, 0x0600, test::textBytes(typeField, 16)) + "\n" +
                             sim::HexRecordLine(0, 0x0800, Bytes{1, 2, 3}) + "\n:00000001FF\n";
    const struct {
        std::string name;
        std::string content;
        int status;
        std::string jsonStatus;
        std::string says;  // in the text answer (standard output, or standard error)
        nlohmann::json kind, integrity, fault, controllerType;
    } cases[] = {
        {"good.hex", good, 0, "ok", "controller type: RV\\x01PNL\\xFF", "intel-hex", true, nullptr,
         "RV\\x01PNL\\xFF"},
        {"empty-data.hex", ":00000001FF\n", 2, "file-refused", "refused: no data records",
         "intel-hex", true, nullptr, nullptr},
        {"bad.hex",
         good.substr(0, 20) + "\n",
         2,
         "file-refused",
         "refused: Line 1: Illegal record length",
         "intel-hex",
         false,
         {{"line", 1}, {"failure", "Illegal record length"}},
         nullptr},
        {"web.rom", "not HEX at all", 0, "ok", "Web Server image, 14 bytes (goes to the device",
         "web-server-image", nullptr, nullptr, nullptr},
        {"site.kvp", "PK", 0, "ok", "Korvandel Package, 2 bytes", "web-package", nullptr, nullptr,
         nullptr},
        {"notes.txt", "text", 2, "file-refused", "no firmware file kvboot knows", nullptr, nullptr,
         nullptr, nullptr},
        {"missing.hex", "", 2, "file-refused", "cannot read the file", nullptr, nullptr, nullptr,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = (folder / c.name).string();
        if (c.name != "missing.hex") std::ofstream(path, std::ios::binary) << c.content;
        const test::KvbootRun text = test::RunKvbootWith({"check", path});
        EXPECT_EQ(text.status, c.status);
        EXPECT_NE((text.out + text.err).find(c.says), std::string::npos) << text.out << text.err;
        EXPECT_EQ(text.out.find('\x01'), std::string::npos);

        const test::KvbootRun json = test::RunKvbootWith({"check", path, "--json"});
        EXPECT_EQ(json.status, c.status);
        const auto doc = nlohmann::json::parse(json.out);
        EXPECT_EQ(doc["status"], c.jsonStatus);
        EXPECT_EQ(doc["kind"], c.kind);
        EXPECT_EQ(doc["integrity"], c.integrity);
        EXPECT_EQ(doc["fault"], c.fault);
        EXPECT_EQ(doc["controller_type"], c.controllerType);
        const std::string digest = test::Sha256Sum(path);
        EXPECT_EQ(doc["sha256"], digest.empty() ? nlohmann::json(nullptr) : nlohmann::json(digest));
        if (!digest.empty()) {
            EXPECT_NE(text.out.find(digest), std::string::npos) << text.out;
        }
        for (const auto& [key, value] : doc.items()) EXPECT_NE(value, "") << key;
    }
    fs::remove_all(folder);
}

TEST(HistoryCommand, SinceTakesUtcDatesAndTimesOnly) {
    const struct {
        const char* text;
        std::optional<std::string> since;
    } cases[] = {
        {"2026-12-09", "2026-12-09T00:00:00Z"},
        {"2026-12-09T10:11", "2026-12-09T10:11:00Z"},
        {"2026-12-09 10:11:12", "2026-12-09T10:11:12Z"},
        {"2026-12-09T10:11:12Z", "2026-12-09T10:11:12Z"},
        {"2026-13-01", std::nullopt},
        {"2026-12-32", std::nullopt},
        {"2026-12-09T24:00", std::nullopt},
        {"2026-12-9", std::nullopt},
        {"yesterday", std::nullopt},
        {"2026-12-09T10", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseSince(c.text), c.since) << c.text;
}

TEST(HistoryCommand, SelectsByDeviceSerialAndTimeNewestFirst) {
    auto run = [](const char* start, const char* address, const char* serial) {
        UpgradeRecord r;
        r.start = start;
        r.device.address = address;
        r.device.serial = serial;
        return r;
    };
    // As appended: not always in start order (two processes end in another order).
    const std::vector<UpgradeRecord> records{run("2026-01-02T00:00:00Z", "10.0.0.2", "S:1"),
                                             run("2026-01-01T00:00:00Z", "10.0.0.3", "S:2"),
                                             run("2026-01-03T00:00:00Z", "ab", "S:3"),
                                             run("2026-01-03T00:00:00Z", "10.0.0.2", "S:1")};
    const struct {
        HistoryFilter filter;
        std::vector<std::size_t> expected;  // indexes into records, in the order listed
    } cases[] = {
        {{}, {3, 2, 0, 1}},
        {{"10.0.0.2", "", ""}, {3, 0}},
        {{"AB", "", ""}, {2}},
        {{"", "S:2", ""}, {1}},
        {{"", "", "2026-01-02T00:00:00Z"}, {3, 2, 0}},
        {{"10.0.0.9", "", ""}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter.address + "|" + c.filter.serial + "|" + c.filter.since);
        const std::vector<UpgradeRecord> runs = SelectRuns(records, c.filter);
        ASSERT_EQ(runs.size(), c.expected.size());
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].start, records[c.expected[i]].start);
            EXPECT_EQ(runs[i].device.serial, records[c.expected[i]].device.serial);
        }
    }
}

}  // namespace
}  // namespace kv::cli
