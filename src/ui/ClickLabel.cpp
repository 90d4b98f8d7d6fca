#include "ui/ClickLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>

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

// The label has no focus frame of its own; a heavier border shows where the
// keyboard is.
void ClickLabel::focusInEvent(QFocusEvent* event) {
    setLineWidth(2);
    QLabel::focusInEvent(event);
}

void ClickLabel::focusOutEvent(QFocusEvent* event) {
    setLineWidth(1);
    QLabel::focusOutEvent(event);
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
    const QString shown = fontMetrics().elidedText(fullText_, Qt::ElideRight, room);
    setText(shown);
    setToolTip(shown == fullText_ ? QStringLiteral("Click to write or erase this message")
                                  : fullText_);
}
