#pragma once
// Message-table files (*.sav): twenty records '"' text '"' CR LF in
// Windows-1252, in interlock order, and nothing else.

#include "startup/SharedState.h"

#include <QString>

// Texts of the file and of the problems, shown to the operator.
struct TableFileResult {
    bool ok = true;
    bool written = false; // save: a file was written
    int entriesRead = 0;  // open: how many entries the file held (0..20)
    QString message;      // what went wrong, or a warning, for the operator
};

// The name must end in "sav" (case-sensitive); otherwise nothing is written.
// The old file survives any failure: the new one replaces it only whole.
// A message holding a double quote or a line break is saved as it is, with a
// warning: it will not read back whole.
TableFileResult saveTable(const QString& path, const TextTable& messages);

// Reads up to twenty items into messages; a short file sets the entries it
// holds and the rest keep theirs. A file that cannot be read changes nothing.
TableFileResult openTable(const QString& path, TextTable& messages);
