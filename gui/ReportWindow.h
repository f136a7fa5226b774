#pragma once

#include <QStringList>

#include "gui/FramedDialog.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kv::gui {

// ReportWindow: the upgrade report window: the report text (Memo1), the verdict (Label3)
// and an OK button. Filled and shown modally at the end of an upgrade.
class ReportWindow : public FramedDialog {
    Q_OBJECT
  public:
    static constexpr int kWidth = 308;
    static constexpr int kHeight = 257;

    explicit ReportWindow(QWidget* parent = nullptr);

    // Report lines and verdict: green when every row succeeded, red otherwise.
    void setReport(const QStringList& lines, const QString& verdict, bool success);
    QColor verdictColor() const;

    QPlainTextEdit* Memo1 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* OkButton = nullptr;
};

}  // namespace kv::gui
