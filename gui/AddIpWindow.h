#pragma once

#include "gui/FramedDialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kv::gui {

// AddIpWindow: the Add IP window, shown modally by "Add IP". The operator types a
// module address and, optionally, the TCP port of its serial tunnel.
class AddIpWindow : public FramedDialog {
    Q_OBJECT
  public:
    static constexpr int kWidth = 433;
    static constexpr int kHeight = 119;

    explicit AddIpWindow(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;    // "IP Address:"
    QLineEdit* Edit1 = nullptr;  // address
    QCheckBox* CheckBox1 = nullptr;
    QLabel* Label2 = nullptr;        // "Port:"
    QLineEdit* Edit2 = nullptr;      // port
    QPushButton* Button1 = nullptr;  // "Add"
    QPushButton* Button2 = nullptr;  // "Cancel"

  signals:
    // "Add" with an address typed: the address, whether the port is used, the port text.
    void addRequested(const QString& address, bool usePort, const QString& port);

  private:
    void Button1Click();
    void CheckBox1Click();
};

}  // namespace kv::gui
