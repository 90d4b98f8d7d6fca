#pragma once
// The top-level windows loaded so far, in load order. A window joins in its
// load step and leaves when it is unloaded or destroyed. Centring always acts
// on the most recently loaded window that is still loaded, as the dialogs
// expect when they centre themselves on activation.
//
// main() creates one and hands it by reference to every window.

#include "startup/WindowCentring.h"

#include <QList>
#include <QPointer>

class QWidget;
class QScreen;

class LoadedWindows : public WindowStack {
public:
    // Joins the collection; a window loaded again moves to the end.
    void loaded(QWidget* window);
    void unloaded(QWidget* window);

    QList<QWidget*> windows() const; // load order, destroyed ones left out
    QWidget* last() const;
    bool contains(const QWidget* window) const;

    // Centres the most recently loaded window on its screen's available area.
    void centreLastWindow() { ::centreLastWindow(*this); }
    // Centres this window, wherever it stands in the load order.
    void centerWindow(QWidget* window);

    // WindowStack, in device-independent pixels: the window's outer frame and
    // the screen's area not taken by panels.
    bool empty() const override { return subject() == nullptr; }
    QSizeF lastWindowSize() const override;
    QSizeF screenSize() const override;
    void moveLastWindow(QPointF topLeft) override;
    void resizeLastWindow(QSizeF frame) override;

private:
    QScreen* screenOf(const QWidget* window) const;
    // The window centring acts on: the one given to centerWindow, else the last.
    QWidget* subject() const { return target_ != nullptr ? target_ : last(); }
    QList<QPointer<QWidget>> windows_;
    QWidget* target_ = nullptr;
};
