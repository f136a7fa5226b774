#include "gui/MessageBoxes.h"

#include <QPushButton>

#include "gui/FramedDialog.h"
#include "gui/GuiText.h"

namespace kv::gui {

namespace {

QMessageBox::Icon iconOf(DialogKind kind) {
    switch (kind) {
        case DialogKind::Confirmation:
            return QMessageBox::Question;
        case DialogKind::Information:
            return QMessageBox::Information;
        case DialogKind::Warning:
            return QMessageBox::Warning;
        case DialogKind::Error:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

QString captionOf(DialogKind kind) {
    switch (kind) {
        case DialogKind::Confirmation:
            return QStringLiteral("Confirm");
        case DialogKind::Information:
            return QStringLiteral("Information");
        case DialogKind::Warning:
            return QStringLiteral("Warning");
        case DialogKind::Error:
            return QStringLiteral("Error");
    }
    return QString();
}

QAbstractButton* addMsgButton(QMessageBox& box, MsgButton button) {
    switch (button) {
        case MsgButton::Yes:
            return box.addButton(QMessageBox::Yes);
        case MsgButton::No:
            return box.addButton(QMessageBox::No);
        case MsgButton::OK:
            return box.addButton(QMessageBox::Ok);
        case MsgButton::Cancel:
            return box.addButton(QMessageBox::Cancel);
        case MsgButton::Abort:
            return box.addButton(QMessageBox::Abort);
        case MsgButton::Retry:
            return box.addButton(QMessageBox::Retry);
        case MsgButton::Ignore:
            return box.addButton(QMessageBox::Ignore);
        case MsgButton::All:
            // Qt has no standard "All" button.
            return box.addButton(QStringLiteral("All"), QMessageBox::YesRole);
        case MsgButton::NoToAll:
            return box.addButton(QMessageBox::NoToAll);
        case MsgButton::YesToAll:
            return box.addButton(QMessageBox::YesToAll);
        case MsgButton::Help:
            return box.addButton(QMessageBox::Help);
    }
    return nullptr;
}

}  // namespace

void CentredMessageBox::showEvent(QShowEvent* event) {
    // The box has its final size here and is not on the screen yet.
    QMessageBox::showEvent(event);
    centreOnScreen(this);
}

QuestionBox::QuestionBox(const QString& text, DialogKind kind,
                         const std::vector<MsgButton>& buttons, int defaultIndex) {
    setIcon(iconOf(kind));
    setWindowTitle(captionOf(kind));
    setText(text);
    for (MsgButton b : buttons) {
        if (buttonFor(b)) continue;
        if (QAbstractButton* added = addMsgButton(*this, b)) buttons_[added] = b;
    }
    if (std::optional<MsgButton> focus = focusedButton(buttons, defaultIndex)) {
        if (auto* push = qobject_cast<QPushButton*>(buttonFor(*focus))) {
            setDefaultButton(push);
            push->setFocus();
        }
    }
}

QAbstractButton* QuestionBox::buttonFor(MsgButton button) const {
    for (const auto& [widget, which] : buttons_) {
        if (which == button) return widget;
    }
    return nullptr;
}

MsgButton QuestionBox::answer() const {
    auto it = buttons_.find(clickedButton());
    return it == buttons_.end() ? MsgButton::Cancel : it->second;
}

QString toQtFileFilter(const std::string& filter) {
    const QStringList parts = toQ(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        // Qt reads the patterns from the parentheses; add them when the description has none.
        const QString patterns = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
        if (patterns.isEmpty() || description.contains(QLatin1Char('('))) {
            filters << description;
        } else {
            filters << QStringLiteral("%1 (%2)").arg(
                description, QString(patterns).replace(QLatin1Char(';'), QLatin1Char(' ')));
        }
    }
    return filters.join(QStringLiteral(";;"));
}

}  // namespace kv::gui
