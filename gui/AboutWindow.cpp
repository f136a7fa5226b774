#include "gui/AboutWindow.h"

#include <QLabel>
#include <QPushButton>

#include "gui/GuiText.h"

namespace kv::gui {

namespace {

QLabel* line(QWidget* parent, const char* name, const QString& text, int y, const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(font);
    label->setGeometry(20, y, parent->width() - 40, font.pixelSize() + 8);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return label;
}

}  // namespace

AboutWindow::AboutWindow(QWidget* parent) : FramedDialog(kWidth, kHeight, parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("About"));
    QWidget* p = panel();
    line(p, "MakerName", QStringLiteral("Korvandel Audio Visual Systems"), 14, arialPx(17, true));
    line(p, "ProductName", QStringLiteral("Korvandel Bootloader"), 42, arialPx(14));
    line(p, "Address", QStringLiteral("7 Lantern Street, 1100 Korvandel"), 78, arialPx(12));
    line(p, "Telephone", QStringLiteral("Telephone: +00 1 555 0170"), 98, arialPx(12));
    line(p, "Fax", QStringLiteral("Fax: +00 1 555 0179"), 118, arialPx(12));
    line(p, "Email", QStringLiteral("E-mail: support@korvandel.example"), 138, arialPx(12));

    CloseButton = new QPushButton(QStringLiteral("Close"), p);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    CloseButton->setFont(arialPx(12));
    CloseButton->setGeometry((p->width() - 80) / 2, 182, 80, 26);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace kv::gui
