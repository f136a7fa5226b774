// The whole program on its real channels against kvsim, in a private network namespace:
// FIND, then a double click on each simulated network family and on a fibre extender on
// a pty. Each double click must fill Device Properties and the controller grid, enable
// the grid and UPGRADE, and leave the module at the serial setting its family needs.
// Pictures of the window go to KV_CONNECT_PICTURES (default: the working folder). Last, the
// desktop session ends while a device is connected.

#include <signal.h>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <memory>
#include <vector>

#include "../fakes/NetworkNamespace.h"
#include "../gui/GuiTestSupport.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"
#include "gui/Program.h"
#include "gui/Widgets.h"

using kv::gui::test::onNextModal;

namespace {

using Rows = QList<QStringList>;

struct Family {
    const char* name;
    const char* address;
    QStringList properties;  // Label6, Label4, Label8, Label2
    Rows rows;
    // Serial setting the module is left at: 19200 by its set-up record, or by the
    // bootloader-mode command (the record stays at 9600).
    bool bootloaderMode;
};

const QString kMac = QStringLiteral("00-20-4A-9B-0C-11");

QList<Family> families() {
    return {
        {"matrix",
         "127.0.0.2",
         {"I:RV-FS64S", "S:KV1000", "127.0.0.2", kMac},
         {{"RV-CTL2", "n/a", "", "3.1.2", ""},
          {"RV-IN4 2", "HW:1.0", "BL:1.0", "FW:2.1.3", ""},
          {"RV-OUT4 5", "HW:1.1", "BL:1.0", "FW:2.0.7", ""},
          {"Web Package", "", "", "S:6.8.0 W:1.0.4", ""}},
         true},
        {"direct-matrix",
         "127.0.0.3",
         {"I:RV6x6-2WQRI-Max", "S:KV1000", "127.0.0.3", kMac},
         {{"RV6X6-2WQRI", "n/a", "", "1.2.3", ""},
          {"RV-IN6 1", "HW:1.0", "BL:1.0", "FW:1.0.9", ""},
          {"PSV_AGG 7", "HW:1.0", "BL:1.0", "FW:1.0.2", ""},
          {"Web Server", "", "", "FW:6.B.0", ""},
          {"Web Content", "", "", "FW:1.0.4", ""}},
         false},
        {"modular",
         "127.0.0.4",
         {"I:NRV5x5", "S:KV1000", "127.0.0.4", kMac},
         {{"NRV-CTL", "n/a", "", "2.0.1", ""},
          {"NRV-IO8 1", "HW:2.0", "BL:1.1", "FW:1.3.0", ""},
          {"Web Server", "", "", "FW:6.B.0", ""},
          {"Web Content", "", "", "FW:1.0.4", ""}},
         false},
        {"panel",
         "127.0.0.5",
         {"I:RV-PNL16", "S:KV1000", "127.0.0.5", kMac},
         {{"RV-PNL16", "HW:1.0", "BL:1.0", "FW:1.4.0", ""},
          {"RV-BTN16", "HW:1.2", "BL:1.0", "FW:1.0.5", ""},
          {"Web Server", "", "", "FW:6.B.0", ""}},
         false},
    };
}

Rows gridRows(const QTableWidget* grid) {
    Rows rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < 5; ++c) {
            const QTableWidgetItem* item = grid->item(r, c);
            row << (item ? item->text() : QString());
        }
        rows << row;
    }
    return rows;
}

QStringList properties(const kv::gui::MainWindow& main) {
    return {main.Label6->text(), main.Label4->text(), main.Label8->text(), main.Label2->text()};
}

// Byte 21 of the module's set-up record: its serial baud code (01 = 19200, 02 = 9600).
int recordBaudCode(const QString& address) {
    QTcpSocket socket;
    socket.connectToHost(address, 30718);
    if (!socket.waitForConnected(3000)) return -1;
    socket.write(QByteArray("\x00\x00\x00\xF8", 4));
    QByteArray record;
    while (record.size() < 124 && socket.waitForReadyRead(3000)) record += socket.readAll();
    return record.size() >= 124 ? static_cast<unsigned char>(record[21]) : -1;
}

// The main controller listens at 9600 bit/s: through a module whose serial side runs at
// 19200 it cannot answer.
bool controllerAnswers(const QString& address) {
    QTcpSocket socket;
    socket.connectToHost(address, 10001);
    if (!socket.waitForConnected(3000)) return false;
    socket.write("{I}\r\n");
    return socket.waitForReadyRead(1500);
}

}  // namespace

class ConnectGuiTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        if (!kv::test::InOwnNetworkNamespace()) QSKIP("runs only in its own network namespace");
        QVERIFY(work_.isValid());
        pty_ = QDir(work_.path()).filePath(QStringLiteral("fibre-extender"));
        // One kvsim for all of them: a single listener answers the discovery broadcasts.
        QStringList arguments{"--pty", pty_};
        for (const Family& f : families())
            arguments << "--device" << QString("%1@%2").arg(f.name, f.address);
        startKvsim(arguments);
        qputenv("KV_EXTRA_SERIAL_PORTS", pty_.toLocal8Bit());
        pictures_ = qEnvironmentVariable("KV_CONNECT_PICTURES", QDir::currentPath());
    }

    void cleanupTestCase() {
        for (auto& process : kvsim_) {
            process->terminate();
            if (!process->waitForFinished(3000)) process->kill();
        }
    }

    void doubleClickOpensEveryFamily() {
        QTemporaryDir dataHome;
        QVERIFY(QDir(dataHome.path()).mkpath(QStringLiteral("Korvandel/KV_bootloader_v3_3_2")));
        kv::gui::Program program;
        kv::gui::MainWindow& main = program.mainWindow();
        program.start({kv::gui::fromQ(dataHome.path()), kv::gui::fromQ(work_.path())});
        QVERIFY(QTest::qWaitForWindowExposed(&main));

        QTest::mouseClick(main.Panel2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            main.TreeView1->topLevelItemCount() == 4 && main.TreeView2->topLevelItemCount() >= 1,
            30000);
        QTRY_VERIFY_WITH_TIMEOUT(main.Panel8->isHidden(), 15000);

        for (const Family& f : families()) {
            QTest::qWait(200);
            doubleClick(main.TreeView1, QString(f.address) + " ");
            QTRY_COMPARE_WITH_TIMEOUT(gridRows(main.StringGrid2), f.rows, 90000);
            QTRY_VERIFY_WITH_TIMEOUT(main.Panel8->isHidden(), 10000);
            QCOMPARE(properties(main), f.properties);
            QVERIFY(main.StringGrid2->isEnabled());
            QVERIFY(main.Panel1->isEnabled());
            QCOMPARE(recordBaudCode(f.address), f.bootloaderMode ? 0x02 : 0x01);
            QVERIFY(!controllerAnswers(f.address));
            save(main, QStringLiteral("connect-%1.png").arg(f.name));
        }

        doubleClick(main.TreeView2, pty_);
        const Rows serialRows{{"LNK-FBR-SN330-MAX", "HW:1.0", "BL:1.0", "FW:1.0.4", ""}};
        QTRY_COMPARE_WITH_TIMEOUT(gridRows(main.StringGrid2), serialRows, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!main.TreeView2->isEnabled(), 10000);
        QVERIFY(main.StringGrid2->isEnabled());
        QVERIFY(main.Panel1->isEnabled());
        save(main, QStringLiteral("connect-serial.png"));
    }

    // The desktop session ending: the connected device is restored (its main controller
    // answers again) and the window closes; a question would have held it open.
    void sessionEndRestoresTheConnectedDevice() {
        QTemporaryDir dataHome;
        QVERIFY(QDir(dataHome.path()).mkpath(QStringLiteral("Korvandel/KV_bootloader_v3_3_2")));
        const Family panel = families().back();
        kv::gui::Program program;
        kv::gui::MainWindow& main = program.mainWindow();
        program.endOnSessionSignals();
        program.start({kv::gui::fromQ(dataHome.path()), kv::gui::fromQ(work_.path())});
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QTest::mouseClick(main.Panel2, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(main.TreeView1->topLevelItemCount() == 4, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(main.Panel8->isHidden(), 15000);
        doubleClick(main.TreeView1, QString(panel.address) + " ");
        QTRY_COMPARE_WITH_TIMEOUT(gridRows(main.StringGrid2), panel.rows, 90000);
        QVERIFY(!controllerAnswers(panel.address));

        ::raise(SIGTERM);  // SIGHUP takes the same way
        QTRY_VERIFY_WITH_TIMEOUT(!main.isVisible(), 60000);
        QVERIFY(controllerAnswers(panel.address));
    }

  private:
    void startKvsim(const QStringList& arguments) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(KVSIM_PATH), arguments);
        QVERIFY(process->waitForStarted(5000));
        QDeadlineTimer deadline(10000);
        bool ready = false;
        while (!ready && !deadline.hasExpired()) {
            if (!process->canReadLine()) process->waitForReadyRead(200);
            while (process->canReadLine()) ready |= process->readLine().trimmed() == "ready";
        }
        QVERIFY2(ready, qPrintable("kvsim did not get ready: " + arguments.join(' ')));
        kvsim_.push_back(std::move(process));
    }

    // Double click on the list entry that starts with `prefix`, answering Yes to the
    // connect question.
    void doubleClick(QTreeWidget* tree, const QString& prefix) {
        QTreeWidgetItem* item = nullptr;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->text(0).startsWith(prefix)) item = tree->topLevelItem(i);
        QVERIFY2(item, qPrintable("no list entry " + prefix));
        tree->setCurrentItem(item);
        onNextModal([](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            QCOMPARE(box->text(),
                     QStringLiteral("Do you want to establish connenction with the device?"));
            box->button(QMessageBox::Yes)->click();
        });
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {},
                           tree->visualItemRect(item).center());
    }

    void save(QWidget& window, const QString& name) {
        const QString path = QDir(pictures_).filePath(name);
        QVERIFY2(window.grab().save(path), qPrintable("cannot write " + path));
        qInfo("wrote %s", qPrintable(path));
    }

    QTemporaryDir work_;
    QString pty_;
    QString pictures_;
    std::vector<std::unique_ptr<QProcess>> kvsim_;
};

QTEST_MAIN(ConnectGuiTest)
#include "ConnectGuiTest.moc"
