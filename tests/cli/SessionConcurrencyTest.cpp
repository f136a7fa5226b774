// Several device sessions in one process, each on its own thread with its own engine,
// channels and log: two panels upgraded at the same time (one found by its discovery
// answer, one by its given tunnel port), a third session interrupted between operations.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "../fakes/NetworkNamespace.h"
#include "CardMemory.h"
#include "DemoFirmware.h"
#include "PicCard.h"
#include "Scenario.h"
#include "World.h"
#include "cli/DeviceSession.h"
#include "server/WorldServer.h"
#include "server/WorldServerThread.h"

namespace kv::cli {
namespace {

using test::firstDifference;

struct PanelRun {
    std::string target;
    SessionResult connected;
    std::vector<SessionResult> chosen;
    UpgradeOutcome outcome;
    SessionResult closed;
    std::string log;
    int progressEvents = 0;
    int rowsProgrammedWhole = 0;
};

// Upgradable panels at 127.0.0.2 and 127.0.0.4, served in this process.
class DeviceSessionsWithPanels : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::InOwnNetworkNamespace());
        for (const char* address : {"127.0.0.2", "127.0.0.4"}) {
            sim::DemoOptions options;
            options.family = sim::DemoFamily::UpgradablePanel;
            options.addresses = {address};
            panels.push_back(sim::buildDemoWorld(world, options));
        }
        server = std::make_unique<sim::WorldServerThread>(world);
        server->run([](sim::WorldServer& s) { s.serveAll(); });
    }

    QTemporaryDir folder;
    sim::World world;
    std::vector<sim::DemoDevices> panels;
    std::unique_ptr<sim::WorldServerThread> server;
};

TEST_F(DeviceSessionsWithPanels, TwoPanelsUpgradeAtOnceEachWithItsOwnEngineAndLog) {
    const std::string firmware = folder.filePath("fw").toStdString();
    sim::WriteDemoFirmware(sim::DemoFamily::UpgradablePanel, firmware);
    std::map<std::string, std::string> fileOf;
    for (const auto& file : sim::DemoFirmwareFiles(sim::DemoFamily::UpgradablePanel))
        fileOf[file.controllerType] = firmware + "/" + file.fileName;

    std::vector<PanelRun> runs(2);
    runs[0].target = "127.0.0.2";
    runs[1].target = "127.0.0.4:10001";
    std::vector<std::thread> threads;
    for (PanelRun& run : runs) {
        threads.emplace_back([&run, this, &fileOf] {
            SessionOptions options;
            options.deviceName = run.target;
            options.platformDataFolder = folder.filePath("data").toStdString();
            options.answers[Question::Upgrade] = MsgButton::Yes;
            options.onProgress = [&run](const RowProgress& p) {
                ++run.progressEvents;
                // Programming reaches the whole of the row's file.
                if (p.phase == ProgressPhase::Programming && p.totalBytes && p.percent == 100)
                    ++run.rowsProgrammedWhole;
            };
            DeviceSession session(options);
            std::string error;
            run.connected = session.connect(*ParseTarget(run.target, error));
            for (const auto& [type, path] : fileOf)
                run.chosen.push_back(session.chooseFile(type, path));
            run.outcome = session.upgrade();
            run.closed = session.close();
            run.log = session.logPath();
        });
    }
    for (auto& thread : threads) thread.join();

    std::set<std::string> logs;
    for (const PanelRun& run : runs) {
        SCOPED_TRACE(run.target);
        EXPECT_TRUE(run.connected.ok()) << run.connected.message;
        for (const SessionResult& chosen : run.chosen) EXPECT_TRUE(chosen.ok()) << chosen.message;
        EXPECT_TRUE(run.outcome.success()) << run.outcome.result.message;
        EXPECT_EQ(run.outcome.status(), ExitStatus::Ok);
        EXPECT_EQ(run.outcome.run.rows.size(), 3u);
        for (const RowResult& row : run.outcome.run.rows) EXPECT_GT(row.bytes, 0u) << row.type;
        EXPECT_TRUE(run.closed.ok()) << run.closed.message;
        EXPECT_GT(run.progressEvents, 0);
        EXPECT_GE(run.rowsProgrammedWhole, 2);  // both cards
        logs.insert(run.log);
        std::ifstream in(run.log);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        // Each log holds its own device's run only.
        const std::string address = run.target.substr(0, run.target.find(':'));
        const std::string other = address == "127.0.0.2" ? "127.0.0.4" : "127.0.0.2";
        EXPECT_NE(text.find("IP address: " + address), std::string::npos);
        EXPECT_EQ(text.find(other), std::string::npos);
    }
    EXPECT_EQ(logs.size(), 2u);

    std::lock_guard lock(server->mutex());
    for (const auto& panel : panels) {
        for (const auto& card : panel.picCards) {
            const std::string& type = card->ident.config.words->type;
            EXPECT_EQ(firstDifference(card->bootloader.programMemory(), fileOf.at(type)), -1L)
                << type;
        }
        EXPECT_EQ(panel.modules.at(0)->gpio().selectCode(), std::uint8_t{7});
        EXPECT_EQ(panel.modules.at(0)->serialLine().baud, 9600);
    }
}

