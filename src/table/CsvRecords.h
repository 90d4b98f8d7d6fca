#pragma once
// The records of a CSV text, as spreadsheets write them: fields quoted as in
// RFC 4180 ("" for a quote inside a quoted field), separated by a comma or a
// semicolon, rows ended by CR LF or LF. Blanks (spaces and tabs) around a field
// are no part of it; blanks inside quotes are.

#include <QChar>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

struct CsvRecord {
    int line = 0; // where it starts, from 1
    QStringList fields;
    // Every field is empty: a blank line, or a row of separators only.
    bool blank() const;
};

// The records of text; nothing, with the line and the reason in why, for a
// quote out of place, a lone CR or a quoted field never closed.
std::optional<QVector<CsvRecord>> scanCsvRecords(const QString& text, QChar separator,
                                                 QString& why);

// A field as written into a CSV row with separator: quoted (a quote inside
// doubled) when it holds the separator or a quote, or begins or ends with a
// blank, else as it is. scanCsvRecords() reads it back the same.
QString csvField(const QString& field, QChar separator = QLatin1Char(','));

// A cell beginning with = + - or @ (after any apostrophes) would run as a
// formula in a spreadsheet that opens the file: it is written with one
// apostrophe before it, the way spreadsheets mark a text cell, and read back
// without it. formulaUnguarded(formulaGuarded(t)) == t for every text t.
QString formulaGuarded(const QString& cell);
QString formulaUnguarded(const QString& cell);
