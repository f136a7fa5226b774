#pragma once

#include <QDialog>

namespace kv::gui {

// Moves a top-level widget to the centre of its screen.
void centreOnScreen(QWidget* window);

// A borderless window of a fixed size: a two-pixel black frame around a white panel
// that holds the content. It opens centred on the screen.
class FramedDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kFrameWidth = 2;

    FramedDialog(int width, int height, QWidget* parent);
    QWidget* panel() const { return panel_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* panel_;
};

}  // namespace kv::gui
