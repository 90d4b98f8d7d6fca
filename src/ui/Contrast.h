#pragma once
// Colours that carry meaning (a count in red, a default in grey) stay legible
// on whatever background the palette gives: light or dark.

#include <QColor>

// The contrast ratio of two colours, as the accessibility guidelines define
// it: from 1 (the same) to 21 (black on white).
double contrastRatio(const QColor& a, const QColor& b);

// The colour itself when it stands out from the background by at least
// minimum; else the colour drawn toward white (on a dark background) or
// black (on a light one), just far enough.
QColor legibleOn(const QColor& colour, const QColor& background, double minimum = 4.5);
