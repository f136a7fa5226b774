#include "gui/QtUi.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QThread>
#include <QTimer>

#include "core/ThreadCheck.h"
#include "gui/GuiText.h"
#include "gui/MainWindow.h"
#include "gui/MessageBoxes.h"
#include "gui/ReportWindow.h"

namespace kv::gui {

namespace {

QStringList toQ(const std::vector<std::string>& texts) {
    QStringList list;
    list.reserve(static_cast<qsizetype>(texts.size()));
    for (const auto& text : texts) list << kv::gui::toQ(text);
    return list;
}

}  // namespace

QtUi::QtUi(MainWindow& main, ReportWindow& report) : main_(main), report_(report) {
    quickBootload_.store(main_.CheckBox1->isChecked());
    QObject::connect(main_.CheckBox1, &QCheckBox::toggled, &main_,
                     [this](bool checked) { quickBootload_.store(checked); });
}

bool QtUi::onGuiThread() const {
    return QThread::currentThread() == main_.thread();
}

template <typename F>
void QtUi::post(F&& work) {
    if (down_.load()) return;
    if (onGuiThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(
        &main_,
        [this, work = std::forward<F>(work), mark = threadcheck::HandOverMark()]() mutable {
            mark.received();
            if (!down_.load()) work();
        },
        Qt::QueuedConnection);
}

template <typename F>
void QtUi::call(F&& work) {
    if (onGuiThread()) {
        work();
        return;
    }
    // The engine waits here until the operator answered on the GUI thread; what the GUI
    // thread wrote for it (the answer) is complete when the call returns.
    const char answered = 0;
    QMetaObject::invokeMethod(
        &main_,
        [work = std::forward<F>(work), &answered, mark = threadcheck::HandOverMark()]() mutable {
            mark.received();
            work();
            threadcheck::handedOver(&answered);
        },
        Qt::BlockingQueuedConnection);
    threadcheck::received(&answered);
}

MsgButton QtUi::safeAnswer(const std::vector<MsgButton>& buttons, int defaultIndex) {
    if (std::optional<MsgButton> focus = focusedButton(buttons, defaultIndex)) return *focus;
    return MsgButton::Cancel;
}

void QtUi::memoLine(const std::string& line) {
    post([this, text = kv::gui::toQ(line)] { main_.UDPMemo->appendPlainText(text); });
}

void QtUi::statusText(const std::string& text) {
    post([this, t = kv::gui::toQ(text)] { main_.StatusText->setText(t); });
}

void QtUi::progress(int position, int maximum) {
    post([this, position, maximum] { main_.showProgress(position, maximum); });
}

void QtUi::busyText(const std::string& text) {
    post([this, t = kv::gui::toQ(text)] { main_.Panel8->setText(t); });
}

void QtUi::busyVisible(bool visible) {
    post([this, visible] {
        main_.Panel8->setVisible(visible);
        if (visible) main_.Panel8->raise();
    });
}

void QtUi::restartBusyTimer() {
    post([this] { main_.restartBusyTimer(); });
}

void QtUi::stopBusyTimer() {
    post([this] { main_.Timer1->stop(); });
}

void QtUi::deviceProperties(const DeviceProperties& p) {
    post([this, name = kv::gui::toQ(p.name), serial = kv::gui::toQ(p.serial),
          ip = kv::gui::toQ(p.ip),
          mac = kv::gui::toQ(p.mac)] { main_.showDeviceProperties(name, serial, ip, mac); });
}

void QtUi::networkTree(const std::vector<std::string>& entries) {
    post([this, list = toQ(entries)] { main_.showTreeEntries(main_.TreeView1, list); });
}

void QtUi::comTree(const std::vector<std::string>& entries) {
    post([this, list = toQ(entries)] { main_.showTreeEntries(main_.TreeView2, list); });
}

void QtUi::usbList(const std::vector<UsbRow>& rows) {
    QList<QStringList> list;
    for (const UsbRow& row : rows) {
        list << QStringList{kv::gui::toQ(row.product), kv::gui::toQ(row.serial),
                            kv::gui::toQ(row.index)};
    }
    post([this, list] { main_.showUsbRows(list); });
}

void QtUi::controllerGrid(const std::vector<GridRow>& rows) {
    QList<GridRowText> list;
    for (const GridRow& row : rows) {
        GridRowText text;
        text.checked = row.checked;
        for (const std::string& cell : row.cells) text.cells << kv::gui::toQ(cell);
        list << text;
    }
    post([this, list] { main_.showControllerRows(list); });
}

void QtUi::enable(UiElement element, bool enabled) {
    post([this, element, enabled] { main_.enableElement(element, enabled); });
}

void QtUi::messageBox(const std::string& text) {
    if (down_.load()) return;
    call([this, t = kv::gui::toQ(text)] {
        if (down_.load()) return;
        CentredMessageBox box(QMessageBox::NoIcon, main_.windowTitle(), t, QMessageBox::Ok);
        box.exec();
    });
}

void QtUi::errorBox(const std::string& text) {
    if (down_.load()) return;
    call([this, t = kv::gui::toQ(text)] {
        if (down_.load()) return;
        CentredMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), t, QMessageBox::Ok);
        box.exec();
    });
}

MsgButton QtUi::ask(QuestionId, const std::string& text, DialogKind kind,
                    const std::vector<MsgButton>& buttons, int defaultIndex) {
    MsgButton answer = safeAnswer(buttons, defaultIndex);
    if (down_.load()) return answer;
    call([&] {
        if (down_.load()) return;
        QuestionBox box(kv::gui::toQ(text), kind, buttons, defaultIndex);
        box.exec();
        // A box the program's end closed keeps the safe answer.
        if (!down_.load()) answer = box.answer();
    });
    return answer;
}

std::optional<std::string> QtUi::openFile(const std::string& filter) {
    std::optional<std::string> chosen;
    if (down_.load()) return chosen;
    call([&] {
        if (down_.load()) return;
        QFileDialog dialog(nullptr, QStringLiteral("Open"));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setNameFilter(toQtFileFilter(filter));
        dialog.setSizeGripEnabled(true);
        if (dialog.exec() != QDialog::Accepted) return;
        const QStringList files = dialog.selectedFiles();
        if (!files.isEmpty()) chosen = fromQ(files.front());
    });
    return chosen;
}

void QtUi::showReport(const std::vector<std::string>& lines, const std::string& verdict,
                      bool success) {
    if (down_.load()) return;
    call([&] {
        if (down_.load()) return;
        report_.setReport(toQ(lines), kv::gui::toQ(verdict), success);
        report_.exec();
    });
}

void QtUi::closeMainWindow() {
    post([this] {
        main_.allowClose();
        main_.close();
    });
}

}  // namespace kv::gui
