// kvdemo: the program's main job played by an automated operator against simulated
// devices served by kvsim (scripts/demo.sh starts both inside a private network
// namespace): FIND, connect to the device, choose a file for every row, UPGRADE, read
// the report, close. Pictures of each stage go to the pictures folder.
//
//   kvdemo --device 127.0.0.x --family NAME --firmware FOLDER --pictures FOLDER
//          [--failing-run]
//
// The firmware folder holds the files `kvsim --write-firmware` made for the family. The
// log file goes to the usual per-user data folder (set XDG_DATA_HOME to keep it apart).
// Exit status: 0 when the report says "Upgrade successful", 1 when a stage did not
// happen in time or the verdict is another, 2 for wrong arguments. With --failing-run
// (kvsim serves a device that fails a row) the message boxes of the run are acknowledged
// and printed, and the expected verdict is "Upgrade FAILED".

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <iostream>

#include "DemoFirmware.h"
#include "DemoOperator.h"
#include "Scenario.h"
#include "gui/GuiText.h"
#include "gui/Program.h"

namespace {

const QString kLogFolder = QStringLiteral("Korvandel/KV_bootloader_v3_3_2");
const QString kSuccess = QStringLiteral("Upgrade successful");
const QString kFailed = QStringLiteral("Upgrade FAILED");

int usage(const std::string& problem) {
    std::cerr << "kvdemo: " << problem << "\n"
              << "usage: kvdemo --device 127.0.0.x --family NAME --firmware FOLDER"
                 " --pictures FOLDER [--failing-run]\n";
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvandel Bootloader"));

    QString address, familyName, firmware, pictures;
    bool failingRun = false;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--failing-run")) {
            failingRun = true;
            continue;
        }
        if (i + 1 >= args.size()) return usage(args[i].toStdString() + " needs a value");
        const QString& option = args[i];
        const QString value = args[++i];
        if (option == QLatin1String("--device")) {
            address = value;
        } else if (option == QLatin1String("--family")) {
            familyName = value;
        } else if (option == QLatin1String("--firmware")) {
            firmware = value;
        } else if (option == QLatin1String("--pictures")) {
            pictures = value;
        } else {
            return usage("unknown option " + option.toStdString());
        }
    }
    if (address.isEmpty() || firmware.isEmpty() || pictures.isEmpty()) {
        return usage("--device, --firmware and --pictures are needed");
    }
    if (!address.startsWith(QLatin1String("127."))) {
        return usage("only loopback devices (127.x.x.x) are driven");
    }
    const auto family = kv::sim::ParseDemoFamily(familyName.toStdString());
    if (!family || !kv::sim::IsUpgradableFamily(*family)) {
        return usage("not an upgradable family: " + familyName.toStdString());
    }

    kv::demo::OperatorPlan plan;
    plan.deviceAddress = address;
    plan.pictures = QDir(pictures).absolutePath();
    plan.acknowledgeUpgradeMessages = failingRun;
    for (const auto& file : kv::sim::DemoFirmwareFiles(*family)) {
        const QString path = QDir(firmware).absoluteFilePath(QString::fromStdString(file.fileName));
        if (!QFileInfo::exists(path)) return usage("missing firmware file " + path.toStdString());
        plan.rows.push_back({QString::fromStdString(file.controllerType), path});
    }

    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QDir().mkpath(QDir(dataHome).filePath(kLogFolder));
    kv::demo::OperatorResult result;
    {
        kv::gui::Program program;
        program.start({kv::gui::fromQ(dataHome), kv::gui::fromQ(QDir::currentPath())});
        kv::demo::DemoOperator player(program, plan);
        result = player.run();
        program.shutDown();
    }

    std::cout << "pictures:\n";
    for (const QString& path : result.pictures) std::cout << "  " << path.toStdString() << "\n";
    std::cout << "log file: " << QDir(dataHome).filePath(kLogFolder + "/logfile.txt").toStdString()
              << "\n";
    if (!result.reportText.isEmpty()) {
        std::cout << "report:\n"
                  << result.reportText.toStdString() << "\n"
                  << result.verdict.toStdString() << "\n";
    }
    for (const QString& text : result.upgradeMessages)
        std::cout << "message box during UPGRADE: " << text.toStdString() << "\n";
    if (!result.ok) {
        std::cerr << "kvdemo: FAILED: " << result.failure.toStdString() << std::endl;
        return 1;
    }
    if (result.verdict != (failingRun ? kFailed : kSuccess)) {
        std::cerr << "kvdemo: FAILED: the report says " << result.verdict.toStdString()
                  << std::endl;
        return 1;
    }
    std::cout << "kvdemo: the upgrade ran end to end" << std::endl;
    return 0;
}
