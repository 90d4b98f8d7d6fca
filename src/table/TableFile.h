#pragma once
// Message-table files (*.sav): twenty records '"' text '"' CR LF in
// Windows-1252, in interlock order, and nothing else. A control character in a
// message (one a unit already held) and a double quote (which would end the
// record) are written as \xHH (MessageText.h), so that the file stays text and
// the message reads back whole. Files are read by the rules of TextFile.h, so a
// table saved as UTF-8 opens too.
//
// A file written here opens as the same table: a table whose Windows-1252 bytes
// would all read as UTF-8 (the two characters "Ã©" are the bytes C3 A9, which
// UTF-8 reads as "é") is saved as UTF-8 after the UTF-8 mark instead, which
// every reader of the tool, the simulated unit's --messages included, takes
// for what was saved. Any other table is saved in Windows-1252, byte for byte
// as before.

#include "startup/MessageLayout.h"

#include <QByteArray>
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

// The bytes of the file for messages, by the rules above; nothing, with the
// reason in why, when a message holds a character Windows-1252 lacks or the
// table would be too big to open again.
QByteArray savTableBytes(const TextTable& messages, QString* why);

// Writes messages to path, whatever its name. The old file survives any
// failure: the new one replaces it only whole. Only a regular file or a new
// name is written; a symbolic link to a regular file keeps the link and
// replaces the file behind it. A folder, a FIFO, a device or a link to one is
// refused and left in place.
TableFileResult writeSavTable(const QString& path, const TextTable& messages);

// writeSavTable for a name that ends in "sav" (case-sensitive); otherwise
// nothing is written.
TableFileResult saveTable(const QString& path, const TextTable& messages);

// The bytes of a .sav file read from path (named in the messages) into
// messages: up to twenty items; a short file sets the entries it holds and the
// rest keep theirs, a longer one gives its first twenty, each with a word for
// the operator, as does a message longer than the unit holds. \xHH notations
// become their characters again, and the 40-character check counts the
// result. Bytes that are not a message table (holding control bytes, a quote
// left open on its line, or a CSV table's header row) change nothing.
TableFileResult parseSavTable(const QString& path, const QByteArray& data, TextTable& messages);

// Reads path (a regular file of at most kMaxTableFileBytes), then as above. A
// file that cannot be read changes nothing.
TableFileResult openTable(const QString& path, TextTable& messages);
