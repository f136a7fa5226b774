#include "gui/ReportWindow.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "gui/GuiText.h"

namespace kv::gui {

namespace {

const QColor kSuccessGreen(0, 128, 0);
const QColor kFailureRed(255, 0, 0);

void setVerdictColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

}  // namespace

ReportWindow::ReportWindow(QWidget* parent) : FramedDialog(kWidth, kHeight, parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Upgrade report"));
    QWidget* p = panel();

    auto* caption = new QLabel(QStringLiteral("Upgrade report"), p);
    caption->setObjectName(QStringLiteral("Caption"));
    caption->setFont(arialPx(13, true));
    caption->setGeometry(43, 8, 230, 20);

    Memo1 = new QPlainTextEdit(p);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(43, 32, 230, 126);
    Memo1->setReadOnly(true);
    Memo1->setFont(arialPx(11));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);

    Label3 = new QLabel(QStringLiteral("Upgrade Success"), p);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setFont(arialPx(19, true));
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setGeometry(13, 166, 290 - 13, 30);
    setVerdictColor(Label3, kSuccessGreen);

    OkButton = new QPushButton(QStringLiteral("OK"), p);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    OkButton->setFont(arialPx(12));
    OkButton->setGeometry((p->width() - 75) / 2, 208, 75, 26);
    OkButton->setDefault(true);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
}

void ReportWindow::setReport(const QStringList& lines, const QString& verdict, bool success) {
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
    Label3->setText(verdict);
    setVerdictColor(Label3, success ? kSuccessGreen : kFailureRed);
}

QColor ReportWindow::verdictColor() const {
    return Label3->palette().color(QPalette::WindowText);
}

}  // namespace kv::gui
