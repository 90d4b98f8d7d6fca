#include "table/TableFiles.h"

#include "startup/TextFile.h"
#include "startup/UnitText.h"
#include "table/CsvTable.h"
#include "table/TableFile.h"

#include <QFileInfo>

namespace {

const QString kKnownSuffixes = QStringLiteral(".sav or .csv");

QString notATable(const QString& path, const QString& why) {
    return QStringLiteral("%1 is not a message table: %2. No message was changed.").arg(path, why);
}

// The lines of data, without their ends (CR LF, CR or LF).
QList<QByteArray> linesOf(const QByteArray& data) {
    QByteArray text = data;
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text.split('\n');
}

// The first line that is not blank and does not begin with a quote, from 1; 0
// when there is none.
int firstUnquotedLine(const QList<QByteArray>& lines) {
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (!line.isEmpty() && !line.startsWith('"'))
            return i + 1;
    }
    return 0;
}

} // namespace

std::optional<TableFormat> tableFormatOfData(const QByteArray& data, QString* why) {
    const auto refuse = [why](const QString& reason) -> std::optional<TableFormat> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (looksLikeUtf16(data))
        return refuse(QStringLiteral("it is UTF-16 text (a spreadsheet's \"Unicode text\"); save "
                                     "it as CSV in UTF-8 instead"));
    const QByteArray body = data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
    const QList<QByteArray> lines = linesOf(body);
    // The header row is plain ASCII, whatever the file's encoding.
    if (csvSeparatorOf(QString::fromLatin1(lines.constFirst())))
        return TableFormat::Csv;
    if (body.trimmed().isEmpty())
        return refuse(QStringLiteral("it is empty"));
    if (const int line = firstUnquotedLine(lines); line > 0)
        return refuse(QStringLiteral("line %1 is not a message in double quotes (a .sav table), "
                                     "and line 1 is not the header row of a CSV table "
                                     "(slot,terminal,group,message)")
                          .arg(line));
    return TableFormat::Sav;
}

std::optional<TableFormat> tableFormatForName(const QString& path) {
    if (path.endsWith(QLatin1String(".sav"), Qt::CaseInsensitive))
        return TableFormat::Sav;
    if (isCsvName(path))
        return TableFormat::Csv;
    return std::nullopt;
}

std::optional<QString> tableSaveTargetProblem(const QString& path) {
    const QFileInfo file(path);
    if (file.isDir())
        return QStringLiteral("cannot save to %1: it is a folder").arg(path);
    if (!tableFormatForName(path))
        return QStringLiteral("the file name %1 must end in %2")
            .arg(file.filePath(), kKnownSuffixes);
    if (file.isSymLink() && !file.exists())
        return QStringLiteral("cannot save to %1: it is a link to nothing").arg(path);
    // A link is followed: the file behind it is what a save replaces.
    const QFileInfo target(file.isSymLink() ? file.symLinkTarget() : file.absoluteFilePath());
    if (target.exists() && !target.isFile())
        return QStringLiteral("cannot save to %1: it is not a regular file (a FIFO or a device)")
            .arg(path);
    const QFileInfo folder(target.absolutePath());
    if (!folder.isDir() || !folder.isWritable())
        return QStringLiteral("cannot save into %1: no such folder, or not writable")
            .arg(folder.filePath());
    if (target.exists() && !target.isWritable())
        return QStringLiteral("cannot save to %1: the file is not writable").arg(path);
    return std::nullopt;
}

TableFileOutcome loadTableFile(const QString& path, const TextTable& defaults,
                               TextTable& messages) {
    TableFileOutcome out;
    out.ok = false;
    QByteArray data;
    if (const auto problem = readBoundedFile(path, kMaxTableFileBytes, "a message table", data)) {
        const bool unread =
            problem->kind == FileProblem::Missing || problem->kind == FileProblem::Unreadable;
        out.message = unread ? QStringLiteral("Cannot open %1: %2").arg(path, problem->text)
                             : notATable(path, problem->text);
        return out;
    }
    QString why;
    const auto format = tableFormatOfData(data, &why);
    if (!format) {
        out.message = notATable(path, why);
        return out;
    }
    out.format = *format;
    if (out.format == TableFormat::Csv) {
        const CsvResult r = parseCsvTable(data, defaults, messages);
        out.ok = r.ok;
        out.entriesRead = r.ok ? kInterlockCount : 0;
        out.message = r.ok ? QString()
                           : QStringLiteral("%1 is not a CSV message table: %2. No message was "
                                            "changed.")
                                 .arg(path, r.message);
        return out;
    }
    const TableFileResult r = parseSavTable(path, data, messages);
    if (r.ok) // an empty entry is an empty slot: the unit shows its default there
        for (size_t k = 0; k < messages.size(); ++k)
            messages[k] = UnitText::entryFor(messages[k], defaults[k]);
    out.ok = r.ok;
    out.entriesRead = r.entriesRead;
    out.message = r.message;
    return out;
}

TableFileOutcome saveTableFile(const QString& path, const TextTable& messages) {
    TableFileOutcome out;
    const auto format = tableFormatForName(path);
    if (!format) {
        out.ok = false;
        out.message =
            QStringLiteral("Nothing was saved: the file name must end in %1").arg(kKnownSuffixes);
        return out;
    }
    out.format = *format;
    if (out.format == TableFormat::Csv) {
        const CsvResult r = writeCsvTable(path, messages);
        out.ok = out.written = r.ok;
        out.message = r.message;
        return out;
    }
    const TableFileResult r = writeSavTable(path, messages);
    out.ok = r.ok;
    out.written = r.written;
    out.message = r.message;
    return out;
}
