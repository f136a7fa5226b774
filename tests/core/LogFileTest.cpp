#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "FakeRig.h"
#include "actions/Operations.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A data home with the program's folder, holding a log of the given size (or none).
struct DataHome {
    fs::path base;
    fs::path folder;
    explicit DataHome(const fs::path& root)
        : base(root / "data"), folder(base / "Korvandel" / "KV_bootloader_v3_3_2") {
        fs::create_directories(folder);
    }
    void writeLog(std::uintmax_t bytes) {
        std::ofstream out(folder / "logfile.txt", std::ios::binary);
        out << std::string(bytes, 'x');
    }
};

}  // namespace

TEST(LogFile, SizeRuleAppendsUpTo5000KbAndEmptiesAbove) {
    struct Case {
        std::uintmax_t bytes;
        bool kept;
        const char* status;
    } cases[] = {
        {5120000, true, "Log file: 5000 KB"},
        {5121023, true, "Log file: 5000 KB"},
        {5121024, false, "Log file: 5001 KB"},
        {0, true, "Log file: 0 KB"},
    };
    for (const Case& c : cases) {
        test::FakeRig rig;
        DataHome home(rig.folder);
        home.writeLog(c.bytes);
        LogFile log;
        auto result = log.open(LogFile::appDataFolder(home.base.string()), rig.folder.string());
        EXPECT_EQ(result.statusText, c.status) << c.bytes;
        EXPECT_FALSE(result.message);
        log.writeLine("next");
        EXPECT_EQ(fs::file_size(home.folder / "logfile.txt"), (c.kept ? c.bytes : 0) + 6)
            << c.bytes;
    }
}

TEST(LogFile, MissingLogIsCreatedWithoutStatusText) {
    test::FakeRig rig;
    DataHome home(rig.folder);
    LogFile log;
    auto result = log.open(LogFile::appDataFolder(home.base.string()), rig.folder.string());
    EXPECT_EQ(result.statusText, "");
    EXPECT_TRUE(fs::exists(home.folder / "logfile.txt"));
}

TEST(LogFile, MissingDataFolderFallsBackToWorkingFolderStartedAnew) {
    test::FakeRig rig;
    fs::path work = rig.folder / "work";
    fs::create_directories(work);
    std::ofstream(work / "logfile.txt") << "old content";
    LogFile log;
    auto result =
        log.open(LogFile::appDataFolder((rig.folder / "nowhere").string()), work.string());
    ASSERT_TRUE(result.message);
    EXPECT_EQ(
        *result.message,
        "Cannot find applicaton data directory!\r\nLogfile was created to installation directory");
    log.writeLine("a");
    EXPECT_EQ(readAll(work / "logfile.txt"), "a\r\n");
    EXPECT_FALSE(fs::exists(rig.folder / "nowhere"));
}

TEST(LogFile, EveryLineReachesTheFileAtOnce) {
    test::FakeRig rig;
    LogFile log;
    log.open(rig.folder.string(), rig.folder.string());
    log.writeLine("first");
    // Read while the log is still open: nothing may wait in a buffer.
    EXPECT_EQ(readAll(rig.folder / "logfile.txt"), "first\r\n");
}

TEST(ProgramStart, WritesTheBannerAndResetsTheState) {
    test::FakeRig rig;
    DataHome home(rig.folder);
    home.writeLog(0);
    rig.state.CurrentIP = "10.0.0.1";
    rig.state.properties.name = "x";
    LogFile log;
    Context ctx(rig.state, log, rig.ui, rig.clock, rig.ports);
    ops::Start(ctx, {home.base.string(), rig.folder.string()});

    EXPECT_EQ(readAll(home.folder / "logfile.txt"),
              "/**********************************************/\r\n"
              "Timestamp:09.12.2026 10:00:00\r\n"
              "Korvandel Bootloader\r\n"
              "/**********************************************/\r\n");
    EXPECT_EQ(rig.state.DebugSwitch, "ON");
    EXPECT_EQ(rig.state.CurrentIP, "0.0.0.0");
    EXPECT_EQ(rig.ui.properties.name, "");
    EXPECT_EQ(rig.ui.statusTexts, std::vector<std::string>{"Log file: 0 KB"});
    EXPECT_FALSE(rig.ui.enabled(UiElement::Upgrade));
    EXPECT_FALSE(rig.ui.enabled(UiElement::Grids));
    EXPECT_EQ(rig.state.CardQueryCount, 6);
}

TEST(ProgramStart, FallbackShowsTheMessageFirst) {
    test::FakeRig rig;
    LogFile log;
    Context ctx(rig.state, log, rig.ui, rig.clock, rig.ports);
    ops::Start(ctx, {(rig.folder / "missing").string(), rig.folder.string()});
    auto messages = rig.ui.dialogsOf(test::ScriptedUi::Dialog::Message);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(rig.ui.statusTexts.empty());
    EXPECT_EQ(log.path(), (rig.folder / "logfile.txt").generic_string());
}
