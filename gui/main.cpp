// Program entry: the single-instance check, then the windows and the engine until the
// main window closes.

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include "gui/CheckPrevious.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"
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
    // Another copy of this executable runs: it has been brought forward; end quietly.
    if (!guard.registerCopy()) return 0;

    kv::gui::Program program;
    guard.setWindow(&program.mainWindow());
    program.start({kv::gui::fromQ(platformDataFolder()), kv::gui::fromQ(QDir::currentPath())});
    const int result = app.exec();
    program.shutDown();
    return result;
}
