#include "startup/CenterForm.h"

QPointF centeredPosition(QSizeF screen, QSizeF window) {
    return {(screen.width() - window.width()) / 2.0, (screen.height() - window.height()) / 2.0};
}

void CenterForm(WindowStack& windows) {
    if (windows.empty())
        return;
    windows.moveLastWindow(centeredPosition(windows.screenSize(), windows.lastWindowSize()));
}
