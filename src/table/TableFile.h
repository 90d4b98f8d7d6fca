#pragma once
// Message-table files (*.sav): twenty records '"' text '"' CR LF in
// Windows-1252, in interlock order, and nothing else. A control character in a
// message (one a unit already held) is written as \xHH (MessageText.h), so
// that the file stays text and the message reads back whole. Files are read
// by readTextFile (TextFile.h), so a table saved as UTF-8 opens too.

#include "startup/MessageLayout.h"

#include <QString>

// Twenty records of forty characters make 880 bytes; a hand-edited table
// with blanks or long lines stays far below this too. A bigger file is not a
// message table (a log, an image picked by mistake) and is refused by its size
// before it is read; save keeps to the same bound, so that the tool can open
// every file it writes.
constexpr qint64 kMaxTableFileBytes = 64 * 1024;

// Texts of the file and of the problems, shown to the operator.
struct TableFileResult {
    bool ok = true;
    bool written = false; // save: a file was written
    int entriesRead = 0;  // open: how many entries the file held (0..20)
    QString message;      // what went wrong, or a warning, for the operator
};

// The name must end in "sav" (case-sensitive); otherwise nothing is written.
// The old file survives any failure: the new one replaces it only whole.
// Only a regular file or a new name is written; a symbolic link to a regular
// file keeps the link and replaces the file behind it. A folder, a FIFO, a
// device or a link to one is refused and left in place.
// A message holding a double quote is saved as it is, with a warning: it will
// not read back whole. A table too big for kMaxTableFileBytes is not saved:
// open would refuse the file.
TableFileResult saveTable(const QString& path, const TextTable& messages);

// Reads up to twenty items into messages; a short file sets the entries it
// holds and the rest keep theirs, a longer one gives its first twenty, each
// with a word for the operator, as does a message longer than the unit holds.
// \xHH notations become their control characters again, and the 40-character
// check counts the result. A file that cannot be read, or is not a message
// table (not a regular file, oversized, holding control bytes, a quote left
// open on its line), changes nothing.
TableFileResult openTable(const QString& path, TextTable& messages);
