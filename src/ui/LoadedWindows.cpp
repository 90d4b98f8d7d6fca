#include "ui/LoadedWindows.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void LoadedWindows::loaded(QWidget* window) {
    if (window == nullptr)
        return;
    unloaded(window);
    windows_.append(QPointer<QWidget>(window));
}

void LoadedWindows::unloaded(QWidget* window) {
    windows_.removeIf([&](const QPointer<QWidget>& w) { return w.isNull() || w == window; });
}

QList<QWidget*> LoadedWindows::windows() const {
    QList<QWidget*> list;
    for (const QPointer<QWidget>& w : windows_)
        if (!w.isNull())
            list.append(w.data());
    return list;
}

QWidget* LoadedWindows::last() const {
    for (auto it = windows_.crbegin(); it != windows_.crend(); ++it)
        if (!it->isNull())
            return it->data();
    return nullptr;
}

bool LoadedWindows::contains(const QWidget* window) const {
    return window != nullptr && windows().contains(const_cast<QWidget*>(window));
}

void LoadedWindows::centerWindow(QWidget* window) {
    target_ = window;
    ::centreLastWindow(*this);
    target_ = nullptr;
}

QScreen* LoadedWindows::screenOf(const QWidget* window) const {
    QScreen* screen = window != nullptr ? window->screen() : nullptr;
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

QSizeF LoadedWindows::lastWindowSize() const {
    const QWidget* w = subject();
    if (w == nullptr)
        return {};
    // Before the window is first shown the window manager has not framed it
    // yet and the frame is the client area; the dialogs centre again on
    // activation, when the frame is known.
    return QSizeF(w->frameGeometry().size());
}

QSizeF LoadedWindows::screenSize() const {
    const QScreen* screen = screenOf(subject());
    return screen != nullptr ? QSizeF(screen->availableGeometry().size()) : QSizeF();
}

void LoadedWindows::moveLastWindow(QPointF topLeft) {
    QWidget* w = subject();
    if (w == nullptr)
        return;
    const QScreen* screen = screenOf(w);
    const QPointF origin =
        screen != nullptr ? QPointF(screen->availableGeometry().topLeft()) : QPointF();
    // Qt positions windows in whole pixels: the half-pixel of an odd
    // difference is rounded here, at the move, not earlier.
    const QPointF target = origin + topLeft;
    // move() of a top-level widget places its outer frame.
    w->move(qRound(target.x()), qRound(target.y()));
}

void LoadedWindows::resizeLastWindow(QSizeF frame) {
    QWidget* w = subject();
    if (w == nullptr)
        return;
    // resize() sets the client area: the window manager's frame comes off.
    const QSize decoration = w->frameGeometry().size() - w->size();
    const QSize client = frame.toSize() - decoration;
    w->resize(client.expandedTo(QSize(1, 1))); // never below the window's minimum size
}
