#pragma once

#include "gui/FramedDialog.h"

class QPushButton;

namespace kv::gui {

// AboutWindow: the About window, shown modally by ABOUT.
class AboutWindow : public FramedDialog {
    Q_OBJECT
  public:
    static constexpr int kWidth = 405;
    static constexpr int kHeight = 233;

    explicit AboutWindow(QWidget* parent = nullptr);

    QPushButton* CloseButton = nullptr;
};

}  // namespace kv::gui
