#include "table/CsvTable.h"

#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"
#include "startup/UnitText.h"
#include "table/CsvRecords.h"
#include "table/TableFile.h"

#include <QStringDecoder>
#include <QStringList>

namespace {

const QStringList kHeader = {QStringLiteral("slot"), QStringLiteral("terminal"),
                             QStringLiteral("group"), QStringLiteral("message")};

CsvResult failure(const QString& message) {
    return CsvResult{false, message};
}

QString groupCaption(int k) {
    for (const InterlockGroup& g : interlockGroups())
        if (g.indices.contains(k))
            return g.caption;
    return {};
}

// Slot k's row: its terminal and group cells, when given, must be slot k's,
// and its message one a unit can hold. Why not, or an empty text.
QString rowProblem(const CsvRecord& rec, int k) {
    const QString terminal = rec.fields.at(1).trimmed();
    if (!terminal.isEmpty() && terminal != terminalCaption(k))
        return QStringLiteral("the terminal \"%1\" is not slot %2's (%3)")
            .arg(terminal)
            .arg(k)
            .arg(terminalCaption(k));
    const QString group = rec.fields.at(2).trimmed();
    if (!group.isEmpty() && group != groupCaption(k))
        return QStringLiteral("the group \"%1\" is not slot %2's (%3)")
            .arg(group)
            .arg(k)
            .arg(groupCaption(k));
    return UnitText::holdProblem(csvCellMessage(rec.fields.at(3)));
}

// The slot a row names, 0..19, or -1.
int slotOf(const QString& cell) {
    const QString text = cell.trimmed();
    bool ok = !text.isEmpty() && text.size() <= 2;
    for (QChar c : text)
        ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int k = ok ? text.toInt() : -1;
    return k < kInterlockCount ? k : -1;
}

QString quoted(const QString& field) {
    const bool blankEnd = field.startsWith(QLatin1Char(' ')) || field.endsWith(QLatin1Char(' '));
    if (!blankEnd && !field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')))
        return field;
    QString q = field;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

// The file's text: UTF-8 after an optional mark, holding no control character
// but the tab and the line ends. Nothing, with why, otherwise.
std::optional<QString> csvText(const QByteArray& data, QString& why) {
    if (looksLikeUtf16(data)) {
        why = QStringLiteral("the file is UTF-16 text (a spreadsheet's \"Unicode text\"); save "
                             "the table as CSV in UTF-8 instead");
        return std::nullopt;
    }
    const QByteArray bytes = data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        why = QStringLiteral("the file is not UTF-8 text");
        return std::nullopt;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if ((u < 0x20 && u != '\t' && u != '\r' && u != '\n') || u == 0x7F) {
            why = QStringLiteral("line %1 holds %2: it is not a CSV table")
                      .arg(text.left(i).count(QLatin1Char('\n')) + 1)
                      .arg(MessageText::describeUnsendable(text.at(i)));
            return std::nullopt;
        }
    }
    return text;
}

// The twenty rows after the header set table; why names the first bad one.
bool takeRows(const QVector<CsvRecord>& rows, const TextTable& defaults, TextTable& table,
              QString& why) {
    std::array<int, kInterlockCount> lineOf{}; // 0: slot not seen yet
    for (qsizetype r = 1; r < rows.size(); ++r) {
        const CsvRecord& rec = rows.at(r);
        const QString at = QStringLiteral("line %1").arg(rec.line);
        const int k = rec.fields.size() == kHeader.size() ? slotOf(rec.fields.at(0)) : -1;
        if (rec.fields.size() != kHeader.size())
            why = QStringLiteral("%1: %2 fields, not the 4 of the header row")
                      .arg(at)
                      .arg(rec.fields.size());
        else if (k < 0)
            why = QStringLiteral("%1: the slot \"%2\" is not a number from 0 to %3")
                      .arg(at, rec.fields.at(0))
                      .arg(kInterlockCount - 1);
        else if (lineOf[size_t(k)] != 0)
            why = QStringLiteral("%1: slot %2 is already on line %3")
                      .arg(at)
                      .arg(k)
                      .arg(lineOf[size_t(k)]);
        else if (const QString problem = rowProblem(rec, k); !problem.isEmpty())
            why = QStringLiteral("%1 (slot %2): %3").arg(at).arg(k).arg(problem);
        if (!why.isEmpty())
            return false;
        lineOf[size_t(k)] = rec.line;
        const QString message = csvCellMessage(rec.fields.at(3));
        table[size_t(k)] = UnitText::entryFor(message, defaults[size_t(k)]);
    }
    QStringList missing;
    for (int k = 0; k < kInterlockCount; ++k)
        if (lineOf[size_t(k)] == 0)
            missing << QString::number(k);
    if (missing.isEmpty())
        return true;
    why = QStringLiteral("no row for slot %1; a CSV table has exactly one row for each of the "
                         "slots 0 to %2")
              .arg(missing.join(QStringLiteral(", ")))
              .arg(kInterlockCount - 1);
    return false;
}

} // namespace

bool isCsvName(const QString& path) {
    return path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
}

std::optional<QChar> csvSeparatorOf(const QString& text) {
    qsizetype end = 0;
    while (end < text.size() && text.at(end) != QLatin1Char('\r') &&
           text.at(end) != QLatin1Char('\n'))
        ++end;
    const QString firstLine = text.left(end);
    for (const QChar separator : {QLatin1Char(','), QLatin1Char(';')}) {
        QString why;
        const auto records = scanCsvRecords(firstLine, separator, why);
        if (!records || records->size() != 1)
            continue;
        QStringList header;
        for (const QString& f : records->constFirst().fields)
            header << f.trimmed().toLower();
        if (header == kHeader)
            return separator;
    }
    return std::nullopt;
}

QString csvMessageCell(const QString& message) {
    return formulaGuarded(MessageText::escaped(message));
}

QString csvCellMessage(const QString& cell) {
    return MessageText::unescaped(formulaUnguarded(cell));
}

CsvResult parseCsvTable(const QByteArray& data, const TextTable& defaults, TextTable& out) {
    QString why;
    const auto text = csvText(data, why);
    if (!text)
        return failure(why);
    if (text->trimmed().isEmpty())
        return failure(QStringLiteral("the file is empty"));
    const auto separator = csvSeparatorOf(*text);
    if (!separator)
        return failure(QStringLiteral("line 1: the header row must be %1 (or with semicolons)")
                           .arg(kHeader.join(',')));
    auto rows = scanCsvRecords(*text, *separator, why);
    if (!rows)
        return failure(why);
    while (rows->size() > 1 && rows->constLast().blank())
        rows->removeLast(); // what spreadsheets leave after the last row
    TextTable table = out;
    if (!takeRows(*rows, defaults, table, why))
        return failure(why);
    out = table;
    return {};
}

CsvResult readCsvTable(const QString& path, const TextTable& defaults, TextTable& out) {
    const auto refused = [&path](const QString& why) {
        return failure(QStringLiteral("%1 is not a CSV message table: %2. No message was changed.")
                           .arg(path, why));
    };
    QByteArray data;
    if (const auto problem = readBoundedFile(path, kMaxTableFileBytes, "a message table", data))
        return refused(problem->text);
    const CsvResult r = parseCsvTable(data, defaults, out);
    return r.ok ? r : refused(r.message);
}

QByteArray csvTableBytes(const TextTable& messages, QString* why) {
    QString text = kHeader.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (int k = 0; k < kInterlockCount; ++k) {
        const QString& message = messages[size_t(k)];
        if (const QString problem = UnitText::holdProblem(message); !problem.isEmpty()) {
            if (why)
                *why = QStringLiteral("slot %1 (%2): %3").arg(k).arg(terminalCaption(k), problem);
            return {};
        }
        text +=
            QStringLiteral("%1,%2,%3,%4\r\n")
                .arg(k)
                .arg(terminalCaption(k), quoted(groupCaption(k)), quoted(csvMessageCell(message)));
    }
    return text.toUtf8();
}

CsvResult writeCsvTable(const QString& path, const TextTable& messages) {
    if (!isCsvName(path))
        return failure(QStringLiteral("Nothing was saved: the file name must end in .csv"));
    QString why;
    const QByteArray data = csvTableBytes(messages, &why);
    if (data.isEmpty())
        return failure(QStringLiteral("Nothing was saved: %1.").arg(why));
    if (const auto problem = writeWholeFile(path, data))
        return failure(
            QStringLiteral("Cannot save %1: %2. Nothing was saved.").arg(path, *problem));
    return {};
}
