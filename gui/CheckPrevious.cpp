#include "gui/CheckPrevious.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QWidget>

#include <system_error>

#ifdef Q_OS_WIN
#include <windows.h>

#include <cstdint>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kv::gui {

namespace {

#ifndef Q_OS_WIN
// How long a later copy keeps trying to reach the running one, which may still be
// starting up between taking the lock and listening.
constexpr int kReachRunningCopyMs = 2000;
constexpr int kReachRetryMs = 50;
constexpr char kComeForward[] = "raise\n";

// The system's reason why the lock file could not be made, found by making it once more
// (QLockFile keeps only its own coarse error).
[[noreturn]] void raiseLockError(const QString& lockPath, QLockFile::LockError error) {
    const QByteArray path = QFile::encodeName(lockPath);
    int code = error == QLockFile::PermissionError ? EACCES : EIO;
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        code = errno;
    } else {
        ::close(fd);
        ::unlink(path.constData());
    }
    throw std::system_error(code, std::generic_category());
}
#endif

}  // namespace

void bringToFront(QWidget* window) {
    if (!window) return;
    if (window->isMinimized()) {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

CheckPrevious::CheckPrevious(const QString& executablePath, QObject* parent)
    : QObject(parent), executablePath_(executablePath) {}

QString CheckPrevious::instanceName(const QString& executablePath) {
    // The user's home keeps the copies of different users apart, as a per-session
    // name does on Windows.
    const QByteArray key = (QDir::homePath() + QLatin1Char('\n') + executablePath).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
    return QStringLiteral("korvandel-bootloader-") + QString::fromLatin1(hash.left(32));
}

QString CheckPrevious::lockFilePath(const QString& executablePath) {
    return QDir(QDir::tempPath()).filePath(instanceName(executablePath) + QStringLiteral(".lock"));
}

void CheckPrevious::setWindow(QWidget* window) {
    window_ = window;
#ifdef Q_OS_WIN
    if (view_ && window && counted_) {
        auto* record = static_cast<std::int32_t*>(view_);
        record[0] = static_cast<std::int32_t>(
            reinterpret_cast<std::intptr_t>(reinterpret_cast<HWND>(window->winId())));
    }
#endif
}

void CheckPrevious::bringWindowForward() {
    emit anotherCopyStarted();
    bringToFront(window_);
}

#ifndef Q_OS_WIN

bool CheckPrevious::registerCopy() {
    const QString name = instanceName(executablePath_);
    lock_ = std::make_unique<QLockFile>(lockFilePath(executablePath_));
    // Only a dead owner makes the lock stale, never its age: the running copy may run
    // for days.
    lock_->setStaleLockTime(0);
    const bool locked = lock_->tryLock(0);
    // Any failure other than a lock held by another copy stops the start.
    if (!locked && lock_->error() != QLockFile::LockFailedError) {
        const QLockFile::LockError error = lock_->error();
        lock_.reset();
        raiseLockError(lockFilePath(executablePath_), error);
    }
    if (locked) {
        // We own the lock, so a socket left behind is from a copy that died.
        QLocalServer::removeServer(name);
        server_ = new QLocalServer(this);
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        connect(server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = server_->nextPendingConnection()) {
                connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                peer->disconnectFromServer();
            }
            bringWindowForward();
        });
        server_->listen(name);
        return true;
    }
    lock_.reset();

    // Another copy runs: ask it to come forward, then end.
    const QDeadlineTimer deadline(kReachRunningCopyMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(kReachRetryMs)) {
            socket.write(kComeForward);
            socket.waitForBytesWritten(kReachRetryMs);
            socket.disconnectFromServer();
            break;
        }
        QThread::msleep(kReachRetryMs);
    }
    return false;
}

CheckPrevious::~CheckPrevious() {
    if (server_) server_->close();
    // QLockFile unlocks when it is destroyed.
}

#else  // Q_OS_WIN

namespace {

struct InstanceRecord {
    std::int32_t window;
    std::int32_t count;
};
static_assert(sizeof(InstanceRecord) == 8);

[[noreturn]] void raiseLastError() {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
}

}  // namespace

bool CheckPrevious::registerCopy() {
    // The full path without its backslashes: C:\Tools\Boot\x.exe -> C:ToolsBootx.exe.
    QString name = QDir::toNativeSeparators(executablePath_);
    name.remove(QLatin1Char('\\'));
    sectionName_ = name.toStdWString();

    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(InstanceRecord), sectionName_.c_str());
    if (!section) raiseLastError();
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!existed) {
        section_ = section;
        view_ = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(InstanceRecord));
        if (!view_) raiseLastError();
        auto* record = static_cast<InstanceRecord*>(view_);
        record->window = 0;
        record->count = 1;
        return true;
    }
    CloseHandle(section);

    section_ = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, sectionName_.c_str());
    if (!section_) {
        counted_ = false;
        return false;
    }
    view_ = MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(InstanceRecord));
    if (!view_) raiseLastError();
    auto* record = static_cast<InstanceRecord*>(view_);
    if (record->count < kMaxCopies) {
        record->window = 0;
        ++record->count;
        return true;
    }
    counted_ = false;
    HWND running = reinterpret_cast<HWND>(static_cast<std::intptr_t>(record->window));
    if (running) {
        if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
        SetForegroundWindow(running);
    }
    return false;
}

CheckPrevious::~CheckPrevious() {
    if (counted_ && !sectionName_.empty()) {
        HANDLE section = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, sectionName_.c_str());
        if (section) {
            if (void* view =
                    MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(InstanceRecord))) {
                --static_cast<InstanceRecord*>(view)->count;
                UnmapViewOfFile(view);
            }
            CloseHandle(section);
        }
    }
    if (view_) UnmapViewOfFile(view_);
    if (section_) CloseHandle(static_cast<HANDLE>(section_));
    view_ = nullptr;
    section_ = nullptr;
    sectionName_.clear();
}

#endif

}  // namespace kv::gui
