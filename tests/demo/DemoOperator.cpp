#include "DemoOperator.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <stdexcept>

#include "gui/MainWindow.h"
#include "gui/Program.h"
#include "gui/ReportWindow.h"
#include "gui/Widgets.h"

namespace kv::demo {

namespace {

// How often the operator looks for a dialog that has opened.
constexpr int kModalPollMs = 20;
constexpr int kWaitStepMs = 20;
// Time for the window to draw what the engine just showed before it is pictured.
constexpr int kSettleMs = 300;

const QString kConnectQuestion =
    QStringLiteral("Do you want to establish connenction with the device?");
const QString kPathQuestion = QStringLiteral("Do you really want to modify the path?");
const QString kUpgradeQuestion = QStringLiteral("Do you really want to upgrade?");
const QString kExitQuestion = QStringLiteral("Do you really want to exit?");

struct StageFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

QString cellText(const QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QString();
}

QTreeWidgetItem* entryOf(const QTreeWidget* tree, const QString& address) {
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tree->topLevelItem(i);
        if (item->text(0).startsWith(address + QLatin1Char(' '))) return item;
    }
    return nullptr;
}

}  // namespace

DemoOperator::DemoOperator(gui::Program& program, OperatorPlan plan)
    : program_(program), main_(program.mainWindow()), plan_(std::move(plan)) {
    modalWatch_ = new QTimer(qApp);
    QObject::connect(modalWatch_, &QTimer::timeout, [this] { answerModal(); });
}

DemoOperator::~DemoOperator() {
    delete modalWatch_;
}

OperatorResult DemoOperator::run() {
    if (!plan_.pictures.isEmpty()) QDir().mkpath(plan_.pictures);
    modalWatch_->start(kModalPollMs);
    try {
        waitFor([this] { return main_.isVisible(); }, 10000, "the main window to show");
        QTest::qWait(kSettleMs);
        save(&main_, "01-started.png");
        stage("FIND");
        find();
        stage("connect");
        connectDevice();
        stage("files");
        for (const RowChoice& choice : plan_.rows) chooseRow(choice);
        save(&main_, "04-files-chosen.png");
        stage("UPGRADE");
        upgrade();
        stage("close");
        closeProgram();
        result_.ok = true;
    } catch (const StageFailed& e) {
        result_.failure = QString::fromStdString(e.what());
        save(&main_, "failed.png");
    }
    modalWatch_->stop();
    return result_;
}

void DemoOperator::find() {
    QTest::mouseClick(main_.Panel2, Qt::LeftButton);
    waitFor(
        [this] {
            QTreeWidgetItem* item = entryOf(main_.TreeView1, plan_.deviceAddress);
            // A device a dead run left switched over cannot name itself to FIND: its
            // bare address is listed, and connecting to it brings it back.
            return item && (item->text(0).contains(QLatin1String("(I:")) ||
                            main_.Panel8->isHidden());
        },
        plan_.findTimeoutMs, "FIND to list " + plan_.deviceAddress);
    waitFor([this] { return main_.Panel8->isHidden(); }, plan_.findTimeoutMs, "the end of FIND");
    save(&main_, "02-found.png");
}

void DemoOperator::connectDevice() {
    QTreeWidgetItem* item = entryOf(main_.TreeView1, plan_.deviceAddress);
    if (!item) throw StageFailed("the device left the network list before the double click");
    main_.TreeView1->setCurrentItem(item);
    QTest::mouseDClick(main_.TreeView1->viewport(), Qt::LeftButton, {},
                       main_.TreeView1->visualItemRect(item).center());
    waitFor(
        [this] {
            if (!main_.StringGrid2->isEnabled() || !main_.Panel8->isHidden()) return false;
            for (const RowChoice& choice : plan_.rows)
                if (rowOf(choice.controllerType) < 0) return false;
            return true;
        },
        plan_.connectTimeoutMs, "the connection to list every planned controller row");
    QTest::qWait(kSettleMs);
    save(&main_, "03-connected.png");
}

void DemoOperator::chooseRow(const RowChoice& choice) {
    const int row = rowOf(choice.controllerType);
    if (row < 0) throw StageFailed("no controller row " + choice.controllerType.toStdString());
    const QString stage = choice.controllerType;
    click(main_.StringGrid1, row, 0);
    waitFor([this, row] { return cellText(main_.StringGrid1, row, 0) == QLatin1String("X"); },
            plan_.choiceTimeoutMs, "the tick of " + stage);
    pendingFile_ = choice.file;
    const QString name = QFileInfo(choice.file).fileName();
    click(main_.StringGrid2, row, 4);
    waitFor([this, row, name] { return cellText(main_.StringGrid2, row, 4) == name; },
            plan_.choiceTimeoutMs, "the file " + name + " for " + stage);
    pendingFile_.clear();
}

