#include "line/LineFolder.h"

#include "startup/TextFile.h"
#include "table/CsvRecords.h"
#include "table/CsvTable.h"
#include "table/TableFile.h"
#include "table/TableFiles.h"
#include "table/UnitSync.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <map>

std::optional<std::pair<int, int>> parseUnitRange(const QString& text, int low, int high,
                                                  QString* why) {
    static const QRegularExpression form(QStringLiteral("^(\\d{1,3})(?:-(\\d{1,3}))?$"));
    const auto m = form.match(text);
    const int a = m.captured(1).toInt(), b = m.hasCaptured(2) ? m.captured(2).toInt() : a;
    if (m.hasMatch() && a >= low && b <= high && a <= b)
        return std::make_pair(a, b);
    if (why)
        *why = QStringLiteral("--units takes A-B, unit addresses from %1 to %2 with A no more "
                              "than B, not \"%3\"")
                   .arg(low)
                   .arg(high)
                   .arg(text);
    return std::nullopt;
}

QString lineUnitFileName(int unit) {
    return QStringLiteral("unit-%1.sav").arg(unit, 2, 10, QLatin1Char('0'));
}

std::optional<int> unitNamedBy(const QString& path) {
    static const QRegularExpression form(QStringLiteral("^unit-(\\d{2,3})\\.sav$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QString name = QFileInfo(path).fileName();
    const auto m = form.match(name);
    if (!m.hasMatch())
        return std::nullopt;
    const int unit = m.captured(1).toInt();
    if (name.compare(lineUnitFileName(unit), Qt::CaseInsensitive) != 0 ||
        unit < kFirstUnitAddress || unit > kLastUnitAddress)
        return std::nullopt;
    return unit;
}

std::optional<QString> shortTableProblem(const QString& file, int entriesRead) {
    if (entriesRead >= kInterlockCount)
        return std::nullopt;
    return QStringLiteral("%1 holds %2 of %3 messages: cut short, it would erase the others. A "
                          "table to compare or restore holds every slot")
        .arg(QDir::toNativeSeparators(file))
        .arg(entriesRead)
        .arg(kInterlockCount);
}

std::optional<QString> backupFolderProblem(const QString& folder, const QVector<int>& units) {
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isWritable())
        return QStringLiteral("cannot save into %1: the folder cannot be made or written")
            .arg(folder);
    const QFileInfo index(QDir(folder).filePath(kLineIndexName));
    if (index.exists() && !index.isFile())
        return QStringLiteral("cannot save %1: it is not a regular file").arg(index.filePath());
    for (int unit : units)
        if (const auto why = tableSaveTargetProblem(QDir(folder).filePath(lineUnitFileName(unit))))
            return why;
    return std::nullopt;
}

namespace {

// The unit files of a folder by address, named as a backup names them; an
// error when a name gives no address the tool can use, or the same address
// as another.
std::map<int, QString> unitFiles(const QString& folder, QString& error) {
    static const QRegularExpression form(QStringLiteral("^unit-(\\d+)\\.sav$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QDir dir(folder);
    std::map<int, QString> files;
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const auto m = form.match(name);
        if (!m.hasMatch())
            continue; // index.csv, notes
        const int unit = m.captured(1).toInt();
        const bool named = name.compare(lineUnitFileName(unit), Qt::CaseInsensitive) == 0;
        if (!named || unit < kFirstUnitAddress || unit > kLastUnitAddress || files.count(unit)) {
            error = QStringLiteral("%1: a unit's file is unit-NN.sav, NN its address from %2 to "
                                   "%3, one file a unit")
                        .arg(dir.filePath(name))
                        .arg(kFirstUnitAddress)
                        .arg(kLastUnitAddress);
            return {};
        }
        files[unit] = dir.filePath(name);
    }
    if (files.empty())
        error = QStringLiteral("%1 holds no unit-NN.sav file").arg(folder);
    return files;
}

} // namespace

namespace {

// What index.csv says the backup that wrote it did with each unit: its
// result and time, by address. Nothing when there is no index.csv; an error
// when one is there but cannot be read.
struct BackupIndex {
    bool present = false;
    std::map<int, std::pair<QString, QString>> units; // result, time
};

std::optional<BackupIndex> readBackupIndex(const QString& folder, QString& error) {
    BackupIndex index;
    const QString path = QDir(folder).filePath(kLineIndexName);
    if (!QFileInfo::exists(path))
        return index;
    QByteArray data;
    QString why;
    std::optional<QVector<CsvRecord>> rows;
    if (const auto problem = readBoundedFile(path, kMaxTableFileBytes, "an index", data))
        why = problem->text;
    else
        rows = scanCsvRecords(QString::fromUtf8(data), QLatin1Char(','), why);
    if (!rows || rows->isEmpty() || rows->first().fields.value(0) != QLatin1String("unit")) {
        error = QStringLiteral("%1 cannot be read: %2")
                    .arg(QDir::toNativeSeparators(path),
                         why.isEmpty() ? QStringLiteral("it is no backup's index") : why);
        return std::nullopt;
    }
    index.present = true;
    for (const CsvRecord& r : rows->mid(1))
        if (!r.blank())
            index.units[r.fields.value(0).toInt()] = {r.fields.value(2), r.fields.value(3)};
    return index;
}

} // namespace

QString unitNames(const QList<int>& units) {
    QStringList names;
    for (int u : units)
        names << QString::number(u);
    if (names.size() < 2)
        return QStringLiteral("unit ") + names.join(QString());
    const QString last = names.takeLast();
    return QStringLiteral("units %1 and %2").arg(names.join(QStringLiteral(", ")), last);
}

std::optional<QString> backupIn(const QString& folder) {
    QString error;
    const std::map<int, QString> files = unitFiles(folder, error);
    const bool indexed = QFileInfo::exists(QDir(folder).filePath(kLineIndexName));
    if (files.empty() && !indexed)
        return std::nullopt;
    const auto index = readBackupIndex(folder, error);
    QList<int> units;
    QString latest;
    if (index && !index->units.empty()) {
        for (const auto& [unit, row] : index->units) {
            units << unit;
            latest = std::max(latest, row.second);
        }
    } else {
        for (const auto& entry : files)
            units << entry.first;
    }
    QString text = QStringLiteral("a backup");
    if (!units.isEmpty())
        text += QStringLiteral(" of ") + unitNames(units);
    const QDateTime when = QDateTime::fromString(latest, Qt::ISODate);
    if (when.isValid())
        text += QStringLiteral(" from ") + when.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return text;
}

namespace {

// The files the folder's last backup saved, by address; older ones named in notes.
std::map<int, QString> backedUpFiles(const QString& folder, LineFolder& out) {
    std::map<int, QString> files = unitFiles(folder, out.error);
    const auto index = out.error.isEmpty() ? readBackupIndex(folder, out.error) : std::nullopt;
    if (!index)
        return {};
    if (!index->present) {
        out.notes << QStringLiteral("%1 has no index.csv: every unit-NN.sav in it is taken")
                         .arg(QDir::toNativeSeparators(folder));
        return files;
    }
    for (auto it = files.begin(); it != files.end();) {
        const auto listed = index->units.find(it->first);
        if (listed != index->units.end() && listed->second.first == QLatin1String("saved")) {
            ++it;
            continue;
        }
        const QString file = QDir::toNativeSeparators(it->second);
        if (listed == index->units.end())
            out.notes << QStringLiteral("%1 left out: index.csv does not list unit %2, so the "
                                        "file is not from the last backup")
                             .arg(file)
                             .arg(it->first);
        else
            out.notes << QStringLiteral("%1 left out: the last backup (%2) did not save unit %3 "
                                        "(%4), so the file is older")
                             .arg(file, listed->second.second, QString::number(it->first),
                                  listed->second.first);
        it = files.erase(it);
    }
    for (const auto& [unit, row] : index->units)
        if (row.first == QLatin1String("saved") && !files.count(unit)) {
            out.error = QStringLiteral("%1 lists unit %2 as saved, but %3 is not there")
                            .arg(QDir::toNativeSeparators(QDir(folder).filePath(kLineIndexName)))
                            .arg(unit)
                            .arg(lineUnitFileName(unit));
            return {};
        }
    return files;
}

} // namespace

LineFolder readLineFolder(const QString& folder, const TextTable& defaults, bool forRestore,
                          const QVector<int>& chosen) {
    LineFolder out;
    if (!QFileInfo(folder).isDir()) {
        out.error = QStringLiteral("%1 is not a folder").arg(folder);
        return out;
    }
    std::map<int, QString> files = backedUpFiles(folder, out);
    for (int unit : chosen)
        if (out.error.isEmpty() && !files.count(unit))
            out.error = QStringLiteral("%1 holds no backup of unit %2 (%3)")
                            .arg(QDir::toNativeSeparators(folder))
                            .arg(unit)
                            .arg(lineUnitFileName(unit));
    if (!out.error.isEmpty())
        return out;
    for (const auto& [unit, file] : files) {
        if (!chosen.isEmpty() && !chosen.contains(unit))
            continue;
        UnitFile u{unit, file, defaults};
        const TableFileOutcome opened = loadTableFile(file, defaults, u.table);
        const auto cut = opened.ok ? shortTableProblem(file, opened.entriesRead) : std::nullopt;
        const QStringList problems =
            opened.ok && forRestore ? restoreProblems(u.table, defaults) : QStringList();
        if (!opened.ok || cut || !problems.isEmpty()) {
            out.error = !opened.ok ? opened.message
                        : cut      ? *cut
                                   : QStringLiteral("nothing was written; these messages of %1 "
                                                         "cannot go to the unit: %2")
                                    .arg(file, problems.join(QStringLiteral("; ")));
            out.units.clear();
            return out;
        }
        if (!opened.message.isEmpty())
            out.notes << opened.message;
        out.units << u;
    }
    return out;
}

QByteArray lineIndexCsv(const QVector<IndexRow>& rows, const QString& speed) {
    QString text = QStringLiteral("unit,speed,result,time,first message\r\n");
    for (const IndexRow& r : rows)
        text +=
            QStringLiteral("%1,%2,%3,%4,%5\r\n")
                .arg(r.unit)
                .arg(speed, csvField(r.result), r.time, csvField(csvMessageCell(r.firstMessage)));
    return text.toUtf8();
}
