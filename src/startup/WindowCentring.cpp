#include "startup/WindowCentring.h"

#include <QtGlobal>

QPointF centeredPosition(QSizeF screen, QSizeF window) {
    return {qMax(0.0, (screen.width() - window.width()) / 2.0),
            qMax(0.0, (screen.height() - window.height()) / 2.0)};
}

void centreLastWindow(WindowStack& windows) {
    if (windows.empty())
        return;
    const QSizeF screen = windows.screenSize();
    QSizeF window = windows.lastWindowSize();
    if (!screen.isEmpty() &&
        (window.width() > screen.width() || window.height() > screen.height())) {
        windows.resizeLastWindow(window.boundedTo(screen));
        window = windows.lastWindowSize();
    }
    windows.moveLastWindow(centeredPosition(screen, window));
}
