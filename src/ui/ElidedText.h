#pragma once
// A one-line label whose text may be longer than the window is wide (the
// status line): shown cut short with "…" to the label's width, and cut again
// whenever the label is resized; the tooltip holds the whole text. The text
// no longer sets the label's width, so it never widens the window.

#include <QString>

class QLabel;

void setElidedText(QLabel* label, const QString& text);
