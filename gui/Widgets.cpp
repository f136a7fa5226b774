#include "gui/Widgets.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QWindow>

namespace kv::gui {

namespace {

// Disabled buttons keep their background but dim their text.
const QColor kDisabledText(110, 110, 110);

bool releasedInside(const QWidget* widget, const QMouseEvent* event) {
    return widget->rect().contains(event->position().toPoint());
}

}  // namespace

HoverPanel::HoverPanel(Look normal, Look hover, QWidget* parent)
    : QWidget(parent), normal_(normal), hover_(hover) {
    setAttribute(Qt::WA_Hover);
    applyLook();
}

QLabel* HoverPanel::addCaption(const QString& text, const QFont& font, const QRect& geometry) {
    auto* label = new QLabel(text, this);
    label->setFont(font);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignCenter);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    applyLook();
    return label;
}

QColor HoverPanel::backgroundColor() const {
    return hovered_ ? hover_.background : normal_.background;
}

QColor HoverPanel::textColor() const {
    if (!isEnabled()) return kDisabledText;
    return hovered_ ? hover_.text : normal_.text;
}

void HoverPanel::applyLook() {
    const QColor text = textColor();
    for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, text);
        label->setPalette(palette);
    }
    update();
}

void HoverPanel::enterEvent(QEnterEvent* event) {
    hovered_ = isEnabled();
    applyLook();
    QWidget::enterEvent(event);
}

void HoverPanel::leaveEvent(QEvent* event) {
    hovered_ = false;
    pressed_ = false;
    applyLook();
    QWidget::leaveEvent(event);
}

void HoverPanel::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void HoverPanel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && releasedInside(this, event);
    pressed_ = false;
    event->accept();
    if (click) emit clicked();
}

void HoverPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor());
}

void HoverPanel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) hovered_ = false;
        applyLook();
    }
    QWidget::changeEvent(event);
}

ClickLabel::ClickLabel(const QString& text, QColor normal, QColor hover, QWidget* parent)
    : QLabel(text, parent), normal_(normal), hover_(hover) {
    applyColor();
}

void ClickLabel::applyColor() {
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, textColor());
    setPalette(palette);
}

void ClickLabel::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    applyColor();
    QLabel::enterEvent(event);
}

void ClickLabel::leaveEvent(QEvent* event) {
    hovered_ = false;
    pressed_ = false;
    applyColor();
    QLabel::leaveEvent(event);
}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
    // Accepted, so a press on the close mark never starts a window move.
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && releasedInside(this, event);
    pressed_ = false;
    event->accept();
    if (click) emit clicked();
}

ClickImage::ClickImage(QPixmap picture, QPoint at, QWidget* parent)
    : QWidget(parent), picture_(std::move(picture)), at_(at) {}

void ClickImage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!isEnabled()) painter.setOpacity(0.45);
    painter.drawPixmap(at_, picture_);
}

void ClickImage::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void ClickImage::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && releasedInside(this, event);
    pressed_ = false;
    event->accept();
    if (click) emit clicked();
}

WindowDragger::WindowDragger(QWidget* window) : QObject(window), window_(window) {}

void WindowDragger::watch(QWidget* handle) {
    handle->installEventFilter(this);
}

bool WindowDragger::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            QWindow* handle = window_->windowHandle();
            if (handle && handle->startSystemMove()) return true;
            following_ = true;
            grabOffset_ = mouse->globalPosition().toPoint() - window_->frameGeometry().topLeft();
            return true;
        }
        case QEvent::MouseMove:
            if (following_) {
                auto* mouse = static_cast<QMouseEvent*>(event);
                window_->move(mouse->globalPosition().toPoint() - grabOffset_);
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (following_) {
                following_ = false;
                return true;
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void CheckCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    // A failure while drawing leaves the cell as drawn so far.
    try {
        QStyleOptionButton box;
        const QWidget* widget = option.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const QRect indicator = style->subElementRect(QStyle::SE_CheckBoxIndicator, &box, widget);
        box.rect = QRect(option.rect.x() + (option.rect.width() - indicator.width()) / 2,
                         option.rect.y() + (option.rect.height() - indicator.height()) / 2,
                         indicator.width(), indicator.height());
        box.state = QStyle::State_Enabled;
        if (!(option.state & QStyle::State_Enabled)) box.state = QStyle::State_None;
        box.state |= index.data(Qt::DisplayRole).toString() == QLatin1String("X")
                         ? QStyle::State_On
                         : QStyle::State_Off;
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, widget);
    } catch (...) {
    }
}

}  // namespace kv::gui
