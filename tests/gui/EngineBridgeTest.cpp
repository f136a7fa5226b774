// The Qt Ui adapter, the operator-action routing and the engine shutdown, with a real
// engine thread.

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>
#include <atomic>

#include "GuiTestSupport.h"
#include "core/Clock.h"
#include "core/Context.h"
#include "core/Engine.h"
#include "core/LogFile.h"
#include "core/SharedState.h"
#include "gui/AboutWindow.h"
#include "gui/ActionRouter.h"
#include "gui/AddIpWindow.h"
#include "gui/EngineShutdown.h"
#include "gui/MainWindow.h"
#include "gui/QtUi.h"
#include "gui/ReportWindow.h"
#include "gui/Widgets.h"

using kv::MsgButton;
using kv::UiElement;
using kv::gui::test::onNextModal;
using namespace std::chrono_literals;

namespace {

// The windows and an engine on its own thread, wired as the program wires them.
struct Rig {
    kv::gui::MainWindow main;
    kv::gui::AboutWindow about{&main};
    kv::gui::ReportWindow report{&main};
    kv::gui::AddIpWindow addIp{&main};
    kv::gui::QtUi ui{main, report};
    kv::SharedState state;
    kv::LogFile log;
    kv::SteadyClock clock;
    kv::Ports ports;
    kv::Context context{state, log, ui, clock, ports};
    kv::Engine engine{context};
    std::vector<kv::Engine::Action> captured;
    bool capture = false;
    kv::gui::ActionRouter router{[this](kv::Engine::Action a) {
                                     if (capture) {
                                         captured.push_back(std::move(a));
                                     } else {
                                         engine.post(std::move(a));
                                     }
                                 },
                                 main, about, addIp};

    Rig() { engine.start(); }
    ~Rig() { kv::gui::stopEngine(engine, ui, nullptr, 2s); }
};

}  // namespace

class EngineBridgeTest : public QObject {
    Q_OBJECT

  private slots:
    void displayCallsFromTheEngineReachTheWindow() {
        Rig rig;
        rig.engine.post([](kv::Context& ctx) {
            ctx.log_and_show("-> {I}");
            ctx.ui.memoLine("<- (I:NRV5x5)");
            ctx.show_status("Log file: 3 KB");
            ctx.set_progress(7, 20);
            ctx.showBusy("Searching...");
            ctx.state.properties = {"(I:NRV5x5)", "(S:42)", "10.0.0.9", "00-20-4A-01-02-03"};
            ctx.showDeviceProperties();
            ctx.ui.networkTree({"10.0.0.9 (I:NRV5x5) (S:42)"});
            ctx.ui.comTree({"COM1", "COM4"});
            ctx.ui.usbList({{"KV Panel", "SN7", "0"}});
            ctx.ui.controllerGrid({{true, {"NRV-CTL", "1", "2", "3", "f.hex"}}, {}});
            ctx.ui.enable(UiElement::Upgrade, true);
            ctx.ui.enable(UiElement::ComTree, false);
        });
        kv::gui::MainWindow& m = rig.main;
        QTRY_COMPARE(m.ProgressBar1->value(), 7);
        QCOMPARE(m.UDPMemo->toPlainText(), QStringLiteral("-> {I}\n<- (I:NRV5x5)"));
        QCOMPARE(m.StatusText->text(), QStringLiteral("Log file: 3 KB"));
        QCOMPARE(m.ProgressBar1->maximum(), 20);
        QCOMPARE(m.Panel8->text(), QStringLiteral("Searching..."));
        QVERIFY(!m.Panel8->isHidden());
        QTRY_COMPARE(m.Label2->text(), QStringLiteral("00-20-4A-01-02-03"));
        QCOMPARE(m.Label6->text(), QStringLiteral("(I:NRV5x5)"));
        QTRY_VERIFY(!m.TreeView2->isEnabled());
        QCOMPARE(m.TreeView1->topLevelItem(0)->text(0),
                 QStringLiteral("10.0.0.9 (I:NRV5x5) (S:42)"));
        QCOMPARE(m.TreeView2->topLevelItemCount(), 2);
        QCOMPARE(m.USBView->topLevelItem(0)->text(1), QStringLiteral("SN7"));
        QCOMPARE(m.USBView->topLevelItem(0)->text(2), QStringLiteral("0"));
        QCOMPARE(m.StringGrid2->rowCount(), 2);
        QCOMPARE(m.StringGrid1->item(0, 0)->text(), QStringLiteral("X"));
        QVERIFY(m.Panel1->isEnabled());
    }

    void questionsBlockTheEngineUntilTheOperatorAnswers() {
        Rig rig;
        std::atomic<int> answer{-1};
        rig.engine.post([&](kv::Context& ctx) {
            answer = int(ctx.ask(kv::QuestionId::ConfirmUpgrade, "Do you really want to upgrade?",
                                 kv::DialogKind::Confirmation, {MsgButton::Yes, MsgButton::Cancel},
                                 int(MsgButton::Cancel)));
        });
        int seenWhileOpen = -2;
        onNextModal([&](QWidget* box) {
            QTest::qWait(50);
            seenWhileOpen = answer.load();  // the engine still waits for the operator
            qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
        });
        QTRY_COMPARE(answer.load(), int(MsgButton::Yes));
        QCOMPARE(seenWhileOpen, -1);
    }

