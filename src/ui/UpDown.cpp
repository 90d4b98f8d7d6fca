#include "ui/UpDown.h"

#include "ui/ControlAccess.h"
#include "ui/Controls.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    setFocusPolicy(Qt::StrongFocus);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    up_->setAccessibleName(QStringLiteral("Up"));
    down_->setAccessibleName(QStringLiteral("Down"));
    installControlAccess(); // a spin box to a screen reader, with its value
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    col->addWidget(up_);
    col->addWidget(down_);
    for (QToolButton* b : {up_, down_})
        legibleArrow(b);
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
    updateButtons();
}

void UpDown::setRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = qMax(minimum, maximum);
    setValue(value_);
    updateButtons();
}

void UpDown::setValue(int value) {
    const int v = qBound(min_, value, max_);
    if (v == value_)
        return;
    value_ = v;
    updateButtons();
    QAccessibleValueChangeEvent told(this, value_);
    QAccessible::updateAccessibility(&told);
    emit valueChanged(value_);
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        stepUp();
        break;
    case Qt::Key_Down:
        stepDown();
        break;
    case Qt::Key_PageUp:
        setValue(value_ + 10 * step_);
        break;
    case Qt::Key_PageDown:
        setValue(value_ - 10 * step_);
        break;
    default:
        if (typedDigits_ && !event->text().isEmpty() && event->text().at(0).isDigit()) {
            const int digit = event->text().at(0).digitValue();
            const bool more = typedAt_.isValid() && typedAt_.elapsed() < kTypingPauseMs;
            typed_ = more && typed_ * 10 + digit <= max_ ? typed_ * 10 + digit : digit;
            typedAt_.start();
            if (typed_ >= min_)
                setValue(typed_);
            return;
        }
        QWidget::keyPressEvent(event);
    }
}

void UpDown::wheelEvent(QWheelEvent* event) {
    if (event->angleDelta().y() > 0)
        stepUp();
    else if (event->angleDelta().y() < 0)
        stepDown();
    event->accept();
}

void UpDown::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        updateButtons();
    if (event->type() == QEvent::PaletteChange)
        for (QToolButton* b : {up_, down_})
            legibleArrow(b);
    QWidget::changeEvent(event);
}

// The arrows leave a thin border free; it shows where the keyboard is.
void UpDown::focusInEvent(QFocusEvent* event) {
    layout()->setContentsMargins(2, 2, 2, 2);
    QWidget::focusInEvent(event);
}

void UpDown::focusOutEvent(QFocusEvent* event) {
    layout()->setContentsMargins(0, 0, 0, 0);
    QWidget::focusOutEvent(event);
}

void UpDown::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (hasFocus())
        QPainter(this).fillRect(rect(), palette().color(QPalette::Highlight));
}

void UpDown::updateButtons() {
    up_->setEnabled(isEnabled() && value_ < max_);
    down_->setEnabled(isEnabled() && value_ > min_);
}
