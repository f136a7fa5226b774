// kvboot as a separate process against simulated devices served in-process on 127.0.0.2/3
// (a private network namespace): its --json output parsed back and compared with the
// models, the memories compared with the files, a question without its flag, and Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "../fakes/NetworkNamespace.h"
#include "CardMemory.h"
#include "DemoFirmware.h"
#include "PicCard.h"
#include "Scenario.h"
#include "TftpReceiver.h"
#include "World.h"
#include "core/Sha256.h"
#include "flash/TftpPackets.h"
#include "server/WorldServer.h"
#include "server/WorldServerThread.h"

namespace kv {
namespace {

using Json = nlohmann::json;
using test::firstDifference;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    Json json;
    double seconds = 0;
};

class KvbootEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::InOwnNetworkNamespace());
        ASSERT_TRUE(folder.isValid());
        panel = build(sim::DemoFamily::UpgradablePanel, "127.0.0.2");
        matrix = build(sim::DemoFamily::Matrix, "127.0.0.3");
        // A fibre extender on a pty.
        ptyLink = folder.filePath("ttyKV0").toStdString();
        sim::DemoOptions serialOptions;
        serialOptions.family = sim::DemoFamily::Serial;
        serialOptions.serialPort = ptyLink;
        serial = sim::buildDemoWorld(world, serialOptions);
        server = std::make_unique<sim::WorldServerThread>(world);
        server->run([this](sim::WorldServer& s) {
            s.serveAll();
            s.servePty(ptyLink, ptyLink);
        });
        firmware = folder.filePath("fw").toStdString();
        for (const auto& path : sim::WriteDemoFirmware(sim::DemoFamily::UpgradablePanel, firmware))
            (void)path;
        for (const auto& file : sim::DemoFirmwareFiles(sim::DemoFamily::UpgradablePanel))
            fileOf[file.controllerType] = firmware + "/" + file.fileName;
    }

    sim::DemoDevices build(sim::DemoFamily family, const std::string& address) {
        sim::DemoOptions options;
        options.family = family;
        options.addresses = {address};
        return sim::buildDemoWorld(world, options);
    }

    QProcess* start(const QStringList& arguments) {
        process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", folder.filePath("data"));
        process->setProcessEnvironment(env);
        process->start(KVBOOT_PATH, arguments);
        EXPECT_TRUE(process->waitForStarted(5000));
        timer.start();
        return process.get();
    }

    Outcome finish(int waitMs = 240000) {
        Outcome run;
        EXPECT_TRUE(process->waitForFinished(waitMs)) << "kvboot did not end";
        run.seconds = static_cast<double>(timer.elapsed()) / 1000.0;
        run.status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
        run.out = process->readAllStandardOutput().toStdString();
        run.err = process->readAllStandardError().toStdString();
        run.json = Json::parse(run.out, nullptr, false);
        return run;
    }

    Outcome kvboot(const QStringList& arguments) {
        start(arguments);
        return finish();
    }

    QStringList panelFiles() const {
        QStringList files;
        for (const auto& [type, path] : fileOf)
            files << "--file" << QString::fromStdString(type + "=" + path);
        return files;
    }

    std::unique_lock<std::mutex> models() { return std::unique_lock<std::mutex>(server->mutex()); }

    // Waits until the running kvboot erases or writes a card (false when it never does).
    bool cardBeingWritten() {
        bool writing = false;
        for (int i = 0; i < 1200 && !writing && process->state() == QProcess::Running; ++i) {
            QThread::msleep(100);
            auto lock = models();
            for (const auto& card : panel.picCards)
                writing = writing || card->bootloader.counters.frames > 20;
        }
        return writing;
    }

    // Back in normal operation: the main controller selected at 9600 bit/s.
    void expectRestored() {
        auto lock = models();
        const auto& module = *panel.modules.at(0);
        EXPECT_EQ(module.gpio().selectCode(), std::uint8_t{7});
        EXPECT_EQ(module.serialLine().baud, 9600);
    }

    QTemporaryDir folder;
    sim::World world;
    sim::DemoDevices panel, matrix, serial;
    std::string ptyLink;
    std::unique_ptr<sim::WorldServerThread> server;
    std::string firmware;
    std::map<std::string, std::string> fileOf;
    std::unique_ptr<QProcess> process;
    QElapsedTimer timer;
};

