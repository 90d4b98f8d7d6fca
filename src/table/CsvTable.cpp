#include "table/CsvTable.h"

#include "startup/CodePage.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"
#include "table/Interlocks.h"
#include "table/TableFile.h"

#include <QStringDecoder>
#include <QStringList>

#include <optional>

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

// Why a message cannot be a slot's message, or an empty text.
QString messageProblem(const QString& text) {
    if (text.size() > kMessageMaxLength)
        return QStringLiteral("the message has %1 characters, more than %2")
            .arg(text.size())
            .arg(kMessageMaxLength);
    if (const qsizetype at = MessageText::firstUnsendable(text); at >= 0)
        return QStringLiteral("the message holds %1, which the unit must not be sent")
            .arg(MessageText::describeUnsendable(text.at(at)));
    if (const CodePage::Encoded e = CodePage::encode(text); !e.ok())
        return QStringLiteral("the message holds %1, which Windows-1252 lacks")
            .arg(CodePage::describe(e.badCharacter));
    return {};
}

struct Record {
    int line = 0; // where it starts, from 1
    QStringList fields;
};

// Splits text into records by RFC 4180; nothing, with why set, on a quote
// out of place, a lone CR or an unclosed quoted field.
std::optional<QVector<Record>> records(const QString& text, QString& why) {
    QVector<Record> out;
    Record current{1, {}};
    QString field;
    int line = 1;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto endRecord = [&] {
        current.fields << field;
        field.clear();
        out << current;
        current = Record{line, {}};
    };
    while (i < n) {
        // One field: quoted or bare.
        if (text.at(i) == QLatin1Char('"')) {
            const int opened = line;
            for (++i;; ++i) {
                if (i >= n) {
                    why = QStringLiteral("line %1: a quoted field is never closed").arg(opened);
                    return std::nullopt;
                }
                const QChar c = text.at(i);
                if (c == QLatin1Char('"')) {
                    if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                        field += c;
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (c == QLatin1Char('\n'))
                    ++line;
                field += c;
            }
        } else {
            while (i < n && text.at(i) != QLatin1Char(',') && text.at(i) != QLatin1Char('\r') &&
                   text.at(i) != QLatin1Char('\n')) {
                if (text.at(i) == QLatin1Char('"')) {
                    why = QStringLiteral("line %1: a double quote inside a field that does not "
                                         "begin with one (write it \"\" inside a quoted field)")
                              .arg(line);
                    return std::nullopt;
                }
                field += text.at(i++);
            }
        }
        // What follows a field: a comma, a line end, or the end of the text.
        if (i >= n) {
            endRecord();
            break;
        }
        const QChar c = text.at(i);
        if (c == QLatin1Char(',')) {
            current.fields << field;
            field.clear();
            ++i;
            continue;
        }
        if (c == QLatin1Char('\r') && (i + 1 >= n || text.at(i + 1) != QLatin1Char('\n'))) {
            why = QStringLiteral("line %1: a carriage return that does not end a line").arg(line);
            return std::nullopt;
        }
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            i += c == QLatin1Char('\r') ? 2 : 1;
            ++line;
            endRecord();
            continue;
        }
        why = QStringLiteral("line %1: text after the closing double quote of a field").arg(line);
        return std::nullopt;
    }
    return out;
}

QString quoted(const QString& field) {
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')))
        return field;
    QString q = field;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

} // namespace

bool isCsvName(const QString& path) {
    return path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
}

CsvResult parseCsvTable(const QByteArray& data, const TextTable& defaults, TextTable& out) {
    QByteArray bytes = data;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return failure(QStringLiteral("the file is not UTF-8 text"));
    if (text.contains(QChar(0)))
        return failure(QStringLiteral("the file holds a NUL byte: it is not a CSV table"));

    QString why;
    const auto rows = records(text, why);
    if (!rows)
        return failure(why);
    if (rows->isEmpty())
        return failure(QStringLiteral("the file is empty"));
    QStringList header;
    for (const QString& f : rows->constFirst().fields)
        header << f.trimmed().toLower();
    if (header != kHeader)
        return failure(QStringLiteral("line 1: the header row must be %1").arg(kHeader.join(',')));

    TextTable table = out;
    std::array<int, kInterlockCount> lineOf{}; // 0: slot not seen yet
    for (qsizetype r = 1; r < rows->size(); ++r) {
        const Record& rec = rows->at(r);
        const QString at = QStringLiteral("line %1").arg(rec.line);
        if (rec.fields.size() != kHeader.size())
            return failure(QStringLiteral("%1: %2 fields, not the 4 of the header row")
                               .arg(at)
                               .arg(rec.fields.size()));
        const QString& slotText = rec.fields.at(0);
        bool ok = slotText.size() <= 2 && !slotText.isEmpty();
        for (QChar c : slotText)
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const int k = ok ? slotText.toInt() : -1;
        if (k < 0 || k >= kInterlockCount)
            return failure(QStringLiteral("%1: the slot \"%2\" is not a number from 0 to %3")
                               .arg(at, slotText)
                               .arg(kInterlockCount - 1));
        const QString named = QStringLiteral("%1 (slot %2)").arg(at).arg(k);
        if (lineOf[size_t(k)] != 0)
            return failure(QStringLiteral("%1: slot %2 is already on line %3")
                               .arg(at)
                               .arg(k)
                               .arg(lineOf[size_t(k)]));
        lineOf[size_t(k)] = rec.line;
        const QString terminal = rec.fields.at(1).trimmed();
        if (!terminal.isEmpty() && terminal != terminalCaption(k))
            return failure(QStringLiteral("%1: the terminal \"%2\" is not slot %3's (%4)")
                               .arg(named, terminal)
                               .arg(k)
                               .arg(terminalCaption(k)));
        const QString group = rec.fields.at(2).trimmed();
        if (!group.isEmpty() && group != groupCaption(k))
            return failure(QStringLiteral("%1: the group \"%2\" is not slot %3's (%4)")
                               .arg(named, group)
                               .arg(k)
                               .arg(groupCaption(k)));
        const QString message = MessageText::unescaped(rec.fields.at(3));
        if (const QString problem = messageProblem(message); !problem.isEmpty())
            return failure(QStringLiteral("%1: %2").arg(named, problem));
        table[size_t(k)] = message.isEmpty() ? defaults[size_t(k)] : message;
    }
    QStringList missing;
    for (int k = 0; k < kInterlockCount; ++k)
        if (lineOf[size_t(k)] == 0)
            missing << QString::number(k);
    if (!missing.isEmpty())
        return failure(QStringLiteral("no row for slot %1; a CSV table has exactly one row for "
                                      "each of the slots 0 to %2")
                           .arg(missing.join(QStringLiteral(", ")))
                           .arg(kInterlockCount - 1));
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
        if (const QString problem = messageProblem(message); !problem.isEmpty()) {
            if (why)
                *why = QStringLiteral("slot %1 (%2): %3").arg(k).arg(terminalCaption(k), problem);
            return {};
        }
        text += QStringLiteral("%1,%2,%3,%4\r\n")
                    .arg(k)
                    .arg(terminalCaption(k), quoted(groupCaption(k)),
                         quoted(MessageText::escaped(message)));
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
