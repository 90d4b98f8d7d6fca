#pragma once
// qv840ctl sheet FILE -o OUT.pdf: the printed sheet of a saved table. It draws
// text, so it runs under a QGuiApplication of its own (on the offscreen
// platform: no display is needed), chosen before any application exists.

// True when the command on the line (the first argument that is neither an
// option nor an option's value) is "sheet".
bool isSheetCommand(int argc, char* argv[]);

#include "cli/Commands.h"

#include <QStringList>

// The sheet command after the global options (-p and -a name the port and
// unit on the sheet; --config the folder of Defaults.txt); the exit status.
int runSheet(const GlobalOptions& options, const QStringList& args);
