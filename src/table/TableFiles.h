#pragma once
// Opening and saving a message table whatever its format: the one place that
// chooses between a .sav file (TableFile.h) and a CSV table (CsvTable.h). The
// windows, the command line and the printed sheet all come through here.

#include "startup/MessageLayout.h"

#include <QString>

enum class TableFormat { Sav, Csv };

struct TableFileOutcome {
    bool ok = true;
    bool written = false; // save: a file was written
    int entriesRead = 0;  // open: how many entries the file set
    TableFormat format = TableFormat::Sav;
    QString message; // !ok: why; ok: a warning for the operator, or empty
};

// The format a file is taken in.
TableFormat tableFormatOf(const QString& path);

// Reads path into messages; an entry the file does not set keeps its text,
// an empty CSV cell takes the slot's default. A failure changes nothing.
TableFileOutcome loadTableFile(const QString& path, const TextTable& defaults, TextTable& messages);

// Writes messages to path, whole or not at all.
TableFileOutcome saveTableFile(const QString& path, const TextTable& messages);
