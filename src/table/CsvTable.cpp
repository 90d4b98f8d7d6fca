#include "table/CsvTable.h"

#include "startup/CodePage.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"
#include "startup/Interlocks.h"
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

// Splits text into records by RFC 4180: a quote out of place, a lone CR or
// an unclosed quoted field stops it with the reason in why.
class RecordScanner {
public:
    explicit RecordScanner(const QString& text) : text_(text) {}

    std::optional<QVector<Record>> scan(QString& why) {
        while (i_ < text_.size()) {
            const bool ok = at('"') ? quotedField() : bareField();
            if (!ok || !afterField()) {
                why = why_;
                return std::nullopt;
            }
        }
        return out_;
    }

private:
    bool at(char c) const { return i_ < text_.size() && text_.at(i_) == QLatin1Char(c); }
    bool stop(const QString& why) {
        why_ = QStringLiteral("line %1: %2").arg(line_).arg(why);
        return false;
    }

    bool quotedField() {
        const int opened = line_;
        for (++i_; i_ < text_.size(); ++i_) {
            if (at('"')) {
                ++i_;
                if (!at('"'))
                    return true; // the closing quote
            } else if (at('\n')) {
                ++line_;
            }
            field_ += text_.at(i_);
        }
        line_ = opened;
        return stop(QStringLiteral("a quoted field is never closed"));
    }

    bool bareField() {
        for (; i_ < text_.size() && !at(',') && !at('\r') && !at('\n'); ++i_) {
            if (at('"'))
                return stop(QStringLiteral("a double quote inside a field that does not begin "
                                           "with one (write it \"\" inside a quoted field)"));
            field_ += text_.at(i_);
        }
        return true;
    }

    // What follows a field: a comma, a line end, or the end of the text.
    bool afterField() {
        if (i_ >= text_.size()) {
            endRecord();
        } else if (at(',')) {
            current_.fields << field_;
            field_.clear();
            ++i_;
        } else if (at('\n') || (at('\r') && i_ + 1 < text_.size() && text_.at(i_ + 1) == '\n')) {
            i_ += at('\r') ? 2 : 1;
            ++line_;
            endRecord();
        } else if (at('\r')) {
            return stop(QStringLiteral("a carriage return that does not end a line"));
        } else {
            return stop(QStringLiteral("text after the closing double quote of a field"));
        }
        return true;
    }

    void endRecord() {
        current_.fields << field_;
        field_.clear();
        out_ << current_;
        current_ = Record{line_, {}};
    }

    const QString& text_;
    qsizetype i_ = 0;
    int line_ = 1;
    QString field_;
    Record current_{1, {}};
    QVector<Record> out_;
    QString why_;
};

// Slot k's row: its terminal and group cells, when given, must be slot k's,
// and its message one the unit may be sent. Why not, or an empty text.
QString rowProblem(const Record& rec, int k) {
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
    return messageProblem(MessageText::unescaped(rec.fields.at(3)));
}

// The slot a row names, 0..19, or -1.
int slotOf(const QString& text) {
    bool ok = !text.isEmpty() && text.size() <= 2;
    for (QChar c : text)
        ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int k = ok ? text.toInt() : -1;
    return k < kInterlockCount ? k : -1;
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
    const auto rows = RecordScanner(text).scan(why);
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
        const int k = slotOf(rec.fields.at(0));
        if (k < 0)
            return failure(QStringLiteral("%1: the slot \"%2\" is not a number from 0 to %3")
                               .arg(at, rec.fields.at(0))
                               .arg(kInterlockCount - 1));
        if (lineOf[size_t(k)] != 0)
            return failure(QStringLiteral("%1: slot %2 is already on line %3")
                               .arg(at)
                               .arg(k)
                               .arg(lineOf[size_t(k)]));
        lineOf[size_t(k)] = rec.line;
        if (const QString problem = rowProblem(rec, k); !problem.isEmpty())
            return failure(QStringLiteral("%1 (slot %2): %3").arg(at).arg(k).arg(problem));
        const QString message = MessageText::unescaped(rec.fields.at(3));
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
