// The whole program on its real channels against kvsim, in a private network namespace
// (loopback only): FIND lists the simulated module in the window, and closing asks,
// ends the window and releases the channels on the engine thread.

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "../fakes/NetworkNamespace.h"
#include "GuiTestSupport.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"
#include "gui/Program.h"
#include "gui/Widgets.h"

using kv::gui::test::onNextModal;

namespace {

// Qt's complaints about objects used from the wrong thread.
QStringList threadWarnings;

void collectThreadWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtDebugMsg && message.contains(QLatin1String("thread"), Qt::CaseInsensitive)) {
        threadWarnings << message;
    }
}

}  // namespace

class ProgramEndToEndTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        if (!kv::test::InOwnNetworkNamespace()) QSKIP("runs only in its own network namespace");
        kvsim_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        kvsim_.start(QStringLiteral(KVSIM_PATH), {"--address", "127.0.0.2"});
        QVERIFY(kvsim_.waitForStarted(5000));
        QDeadlineTimer deadline(10000);
        bool ready = false;
        while (!ready && !deadline.hasExpired()) {
            if (!kvsim_.canReadLine()) kvsim_.waitForReadyRead(200);
            while (kvsim_.canReadLine()) ready |= kvsim_.readLine().trimmed() == "ready";
        }
        QVERIFY2(ready, "kvsim did not get ready");
    }

    void cleanupTestCase() {
        if (kvsim_.state() == QProcess::NotRunning) return;
        kvsim_.terminate();
        if (!kvsim_.waitForFinished(3000)) kvsim_.kill();
    }

    void findListsTheModuleAndClosingEndsCleanly() {
        QTemporaryDir dataHome, work;
        QVERIFY(QDir(dataHome.path()).mkpath(QStringLiteral("Korvandel/KV_bootloader_v3_3_2")));
        qInstallMessageHandler(collectThreadWarnings);

        kv::gui::Program program;
        kv::gui::MainWindow& main = program.mainWindow();
        program.start({kv::gui::fromQ(dataHome.path()), kv::gui::fromQ(work.path())});
        QVERIFY(QTest::qWaitForWindowExposed(&main));

        QTest::mouseClick(main.Panel2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(main.TreeView1->topLevelItemCount() == 1 &&
                                     main.TreeView1->topLevelItem(0)->text(0).contains("(I:"),
                                 20000);
        QVERIFY(main.TreeView1->topLevelItem(0)->text(0).startsWith(QLatin1String("127.0.0.2 ")));
        // The overlay goes 2.5 s after the last answer.
        QTRY_VERIFY_WITH_TIMEOUT(main.Panel8->isHidden(), 10000);
        QVERIFY(!main.UDPMemo->toPlainText().isEmpty());

        onNextModal([](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            QCOMPARE(box->text(), QStringLiteral("Do you really want to exit?"));
            box->button(QMessageBox::Yes)->click();
        });
        QTest::mouseClick(main.Label12, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!main.isVisible(), 20000);

        QElapsedTimer stopping;
        stopping.start();
        program.shutDown();
        QVERIFY(stopping.elapsed() < 5000);
        qInstallMessageHandler(nullptr);
        QVERIFY2(threadWarnings.isEmpty(), qPrintable(threadWarnings.join('\n')));

        QFile log(QDir(dataHome.path())
                      .filePath(QStringLiteral("Korvandel/KV_bootloader_v3_3_2/logfile.txt")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY(text.startsWith("/**********************************************/\r\nTimestamp:"));
        QVERIFY(text.contains("\r\nKorvandel Bootloader\r\n"));
    }

    // The log is opened before the window appears: its fallback message (no data folder
    // here) comes while no window is shown, and the window follows it.
    void windowAppearsOnlyAfterTheLogIsOpen() {
        QTemporaryDir dataHome, work;
        kv::gui::Program program;
        kv::gui::MainWindow& main = program.mainWindow();
        bool windowShownAtMessage = true;
        QString message;
        onNextModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            message = box->text();
            windowShownAtMessage = main.isVisible();
            box->accept();
        });
        program.start({kv::gui::fromQ(dataHome.path()), kv::gui::fromQ(work.path())});
        QVERIFY(!main.isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QVERIFY(!message.isEmpty());
        QVERIFY(!windowShownAtMessage);
        QVERIFY(QFile::exists(QDir(work.path()).filePath(QStringLiteral("logfile.txt"))));
        program.shutDown();
    }

  private:
    QProcess kvsim_;
};

QTEST_MAIN(ProgramEndToEndTest)
#include "ProgramEndToEndTest.moc"
