// Fleet plans against kvsim's simulated fleet, in a private network namespace: four
// devices of different families upgraded at once while one of them fails in the middle of
// its run.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "../cli/KvbootRun.h"
#include "DemoFirmware.h"
#include "FleetMemories.h"
#include "KvsimProcess.h"
#include "NetworkNamespace.h"
#include "cli/FleetRunner.h"
#include "upgrade/UpgradeRows.h"

namespace kv::cli {
namespace {

namespace fs = std::filesystem;
using test::KvsimProcess;

class FleetRun : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("kv-fleet-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder / "data");
    }
    void TearDown() override { fs::remove_all(folder); }

    std::unique_ptr<KvsimProcess> startFleet(int devices, QStringList more = {}) {
        QStringList arguments{"--fleet", QString::number(devices),
                              "--files", QString::fromStdString((folder / "files").string()),
                              "--dump",  QString::fromStdString((folder / "dump").string())};
        arguments << more;
        return std::make_unique<KvsimProcess>(KVSIM_PATH, arguments);
    }

    struct KvbootResult {
        int status = -1;
        Json json;
        std::string err;
    };
    // kvboot's command line with --json, its document parsed.
    KvbootResult kvbootJson(std::vector<std::string> words) const {
        words.push_back("--json");
        const test::KvbootRun run = kvboot(std::move(words));
        return {run.status, Json::parse(run.out, nullptr, false), run.err};
    }

    // kvsim's sample plan with every row expecting the version its file carries; `change`
    // may alter each device's entry.
    std::string expectingPlan(const std::function<void(Json&)>& change = {}) const {
        std::ifstream in(folder / "files" / "plan.json");
        Json plan = Json::parse(in);
        const std::map<std::string, std::string> versions = sampleVersions();
        for (Json& device : plan["devices"]) {
            for (const auto& [row, file] : device["files"].items())
                device["expect"][row] = versions.at(row);
            if (change) change(device);
        }
        const fs::path path = folder / "files" / "expecting.json";
        std::ofstream(path) << plan.dump();
        return path.string();
    }

    // The version each sample file carries, by its row.
    static std::map<std::string, std::string> sampleVersions() {
        std::map<std::string, std::string> versions;
        for (sim::DemoFamily family : sim::FleetFamilies()) {
            for (const sim::DemoFirmwareFile& file : sim::DemoFirmwareFiles(family))
                versions[file.controllerType] = file.version;
        }
        return versions;
    }

    // Every file kvsim dumped, by its path, without the count of the device's contacts
    // (every run, one that writes nothing too, contacts its devices).
    std::map<std::string, std::string> dumped() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder / "dump")) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::string text(std::istreambuf_iterator<char>(in), {});
            if (const auto contacts = text.find("contacts "); contacts != std::string::npos)
                text.erase(contacts, text.find('\n', contacts) - contacts);
            files[entry.path().string()] = std::move(text);
        }
        return files;
    }

    FleetOptions options(bool dryRun) const {
        FleetOptions o;
        o.dryRun = dryRun;
        o.session.platformDataFolder = (folder / "data").string();
        o.session.workingFolder = folder.string();
        return o;
    }

    // kvboot's whole command line, its logs in the test's folder.
    test::KvbootRun kvboot(std::vector<std::string> words) const {
        return test::RunKvbootWith(std::move(words), (folder / "data").string());
    }
    static std::string readText(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path folder;
};

