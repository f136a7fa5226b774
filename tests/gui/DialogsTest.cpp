#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "GuiTestSupport.h"
#include "gui/AboutWindow.h"
#include "gui/AddIpWindow.h"
#include "gui/MainWindow.h"
#include "gui/MessageBoxes.h"
#include "gui/QtUi.h"
#include "gui/ReportWindow.h"

using kv::DialogKind;
using kv::MsgButton;
using kv::gui::test::onNextModal;

namespace {

// Runs the question on the GUI thread and reports which button had the keyboard focus
// while it was open; the box is answered with Escape.
QMessageBox::StandardButton focusWhileAsking(const std::vector<MsgButton>& buttons,
                                             int defaultIndex) {
    kv::gui::MainWindow main;
    kv::gui::ReportWindow report;
    kv::gui::QtUi ui(main, report);
    QMessageBox::StandardButton focused = QMessageBox::NoButton;
    onNextModal([&](QWidget* box) {
        auto* question = qobject_cast<QMessageBox*>(box);
        QTRY_VERIFY(question->focusWidget() != nullptr);
        focused = question->standardButton(qobject_cast<QAbstractButton*>(question->focusWidget()));
        box->close();
    });
    ui.ask(kv::QuestionId::ConfirmUpgrade, "Proceed?", DialogKind::Confirmation, buttons,
           defaultIndex);
    return focused;
}

// What Qt focuses by itself in a box with these buttons.
QMessageBox::StandardButton qtOwnFocus(QMessageBox::StandardButtons buttons) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("Proceed?"),
                    buttons);
    QMessageBox::StandardButton focused = QMessageBox::NoButton;
    onNextModal([&](QWidget*) {
        QTRY_VERIFY(box.focusWidget() != nullptr);
        focused = box.standardButton(qobject_cast<QAbstractButton*>(box.focusWidget()));
        box.close();
    });
    box.exec();
    return focused;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void aboutWindow() {
        kv::gui::AboutWindow about;
        QCOMPARE(about.size(), QSize(405, 233));
        QVERIFY(about.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(about.panel()->geometry(), QRect(2, 2, 401, 229));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("ProductName"))->text(),
                 QStringLiteral("Korvandel Bootloader"));
        QVERIFY(about.findChild<QLabel*>(QStringLiteral("MakerName"))->font().bold());
        for (const char* contact : {"Address", "Telephone", "Fax", "Email"}) {
            QVERIFY(!about.findChild<QLabel*>(QLatin1String(contact))->text().isEmpty());
        }
        onNextModal([&](QWidget*) { about.CloseButton->click(); });
        QCOMPARE(about.exec(), int(QDialog::Accepted));
        QVERIFY(!about.isVisible());
    }

    void reportWindow() {
        kv::gui::ReportWindow report;
        QCOMPARE(report.size(), QSize(308, 257));
        QCOMPARE(report.Memo1->geometry(), QRect(43, 32, 230, 126));
        QCOMPARE(report.Label3->text(), QStringLiteral("Upgrade Success"));
        QCOMPARE(report.Label3->font().pixelSize(), 19);
        QVERIFY(report.Label3->font().bold());
        QCOMPARE(report.verdictColor(), QColor(0, 128, 0));
        QVERIFY(report.Memo1->geometry().bottom() < report.Label3->geometry().top());

        report.setReport({"UPGRADE PROCEDURE REPORT", "NRV-IN4...FAILED"},
                         QStringLiteral("Upgrade FAILED"), false);
        QCOMPARE(report.Memo1->toPlainText(),
                 QStringLiteral("UPGRADE PROCEDURE REPORT\nNRV-IN4...FAILED"));
        QCOMPARE(report.Label3->text(), QStringLiteral("Upgrade FAILED"));
        QCOMPARE(report.verdictColor(), QColor(255, 0, 0));
        report.setReport({"UPGRADE PROCEDURE REPORT"}, QStringLiteral("Upgrade successful"), true);
        QCOMPARE(report.verdictColor(), QColor(0, 128, 0));

        onNextModal([&](QWidget*) { report.OkButton->click(); });
        QCOMPARE(report.exec(), int(QDialog::Accepted));
    }

    void addIpWindowLayout() {
        kv::gui::AddIpWindow form;
        QCOMPARE(form.size(), QSize(433, 119));
        QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(form.Label1->text(), QStringLiteral("IP Address:"));
        QCOMPARE(form.CheckBox1->text(), QStringLiteral("Use the following TCP Port:"));
        QCOMPARE(form.Label2->text(), QStringLiteral("Port:"));
        QCOMPARE(form.Button1->text(), QStringLiteral("Add"));
        QCOMPARE(form.Button2->text(), QStringLiteral("Cancel"));
        for (QPushButton* button : {form.Button1, form.Button2}) {
            QVERIFY(button->isFlat());
            QVERIFY(button->styleSheet().contains(QStringLiteral("rgb(255,251,240)")));
            QVERIFY(button->styleSheet().contains(QStringLiteral(":pressed")));
            QVERIFY(button->styleSheet().contains(QStringLiteral("rgb(255,239,198)")));
        }
    }

    void addIpPortCheckBoxEnablesThePortField() {
        kv::gui::AddIpWindow form;
        QVERIFY(!form.CheckBox1->isChecked());
        QVERIFY(!form.Edit2->isEnabled());
        QVERIFY(!form.Label2->isEnabled());
        form.CheckBox1->click();
        QVERIFY(form.Edit2->isEnabled());
        QVERIFY(form.Label2->isEnabled());
        form.CheckBox1->click();
        QVERIFY(!form.Edit2->isEnabled());
        QVERIFY(!form.Label2->isEnabled());
    }

    void addIpAddAndCancel() {
        kv::gui::AddIpWindow form;
        QSignalSpy added(&form, &kv::gui::AddIpWindow::addRequested);

        // Empty address: nothing happens and the window stays open.
        form.show();
        form.Button1->click();
        QCOMPARE(added.size(), 0);
        QVERIFY(form.isVisible());

        form.Edit1->setText(QStringLiteral("10.1.2.3"));
        form.CheckBox1->click();
        form.Edit2->setText(QStringLiteral("10001"));
        form.Button1->click();
        QCOMPARE(added.size(), 1);
        QCOMPARE(added.front(), (QVariantList{"10.1.2.3", true, "10001"}));
        QVERIFY(!form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Accepted));

        form.show();
        form.Button2->click();
        QVERIFY(!form.isVisible());
        QCOMPARE(added.size(), 1);

        // An address of blanks only counts as empty.
        form.Edit1->setText(QStringLiteral("   "));
        form.show();
        form.Button1->click();
        QVERIFY(form.isVisible());
        QCOMPARE(added.size(), 1);
    }

    // A port that is no number: the message comes while the window is still open, then
    // the window closes and nothing is added.
    void addIpMisstypedPortIsToldBeforeTheWindowCloses() {
        kv::gui::AddIpWindow form;
        QSignalSpy added(&form, &kv::gui::AddIpWindow::addRequested);
        form.Edit1->setText(QStringLiteral("10.1.2.3"));
        form.CheckBox1->click();
        form.Edit2->setText(QStringLiteral("100x1"));
        form.show();

        QString told;
        bool formOpenMeanwhile = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            told = box->text();
            formOpenMeanwhile = form.isVisible();
            box->accept();
        });
        form.Button1->click();

        QCOMPARE(told, QStringLiteral("Misstyped IP or port number"));
        QVERIFY(formOpenMeanwhile);
        QVERIFY(!form.isVisible());
        QCOMPARE(added.size(), 0);
    }

    void askFocusesTheDefaultButton() {
        QCOMPARE(focusWhileAsking({MsgButton::Yes, MsgButton::Cancel}, int(MsgButton::Cancel)),
                 QMessageBox::Cancel);
        QCOMPARE(focusWhileAsking({MsgButton::Yes, MsgButton::No}, int(MsgButton::No)),
                 QMessageBox::No);
        QCOMPARE(focusWhileAsking({MsgButton::Yes, MsgButton::Cancel}, int(MsgButton::Yes)),
                 QMessageBox::Yes);
    }

    void askLeavesQtsFocusWhenTheDefaultButtonIsAbsent() {
        const QMessageBox::StandardButton own = qtOwnFocus(QMessageBox::Yes | QMessageBox::Cancel);
        QVERIFY(own != QMessageBox::NoButton);
        QCOMPARE(focusWhileAsking({MsgButton::Yes, MsgButton::Cancel}, int(MsgButton::No)), own);
        QCOMPARE(focusWhileAsking({MsgButton::Yes, MsgButton::Cancel}, 42), own);
    }

    void askReturnsTheButtonPressed() {
        kv::gui::MainWindow main;
        kv::gui::ReportWindow report;
        kv::gui::QtUi ui(main, report);
        onNextModal([](QWidget* box) {
            auto* question = qobject_cast<QMessageBox*>(box);
            QCOMPARE(question->icon(), QMessageBox::Question);
            QCOMPARE(question->text(), QStringLiteral("Do you really want to exit?"));
            question->button(QMessageBox::Yes)->click();
        });
        QCOMPARE(ui.ask(kv::QuestionId::ConfirmExit, "Do you really want to exit?",
                        DialogKind::Confirmation, {MsgButton::Yes, MsgButton::Cancel},
                        int(MsgButton::Cancel)),
                 MsgButton::Yes);
        // Escape answers with the box's cancel button.
        onNextModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QCOMPARE(ui.ask(kv::QuestionId::ConfirmUpgrade, "Proceed?", DialogKind::Confirmation,
                        {MsgButton::Yes, MsgButton::No}, int(MsgButton::No)),
                 MsgButton::No);
    }

    void questionBoxOffersExactlyTheGivenButtons() {
        kv::gui::QuestionBox box(
            QStringLiteral("?"), DialogKind::Warning,
            {MsgButton::Abort, MsgButton::Retry, MsgButton::Ignore, MsgButton::All},
            int(MsgButton::Retry));
        QCOMPARE(box.buttons().size(), 4);
        QCOMPARE(box.icon(), QMessageBox::Warning);
        QCOMPARE(box.defaultButton(), box.buttonFor(MsgButton::Retry));
        QCOMPARE(box.buttonFor(MsgButton::All)->text(), QStringLiteral("All"));
        QVERIFY(box.buttonFor(MsgButton::Yes) == nullptr);
    }

    void messageBoxesAreCentredOnTheScreen() {
        kv::gui::MainWindow main;
        kv::gui::ReportWindow report;
        kv::gui::QtUi ui(main, report);
        QPoint offCentre(1000, 1000);
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        onNextModal([&](QWidget* box) {
            const QRect screen = box->screen()->availableGeometry();
            offCentre = box->geometry().center() - screen.center();
            auto* message = qobject_cast<QMessageBox*>(box);
            text = message->text();
            icon = message->icon();
            message->button(QMessageBox::Ok)->click();
        });
        ui.errorBox("Error while finding:\rtimeout");
        QVERIFY2(offCentre.manhattanLength() <= 2,
                 qPrintable(QString::number(offCentre.manhattanLength())));
        QCOMPARE(text, QStringLiteral("Error while finding:\rtimeout"));
        QCOMPARE(icon, QMessageBox::Critical);
    }

    void fileFiltersInQtForm() {
        QCOMPARE(kv::gui::toQtFileFilter("Intel Hex file (*.hex)|*.hex"),
                 QStringLiteral("Intel Hex file (*.hex)"));
        QCOMPARE(kv::gui::toQtFileFilter("Korvandel Package (*.kvp)|*.kvp"),
                 QStringLiteral("Korvandel Package (*.kvp)"));
        QCOMPARE(kv::gui::toQtFileFilter("Images|*.rom;*.ro5|All files (*.*)|*.*"),
                 QStringLiteral("Images (*.rom *.ro5);;All files (*.*)"));
    }

    void openFileOffersOnlyExistingFilesOfTheFilter() {
        kv::gui::MainWindow main;
        kv::gui::ReportWindow report;
        kv::gui::QtUi ui(main, report);
        QTemporaryDir folder;
        QFile hex(folder.filePath(QStringLiteral("cpu.hex")));
        QVERIFY(hex.open(QIODevice::WriteOnly));
        hex.close();
        onNextModal([&](QWidget* open) {
            auto* dialog = qobject_cast<QFileDialog*>(open);
            QVERIFY(dialog);
            QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
            QCOMPARE(dialog->nameFilters(), QStringList{"Intel Hex file (*.hex)"});
            QVERIFY(dialog->isSizeGripEnabled());
            QVERIFY(!dialog->testOption(QFileDialog::ReadOnly));
            // Typed as an absolute path: the dialog takes it as it is, whatever its file
            // list has loaded so far.
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(QFileInfo(hex).absoluteFilePath());
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const std::optional<std::string> chosen = ui.openFile("Intel Hex file (*.hex)|*.hex");
        QVERIFY(chosen.has_value());
        QCOMPARE(QString::fromStdString(*chosen), QFileInfo(hex).absoluteFilePath());

        onNextModal([](QWidget* open) { qobject_cast<QDialog*>(open)->reject(); });
        QVERIFY(!ui.openFile("Intel Hex file (*.hex)|*.hex").has_value());
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
