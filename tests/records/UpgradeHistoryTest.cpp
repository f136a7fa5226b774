// The upgrade history file: what a crash, a foreign line or a rotation leaves is read as far
// as it is sound, and appends from two processes at once never mix.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "actions/History.h"
#include "records/UpgradeHistory.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

UpgradeRecord sampleRecord(const std::string& start) {
    UpgradeRecord r;
    r.start = start;
    r.end = start;
    r.user = "operator";
    r.host = "rack-pc";
    r.frontEnd = "kvboot";
    r.device = {"network", "RV-PNL16", "{I RV}", "1234", "00-20-4A-9B-0C-11", "10.0.0.2", "6.8"};
    HistoryRow row;
    row.row = 1;
    row.type = "RV-BTN16";
    row.hardware = "HW:1.2";
    row.from = "FW:1.4.0";
    row.file = "/srv/fw/\xc3\xa9t\xe9 \"b\\\n.hex";  // UTF-8, a stray Latin-1 byte, escapes
    row.size = 9021;
    row.sha256 = std::string(64, 'a');
    row.state = "failed";
    row.reason = "Verify error";
    row.retransmissions = 3;
    row.rewrites = 1;
    row.seconds = 12.25;
    r.rows = {row};
    row.row = 2;
    row.to = "FW:6.B.0";
    row.expected = "FW:6.B.0";
    row.size.reset();
    r.rows.push_back(row);
    r.verdict = "failed";
    return r;
}

std::string lineOf(const UpgradeRecord& r) {
    return WriteJson(ToJsonValue(r));
}

std::vector<std::string> startsOf(const HistoryReading& reading) {
    std::vector<std::string> starts;
    for (const UpgradeRecord& r : reading.records) starts.push_back(r.start);
    return starts;
}

class HistoryFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("kv-history-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    void write(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    fs::path folder;
};

const std::string kA = lineOf(sampleRecord("2026-01-01T00:00:00Z"));
const std::string kB = lineOf(sampleRecord("2026-01-02T00:00:00Z"));

struct ReadCase {
    const char* name;
    std::string rotated;  // "" = no rotated file
    std::string current;
    std::vector<std::string> starts;
    int damaged;
};

TEST_F(HistoryFolder, ReadsWhatIsSoundAndCountsTheRest) {
    const std::string a = "2026-01-01T00:00:00Z", b = "2026-01-02T00:00:00Z";
    const std::string deep =
        std::string(kMaxJsonDepth + 2, '[') + std::string(kMaxJsonDepth + 2, ']');
    const ReadCase cases[] = {
        {"no files", "", "", {}, 0},
        {"two lines", "", kA + "\n" + kB + "\n", {a, b}, 0},
        {"last line cut by a crash", "", kA + "\n" + kB.substr(0, kB.size() / 2), {a}, 1},
        {"cut line closed off by the next append", "", kA.substr(0, 40) + "\n" + kB + "\n", {b}, 1},
        {"garbage lines",
         "",
         "\x01\xff\xfe garbage\n{\n[1,2]\n{\"start\":\"x\"}\n" + deep + "\n" + kA + "\n\n  \n",
         {a},
         5},
        {"windows line ends", "", kA + "\r\n" + kB + "\r\n", {a, b}, 0},
        {"rotated pair, rotated first", kA + "\n", kB + "\n", {a, b}, 0},
        {"damage in both files", kA + "\nnope\n", "nope\n" + kB + "\n", {a, b}, 2},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        fs::create_directories(folder);
        const UpgradeHistory history(folder);
        if (!c.rotated.empty()) write(history.rotatedPath(), c.rotated);
        if (!c.current.empty()) write(history.path(), c.current);
        const HistoryReading reading = history.read();
        EXPECT_EQ(startsOf(reading), c.starts);
        EXPECT_EQ(reading.damaged, c.damaged);
        EXPECT_EQ(reading.warning.empty(), c.damaged == 0) << reading.warning;
    }
}