TEST_F(FleetRun, OneDeviceFailingMidRunLeavesTheOthersUpgradedAndIsItselfRestored) {
    auto sim = startFleet(4, {"--fail", "2"});
    const FleetPlan plan = LoadPlan((folder / "files" / "plan.json").string());
    ASSERT_EQ(plan.devices.size(), 4u);

    const FleetResult result = RunFleet(plan, options(false));
    sim->dump();
    const auto files = test::SamplePlanFiles(folder / "files" / "plan.json");

    EXPECT_EQ(result.status, ExitStatus::RowFailed);
    EXPECT_EQ(ToInt(result.status), 1);
    EXPECT_EQ(result.verdict(), "Fleet upgrade FAILED");
    std::set<std::string> logs;
    for (std::size_t i = 0; i < result.devices.size(); ++i) {
        const FleetDeviceResult& device = result.devices[i];
        const std::string address = device.target.address;
        SCOPED_TRACE(device.name);
        ASSERT_FALSE(device.rows.empty());
        for (const std::string& problem : test::RestoreProblems(folder / "dump", address))
            ADD_FAILURE() << problem;
        logs.insert(device.logPath);
        if (i == 1) {
            // Its card went silent in the middle of the erase: that row failed, the rows
            // after it still ran.
            EXPECT_EQ(device.status, ExitStatus::RowFailed);
            EXPECT_EQ(device.rows.front().state, RowState::Failed);
            // The log's reason travels with the row.
            EXPECT_FALSE(device.rows.front().reason.empty());
            EXPECT_FALSE(device.outcome.success());
            continue;
        }
        EXPECT_EQ(device.status, ExitStatus::Ok) << device.result.message;
        EXPECT_TRUE(std::all_of(device.rows.begin(), device.rows.end(),
                                [](const FleetRow& row) { return row.state == RowState::Ok; }));
        for (const std::string& problem :
             test::MemoryProblems(folder / "dump", address, files.at(address)))
            ADD_FAILURE() << problem;
    }
    // Every device wrote a log of its own.
    EXPECT_EQ(logs.size(), result.devices.size());
    EXPECT_EQ(logs.count(""), 0u);

    const std::vector<std::string> report = FleetReportLines(result);
    EXPECT_EQ(report.back().rfind("Fleet upgrade FAILED: 3 of 4 devices upgraded", 0), 0u)
        << report.back();
    EXPECT_EQ(std::count_if(
                  report.begin(), report.end(),
                  [](const std::string& line) { return line.find("FAILED") != std::string::npos; }),
              2);  // the failed row and the verdict
    const Json json = FleetJson(result);
    EXPECT_EQ(json["exit"], 1);
    EXPECT_EQ(json["devices"][1]["status"], "row-failed");
    EXPECT_EQ(json["devices"][0]["status"], "ok");
}

