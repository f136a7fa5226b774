#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <string>

class QLocalServer;
class QLockFile;
class QWidget;

namespace kv::gui {

// The single-instance guard: one running copy per executable file. A copy started
// from another folder is another program and runs beside it.
//
// Linux: a lock file in the temporary folder, named after the executable's path, says
// which copy runs; that copy listens on a local socket of the same name, and a later
// copy connects to it (so the running window comes forward) and ends.
// Windows: an 8-byte named shared memory record (window handle, copy count) named after
// the executable's path without its backslashes.
class CheckPrevious : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxCopies = 1;

    explicit CheckPrevious(const QString& executablePath, QObject* parent = nullptr);
    ~CheckPrevious() override;

    // Registers this copy. False when another copy of the same executable runs: it has
    // been asked to bring its window to the front, and this copy must end at once.
    // Throws std::system_error when the guard cannot be set up at all (the lock file's
    // folder cannot be written, the shared section cannot be made); the start fails.
    bool registerCopy();

    // The window to restore and bring to the front when a later copy starts.
    void setWindow(QWidget* window);

    // Name of the lock, the local socket and the shared memory for an executable.
    static QString instanceName(const QString& executablePath);
    // The lock file used on Linux.
    static QString lockFilePath(const QString& executablePath);

  signals:
    // A later copy of the program was started (and ended).
    void anotherCopyStarted();

  private:
    void bringWindowForward();

    QString executablePath_;
    QPointer<QWidget> window_;
#ifdef Q_OS_WIN
    void* section_ = nullptr;
    void* view_ = nullptr;
    std::wstring sectionName_;
    bool counted_ = true;
#else
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
#endif
};

// Restores a window if it is minimised, raises it and gives it the focus.
void bringToFront(QWidget* window);

}  // namespace kv::gui