void DemoOperator::upgrade() {
    upgrading_ = true;
    QTest::mouseClick(main_.Image9, Qt::LeftButton);
    bool pictured = false;
    waitFor(
        [this, &pictured] {
            if (!pictured && main_.StatusText->text().startsWith(QLatin1String("Programming"))) {
                pictured = true;
                save(&main_, "05-programming.png");
            }
            return reportSeen_;
        },
        plan_.upgradeTimeoutMs, "the upgrade report");
    upgrading_ = false;
    waitFor([this] { return main_.Panel1->isEnabled(); }, plan_.choiceTimeoutMs,
            "UPGRADE to be enabled again after the report");
    QTest::qWait(kSettleMs);
    save(&main_, "07-after-upgrade.png");
}

void DemoOperator::closeProgram() {
    QTest::mouseClick(main_.Label12, Qt::LeftButton);
    waitFor([this] { return !main_.isVisible(); }, plan_.closeTimeoutMs, "the program to close");
}

void DemoOperator::answerModal() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == answered_) return;
    answered_ = modal;

    if (auto* report = qobject_cast<gui::ReportWindow*>(modal)) {
        answerReport(report);
        return;
    }
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        if (pendingFile_.isEmpty()) {
            unexpected_ = QStringLiteral("a file dialog nobody asked for");
            dialog->reject();
            return;
        }
        // Typed as an absolute path, the dialog takes it whatever its list shows.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name) {
            unexpected_ = QStringLiteral("a file dialog without a file name field");
            dialog->reject();
            return;
        }
        name->setText(pendingFile_);
        QMetaObject::invokeMethod(dialog, "accept");
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        const QString text = box->text();
        for (const QString& question :
             {kConnectQuestion, kPathQuestion, kUpgradeQuestion, kExitQuestion}) {
            if (text == question && box->button(QMessageBox::Yes)) {
                box->button(QMessageBox::Yes)->click();
                return;
            }
        }
        if (plan_.acknowledgeUpgradeMessages && upgrading_ && box->button(QMessageBox::Ok)) {
            result_.upgradeMessages << text;
            box->button(QMessageBox::Ok)->click();
            return;
        }
        unexpected_ = QStringLiteral("the message \"%1\"").arg(text);
        save(box, "unexpected-message.png");
        box->reject();
        return;
    }
    unexpected_ = QStringLiteral("a %1 window").arg(modal->metaObject()->className());
    modal->close();
}

void DemoOperator::answerReport(QWidget* window) {
    stage("report");
    auto* report = static_cast<gui::ReportWindow*>(window);
    result_.reportText = report->Memo1->toPlainText();
    result_.verdict = report->Label3->text();
    save(report, "06-report.png");
    save(&main_, "06-report-main.png");
    reportSeen_ = true;
    report->OkButton->click();
}

template <typename Predicate>
void DemoOperator::waitFor(Predicate done, int timeoutMs, const QString& stage) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (!unexpected_.isEmpty()) {
            throw StageFailed(QStringLiteral("waiting for %1, %2 appeared")
                                  .arg(stage, unexpected_)
                                  .toStdString());
        }
        if (deadline.hasExpired()) {
            throw StageFailed(QStringLiteral("%1 did not happen within %2 s (status \"%3\")")
                                  .arg(stage)
                                  .arg(timeoutMs / 1000)
                                  .arg(main_.StatusText->text())
                                  .toStdString());
        }
        QTest::qWait(kWaitStepMs);
    }
}

void DemoOperator::stage(const char* name) {
    if (plan_.onStage) plan_.onStage(QLatin1String(name));
}

void DemoOperator::save(QWidget* widget, const QString& name) {
    if (plan_.pictures.isEmpty()) return;
    const QString path = QDir(plan_.pictures).filePath(name);
    if (widget->grab().save(path)) result_.pictures << path;
}

int DemoOperator::rowOf(const QString& controllerType) const {
    const QTableWidget* grid = main_.StringGrid2;
    for (int r = 0; r < grid->rowCount(); ++r) {
        const QString type = cellText(grid, r, 0);
        // Matrix cards carry their walk number after the type.
        if (type == controllerType || type.startsWith(controllerType + QLatin1Char(' '))) return r;
    }
    return -1;
}

void DemoOperator::click(QTableWidget* grid, int row, int column) {
    const QRect cell(grid->columnViewportPosition(column), grid->rowViewportPosition(row),
                     grid->columnWidth(column), grid->rowHeight(row));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

}  // namespace kv::demo
