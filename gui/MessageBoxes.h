#pragma once

#include <QMessageBox>
#include <map>
#include <string>
#include <vector>

#include "core/Ui.h"

namespace kv::gui {

// A modal message box that opens centred on the screen.
class CentredMessageBox : public QMessageBox {
    Q_OBJECT
  public:
    using QMessageBox::QMessageBox;

  protected:
    void showEvent(QShowEvent* event) override;
};

// The question box of ask(): the kind's icon and caption, the given buttons, and the
// keyboard focus on the default button when the box has it; otherwise Qt's own choice.
class QuestionBox : public CentredMessageBox {
    Q_OBJECT
  public:
    QuestionBox(const QString& text, DialogKind kind, const std::vector<MsgButton>& buttons,
                int defaultIndex);

    QAbstractButton* buttonFor(MsgButton button) const;
    // The button that closed the box; Cancel when it was closed otherwise.
    MsgButton answer() const;

  private:
    std::map<QAbstractButton*, MsgButton> buttons_;
};

// "Intel Hex file (*.hex)|*.hex" (description and pattern pairs joined by "|") in the
// form of Qt's file dialogs: "Intel Hex file (*.hex)", filters separated by ";;".
QString toQtFileFilter(const std::string& filter);

}  // namespace kv::gui
