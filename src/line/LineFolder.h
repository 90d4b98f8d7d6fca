#pragma once
// A line's folder: one unit-NN.sav per unit, named by its address, and the
// index.csv a backup lists its units in. The command line and the window
// read and write these through here.

#include "startup/MessageLayout.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>
#include <utility>

// "A-B", or "A" alone, unit addresses from low to high with A no more than B:
// the first and the last, or nothing with why set.
std::optional<std::pair<int, int>> parseUnitRange(const QString& text, int low, int high,
                                                  QString* why = nullptr);

// The file of a unit's table in a line's folder: unit-07.sav, unit-123.sav.
QString lineUnitFileName(int unit);
inline const QString kLineIndexName = QStringLiteral("index.csv");

// Why a backup of units cannot go into folder (made when missing): the
// folder, index.csv or a unit's file cannot be written. Checked before the
// first request, so that nothing is read for nothing.
std::optional<QString> backupFolderProblem(const QString& folder, const QVector<int>& units);

// A unit's table from a line's folder, to compare or restore.
struct UnitFile {
    int unit = 0;
    QString file;
    TextTable table;
};

struct LineFolder {
    QVector<UnitFile> units; // by address
    QString error;           // why the folder cannot be used; then units is empty
    QStringList notes;       // a file read with a remark ("... over the defaults")
};

// Every unit-NN.sav of folder read over defaults. For a restore, a file
// holding a message no slot can take refuses the folder, before anything
// is sent.
LineFolder readLineFolder(const QString& folder, const TextTable& defaults, bool forRestore);

// What became of one unit in index.csv.
struct IndexRow {
    int unit = 0;
    QString result;
    QString time; // local time, ISO 8601
    QString firstMessage;
};

// index.csv: UTF-8, CR LF, the header "unit,speed,result,time,first message",
// one row per unit; speed is empty where it is not known (a gateway).
QByteArray lineIndexCsv(const QVector<IndexRow>& rows, const QString& speed);