TEST_F(HistoryFolder, AnAppendedRecordReadsBackAsItWasWritten) {
    const UpgradeHistory history(folder / "made" / "here");
    const UpgradeRecord record = sampleRecord("2026-03-04T05:06:07Z");
    ASSERT_EQ(history.append(record), "");
    const HistoryReading reading = history.read();
    ASSERT_EQ(reading.records.size(), 1u);
    EXPECT_EQ(lineOf(reading.records[0]), lineOf(record));
    const HistoryRow& row = reading.records[0].rows.at(0);
    // The stray byte is kept as the character of its number; the rest as it was.
    EXPECT_EQ(row.file, "/srv/fw/\xc3\xa9t\xc3\xa9 \"b\\\n.hex");
    EXPECT_FALSE(row.to.has_value());
    EXPECT_EQ(reading.records[0].rows.at(1).to, "FW:6.B.0");
    EXPECT_EQ(row.expected, "");
    EXPECT_EQ(reading.records[0].rows.at(1).expected, "FW:6.B.0");
    EXPECT_FALSE(reading.records[0].rows.at(1).size.has_value());
    // One line, as text tools and appends expect.
    std::ifstream in(history.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(HistoryFolder, AnAppendAfterACrashStartsItsOwnLine) {
    const UpgradeHistory history(folder);
    write(history.path(), kA + "\n" + kB.substr(0, 30));
    ASSERT_EQ(history.append(sampleRecord("2026-05-05T00:00:00Z")), "");
    const HistoryReading reading = history.read();
    EXPECT_EQ(startsOf(reading),
              (std::vector<std::string>{"2026-01-01T00:00:00Z", "2026-05-05T00:00:00Z"}));
    EXPECT_EQ(reading.damaged, 1);
}

TEST_F(HistoryFolder, RotationKeepsTheNewestAndBoundsTheFiles) {
    const std::uintmax_t limit = 3 * (kA.size() + 1);
    const UpgradeHistory history(folder, limit);
    std::vector<std::string> written;
    for (int i = 0; i < 10; ++i) {
        const std::string start =
            "2026-02-" + std::string(i < 9 ? "0" : "") + std::to_string(i + 1) + "T00:00:00Z";
        ASSERT_EQ(history.append(sampleRecord(start)), "");
        written.push_back(start);
        EXPECT_LE(fs::file_size(history.path()), limit);
        const std::vector<std::string> kept = startsOf(history.read());
        // The newest records, in order, and never fewer than the current file holds.
        ASSERT_FALSE(kept.empty());
        EXPECT_TRUE(std::equal(kept.rbegin(), kept.rend(), written.rbegin()));
    }
    EXPECT_TRUE(fs::exists(history.rotatedPath()));
    EXPECT_LE(fs::file_size(history.rotatedPath()), limit);
}

TEST_F(HistoryFolder, TwoProcessesAppendingAtOnceNeverMixTheirLines) {
    constexpr int kEach = 150;
    // The file is rotated once while both append: every record is kept, in one file or the
    // other, only when no two processes rotate it for the same reason.
    const UpgradeHistory history(folder, (kEach * 4 / 3) * (kA.size() + 1));
    std::vector<pid_t> children;
    for (int process = 0; process < 2; ++process) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int i = 0; i < kEach; ++i)
                failures += !history
                                 .append(sampleRecord("2026-04-0" + std::to_string(process + 1) +
                                                      "T00:00:00Z"))
                                 .empty();
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const HistoryReading reading = history.read();
    EXPECT_EQ(reading.damaged, 0) << reading.warning;
    EXPECT_EQ(reading.records.size(), 2u * kEach);
    EXPECT_TRUE(fs::exists(history.rotatedPath()));
}

struct JsonCase {
    std::string text;
    std::optional<std::string> written;  // nullopt: refused
};

TEST(JsonValue, ParsesExactlyOneValueAndWritesItCompactly) {
    const std::string nested = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
    const JsonCase cases[] = {
        {" {\"a\" : [1, 2.5, -3e2, true, false, null]} ", "{\"a\":[1,2.5,-300,true,false,null]}"},
        {"\"\\u00e9\\ud83d\\ude00\\n\\/\"", "\"\xc3\xa9\xf0\x9f\x98\x80\\u000a/\""},
        {"\"lone \\ud800 half\"", "\"lone \xef\xbf\xbd half\""},
        {"{\"k\":1,\"k\":2}", "{\"k\":1,\"k\":2}"},
        {nested, nested},
        {"[" + nested + "]", std::nullopt},
        {"", std::nullopt},
        {"{", std::nullopt},
        {"[1,]", std::nullopt},
        {"{\"a\" 1}", std::nullopt},
        {"nan", std::nullopt},
        {"+1", std::nullopt},
        {"1 2", std::nullopt},
        {"\"tab\there\"", std::nullopt},
        {"\"\\x\"", std::nullopt},
        {"\"\\u12\"", std::nullopt},
        {"\"open", std::nullopt},
    };
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<JsonValue> value = ParseJson(c.text);
        ASSERT_EQ(value.has_value(), c.written.has_value());
        if (value) {
            EXPECT_EQ(WriteJson(*value), *c.written);
        }
    }
    // Of equal keys the first counts.
    EXPECT_EQ(ParseJson("{\"k\":1,\"k\":2}")->numberAt("k"), 1);
}