// The sessions of a process share its one discovery socket: two panels are looked up and
// connected while a third address, where nothing answers, still waits out its lookup.
TEST_F(DeviceSessionsWithPanels, LookupsRunAtOnceAndAnUnansweredOneDelaysNoOther) {
    using Steady = std::chrono::steady_clock;
    // Long enough that the others, started after it, finish well within it.
    constexpr auto kSilentWait = std::chrono::seconds(20);
    struct Lookup {
        std::string target;
        std::chrono::milliseconds wait{3000};
        SessionResult connected;
        Steady::time_point began, connectedAt;
    };
    std::vector<Lookup> lookups{{"127.0.0.9", kSilentWait, {}, {}, {}},
                                {"127.0.0.2", std::chrono::milliseconds(3000), {}, {}, {}},
                                {"127.0.0.4", std::chrono::milliseconds(3000), {}, {}, {}}};
    std::vector<std::thread> threads;
    for (Lookup& lookup : lookups) {
        threads.emplace_back([&lookup, this] {
            SessionOptions options;
            options.deviceName = lookup.target;
            options.platformDataFolder = folder.filePath("data").toStdString();
            options.discoveryWait = lookup.wait;
            DeviceSession session(options);
            std::string error;
            lookup.began = Steady::now();
            lookup.connected = session.connect(*ParseTarget(lookup.target, error));
            lookup.connectedAt = Steady::now();
        });
        // The silent address is asked first and holds its lookup open from then on.
        if (threads.size() == 1) std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    for (auto& thread : threads) thread.join();

    const Lookup& silent = lookups[0];
    EXPECT_EQ(silent.connected.error, SessionError::NotFound);
    EXPECT_GE(silent.connectedAt - silent.began, kSilentWait);
    for (const char* hint : {"127.0.0.9:PORT", "--discovery-wait", "powered"})
        EXPECT_NE(silent.connected.message.find(hint), std::string::npos)
            << silent.connected.message;
    for (std::size_t i = 1; i < lookups.size(); ++i) {
        SCOPED_TRACE(lookups[i].target);
        EXPECT_TRUE(lookups[i].connected.ok()) << lookups[i].connected.message;
        EXPECT_LT(lookups[i].connectedAt, silent.connectedAt);
    }
}

TEST(DeviceSessions, AnInterruptBeforeTheUpgradeSendsNothing) {
    QTemporaryDir folder;
    SessionOptions options;
    options.platformDataFolder = folder.path().toStdString();
    DeviceSession session(options);
    session.requestInterrupt();
    std::string error;
    EXPECT_EQ(session.connect(*ParseTarget("127.0.0.9:10001", error)).error,
              SessionError::Interrupted);
    const UpgradeOutcome outcome = session.upgrade();
    EXPECT_TRUE(outcome.interrupted);
    EXPECT_EQ(outcome.status(), ExitStatus::Interrupted);
    EXPECT_TRUE(outcome.run.rows.empty());
}

}  // namespace
}  // namespace kv::cli
