#pragma once
// A message as the unit will show it: forty character cells, filled from the
// first, one byte of Windows-1252 each, the rest blank. The unit places the
// text as it is sent (leading blanks included); it neither centres nor pads it.
// A character the unit cannot show is marked with the reason, so that the
// editor shows the result before anything is written.

#include "startup/MessageLayout.h"

#include <QChar>
#include <QString>
#include <array>

struct PreviewCell {
    enum class Kind {
        Shown,      // the unit shows glyph, from byte
        Blank,      // past the end of the message: the unit shows nothing there
        Unshowable, // a character the unit cannot show; nothing is sent while it stays
    };
    Kind kind = Kind::Blank;
    QChar glyph;   // what the cell shows (Unshowable: the character typed, or '?')
    int byte = -1; // the code page's byte for it, -1 when none goes
    QString note;  // for a tooltip: "Cell 3: 'é', code E9"
};

struct UnitPreview {
    std::array<PreviewCell, kMessageMaxLength> cells{};
    int beyond = 0; // characters past the last cell: the unit holds none of them
};

UnitPreview previewOnUnit(const QString& text);
