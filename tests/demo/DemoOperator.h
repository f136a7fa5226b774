#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QTableWidget;
class QTimer;
class QWidget;

namespace kv::gui {
class Program;
class MainWindow;
}  // namespace kv::gui

namespace kv::demo {

// One controller row the operator upgrades and the file chosen for it.
struct RowChoice {
    QString controllerType;  // as the grid's first column starts
    QString file;            // absolute path
};

struct OperatorPlan {
    QString deviceAddress;  // the network list entry double-clicked
    QList<RowChoice> rows;
    QString pictures;  // folder for the pictures of each stage; empty: no pictures
    // Told as each stage begins: "FIND", "connect", "files", "UPGRADE", "report", "close".
    std::function<void(const QString& stage)> onStage;
    int findTimeoutMs = 30000;
    int connectTimeoutMs = 90000;
    int choiceTimeoutMs = 15000;
    int upgradeTimeoutMs = 240000;
    int closeTimeoutMs = 60000;
    // Message and error boxes that come up during UPGRADE (a run whose rows fail) are read
    // and acknowledged; otherwise any of them ends the run as a failure.
    bool acknowledgeUpgradeMessages = false;
};

struct OperatorResult {
    bool ok = false;
    QString failure;  // the stage that did not happen, and what was seen instead
    QString reportText;
    QString verdict;
    QStringList pictures;
    QStringList upgradeMessages;  // the boxes acknowledged during UPGRADE, in order
};

// Plays the operator on a started Program: FIND, a double click on the device, a tick
// and a file for each planned row, UPGRADE, the report, and closing the program. Every
// question is answered as an operator would; any other dialog ends the run as a
// failure. Every wait is bounded. Runs on the GUI thread.
class DemoOperator {
  public:
    DemoOperator(gui::Program& program, OperatorPlan plan);
    ~DemoOperator();
    DemoOperator(const DemoOperator&) = delete;
    DemoOperator& operator=(const DemoOperator&) = delete;

    OperatorResult run();

  private:
    void find();
    void connectDevice();
    void chooseRow(const RowChoice& choice);
    void upgrade();
    void closeProgram();

    void answerModal();
    void answerReport(QWidget* report);
    template <typename Predicate>
    void waitFor(Predicate done, int timeoutMs, const QString& stage);
    void stage(const char* name);
    void save(QWidget* widget, const QString& name);
    int rowOf(const QString& controllerType) const;
    void click(QTableWidget* grid, int row, int column);

    gui::Program& program_;
    gui::MainWindow& main_;
    OperatorPlan plan_;
    OperatorResult result_;
    QTimer* modalWatch_ = nullptr;
    QPointer<QWidget> answered_;
    QString pendingFile_;
    QString unexpected_;
    bool reportSeen_ = false;
    bool upgrading_ = false;
};

}  // namespace kv::demo
