#pragma once
// Centring of top-level windows. The arithmetic is kept apart from Qt so that
// it can be checked in the window system's own units.

#include <QPointF>
#include <QSizeF>
#include <optional>

// Top-left position that centres a window of the given outer size on the
// screen: plain floating-point halves, no rounding before the move. The frame
// never leaves the screen: a window larger than the screen in one direction
// starts at 0 there (and centreLastWindow shrinks it to the screen first).
QPointF centeredPosition(QSizeF screen, QSizeF window);

// The windows loaded so far, in load order; centreLastWindow acts on the last one.
class WindowStack {
public:
    virtual ~WindowStack() = default;
    virtual bool empty() const = 0;
    virtual QSizeF lastWindowSize() const = 0;
    virtual QSizeF screenSize() const = 0;
    virtual void moveLastWindow(QPointF topLeft) = 0;
    // Gives the last window this outer size (as far as its minimum allows).
    virtual void resizeLastWindow(QSizeF frame) = 0;
};

// Centres the most recently loaded window; does nothing when none is loaded.
// A window larger than the screen first gets the screen's size.
void centreLastWindow(WindowStack& windows);
