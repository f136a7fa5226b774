// Program entry: the single-instance check, then the windows and the engine until the
// main window closes.

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <system_error>

#include "gui/CheckPrevious.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"
#include "gui/MessageBoxes.h"
#include "gui/Program.h"

namespace {

// The per-user application data folder the log folder lives in.
QString platformDataFolder() {
#ifdef Q_OS_WIN
    return qEnvironmentVariable("APPDATA");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvandel Bootloader"));

    kv::gui::CheckPrevious guard(QCoreApplication::applicationFilePath());
    bool registered = false;
    try {
        registered = guard.registerCopy();
    } catch (const std::system_error& e) {
        // The guard could not be set up: the start fails with the system's reason.
        const QString reason = QString::fromLocal8Bit(e.code().message());
        qCritical("%s", qPrintable(reason));
        kv::gui::CentredMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), reason,
                                       QMessageBox::Ok);
        box.exec();
        return 1;
    }
    // Another copy of this executable runs: it has been brought forward; end quietly.
    if (!registered) return 0;

    kv::gui::Program program;
    guard.setWindow(&program.mainWindow());
    program.endOnSessionSignals();
    program.start({kv::gui::fromQ(platformDataFolder()), kv::gui::fromQ(QDir::currentPath())});
    const int result = app.exec();
    program.shutDown();
    return result;
}