TEST_F(KvbootEndToEnd, DiscoverListsBothModulesAsTheModelsDescribeThem) {
    const Outcome run = kvboot({"discover", "--wait", "3", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(run.json.is_object()) << run.out;
    std::map<std::string, Json> byAddress;
    for (const Json& m : run.json["modules"]) byAddress[m["address"]] = m;
    ASSERT_EQ(byAddress.size(), 2u) << run.out;
    auto lock = models();
    for (const auto* devices : {&panel, &matrix}) {
        const auto& controller = *devices->controllers.at(0);
        const auto& module = *devices->modules.at(0);
        const Json& m = byAddress.at(module.config().address);
        EXPECT_EQ(m["ident"], controller.config.ident);
        EXPECT_EQ(m["serial"], controller.config.serial);
        EXPECT_EQ(m["mac"], "00-20-4A-9B-0C-11");
        EXPECT_EQ(m["tunnel_port"], 10001);
    }
    EXPECT_TRUE(run.json["error"].is_null());
}

TEST_F(KvbootEndToEnd, InventoryListsTheCardsOfTheModelAndReleasesTheDevice) {
    const Outcome run = kvboot({"inventory", "127.0.0.2", "--json"});
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    ASSERT_TRUE(run.json.is_object()) << run.out;
    EXPECT_EQ(run.json["status"], "ok");
    EXPECT_EQ(run.json["device"]["address"], "127.0.0.2");
    const auto cards = sim::DemoFamilyCards(sim::DemoFamily::UpgradablePanel);
    const Json& rows = run.json["rows"];
    ASSERT_GE(rows.size(), cards.size()) << run.out;
    for (std::size_t i = 0; i < cards.size(); ++i) {
        SCOPED_TRACE(cards[i].type);
        EXPECT_EQ(rows[i]["row"], i);
        EXPECT_EQ(rows[i]["type"], cards[i].type);
        EXPECT_NE(cards[i].hardware.find(rows[i]["hardware"].get<std::string>()),
                  std::string::npos);
        EXPECT_NE(cards[i].firmware.find(rows[i]["firmware"].get<std::string>()),
                  std::string::npos);
        EXPECT_NE(cards[i].bootloader.find(rows[i]["bootloader"].get<std::string>()),
                  std::string::npos);
    }
    expectRestored();
}

TEST_F(KvbootEndToEnd, InventoryOfASerialDeviceAndTheHandleAsChoiceOnAPty) {
    Outcome run = kvboot({"inventory", QString::fromStdString("serial:" + ptyLink), "--json"});
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    EXPECT_EQ(run.json["device"]["kind"], "serial");
    const auto cards = sim::DemoFamilyCards(sim::DemoFamily::Serial);
    ASSERT_EQ(run.json["rows"].size(), cards.size()) << run.out;
    for (std::size_t i = 0; i < cards.size(); ++i) {
        EXPECT_EQ(run.json["rows"][i]["type"], cards[i].type);
        EXPECT_EQ(run.json["rows"][i]["firmware"], cards[i].firmware);
    }
    // Taken for a fibre receiver without asking it; a network type is refused for it.
    run = kvboot({"inventory", QString::fromStdString(ptyLink), "--as", "hqlx-fbr", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.json["rows"][0]["type"], "HQLX-FBR");
    run = kvboot({"inventory", QString::fromStdString(ptyLink), "--as", "NRV5x5"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("network"), std::string::npos) << run.err;
}

TEST_F(KvbootEndToEnd, UpgradeWritesEveryFileAndReportsEachRow) {
    QStringList arguments{"upgrade", "127.0.0.2", "--yes", "--json"};
    const Outcome run = kvboot(arguments + panelFiles());
    ASSERT_EQ(run.status, 0) << run.err << run.out;
    ASSERT_TRUE(run.json.is_object()) << run.out;
    EXPECT_EQ(run.json["status"], "ok");
    EXPECT_EQ(run.json["verdict"], "Upgrade successful");
    std::map<std::string, std::string> results;
    for (const Json& row : run.json["rows"]) {
        results[row["type"]] = row["state"];
        EXPECT_TRUE(row["reason"].is_null()) << row;
        EXPECT_GT(row["bytes"].get<int>(), 0) << row;
    }
    EXPECT_EQ(results, (std::map<std::string, std::string>{
                           {"RV-PNL16", "ok"}, {"RV-BTN16", "ok"}, {"Web Server", "ok"}}));
    {
        auto lock = models();
        ASSERT_EQ(panel.picCards.size(), 2u);
        for (const auto& card : panel.picCards) {
            const std::string& type = card->ident.config.words->type;
            EXPECT_EQ(firstDifference(card->bootloader.programMemory(), fileOf.at(type)), -1L)
                << type;
        }
        const auto image = panel.tftpReceivers.at(0)->image(TftpRemoteName(kTftpKindWebServer));
        ASSERT_TRUE(image.has_value());
        std::ifstream in(fileOf.at("Web Server"), std::ios::binary);
        const std::vector<std::uint8_t> expected((std::istreambuf_iterator<char>(in)),
                                                 std::istreambuf_iterator<char>());
        EXPECT_EQ(*image, expected);
    }
    expectRestored();
    // The device's own log file in the usual log folder.
    std::ifstream log(run.json["log"].get<std::string>());
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(run.json["log"].get<std::string>().find("logfile-127.0.0.2.txt"), std::string::npos);
    EXPECT_NE(text.find("RV-PNL16...OK\r\nRV-BTN16...OK\r\nWeb Server...OK"), std::string::npos);

    // The run's one record in the upgrade history, as kvboot history lists it.
    const Outcome history = kvboot({"history", "--json"});
    ASSERT_EQ(history.status, 0) << history.err;
    ASSERT_EQ(history.json["runs"].size(), 1u) << history.out;
    const Json& record = history.json["runs"][0];
    EXPECT_EQ(record["device"]["address"], "127.0.0.2");
    EXPECT_EQ(record["front_end"], "kvboot");
    EXPECT_EQ(record["verdict"], "ok");
    ASSERT_EQ(record["rows"].size(), results.size()) << record;
    std::map<std::string, std::string> firmwareBefore;
    for (const auto& card : sim::DemoFamilyCards(sim::DemoFamily::UpgradablePanel))
        firmwareBefore[card.type] = card.firmware;
    for (const Json& row : record["rows"]) {
        const std::string type = row["type"];
        SCOPED_TRACE(type);
        EXPECT_EQ(row["state"], "ok");
        EXPECT_TRUE(row["to"].is_null());
        ASSERT_TRUE(row["from"].is_string());
        if (firmwareBefore.count(type)) {
            EXPECT_NE(firmwareBefore[type].find(row["from"].get<std::string>()), std::string::npos);
        }
        EXPECT_EQ(row["file"], fileOf.at(type));
        EXPECT_EQ(row["size"], std::filesystem::file_size(fileOf.at(type)));
        EXPECT_EQ(row["sha256"], FileSha256Hex(fileOf.at(type)).value());
    }
    // Another device's runs: none; the table names the device and its rows.
    EXPECT_TRUE(kvboot({"history", "127.0.0.3", "--json"}).json["runs"].empty());
    const Outcome table = kvboot({"history"});
    EXPECT_NE(table.out.find("127.0.0.2"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("RV-BTN16"), std::string::npos) << table.out;
}

TEST_F(KvbootEndToEnd, AnUpgradeWithoutYesOrWithTheWrongKindOfFileSendsNothing) {
    // The web server row takes a .rom image, not a HEX file.
    const Outcome wrongKind =
        kvboot({"upgrade", "127.0.0.2", "--yes", "--json", "--file",
                QString::fromStdString("Web Server=" + fileOf.at("RV-PNL16"))});
    EXPECT_EQ(wrongKind.status, 2) << wrongKind.err;
    EXPECT_EQ(wrongKind.json["error"]["code"], "bad-input");
    EXPECT_NE(wrongKind.err.find(".rom"), std::string::npos) << wrongKind.err;

    const Outcome run = kvboot(QStringList{"upgrade", "127.0.0.2", "--json"} + panelFiles());
    EXPECT_EQ(run.status, 2) << run.err;
    ASSERT_TRUE(run.json.is_object()) << run.out;
    EXPECT_EQ(run.json["error"]["code"], "unanswered-question");
    EXPECT_NE(run.err.find("Do you really want to upgrade?"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--yes"), std::string::npos) << run.err;
    auto lock = models();
    for (const auto& card : panel.picCards) {
        EXPECT_EQ(card->bootloader.programMemory().at(sim::kDemoProgramStart),
                  sim::kOldFirmwareFill);
    }
    EXPECT_FALSE(panel.tftpReceivers.at(0)->image(TftpRemoteName(kTftpKindWebServer)));
}

// Ctrl-C, a kill and a closed terminal all end a run the same way.
class KvbootInterrupted : public KvbootEndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(KvbootInterrupted, MidUpgradeRestoresTheDeviceAndExitsWithFour) {
    start(QStringList{"upgrade", "127.0.0.2", "--yes", "--json"} + panelFiles());
    ASSERT_TRUE(cardBeingWritten()) << process->readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(process->processId()), GetParam());
    const Outcome run = finish();
    EXPECT_EQ(run.status, 4) << run.err;
    ASSERT_TRUE(run.json.is_object()) << run.out;
    EXPECT_EQ(run.json["interrupted"], true);
    EXPECT_EQ(run.json["status"], "interrupted");
    // The row cut short and the rows after it say so; none claims OK unfinished.
    bool anyInterrupted = false;
    for (const Json& row : run.json["rows"]) {
        anyInterrupted = anyInterrupted || row["state"] == "interrupted";
        if (row["state"] != "ok") {
            EXPECT_FALSE(row["reason"].is_null()) << row;
        }
    }
    EXPECT_TRUE(anyInterrupted) << run.out;
    expectRestored();
}

INSTANTIATE_TEST_SUITE_P(Signals, KvbootInterrupted, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& signal) {
                             return std::string(signal.param == SIGINT    ? "INT"
                                                : signal.param == SIGTERM ? "TERM"
                                                                          : "HUP");
                         });

// kvboot killed as a crash or a power cut kills it: nothing of its own end runs. The
// next contact (an inventory, or kvboot recover) restores the device first.
class KvbootKilled : public KvbootEndToEnd, public ::testing::WithParamInterface<const char*> {};

TEST_P(KvbootKilled, TheNextContactRestoresTheDeviceAndTheRowUpgradesAgain) {
    start(QStringList{"upgrade", "127.0.0.2", "--yes", "--json"} + panelFiles());
    ASSERT_TRUE(cardBeingWritten()) << process->readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
    finish();

    const Outcome status = kvboot({"status", "--json"});
    EXPECT_EQ(status.status, 0) << status.err;
    ASSERT_EQ(status.json["open"].size(), 1u) << status.out;
    const Json& open = status.json["open"][0];
    EXPECT_EQ(open["device"], "127.0.0.2");
    EXPECT_EQ(open["kind"], "network");
    EXPECT_EQ(open["in_use"], false);
    EXPECT_TRUE(open["row"].is_string()) << open;
    EXPECT_NE(std::find(open["changes"].begin(), open["changes"].end(), "serial-setup"),
              open["changes"].end())
        << open;

    const std::string contact = GetParam();
    const Outcome next = kvboot({QString::fromStdString(contact), "127.0.0.2", "--json"});
    EXPECT_EQ(next.status, 0) << next.err;
    const Json recovered =
        contact == "inventory" ? next.json["recovered"] : next.json["recovered"][0];
    ASSERT_TRUE(recovered.is_object()) << next.out;
    EXPECT_EQ(recovered["restored"], true);
    EXPECT_EQ(recovered["row"], open["row"]);
    EXPECT_NE(next.err.find("Restoring 127.0.0.2: a run stopped at "), std::string::npos)
        << next.err;
    expectRestored();
    EXPECT_TRUE(kvboot({"status", "--json"}).json["open"].empty());
    if (contact != "inventory") return;
    EXPECT_FALSE(next.json["rows"].empty()) << next.out;
    // The interrupted row upgrades as usual (once is enough: the recovery was the same).
    const Outcome again =
        kvboot(QStringList{"upgrade", "127.0.0.2", "--yes", "--json"} + panelFiles());
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(again.json["recovered"].is_null()) << again.out;
    expectRestored();
}

INSTANTIATE_TEST_SUITE_P(NextContact, KvbootKilled, ::testing::Values("inventory", "recover"),
                         [](const ::testing::TestParamInfo<const char*>& contact) {
                             return std::string(contact.param);
                         });

TEST_F(KvbootEndToEnd, CheckReadsTheFilesTypeAndHardwareAndTellsBadFiles) {
    const std::string good = fileOf.at("RV-BTN16");
    Outcome run = kvboot({"check", QString::fromStdString(good), "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.json["integrity"], true);
    EXPECT_EQ(run.json["controller_type"], "RV-BTN16");
    EXPECT_NE(std::string("HW:1.2").find(run.json["hardware"].get<std::string>()),
              std::string::npos);
    EXPECT_GT(run.json["data_bytes"].get<int>(), 0);

    // One changed digit breaks a record's checksum.
    std::ifstream in(good);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto digit = text.find('\n') + 10;
    text[digit] = text[digit] == '0' ? '1' : '0';
    const std::string bad = folder.filePath("bad.hex").toStdString();
    std::ofstream(bad) << text;
    run = kvboot({"check", QString::fromStdString(bad), "--json"});
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_EQ(run.json["status"], "file-refused");
    EXPECT_EQ(run.json["integrity"], false);
    EXPECT_EQ(run.json["fault"]["line"], 2);

    run = kvboot({"check", folder.filePath("missing.hex"), "--json"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.json["error"]["code"], "bad-input");
}

// Serial ports that merely exist are no devices found: with no module and no USB device
// answering, discover says nothing was found.
TEST(KvbootDiscover, NothingAnsweringIsNotFoundWhateverSerialPortsExist) {
    ASSERT_TRUE(test::InOwnNetworkNamespace());
    QTemporaryDir data;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", data.path());
    process.setProcessEnvironment(env);
    process.start(KVBOOT_PATH, {"discover", "--wait", "0.5", "--json"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 3);
    const Json doc = Json::parse(process.readAllStandardOutput().toStdString(), nullptr, false);
    EXPECT_EQ(doc["status"], "unreachable");
    EXPECT_TRUE(doc["modules"].empty());
}

TEST_F(KvbootEndToEnd, AnAddressWithoutAModuleIsNotFound) {
    const Outcome run = kvboot({"inventory", "127.0.0.9", "--discovery-wait", "1", "--json"});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.json["error"]["code"], "not-found");
}

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
