#pragma once
// Message tables as CSV, for preparing a site's messages in a spreadsheet.
//
// UTF-8 (a leading byte-order mark is allowed), fields quoted as in RFC 4180,
// rows ended by CR LF (LF alone is accepted), a header row
//     slot,terminal,group,message
// then exactly twenty rows, one per slot 0..19 in any order: each row is found
// by its slot. The terminal and group cells repeat the slot's caption and group
// for the reader's eye; either may be left empty, but one that names another
// slot's terminal or group is taken for a shifted row and refused. An empty
// message cell stands for the slot's default message, which write-all leaves
// alone. Every other message is checked by the editor's rules: 1 to 40
// characters, all of them printable and in Windows-1252. Control characters a
// unit already holds are written \xHH, as in the message-table files, and are
// refused on reading like any other character the unit must not be sent.
//
// A bad file is refused whole, with its line and slot named, and nothing is
// changed. The bound and the regular-file rule are those of the .sav files.

#include "startup/MessageLayout.h"

#include <QByteArray>
#include <QString>

struct CsvResult {
    bool ok = true;
    QString message; // what went wrong, for the operator
};

// True for a name ending in .csv, in any case.
bool isCsvName(const QString& path);

// Parses a whole file's bytes. On success every entry 0..19 of out is set
// (an empty cell from defaults); on failure out is untouched.
CsvResult parseCsvTable(const QByteArray& data, const TextTable& defaults, TextTable& out);

// Reads path: a regular file of at most kMaxTableFileBytes, then as above.
CsvResult readCsvTable(const QString& path, const TextTable& defaults, TextTable& out);

// The file's bytes for messages; refused (nothing returned, the slot named in
// why) when a message would not read back.
QByteArray csvTableBytes(const TextTable& messages, QString* why);

// Writes the table atomically, only over a regular file (or a new one).
CsvResult writeCsvTable(const QString& path, const TextTable& messages);
