// One running copy per executable file: the real program started twice from one
// place, a copy from another folder, a start after a copy died, and the guard itself
// bringing the running window forward.

#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <memory>
#include <system_error>

#include "gui/CheckPrevious.h"

using kv::gui::CheckPrevious;

namespace {

constexpr int kStartMs = 10000;

// A started copy of the program that is killed when the test ends.
class Copy {
  public:
    Copy(const QString& executable, const QString& dataHome, const QString& workFolder) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(workFolder);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(executable, {});
    }
    ~Copy() { stop(); }

    QProcess& process() { return process_; }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

  private:
    QProcess process_;
};

// The process that holds the program's lock, 0 when none.
qint64 lockOwner(const QString& executable) {
    QLockFile lock(CheckPrevious::lockFilePath(QFileInfo(executable).canonicalFilePath()));
    qint64 pid = 0;
    QString host, app;
    return lock.getLockInfo(&pid, &host, &app) ? pid : 0;
}

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void secondStartFromTheSameFileEndsAndTheFirstRuns() {
        QTemporaryDir dataHome, work;
        const QString exe = QStringLiteral(KV_BOOTLOADER_EXE);
        Copy first(exe, dataHome.path(), work.path());
        QVERIFY(first.process().waitForStarted(kStartMs));
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(exe), first.process().processId(), kStartMs);

        Copy second(exe, dataHome.path(), work.path());
        QVERIFY(second.process().waitForStarted(kStartMs));
        QVERIFY(second.process().waitForFinished(kStartMs));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);

        QTest::qWait(300);
        QCOMPARE(first.process().state(), QProcess::Running);
        QCOMPARE(lockOwner(exe), first.process().processId());
    }

    void copyInAnotherFolderRunsBeside() {
        QTemporaryDir dataHome, work, elsewhere;
        const QString exe = QStringLiteral(KV_BOOTLOADER_EXE);
        const QString copied = elsewhere.filePath(QFileInfo(exe).fileName());
        QVERIFY(QFile::copy(exe, copied));
        QVERIFY(QFile::setPermissions(copied, QFile::permissions(exe)));

        Copy first(exe, dataHome.path(), work.path());
        QVERIFY(first.process().waitForStarted(kStartMs));
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(exe), first.process().processId(), kStartMs);

        Copy other(copied, dataHome.path(), work.path());
        QVERIFY(other.process().waitForStarted(kStartMs));
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(copied), other.process().processId(), kStartMs);
        QTest::qWait(300);
        QCOMPARE(other.process().state(), QProcess::Running);
        QCOMPARE(first.process().state(), QProcess::Running);
    }

    void startAfterACopyDiedRuns() {
        QTemporaryDir dataHome, work;
        const QString exe = QStringLiteral(KV_BOOTLOADER_EXE);
        {
            Copy dead(exe, dataHome.path(), work.path());
            QVERIFY(dead.process().waitForStarted(kStartMs));
            QTRY_COMPARE_WITH_TIMEOUT(lockOwner(exe), dead.process().processId(), kStartMs);
            dead.stop();  // killed: its lock file and socket stay behind
        }
        Copy next(exe, dataHome.path(), work.path());
        QVERIFY(next.process().waitForStarted(kStartMs));
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(exe), next.process().processId(), kStartMs);
        QTest::qWait(300);
        QCOMPARE(next.process().state(), QProcess::Running);
    }

    void laterCopyBringsTheRunningWindowForward() {
        QTemporaryDir place;
        const QString exe = place.filePath(QStringLiteral("bootloader"));
        CheckPrevious running(exe);
        QVERIFY(running.registerCopy());
        QWidget window;
        window.showMinimized();
        running.setWindow(&window);
        QSignalSpy started(&running, &CheckPrevious::anotherCopyStarted);

        {
            CheckPrevious later(exe);
            QVERIFY(!later.registerCopy());
        }
        QTRY_COMPARE(started.size(), 1);
        QVERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());

        // The same name under another folder is another program.
        CheckPrevious elsewhere(place.filePath(QStringLiteral("other/bootloader")));
        QVERIFY(elsewhere.registerCopy());
    }

    // A lock that cannot be made at all (here: the temporary "folder" is a file) is no
    // second copy: the guard reports the system's reason, and the program shows it
    // instead of ending silently.
    void lockThatCannotBeMadeStopsTheStartWithTheSystemsReason() {
        QTemporaryDir place;
        const QString notAFolder = place.filePath(QStringLiteral("not-a-folder"));
        QFile file(notAFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        int code = 0;
        try {
            CheckPrevious guard(place.filePath(QStringLiteral("bootloader")));
            guard.registerCopy();
        } catch (const std::system_error& e) {
            code = e.code().value();
        }
        if (oldTmp.isEmpty()) {
            qunsetenv("TMPDIR");
        } else {
            qputenv("TMPDIR", oldTmp);
        }
        QCOMPARE(code, ENOTDIR);

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("TMPDIR"), notAFolder);
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KV_BOOTLOADER_EXE), {});
        QVERIFY(program.waitForStarted(kStartMs));
        const QString reason = QString::fromLocal8Bit(std::generic_category().message(ENOTDIR));
        QByteArray told;
        QTRY_VERIFY_WITH_TIMEOUT(
            (told += program.readAllStandardError()).contains(reason.toLocal8Bit()), kStartMs);
        // The error box waits for the operator; no lock was taken meanwhile.
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();
        program.waitForFinished(5000);
    }

    void namesDependOnThePathOnly() {
        QCOMPARE(CheckPrevious::instanceName(QStringLiteral("/opt/kv/bootloader")),
                 CheckPrevious::instanceName(QStringLiteral("/opt/kv/bootloader")));
        QVERIFY(CheckPrevious::instanceName(QStringLiteral("/opt/kv/bootloader")) !=
                CheckPrevious::instanceName(QStringLiteral("/opt/kv2/bootloader")));
        // Usable as a local socket and file name.
        QVERIFY(!CheckPrevious::instanceName(QStringLiteral("/a b/c")).contains(QLatin1Char('/')));
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