    void reportIsShownModallyWithItsVerdict() {
        Rig rig;
        std::atomic<bool> returned{false};
        rig.engine.post([&](kv::Context& ctx) {
            ctx.ui.showReport({"UPGRADE PROCEDURE REPORT", "NRV-CTL...FAILED"}, "Upgrade FAILED",
                              false);
            returned = true;
        });
        bool shown = false;
        QColor verdict;
        QString text;
        bool returnedWhileOpen = true;
        onNextModal([&](QWidget* window) {
            shown = window == &rig.report;
            verdict = rig.report.verdictColor();
            text = rig.report.Memo1->toPlainText();
            returnedWhileOpen = returned;
            rig.report.OkButton->click();
        });
        QTRY_VERIFY(returned);
        QVERIFY(shown);
        QVERIFY(!returnedWhileOpen);
        QCOMPARE(verdict, QColor(255, 0, 0));
        QVERIFY(text.endsWith(QStringLiteral("NRV-CTL...FAILED")));
    }

    void quickBootloadIsReadableFromTheEngine() {
        Rig rig;
        QVERIFY(!rig.ui.quickBootload());
        rig.main.CheckBox1->click();
        std::atomic<bool> seen{false};
        rig.engine.post([&](kv::Context&) { seen = rig.ui.quickBootload(); });
        QTRY_VERIFY(seen);
    }

    void upgradeDisablesItsControlsAndGetsThemBackAfterwards() {
        Rig rig;
        rig.capture = true;
        kv::gui::MainWindow& m = rig.main;
        for (UiElement e : {UiElement::Upgrade, UiElement::Find, UiElement::Grids}) {
            m.enableElement(e, true);
        }
        emit m.upgradeClicked();
        QVERIFY(!m.Panel1->isEnabled());
        QVERIFY(!m.Panel2->isEnabled());
        QVERIFY(!m.StringGrid1->isEnabled());
        QVERIFY(!m.StringGrid2->isEnabled());
        QCOMPARE(rig.captured.size(), std::size_t(2));  // the upgrade, then the re-enable

        // The second action, run on the engine, brings all four back.
        rig.engine.post(std::move(rig.captured[1]));
        QTRY_VERIFY(m.Panel1->isEnabled());
        QVERIFY(m.Panel2->isEnabled());
        QVERIFY(m.StringGrid1->isEnabled());
        QVERIFY(m.StringGrid2->isEnabled());
    }

    void operatorActionsArePostedWithTheirSelection() {
        Rig rig;
        rig.capture = true;
        kv::gui::MainWindow& m = rig.main;
        emit m.findClicked();
        emit m.networkDoubleClicked(2);
        emit m.comDoubleClicked(0);
        emit m.usbDoubleClicked(1);
        emit m.handleAsChosen(3, -1, 0);
        emit m.checkCellReleased(0);
        emit m.fileCellReleased(4, 0);
        emit rig.addIp.addRequested(QStringLiteral("10.0.0.5"), true, QStringLiteral("10001"));
        emit m.closeRequested();
        QCOMPARE(rig.captured.size(), std::size_t(9));
        // The windows that only show something never reach the engine.
        onNextModal([&](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        emit m.aboutClicked();
        onNextModal([&](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        emit m.addIpClicked();
        QCOMPARE(rig.captured.size(), std::size_t(9));
    }

    void closeQueryDecidesWhetherTheWindowCloses() {
        Rig rig;
        rig.main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.main));

        onNextModal([](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QCOMPARE(box->text(), QStringLiteral("Do you really want to exit?"));
            box->button(QMessageBox::Cancel)->click();
        });
        QTest::mouseClick(rig.main.Label12, Qt::LeftButton);
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        QTest::qWait(200);
        QVERIFY(rig.main.isVisible());

        onNextModal(
            [](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Yes)->click(); });
        QTest::mouseClick(rig.main.Label12, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.main.isVisible(), 5000);
    }

    void shutdownDoesNotDeadlockWhileTheEngineWaitsForTheOperator() {
        Rig rig;
        std::atomic<bool> asking{false};
        std::atomic<int> answer{-1};
        rig.engine.post([&](kv::Context& ctx) {
            asking = true;
            answer =
                int(ctx.ask(kv::QuestionId::RestoreUnreachable,
                            "The selected device is unreachable!", kv::DialogKind::Confirmation,
                            {MsgButton::Yes, MsgButton::Cancel}, int(MsgButton::Cancel)));
        });
        // Not serving the GUI thread: the question stays queued, as when the window has
        // already closed.
        QDeadlineTimer deadline(5000);
        while (!asking && !deadline.hasExpired()) std::this_thread::sleep_for(1ms);
        QVERIFY(asking);
        std::this_thread::sleep_for(50ms);

        std::atomic<bool> finalRan{false};
        QElapsedTimer timer;
        timer.start();
        QVERIFY(kv::gui::stopEngine(
            rig.engine, rig.ui, [&](kv::Context&) { finalRan = true; }, 5000ms));
        QVERIFY(timer.elapsed() < 4000);
        QVERIFY(finalRan);
        QCOMPARE(answer.load(), int(MsgButton::Cancel));  // the safe answer
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void afterShutdownTheUiNoLongerShowsAnything() {
        kv::gui::MainWindow main;
        kv::gui::ReportWindow report;
        kv::gui::QtUi ui(main, report);
        ui.shutDown();
        ui.memoLine("late");
        ui.messageBox("late");
        QCOMPARE(ui.ask(kv::QuestionId::ConfirmUpgrade, "?", kv::DialogKind::Confirmation,
                        {MsgButton::Yes, MsgButton::No}, int(MsgButton::No)),
                 MsgButton::No);
        QVERIFY(!ui.openFile("Intel Hex file (*.hex)|*.hex").has_value());
        QVERIFY(main.UDPMemo->toPlainText().isEmpty());
    }
};

QTEST_MAIN(EngineBridgeTest)
#include "EngineBridgeTest.moc"