TEST_F(FleetRun, DryRunThroughTheCommandShowsVersionsAndEstimatesAndWritesNothing) {
    auto sim = startFleet(2);
    const test::KvbootRun run =
        kvboot({"plan", "--dry-run", "--json", (folder / "files" / "plan.json").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    sim->dump();

    const Json json = Json::parse(run.out);
    EXPECT_EQ(json["status"], "ok");
    EXPECT_EQ(json["dry_run"], true);
    ASSERT_EQ(json["devices"].size(), 2u);
    // The panel: two cards and its web server; the extender: one card and both web images.
    EXPECT_EQ(json["devices"][0]["rows"].size(), 3u);
    EXPECT_EQ(json["devices"][1]["rows"].size(), 3u);
    EXPECT_EQ(json["devices"][0]["rows"][0]["type"], "RV-PNL16");
    EXPECT_EQ(json["devices"][0]["rows"][0]["now"], "FW:1.4.0");
    EXPECT_EQ(json["devices"][0]["rows"][0]["file_info"], "RV-PNL16 HW:1.0");
    for (const Json& device : json["devices"]) {
        const std::string address = device["target"];
        SCOPED_TRACE(address);
        EXPECT_GT(device["estimate_seconds"].get<double>(), 20.0);
        for (const Json& row : device["rows"]) {
            EXPECT_FALSE(row["now"].is_null()) << row["type"];
            EXPECT_GT(row["estimate_seconds"].get<double>(), 0.0) << row["type"];
            EXPECT_FALSE(row.contains("state"));
        }
        // No card was erased and no image went up; the device is back in normal operation.
        EXPECT_FALSE(fs::exists(folder / "dump" / address / "X5.bin"));
        const std::string firstType = device["rows"][0]["type"];
        EXPECT_FALSE(
            test::MemoryProblems(folder / "dump", address, {{firstType, device["rows"][0]["file"]}})
                .empty());
        EXPECT_TRUE(test::RestoreProblems(folder / "dump", address).empty());
        EXPECT_GT(test::DumpedContacts(folder / "dump", address), 0);
    }
}

// The sample files carry a version one above what the devices report: the first run flashes
// every row and reads the new versions back, the second finds every row where it should be
// and flashes nothing.
TEST_F(FleetRun, ExpectedVersionsAreReadBackAndASecondRunChangesNothing) {
    auto sim = startFleet(2);
    const std::string plan = expectingPlan();
    const std::map<std::string, std::string> versions = sampleVersions();

    // The dry run: every device would change or none, every row flashed or skipped.
    auto dryRun = [&](bool change, const std::string& action, const std::string& match) {
        const KvbootResult dry = kvbootJson({"plan", "--dry-run", plan});
        EXPECT_EQ(dry.status, 0) << dry.err;
        for (const Json& device : dry.json["devices"]) {
            EXPECT_EQ(device["would_change"], change);
            for (const Json& row : device["rows"]) {
                EXPECT_EQ(row["action"], action) << row;
                EXPECT_EQ(row["match"], match) << row;
            }
        }
    };
    dryRun(true, "flash", "differs");

    const KvbootResult first = kvbootJson({"plan", plan});
    ASSERT_EQ(first.status, 0) << first.err;
    for (const Json& device : first.json["devices"]) {
        SCOPED_TRACE(device["name"].get<std::string>());
        EXPECT_EQ(device["changed"], true);
        for (const Json& row : device["rows"]) {
            const std::string type = row["type"];
            EXPECT_EQ(row["state"], "ok") << type;
            EXPECT_EQ(row["to"], versions.at(type)) << type;
            EXPECT_EQ(row["expected"], versions.at(type)) << type;
            EXPECT_NE(row["from"], row["to"]) << type;
        }
    }
    sim->dump();
    const auto afterFirst = dumped();

    dryRun(false, "skip", "same");

    const KvbootResult second = kvbootJson({"plan", plan});
    EXPECT_EQ(second.status, 0) << second.err;
    for (const Json& device : second.json["devices"]) {
        SCOPED_TRACE(device["name"].get<std::string>());
        EXPECT_EQ(device["changed"], false);
        for (const Json& row : device["rows"]) {
            const std::string type = row["type"];
            EXPECT_EQ(row["state"], "skipped") << type;
            EXPECT_EQ(row["reason"], "already at " + versions.at(type)) << type;
        }
    }
    sim->dump();
    // No memory was touched, and every device is back in normal operation.
    EXPECT_EQ(dumped(), afterFirst);

    // The history keeps both runs of every device, newest first: the one that left it
    // unchanged, then the upgrade with the versions before and read back.
    const KvbootResult history = kvbootJson({"history"});
    ASSERT_EQ(history.status, 0) << history.err;
    std::map<std::string, std::vector<std::string>> verdicts;
    for (const Json& record : history.json["runs"]) {
        const bool unchanged = record["verdict"] == "unchanged";
        verdicts[record["device"]["address"]].push_back(record["verdict"]);
        if (unchanged) {
            EXPECT_EQ(record["reason"], "every row skipped");
        }
        for (const Json& row : record["rows"]) {
            const std::string type = row["type"];
            EXPECT_EQ(row["expected"], versions.at(type)) << type;
            EXPECT_EQ(row["state"], unchanged ? "skipped" : "ok") << type;
            if (unchanged) {
                EXPECT_EQ(row["from"], versions.at(type)) << type;
                EXPECT_TRUE(row["to"].is_null()) << type;  // nothing was read back
            } else {
                EXPECT_EQ(row["to"], versions.at(type)) << type;
                EXPECT_NE(row["from"], row["to"]) << type;
            }
        }
    }
    ASSERT_EQ(verdicts.size(), second.json["devices"].size());
    for (const auto& [address, runs] : verdicts)
        EXPECT_EQ(runs, (std::vector<std::string>{"unchanged", "ok"})) << address;
}

// A file older than the version the row must reach: flashed, then failed by the read-back.
TEST_F(FleetRun, AFileOlderThanExpectedFailsAfterTheReadBack) {
    auto sim = startFleet(1);
    const std::map<std::string, std::string> versions = sampleVersions();
    const std::string file =
        test::SamplePlanFiles(folder / "files" / "plan.json").at("127.0.0.2").at("RV-BTN16");
    const KvbootResult run = kvbootJson({"upgrade", "127.0.0.2", "--yes", "--file",
                                         "RV-BTN16=" + file, "--expect", "RV-BTN16=9.9.9"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.json["changed"], true);
    ASSERT_EQ(run.json["rows"].size(), 1u);
    const Json& row = run.json["rows"][0];
    EXPECT_EQ(row["state"], "failed");
    EXPECT_EQ(row["to"], versions.at("RV-BTN16"));
    EXPECT_EQ(row["expected"], "FW:9.9.9");
    EXPECT_EQ(row["reason"], "the device reports " + versions.at("RV-BTN16") +
                                 " after the upgrade, expected FW:9.9.9");
    sim->dump();
    EXPECT_TRUE(test::RestoreProblems(folder / "dump", "127.0.0.2").empty());
}

// One pinned file that is not the one pinned: no device of the plan is contacted (none gets
// a session, so none gets a log file) and nothing is written.
TEST_F(FleetRun, AWrongPinStopsThePlanBeforeAnyDeviceIsTouched) {
    auto sim = startFleet(2);
    bool first = true;
    const std::string plan = expectingPlan([&first](Json& device) {
        if (!first)
            device["files"]["Web Server"] = {{"path", device["files"]["Web Server"]},
                                             {"sha256", std::string(64, 'f')}};
        first = false;
    });
    const KvbootResult run = kvbootJson({"plan", plan});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.json["error"]["message"].get<std::string>().find(std::string(64, 'f')),
              std::string::npos);
    sim->dump();
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(folder / "data"),
                            fs::recursive_directory_iterator()),
              0);
    for (const std::string address : {"127.0.0.2", "127.0.0.3"}) {
        EXPECT_FALSE(fs::exists(folder / "dump" / address / "X5.bin"));
        EXPECT_TRUE(test::RestoreProblems(folder / "dump", address).empty());
        EXPECT_EQ(test::DumpedContacts(folder / "dump", address), 0);
    }
}

