#pragma once
// How a screen reader meets the tool's own controls: the up-down (ui/UpDown.h)
// as a spin box with its value, range and step; a message label
// (ui/ClickLabel.h) as a button that opens the editor when pressed; the
// windows that are plain widgets (main, comms test, editor, help) as windows.

// Registers the two with Qt's accessibility; once is enough, more does no harm.
void installControlAccess();
