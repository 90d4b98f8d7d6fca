#include "ui/ClickLabel.h"

#include "ui/ControlAccess.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {
// A message a little wider than its label is drawn in a smaller font, down
// to this share of the window's font, before it is cut with "…".
constexpr qreal kSmallestFont = 0.8;
} // namespace

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {
    installControlAccess();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}

void ClickLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

// The label has no focus frame of its own; a heavier border in the
// highlight colour shows where the keyboard is.
void ClickLabel::focusInEvent(QFocusEvent* event) {
    setLineWidth(2);
    elide();
    QLabel::focusInEvent(event);
}

void ClickLabel::focusOutEvent(QFocusEvent* event) {
    setLineWidth(1);
    elide();
    QLabel::focusOutEvent(event);
}

void ClickLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter painter(this);
    QPen pen(palette().color(QPalette::Highlight));
    pen.setWidth(2);
    painter.setPen(pen);
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

void ClickLabel::setFullText(const QString& text) {
    fullText_ = text;
    elide();
}

void ClickLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ClickLabel::elide() {
    const int room = contentsRect().width() - 2 * indent();
    // The window's font, then as much smaller as the text needs, within
    // limits; what still does not fit is cut. Hinting keeps widths from
    // scaling evenly, so the size is tried again until the text fits.
    const QFont base = parentWidget() != nullptr ? parentWidget()->font() : QFont();
    QFont font = base;
    for (int tries = 0; tries < 4 && room > 0 && base.pointSizeF() > 0; ++tries) {
        const qreal wide = QFontMetricsF(font).horizontalAdvance(fullText_);
        if (wide <= room)
            break;
        const qreal scale =
            qMax(kSmallestFont, font.pointSizeF() / base.pointSizeF() * room / wide);
        font.setPointSizeF(base.pointSizeF() * scale);
        if (scale <= kSmallestFont)
            break;
    }
    if (font != this->font())
        setFont(font);
    const QString shown = fontMetrics().elidedText(fullText_, Qt::ElideRight, room);
    setText(shown);
    setToolTip(shown == fullText_ ? QStringLiteral("Click to write or erase this message")
                                  : fullText_);
}
