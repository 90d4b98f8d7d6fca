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
// The unit a file's name says it belongs to (unit-07.sav, in any case), or nothing.
std::optional<int> unitNamedBy(const QString& path);
// Why a table opened from file, which set entriesRead entries, cannot be
// compared with a unit or restored to it: it holds fewer messages than the
// unit has slots (a file cut short would erase the rest).
std::optional<QString> shortTableProblem(const QString& file, int entriesRead);
inline const QString kLineIndexName = QStringLiteral("index.csv");

// Why a backup of units cannot go into folder (made when missing): the
// folder, index.csv or a unit's file cannot be written. Checked before the
// first request, so that nothing is read for nothing.
std::optional<QString> backupFolderProblem(const QString& folder, const QVector<int>& units);

// "unit 3", "units 1, 2 and 5".
QString unitNames(const QList<int>& units);

// The backup a folder already holds, in words ("a backup of units 1, 2 and 5
// from 2026-11-07 10:15"), or nothing when it holds neither index.csv nor a
// unit-NN.sav file: asked about before a new backup replaces its files.
std::optional<QString> backupIn(const QString& folder);

// A unit's table from a line's folder, to compare or restore.
struct UnitFile {
    int unit = 0;
    QString file;
    TextTable table;
};

struct LineFolder {
    QVector<UnitFile> units; // by address
    QString error;           // why the folder cannot be used; then units is empty
    QStringList notes;       // a file left out or read with a remark
};

// The unit-NN.sav files of folder read over defaults: those its index.csv
// lists as saved by the backup that wrote it (a file it does not list as
// saved is older, and is left out and named in notes); every one when there
// is no index.csv. chosen, when not empty, keeps only those units, and each
// must have its file. A file cut short, or (for a restore) holding a message
// no slot can take, refuses the folder, before anything is sent.
LineFolder readLineFolder(const QString& folder, const TextTable& defaults, bool forRestore,
                          const QVector<int>& chosen = {});

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
