#include "line/LineFolder.h"

#include "table/CsvRecords.h"
#include "table/CsvTable.h"
#include "table/TableFiles.h"
#include "table/UnitSync.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

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

LineFolder readLineFolder(const QString& folder, const TextTable& defaults, bool forRestore) {
    LineFolder out;
    if (!QFileInfo(folder).isDir()) {
        out.error = QStringLiteral("%1 is not a folder").arg(folder);
        return out;
    }
    for (const auto& [unit, file] : unitFiles(folder, out.error)) {
        UnitFile u{unit, file, defaults};
        const TableFileOutcome opened = loadTableFile(file, defaults, u.table);
        const QStringList problems =
            opened.ok && forRestore ? restoreProblems(u.table, defaults) : QStringList();
        if (!opened.ok || !problems.isEmpty()) {
            out.error = !opened.ok ? opened.message
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
