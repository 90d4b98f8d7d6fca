#include "ui/ScreenFit.h"

#include "startup/WindowCentring.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace {

QRect freeArea(const QWidget* window) {
    const QScreen* screen = window->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

QSize frameAround(const QWidget* window) {
    if (window->testAttribute(Qt::WA_WState_Created) && window->isVisible())
        return window->frameGeometry().size() - window->size();
    const int border = window->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    return {2 * border, window->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * border};
}

} // namespace

QSize roomOnScreen(const QWidget* window) {
    const QRect area = freeArea(window);
    if (area.isEmpty())
        return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    return (area.size() - frameAround(window)).expandedTo(QSize(1, 1));
}

void resizeWithinScreen(QWidget* window, QSize wanted) {
    window->resize(wanted.boundedTo(roomOnScreen(window)));
}

void centreOnScreen(QWidget* window) {
    const QRect area = freeArea(window);
    const QSize frame = window->size() + frameAround(window);
    const QPointF at = centeredPosition(QSizeF(area.size()), QSizeF(frame));
    window->move(area.topLeft() + at.toPoint());
}
