#pragma once
// No window opens larger than its screen: a window's size is what it asks
// for or, on a small or scaled screen (1366x768, 200 %), what the screen's
// free area leaves room for once the window manager's frame is around it.

#include <QSize>

class QWidget;

// The largest client size whose frame fits the free area of the window's
// screen. Before the window is first shown its frame is not known: a title
// bar and a thin border are allowed for.
QSize roomOnScreen(const QWidget* window);

// Gives the window the size it asks for, as far as its screen has room.
void resizeWithinScreen(QWidget* window, QSize wanted);

// Moves the window so that its frame is centred in its screen's free area.
void centreOnScreen(QWidget* window);
