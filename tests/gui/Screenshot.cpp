// Saves pictures of the windows for a developer to look at:
//   kv_gui_screenshot <folder>
// writes main.png (sample content, busy overlay shown), main-start.png (as at start),
// about.png, report.png and addip.png into the folder.

#include <QApplication>
#include <QDir>
#include <QTextStream>

#include "gui/AboutWindow.h"
#include "gui/AddIpWindow.h"
#include "gui/MainWindow.h"
#include "gui/QtUi.h"
#include "gui/ReportWindow.h"

namespace {

bool save(QWidget& window, const QDir& folder, const QString& name) {
    window.show();
    QApplication::processEvents();
    const QString path = folder.filePath(name);
    const bool ok = window.grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "could not write ") << path << Qt::endl;
    window.hide();
    return ok;
}

void fillSample(kv::gui::QtUi& ui) {
    ui.networkTree({"192.168.0.31 (I:NRV5x5) (S:1234-5678)", "192.168.0.40 (I:RV-CTL2) (S:77-12)"});
    ui.comTree({"COM1", "COM3"});
    ui.usbList({{"KV HID Panel", "A1B2C3", "0"}});
    ui.deviceProperties({"(I:NRV5x5)", "(S:1234-5678)", "192.168.0.31", "00-20-4A-9B-0C-11"});
    for (const char* line : {"-> {I}", "<- (I:NRV5x5)", "-> {S}", "<- (S:1234-5678)",
                             "-> select_GPIO 1", "Loading processor information ..."}) {
        ui.memoLine(line);
    }
    kv::GridRow cpu{true, {"NRV-CTL", "2.1", "1.4", "3.0.2", "cpu_v302.hex"}};
    kv::GridRow card{false, {"NRV-IN4", "1.0", "1.1", "2.2.0", ""}};
    kv::GridRow web{false, {"Web Server", "", "", "6.B.0", ""}};
    ui.controllerGrid({cpu, card, web});
    ui.enable(kv::UiElement::Grids, true);
    ui.enable(kv::UiElement::Upgrade, true);
    ui.statusText("Log file: 12 KB");
    ui.progress(40, 100);
    ui.busyText("Loading processor information ...");
    ui.busyVisible(true);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    bool ok = true;
    {
        kv::gui::MainWindow start;
        ok &= save(start, folder, QStringLiteral("main-start.png"));
    }
    kv::gui::MainWindow main;
    kv::gui::ReportWindow report(&main);
    kv::gui::QtUi ui(main, report);
    fillSample(ui);
    ok &= save(main, folder, QStringLiteral("main.png"));

    kv::gui::AboutWindow about;
    ok &= save(about, folder, QStringLiteral("about.png"));
    report.setReport({"UPGRADE PROCEDURE REPORT", "-------------------------------", "",
                      "NRV-CTL...OK", "NRV-IN4...FAILED", "-------------------------------",
                      "Total retransmissions:0", "Total rewrites:1"},
                     QStringLiteral("Upgrade FAILED"), false);
    ok &= save(report, folder, QStringLiteral("report.png"));
    kv::gui::AddIpWindow addIp;
    ok &= save(addIp, folder, QStringLiteral("addip.png"));
    return ok ? 0 : 1;
}
