#pragma once
// Message tables as CSV, for preparing a site's messages in a spreadsheet and
// for keeping a unit's messages.
//
// UTF-8 (a leading byte-order mark is allowed), fields quoted as in RFC 4180,
// rows ended by CR LF (LF alone is accepted), a header row
//     slot,terminal,group,message
// then exactly twenty rows, one per slot 0..19 in any order: each row is found
// by its slot. What spreadsheets write is read too: a semicolon in place of
// every comma (the header row says which), blanks around any cell, empty lines
// or rows of separators only after the last row. A UTF-16 file ("Unicode text")
// is refused as such.
//
// The terminal and group cells repeat the slot's caption and group for the
// reader's eye; either may be left empty, but one that names another slot's
// terminal or group is taken for a shifted row and refused. An empty message
// cell stands for the slot's default message, which write-all leaves alone.
// Every other message must be one a unit can hold (UnitText::holdProblem).
//
// A message is written as the .sav files write it (MessageText::escaped):
// control characters a unit holds as \xHH, so that a unit's table keeps them.
// A message beginning with = + - or @ (after any apostrophes) would run as a
// formula in a spreadsheet: it is written with one apostrophe before it, which
// reading drops again, the way spreadsheets themselves mark a text cell; so
// every message reads back as it was. One with a blank at either end is
// quoted, since blanks outside quotes are no part of a cell.
//
// A bad file is refused whole, with its line and slot named, and nothing is
// changed. The bound and the regular-file rule are those of the .sav files.

#include "startup/MessageLayout.h"

#include <QByteArray>
#include <QChar>
#include <QString>

#include <optional>

struct CsvResult {
    bool ok = true;
    QString message; // what went wrong, for the operator
};

// True for a name ending in .csv, in any case.
bool isCsvName(const QString& path);

// The separator of the CSV table whose text this is, by its first line: ','
// or ';' when that line is the header row, else nothing.
std::optional<QChar> csvSeparatorOf(const QString& text);

// A message's cell text (before any quoting), and the message a cell holds.
QString csvMessageCell(const QString& message);
QString csvCellMessage(const QString& cell);

// Parses a whole file's bytes. On success every entry 0..19 of out is set
// (an empty cell from defaults); on failure out is untouched.
CsvResult parseCsvTable(const QByteArray& data, const TextTable& defaults, TextTable& out);

// Reads path: a regular file of at most kMaxTableFileBytes, then as above.
CsvResult readCsvTable(const QString& path, const TextTable& defaults, TextTable& out);

// The file's bytes for messages; refused (nothing returned, the slot named in
// why) when a message is one no unit can hold.
QByteArray csvTableBytes(const TextTable& messages, QString* why);

// Writes the table atomically, only over a regular file (or a new one).
CsvResult writeCsvTable(const QString& path, const TextTable& messages);
