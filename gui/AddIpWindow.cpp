#include "gui/AddIpWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "discovery/AddIp.h"
#include "gui/GuiText.h"
#include "gui/MessageBoxes.h"

namespace kv::gui {

namespace {

// Flat cream buttons that darken while pressed.
constexpr const char* kCreamButton =
    "QPushButton { background-color: rgb(255,251,240); border: 1px solid rgb(214,204,180);"
    " padding: 2px; }"
    "QPushButton:pressed { background-color: rgb(255,239,198); }";

QPushButton* creamButton(QWidget* parent, const char* name, const QString& text, const QRect& at) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setFont(arialPx(12));
    button->setGeometry(at);
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setStyleSheet(QLatin1String(kCreamButton));
    return button;
}

}  // namespace

AddIpWindow::AddIpWindow(QWidget* parent) : FramedDialog(kWidth, kHeight, parent) {
    setObjectName(QStringLiteral("AddIPForm"));
    setWindowTitle(QStringLiteral("Add IP"));
    QWidget* p = panel();

    Label1 = new QLabel(QStringLiteral("IP Address:"), p);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(arialPx(12));
    Label1->setGeometry(16, 14, 80, 22);
    Edit1 = new QLineEdit(p);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFont(arialPx(12));
    Edit1->setGeometry(100, 14, 160, 22);

    CheckBox1 = new QCheckBox(QStringLiteral("Use the following TCP Port:"), p);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setFont(arialPx(12));
    CheckBox1->setGeometry(16, 46, 200, 22);
    Label2 = new QLabel(QStringLiteral("Port:"), p);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(arialPx(12));
    Label2->setGeometry(226, 46, 34, 22);
    Edit2 = new QLineEdit(p);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setFont(arialPx(12));
    Edit2->setGeometry(262, 46, 80, 22);
    Label2->setEnabled(false);
    Edit2->setEnabled(false);
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });

    Button1 = creamButton(p, "Button1", QStringLiteral("Add"), QRect(250, 82, 80, 25));
    Button2 = creamButton(p, "Button2", QStringLiteral("Cancel"), QRect(338, 82, 80, 25));
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void AddIpWindow::CheckBox1Click() {
    const bool usePort = CheckBox1->isChecked();
    Label2->setEnabled(usePort);
    Edit2->setEnabled(usePort);
}

void AddIpWindow::Button1Click() {
    // Nothing typed (blanks count as nothing): the window stays open.
    if (Edit1->text().trimmed().isEmpty()) return;
    // A port that is no number is told while the window is still open; then it closes
    // and nothing is added.
    if (CheckBox1->isChecked() && !ParsePortNumber(fromQ(Edit2->text()))) {
        CentredMessageBox box(QMessageBox::NoIcon, QStringLiteral("Korvandel Bootloader"),
                              QStringLiteral("Misstyped IP or port number"), QMessageBox::Ok, this);
        box.exec();
        reject();
        return;
    }
    emit addRequested(Edit1->text(), CheckBox1->isChecked(), Edit2->text());
    accept();
}

}  // namespace kv::gui
