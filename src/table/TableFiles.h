#pragma once
// Opening and saving a message table whatever its format: the one place that
// chooses between a .sav file (TableFile.h) and a CSV table (CsvTable.h). The
// windows, the command line and the printed sheet all come through here.
//
// A file is opened by what it holds, never by its name: a CSV table by its
// header row, a .sav table by its quoted lines, so that a CSV table renamed
// site.txt or site.csv.bak is still read as one. A file that is neither is
// refused, naming why, and nothing changes. A table is saved in the format its
// name's suffix says: .sav or .csv, in any case.

#include "startup/MessageLayout.h"

#include <QByteArray>
#include <QString>

#include <optional>

enum class TableFormat { Sav, Csv };

struct TableFileOutcome {
    bool ok = true;
    bool written = false; // save: a file was written
    int entriesRead = 0;  // open: how many entries the file set
    TableFormat format = TableFormat::Sav;
    QString message; // !ok: why; ok: a warning for the operator, or empty
};

// The format of a file's bytes: CSV when its first line is the header row
// (slot,terminal,group,message, or with semicolons), .sav when every line that
// is not blank begins with a double quote. Nothing, with the reason in why,
// for anything else: UTF-16 text, an empty file, other text.
std::optional<TableFormat> tableFormatOfData(const QByteArray& data, QString* why = nullptr);

// The format a table is saved in by its name: .sav or .csv in any case, or
// nothing for another name.
std::optional<TableFormat> tableFormatForName(const QString& path);

// Why a table cannot be saved at path, checked before any work (a read-all
// that takes twenty seconds) is done: a name that ends in neither .sav nor
// .csv, a folder or another node that is no regular file, a folder that does
// not exist or cannot be written, a file that cannot be replaced. Nothing when
// a save may go ahead; the save itself still reports what happens then.
std::optional<QString> tableSaveTargetProblem(const QString& path);

// Reads path into messages by its content; an entry the file does not set
// keeps its text, an empty entry (a CSV cell, or "" in a .sav) takes the
// slot's default. A failure changes nothing.
TableFileOutcome loadTableFile(const QString& path, const TextTable& defaults, TextTable& messages);

// Writes messages to path in the format of its suffix, whole or not at all.
TableFileOutcome saveTableFile(const QString& path, const TextTable& messages);
