#pragma once

#include "gui/FramedDialog.h"

class QPushButton;

namespace kv::gui {

// TForm2: the About window, shown modally by ABOUT.
class TForm2 : public FramedDialog {
    Q_OBJECT
  public:
    static constexpr int kWidth = 405;
    static constexpr int kHeight = 233;

    explicit TForm2(QWidget* parent = nullptr);

    QPushButton* CloseButton = nullptr;
};

}  // namespace kv::gui
