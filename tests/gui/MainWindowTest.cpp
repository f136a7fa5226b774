#include <QAction>
#include <QCheckBox>
#include <QEnterEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "GuiTestSupport.h"
#include "gui/GridGeometry.h"
#include "gui/MainWindow.h"
#include "gui/Widgets.h"

using kv::gui::MainWindow;
using kv::gui::test::windowColor;

namespace {

const QColor kBandGrey(72, 82, 85);
const QColor kButtonGrey(134, 146, 149);

QWidget* element(const MainWindow& form, const QString& name) {
    return form.findChild<QWidget*>(name);
}

void hover(QWidget* widget, bool inside) {
    if (inside) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(widget, &leave);
    }
}

QStringList texts(const QTreeWidget* tree) {
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) out << tree->topLevelItem(i)->text(0);
    return out;
}

QPoint centreOfRow(const QTreeWidget* tree, int row) {
    return tree->visualItemRect(tree->topLevelItem(row)).center();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void windowIsFramelessBlackAndOfTheClientSize() {
        MainWindow form;
        QCOMPARE(form.size(), QSize(820, 771));
        QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(form.windowTitle(), QStringLiteral("Korvandel Bootloader"));
        QCOMPARE(windowColor(&form), QColor(Qt::black));
        // Two-pixel frame around the regions.
        QCOMPARE(form.content()->geometry(), QRect(2, 2, 816, 767));
    }

    void regionsSitAtTheirPlaces_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<QColor>("color");
        QTest::newRow("logo") << "LogoBox" << QRect(0, 0, 110, 80) << QColor(Qt::black);
        QTest::newRow("title band") << "TitleBand" << QRect(110, 0, 714, 80) << kBandGrey;
        QTest::newRow("spacer") << "Spacer" << QRect(0, 80, 110, 40) << kBandGrey;
        QTest::newRow("FIND") << "Panel2" << QRect(0, 120, 110, 80) << kButtonGrey;
        QTest::newRow("UPGRADE") << "Panel1" << QRect(0, 200, 110, 80) << kBandGrey;
        QTest::newRow("ABOUT") << "Panel7" << QRect(0, 280, 110, 80) << kButtonGrey;
        QTest::newRow("work area") << "WorkArea" << QRect(110, 80, 710, 442) << QColor(Qt::white);
        QTest::newRow("lower band") << "LowerBand" << QRect(0, 358, 823, 411) << kBandGrey;
        QTest::newRow("busy overlay") << "Panel8" << QRect(317, 166, 257, 80) << kBandGrey;
        QTest::newRow("ethernet") << "EthernetBox" << QRect(116, 104, 348, 136) << QColor();
        QTest::newRow("COM") << "ComBox" << QRect(116, 246, 348, 141) << QColor();
        QTest::newRow("properties") << "PropertiesBox" << QRect(470, 104, 345, 233) << QColor();
        QTest::newRow("communication")
            << "CommunicationBox" << QRect(470, 343, 345, 171) << QColor();
    }

    void regionsSitAtTheirPlaces() {
        QFETCH(QString, name);
        QFETCH(QRect, place);
        QFETCH(QColor, color);
        MainWindow form;
        QWidget* region = element(form, name);
        QVERIFY2(region, qPrintable(name));
        QCOMPARE(region->parentWidget(), form.content());
        QCOMPARE(region->geometry(), place);
        if (color.isValid()) {
            const auto* panel = qobject_cast<const kv::gui::HoverPanel*>(region);
            QCOMPARE(panel ? panel->backgroundColor() : windowColor(region), color);
        }
    }

    void workAreaHoldsAddIpAndUsbBox() {
        MainWindow form;
        QCOMPARE(form.Button1->parentWidget(), form.WorkArea);
        QCOMPARE(form.Button1->geometry(), QRect(279, 0, 75, 25));
        QCOMPARE(form.Button1->text(), QStringLiteral("Add IP"));
        QCOMPARE(form.UsbBox->parentWidget(), form.WorkArea);
        QCOMPARE(form.UsbBox->geometry(), QRect(6, 313, 348, 121));
    }

    void captionsAndFonts() {
        MainWindow form;
        QCOMPARE(form.TitleLabel->text(), QStringLiteral("Korvandel Bootloader v3.3.2"));
        QCOMPARE(form.TitleLabel->font().pixelSize(), 16);
        QVERIFY(form.TitleLabel->font().bold());
        QCOMPARE(form.Label12->text(), QStringLiteral("X"));
        QCOMPARE(form.Label12->font().pixelSize(), 24);
        QVERIFY(form.Label12->font().bold());

        auto* find = form.findChild<QLabel*>(QStringLiteral("Panel2Caption"));
        QCOMPARE(find->text(), QStringLiteral("FIND"));
        QCOMPARE(find->font().pixelSize(), 13);
        QVERIFY(find->font().bold());
        QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Panel7Caption"))->text(),
                 QStringLiteral("ABOUT"));
        QStringList upgrade;
        for (int i = 1; i <= 3; ++i) {
            upgrade << form.findChild<QLabel*>(QStringLiteral("Panel1Caption%1").arg(i))->text();
        }
        QCOMPARE(upgrade, (QStringList{"UPGRADE", "SELECTED", "FIRMWARES"}));
        QCOMPARE(form.Image9->geometry(), form.Panel1->rect());

        QCOMPARE(form.EthernetBox->title(), QStringLiteral("Available devices on Ethernet"));
        QCOMPARE(form.ComBox->title(), QStringLiteral("Available COM Ports"));
        QCOMPARE(form.UsbBox->title(), QStringLiteral("USB Devices"));
        QCOMPARE(form.PropertiesBox->title(), QStringLiteral("Device Properties"));
        QCOMPARE(form.CommunicationBox->title(), QStringLiteral("Communication"));
        QCOMPARE(form.CheckBox1->text(),
                 QStringLiteral("Quick Bootload (checksum verification only)"));
        QCOMPARE(form.UDPMemo->font().pixelSize(), 11);
        QVERIFY(form.UDPMemo->isReadOnly());
        QCOMPARE(form.UDPMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(form.Panel8->font().pixelSize(), 13);
        QVERIFY(form.Panel8->font().bold());
        QCOMPARE(form.Panel8->frameShadow(), QFrame::Sunken);

        const QList<QLabel*> icons =
            form.TitleBand->findChildren<QLabel*>(QRegularExpression(QStringLiteral("^TitleIcon")));
        QCOMPARE(icons.size(), 7);
        for (const QLabel* icon : icons) {
            QCOMPARE(icon->y(), 27);
            QCOMPARE(icon->size(), QSize(25, 25));
        }
    }

    void startState() {
        MainWindow form;
        QVERIFY(!form.Panel1->isEnabled());
        QVERIFY(!form.Image9->isEnabled());
        QVERIFY(form.Panel2->isEnabled());
        for (QLabel* value : {form.Label6, form.Label4, form.Label8, form.Label2}) {
            QVERIFY(value->text().isEmpty());
            QVERIFY(value->font().bold());
        }
        QVERIFY(form.Panel8->isHidden());
        QVERIFY(!form.StringGrid1->isEnabled());
        QVERIFY(!form.StringGrid2->isEnabled());
        QVERIFY(form.Timer1->isActive());
        QCOMPARE(form.Timer1->interval(), 2500);
        QVERIFY(!form.CheckBox1->isChecked());
    }

    void listsAreReadOnlyAndTheUsbListHasTwoVisibleColumns() {
        MainWindow form;
        for (QTreeWidget* tree : {form.TreeView1, form.TreeView2, form.USBView}) {
            QCOMPARE(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
            QVERIFY(tree->isHeaderHidden());
        }
        QCOMPARE(form.USBView->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(form.USBView->columnWidth(0), 200);
        QCOMPARE(form.USBView->columnWidth(1), 120);
        QVERIFY(form.USBView->isColumnHidden(2));
    }

    void busyOverlayIsHiddenByEachTimerTick() {
        MainWindow form;
        form.Panel8->show();
        QTRY_VERIFY_WITH_TIMEOUT(form.Panel8->isHidden(), 5000);
        QVERIFY(!form.Timer1->isActive());

        form.Panel8->show();
        form.restartBusyTimer();
        QVERIFY(form.Timer1->isActive());
        QTest::qWait(1200);
        // A restart puts the hiding off by the whole interval again.
        form.restartBusyTimer();
        QTest::qWait(1800);
        QVERIFY(!form.Panel8->isHidden());
        QVERIFY(form.Timer1->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(form.Panel8->isHidden(), 3000);
    }

    void statusLineHoldsTextPanelAndNarrowerProgressBar() {
        MainWindow form;
        QCOMPARE(form.StatusBar1->height(), 16);
        QCOMPARE(form.StatusBar1->geometry().bottom(), form.content()->height() - 1);
        QCOMPARE(form.StatusBar1->width(), form.content()->width());
        QCOMPARE(windowColor(form.StatusBar1), QColor(Qt::white));
        QCOMPARE(form.StatusText->geometry(), QRect(0, 0, 200, 16));
        QCOMPARE(form.ProgressPanel->geometry(), QRect(200, 0, 50, 16));
        QCOMPARE(form.ProgressBar1->parentWidget(), form.ProgressPanel);
        QCOMPARE(form.ProgressBar1->geometry(), QRect(0, 0, 35, 16));
        QCOMPARE(form.ProgressBar1->maximum(), 100);
        form.showProgress(30, 60);
        QCOMPARE(form.ProgressBar1->maximum(), 60);
        QCOMPARE(form.ProgressBar1->value(), 30);
    }

    void gridLayoutRuleForOneAndThreeRows() {
        MainWindow form;
        QCOMPARE(kv::gui::controllerGridHeight(1), 49);
        QCOMPARE(kv::gui::controllerGridHeight(3), 99);
        for (int rows : {1, 3}) {
            QList<kv::gui::GridRowText> list;
            for (int r = 0; r < rows; ++r)
                list << kv::gui::GridRowText{false, {"T", "H", "B", "F", ""}};
            form.showControllerRows(list);
            const QRect check = form.StringGrid1->geometry();
            const QRect header = form.StringGrid3->geometry();
            const QRect body = form.StringGrid2->geometry();
            QCOMPARE(check.height(), 24 * (rows + 1) + rows);
            QCOMPARE(body.height(), 24 * (rows + 1) + rows);
            QCOMPARE(check.topLeft(), QPoint(5, body.top()));
            QCOMPARE(header.top(), 526);
            QCOMPARE(header.bottom(), body.top());  // one pixel overlap
            QCOMPARE(body.left(), check.right());   // one pixel left of the right edge
            QCOMPARE(header.left(), body.left());
            QCOMPARE(header.width(), body.width());
            QCOMPARE(form.StringGrid2->rowCount(), rows);
            QCOMPARE(form.StringGrid1->rowCount(), rows);
        }
    }

    void gridColumnsCaptionsAndLook() {
        MainWindow form;
        const int widths[] = {135, 135, 135, 135, 235};
        const QStringList captions{"Controller Type", "Hardware Version", "Bootloader Version",
                                   "Firmware Version", "Browse New Firmware"};
        QCOMPARE(form.StringGrid3->rowCount(), 1);
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(form.StringGrid2->columnWidth(c), widths[c]);
            QCOMPARE(form.StringGrid3->columnWidth(c), widths[c]);
            QCOMPARE(form.StringGrid3->item(0, c)->text(), captions[c]);
        }
        QCOMPARE(form.StringGrid2->font().pixelSize(), 15);
        QCOMPARE(form.StringGrid2->palette().color(QPalette::Text), QColor(0, 0, 128));
        QCOMPARE(form.StringGrid2->rowHeight(0), 24);
        QCOMPARE(form.StringGrid2->selectionMode(), QAbstractItemView::NoSelection);
    }

    void rowsShowTextsAndTicks() {
        MainWindow form;
        form.showControllerRows({{true, {"NRV-CTL", "2.1", "1.4", "3.0.2", "cpu.hex"}},
                                 {false, {"NRV-IN4", "1.0", "1.1", "2.2.0", ""}}});
        QCOMPARE(form.StringGrid1->item(0, 0)->text(), QStringLiteral("X"));
        QCOMPARE(form.StringGrid1->item(1, 0)->text(), QString());
        QCOMPARE(form.StringGrid2->item(0, 4)->text(), QStringLiteral("cpu.hex"));
        QCOMPARE(form.StringGrid2->item(1, 0)->text(), QStringLiteral("NRV-IN4"));
        // Back to one empty row.
        form.showControllerRows({});
        QCOMPARE(form.StringGrid2->rowCount(), 1);
        QCOMPARE(form.StringGrid2->item(0, 0)->text(), QString());
        QCOMPARE(form.StringGrid1->item(0, 0)->text(), QString());
    }

    void gridMouseUpReportsCellsOnlyWhenEnabled() {
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.showControllerRows({{false, {"A", "", "", "", ""}}, {false, {"B", "", "", "", ""}}});
        QSignalSpy checks(&form, &MainWindow::checkCellReleased);
        QSignalSpy files(&form, &MainWindow::fileCellReleased);

        const QPoint secondCheck(12, 24 + 12);
        QTest::mouseClick(form.StringGrid1->viewport(), Qt::LeftButton, {}, secondCheck);
        QCOMPARE(checks.size(), 0);  // disabled until an inventory is shown

        form.enableElement(kv::UiElement::Grids, true);
        QTest::mouseClick(form.StringGrid1->viewport(), Qt::LeftButton, {}, secondCheck);
        QCOMPARE(checks.size(), 1);
        QCOMPARE(checks.front().front().toInt(), 1);

        const QPoint fileCell(4 * 135 + 20, 12);
        QTest::mouseClick(form.StringGrid2->viewport(), Qt::LeftButton, {}, fileCell);
        QCOMPARE(files.size(), 1);
        QCOMPARE(files.front().at(0).toInt(), 4);
        QCOMPARE(files.front().at(1).toInt(), 0);
    }

    void hoverFeedback() {
        MainWindow form;
        hover(form.Panel2, true);
        QCOMPARE(form.Panel2->backgroundColor(), QColor(Qt::black));
        QCOMPARE(form.Panel2->textColor(), QColor(Qt::white));
        hover(form.Panel2, false);
        QCOMPARE(form.Panel2->backgroundColor(), kButtonGrey);
        QCOMPARE(form.Panel2->textColor(), QColor(Qt::black));

        form.enableElement(kv::UiElement::Upgrade, true);
        hover(form.Panel1, true);
        QCOMPARE(form.Panel1->backgroundColor(), QColor(Qt::black));
        QCOMPARE(form.Panel1->textColor(), QColor(Qt::white));
        hover(form.Panel1, false);
        QCOMPARE(form.Panel1->backgroundColor(), kBandGrey);
        QCOMPARE(form.Panel1->textColor(), QColor(192, 192, 192));

        hover(form.Label12, true);
        QCOMPARE(form.Label12->textColor(), QColor(Qt::yellow));
        hover(form.Label12, false);
        QCOMPARE(form.Label12->textColor(), QColor(Qt::white));
    }

    void buttonsReportClicks() {
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QSignalSpy find(&form, &MainWindow::findClicked);
        QSignalSpy upgrade(&form, &MainWindow::upgradeClicked);
        QSignalSpy about(&form, &MainWindow::aboutClicked);
        QSignalSpy close(&form, &MainWindow::closeRequested);

        QTest::mouseClick(form.Panel2, Qt::LeftButton);
        QTest::mouseClick(form.Panel7, Qt::LeftButton);
        QTest::mouseClick(form.Image9, Qt::LeftButton);  // disabled at start
        QCOMPARE(upgrade.size(), 0);
        form.enableElement(kv::UiElement::Upgrade, true);
        QTest::mouseClick(form.Image9, Qt::LeftButton);
        QTest::mouseClick(form.Label12, Qt::LeftButton);
        QCOMPARE(find.size(), 1);
        QCOMPARE(about.size(), 1);
        QCOMPARE(upgrade.size(), 1);
        QCOMPARE(close.size(), 1);
    }

    void closingGoesThroughTheCloseQuery() {
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QSignalSpy asked(&form, &MainWindow::closeRequested);
        QVERIFY(!form.close());
        QVERIFY(form.isVisible());
        QCOMPARE(asked.size(), 1);
        form.allowClose();
        QVERIFY(form.close());
        QVERIFY(!form.isVisible());
    }

    void popupMenuEntries() {
        MainWindow form;
        QStringList captions;
        QList<QAction*> actions = form.PopupMenu1->actions();
        for (QAction* action : actions) {
            captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        QCOMPARE(captions, (QStringList{"Handle as RV-CTL2", "Handle as HQLX-FBR",
                                        "Handle as NRV-FK-TW-SN500", "Handle as NRV-TW-SN500S",
                                        "Handle as RV6x6-2WQRI-Max", "Handle as NRV5x5",
                                        "Handle as LNK-FBR-RC-330", "-", "Cancel"}));
    }

    void rightClickSelectsOnlyInTheNetworkList() {
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.showTreeEntries(form.TreeView1, {"10.0.0.1 a", "10.0.0.2 b"});
        form.showTreeEntries(form.TreeView2, {"COM1", "COM2"});
        form.TreeView1->setCurrentItem(form.TreeView1->topLevelItem(0));
        form.TreeView2->setCurrentItem(form.TreeView2->topLevelItem(0));

        QTest::mousePress(form.TreeView1->viewport(), Qt::RightButton, {},
                          centreOfRow(form.TreeView1, 1));
        QTRY_VERIFY(form.PopupMenu1->isVisible());
        QCOMPARE(MainWindow::selectedIndex(form.TreeView1), 1);
        form.PopupMenu1->hide();

        QTest::mousePress(form.TreeView2->viewport(), Qt::RightButton, {},
                          centreOfRow(form.TreeView2, 1));
        QTRY_VERIFY(form.PopupMenu1->isVisible());
        QCOMPARE(MainWindow::selectedIndex(form.TreeView2), 0);

        // A chosen entry carries its place in the menu and both selections.
        QSignalSpy chosen(&form, &MainWindow::handleAsChosen);
        form.PopupMenu1->actions().at(4)->trigger();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.front(), (QVariantList{4, 1, 0}));
        form.PopupMenu1->hide();
    }

    void doubleClicksCarryTheSelectedEntry() {
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.showTreeEntries(form.TreeView1, {"10.0.0.1", "10.0.0.2"});
        form.showUsbRows({{"Panel", "S1", "0"}, {"Panel", "S2", "1"}});
        QSignalSpy network(&form, &MainWindow::networkDoubleClicked);
        QSignalSpy com(&form, &MainWindow::comDoubleClicked);
        QSignalSpy usb(&form, &MainWindow::usbDoubleClicked);

        QTest::mouseDClick(form.TreeView2->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
        QCOMPARE(com.size(), 1);
        QCOMPARE(com.front().front().toInt(), -1);  // nothing selected

        const QPoint second = centreOfRow(form.TreeView1, 1);
        QTest::mouseClick(form.TreeView1->viewport(), Qt::LeftButton, {}, second);
        QTest::mouseDClick(form.TreeView1->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(network.size(), 1);
        QCOMPARE(network.front().front().toInt(), 1);

        const QPoint usbRow = form.USBView->visualItemRect(form.USBView->topLevelItem(1)).center();
        QTest::mouseClick(form.USBView->viewport(), Qt::LeftButton, {}, usbRow);
        QTest::mouseDClick(form.USBView->viewport(), Qt::LeftButton, {}, usbRow);
        QCOMPARE(usb.size(), 1);
        QCOMPARE(usb.front().front().toInt(), 1);
    }

    void listRefreshKeepsTheSelection() {
        MainWindow form;
        form.showTreeEntries(form.TreeView1, {"10.0.0.1", "10.0.0.2"});
        form.TreeView1->setCurrentItem(form.TreeView1->topLevelItem(1));
        // Discovery appends the identification to an entry already listed.
        form.showTreeEntries(form.TreeView1, {"10.0.0.1", "10.0.0.2 (I:NRV5x5) (S:9)", "10.0.0.3"});
        QCOMPARE(texts(form.TreeView1),
                 (QStringList{"10.0.0.1", "10.0.0.2 (I:NRV5x5) (S:9)", "10.0.0.3"}));
        QCOMPARE(MainWindow::selectedIndex(form.TreeView1), 1);
        form.showTreeEntries(form.TreeView1, {});
        QCOMPARE(form.TreeView1->topLevelItemCount(), 0);
        QCOMPARE(MainWindow::selectedIndex(form.TreeView1), -1);
    }

    void draggingTheTitleMovesTheWindow() {
        MainWindow form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QPoint before = form.pos();
        // Without a window system move, the window follows the pointer.
        QTest::mousePress(form.TitleLabel, Qt::LeftButton, {}, QPoint(10, 10));
        QMouseEvent move(QEvent::MouseMove, QPointF(40, 30),
                         form.TitleLabel->mapToGlobal(QPointF(40, 30)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.TitleLabel, &move);
        QTest::mouseRelease(form.TitleLabel, Qt::LeftButton, {}, QPoint(40, 30));
        QCOMPARE(form.pos(), before + QPoint(30, 20));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