TEST_F(FleetRun, CtrlCEndsEveryRunningDeviceRestoredWithStatus4) {
    auto sim = startFleet(2);
    InterruptHub hub;
    FleetOptions o = options(false);
    o.interrupts = &hub;
    std::atomic<int> programming{0};
    o.onProgress = [&programming](const std::string&, const RowProgress& event) {
        if (event.phase == ProgressPhase::Erasing && event.percent >= 10) ++programming;
    };
    // Ctrl-C once the cards are being erased.
    std::thread ctrlC([&] {
        for (int i = 0; i < 1200 && programming < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        hub.fire();
    });
    const FleetResult result = RunFleet(LoadPlan((folder / "files" / "plan.json").string()), o);
    ctrlC.join();
    sim->dump();

    EXPECT_EQ(result.status, ExitStatus::Interrupted);
    EXPECT_EQ(result.verdict(), "Fleet upgrade INTERRUPTED");
    for (const FleetDeviceResult& device : result.devices) {
        SCOPED_TRACE(device.name);
        EXPECT_EQ(device.status, ExitStatus::Interrupted);
        EXPECT_TRUE(device.outcome.interrupted);
        for (const std::string& problem :
             test::RestoreProblems(folder / "dump", device.target.address))
            ADD_FAILURE() << problem;
    }
}

// One file the upgrade would refuse stops a plan at once with exit 2, naming the device,
// the row and the file; kvboot upgrade stops the same way. No device hears anything.
TEST_F(FleetRun, AFileTheUpgradeWouldRefuseStopsEverythingBeforeAnyDeviceIsContacted) {
    auto sim = startFleet(2);
    const fs::path samplePlan = folder / "files" / "plan.json";
    const auto files = test::SamplePlanFiles(samplePlan);
    Json plan = Json::parse(std::ifstream(samplePlan));
    // The second device's first card row, and a card file of another type.
    const std::string address = plan["devices"][1]["address"];
    std::string row, own, other;
    for (const auto& [type, path] : files.at(address)) {
        if (row.empty() && path.ends_with(".hex") && RowChecksFileIdentity(type)) {
            row = type;
            own = path;
        }
    }
    for (const auto& [type, path] : files.at(plan["devices"][0]["address"]))
        if (other.empty() && path.ends_with(".hex") && RowChecksFileIdentity(type)) other = path;
    ASSERT_FALSE(row.empty());
    ASSERT_FALSE(other.empty());
    std::string spoiled = readText(own);
    const auto digit = spoiled.find('\n') + 10;  // a digit of the second record
    spoiled[digit] = spoiled[digit] == '0' ? '1' : '0';
    std::ofstream(folder / "spoiled.hex", std::ios::binary) << spoiled;

    const struct {
        const char* name;
        fs::path file;
        const char* says;
    } cases[] = {
        {"bad record", folder / "spoiled.hex", "Line 2: "},
        {"other controller type", other, "Invalid controller type info for "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Json broken = plan;
        broken["devices"][1]["files"][row] = c.file.string();
        const fs::path planFile = folder / "files" / "broken.json";
        std::ofstream(planFile) << broken.dump();
        const test::KvbootRun run = kvboot({"plan", "--json", planFile.string()});
        EXPECT_EQ(run.status, 2) << run.err;
        const Json doc = Json::parse(run.out, nullptr, false);
        EXPECT_EQ(doc["status"], "usage") << run.out;
        for (const std::string& named :
             {std::string("device 2 (") + plan["devices"][1]["name"].get<std::string>() + ")",
              "row \"" + row + "\"", c.file.string(), std::string(c.says)}) {
            EXPECT_NE(run.err.find(named), std::string::npos) << named << " in " << run.err;
        }
        const test::KvbootRun upgrade =
            kvboot({"upgrade", address, "--yes", "--json", "--file", row + "=" + c.file.string()});
        EXPECT_EQ(upgrade.status, 2) << upgrade.err;
        EXPECT_NE(upgrade.err.find(c.says), std::string::npos) << upgrade.err;
    }
    sim->dump();
    for (const auto& device : plan["devices"]) {
        const std::string at = device["address"];
        SCOPED_TRACE(at);
        EXPECT_EQ(test::DumpedContacts(folder / "dump", at), 0);
        EXPECT_TRUE(test::RestoreProblems(folder / "dump", at).empty());
    }
}

TEST_F(FleetRun, AnUnreachableDeviceIsReportedAndTheOthersStillRun) {
    auto sim = startFleet(1);
    FleetPlan plan = LoadPlan((folder / "files" / "plan.json").string());
    PlanDevice missing = plan.devices.front();
    missing.name = "nobody";
    missing.target.address = "127.0.0.99";
    missing.target.text = "127.0.0.99";
    plan.devices.push_back(missing);

    FleetOptions o = options(true);
    o.session.discoveryWait = std::chrono::milliseconds(1000);
    const FleetResult result = RunFleet(plan, o);
    EXPECT_EQ(result.devices[0].status, ExitStatus::Ok);
    EXPECT_EQ(result.devices[1].status, ExitStatus::Unreachable);
    EXPECT_EQ(result.status, ExitStatus::Unreachable);
}

}  // namespace
}  // namespace kv::cli

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (!kv::test::InOwnNetworkNamespace()) {
        std::fprintf(stderr, "run me in a network namespace of my own (unshare -rn)\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