RowResult endedRow(int row, RowState state, const std::string& to = "") {
    RowResult r;
    r.row = row;
    r.type = "RV-BTN16";
    r.state = state;
    r.to = to;
    return r;
}

// A run whose rows were all skipped left the device as it was; a skipped row beside others
// does not change how the run ended.
TEST(RunVerdict, EveryRowSkippedIsUnchangedOtherwiseTheRowsDecide) {
    const struct {
        const char* name;
        std::vector<RowState> rows;
        bool interrupted;
        const char* verdict;
    } cases[] = {
        {"all skipped", {RowState::Skipped, RowState::Skipped}, false, "unchanged"},
        {"one flashed", {RowState::Ok, RowState::Skipped}, false, "ok"},
        {"one failed", {RowState::Skipped, RowState::Failed}, false, "failed"},
        {"interrupted", {RowState::Skipped, RowState::Interrupted}, true, "interrupted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult run;
        run.interrupted = c.interrupted;
        for (RowState state : c.rows)
            run.rows.push_back(endedRow(static_cast<int>(run.rows.size()), state));
        EXPECT_EQ(ops::RunVerdictName(run), c.verdict);
    }
}

// What the front end learnt after the record was made reaches it: versions read back, the
// version asked for, a row failed by its read-back and with it the verdict. A row nothing
// was read back for keeps no version.
TEST(RunVerdict, ASettledRecordFollowsTheReadBack) {
    UpgradeRecord record = sampleRecord("2026-03-04T05:06:07Z");
    record.rows[0].state = "ok";
    record.rows[1].to.reset();
    record.verdict = "ok";
    RunResult run;
    run.rows = {endedRow(1, RowState::Failed, "FW:1.4.0"), endedRow(2, RowState::Ok)};
    run.rows[0].reason = "the device reports FW:1.4.0";
    run.rows[0].expected = "FW:1.5.0";
    ops::SettleRecord(record, run);
    EXPECT_EQ(record.verdict, "failed");
    EXPECT_EQ(record.rows[0].to, "FW:1.4.0");
    EXPECT_EQ(record.rows[0].expected, "FW:1.5.0");
    EXPECT_EQ(record.rows[0].state, "failed");
    EXPECT_EQ(record.rows[0].reason, "the device reports FW:1.4.0");
    EXPECT_FALSE(record.rows[1].to.has_value());
    EXPECT_EQ(record.rows[1].expected, "FW:6.B.0");
    EXPECT_EQ(record.rows[1].state, "ok");
}

}  // namespace
}  // namespace kv
