#pragma once

#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QWidget>

namespace kv::gui {

// A coloured panel that works as a button: it changes colours while the pointer is
// over it and reports a click (press and release inside). Caption labels added to it
// take their colour from the panel and let the mouse through.
class HoverPanel : public QWidget {
    Q_OBJECT
  public:
    struct Look {
        QColor background;
        QColor text;
    };

    HoverPanel(Look normal, Look hover, QWidget* parent);

    QLabel* addCaption(const QString& text, const QFont& font, const QRect& geometry);
    bool isHovered() const { return hovered_; }
    QColor backgroundColor() const;
    QColor textColor() const;

  signals:
    void clicked();

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void applyLook();

    Look normal_;
    Look hover_;
    bool hovered_ = false;
    bool pressed_ = false;
};

// A text label that reports clicks and shows another text colour under the pointer.
class ClickLabel : public QLabel {
    Q_OBJECT
  public:
    ClickLabel(const QString& text, QColor normal, QColor hover, QWidget* parent);
    QColor textColor() const { return hovered_ ? hover_ : normal_; }

  signals:
    void clicked();

  protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void applyColor();

    QColor normal_;
    QColor hover_;
    bool hovered_ = false;
    bool pressed_ = false;
};

// A transparent picture that takes the clicks of the button it lies on.
class ClickImage : public QWidget {
    Q_OBJECT
  public:
    ClickImage(QPixmap picture, QPoint at, QWidget* parent);

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QPixmap picture_;
    QPoint at_;
    bool pressed_ = false;
};

// Moves a frameless window while a mouse button is held on one of the watched
// widgets: the window system's own move when it offers one, else by following the
// pointer.
class WindowDragger : public QObject {
    Q_OBJECT
  public:
    explicit WindowDragger(QWidget* window);
    void watch(QWidget* handle);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* window_;
    bool following_ = false;
    QPoint grabOffset_;
};

// Draws the cells of the check column as check boxes: ticked when the cell holds "X".
class CheckCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace kv::gui
