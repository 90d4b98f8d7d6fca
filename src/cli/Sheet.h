#pragma once
// qv840ctl sheet FILE -o OUT.pdf: the printed sheet of a saved table. It draws
// text, so it runs under a QGuiApplication of its own (on the offscreen
// platform: no display is needed), chosen before any application exists.

// True when the command on the line (the first argument that is neither an
// option nor an option's value) is "sheet".
bool isSheetCommand(int argc, char* argv[]);

// The whole run of the sheet command; the process's exit status.
int runSheet(int argc, char* argv[]);
