#include "table/CsvRecords.h"

#include <algorithm>

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Splits text into records by RFC 4180, with blanks around fields dropped.
class RecordScanner {
public:
    RecordScanner(const QString& text, QChar separator) : text_(text), separator_(separator) {}

    std::optional<QVector<CsvRecord>> scan(QString& why) {
        while (i_ < text_.size()) {
            skipBlanks();
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
    bool atSeparator() const { return i_ < text_.size() && text_.at(i_) == separator_; }
    void skipBlanks() {
        while (i_ < text_.size() && isBlank(text_.at(i_)))
            ++i_;
    }
    bool stop(const QString& why) {
        why_ = QStringLiteral("line %1: %2").arg(line_).arg(why);
        return false;
    }

    bool quotedField() {
        const int opened = line_;
        for (++i_; i_ < text_.size(); ++i_) {
            if (at('"')) {
                ++i_;
                if (!at('"')) {
                    skipBlanks();
                    return true; // the closing quote
                }
            } else if (at('\n')) {
                ++line_;
            }
            field_ += text_.at(i_);
        }
        line_ = opened;
        return stop(QStringLiteral("a quoted field is never closed"));
    }

    bool bareField() {
        for (; i_ < text_.size() && !atSeparator() && !at('\r') && !at('\n'); ++i_) {
            if (at('"'))
                return stop(QStringLiteral("a double quote inside a field that does not begin "
                                           "with one (write it \"\" inside a quoted field)"));
            field_ += text_.at(i_);
        }
        while (!field_.isEmpty() && isBlank(field_.back()))
            field_.chop(1);
        return true;
    }

    // What follows a field: a separator, a line end, or the end of the text.
    bool afterField() {
        if (i_ >= text_.size()) {
            endRecord();
        } else if (atSeparator()) {
            current_.fields << field_;
            field_.clear();
            ++i_;
            if (i_ >= text_.size())
                endRecord(); // the last field is empty
        } else if (at('\n') || QStringView(text_).mid(i_, 2) == u"\r\n") {
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
        current_ = CsvRecord{line_, {}};
    }

    const QString& text_;
    const QChar separator_;
    qsizetype i_ = 0;
    int line_ = 1;
    QString field_;
    CsvRecord current_{line_, {}};
    QVector<CsvRecord> out_;
    QString why_;
};

} // namespace

bool CsvRecord::blank() const {
    return std::all_of(fields.begin(), fields.end(), [](const QString& f) { return f.isEmpty(); });
}

std::optional<QVector<CsvRecord>> scanCsvRecords(const QString& text, QChar separator,
                                                 QString& why) {
    return RecordScanner(text, separator).scan(why);
}

QString csvField(const QString& field, QChar separator) {
    const bool blankEnd = !field.isEmpty() && (isBlank(field.front()) || isBlank(field.back()));
    if (!blankEnd && !field.contains(separator) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\r')) && !field.contains(QLatin1Char('\n')))
        return field;
    QString q = field;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

namespace {
// The text begins like a formula once any apostrophes before are passed.
bool startsLikeFormula(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char('\''))
        ++i;
    return i < text.size() && QStringLiteral("=+-@").contains(text.at(i));
}
} // namespace

QString formulaGuarded(const QString& cell) {
    return startsLikeFormula(cell) ? QLatin1Char('\'') + cell : cell;
}

QString formulaUnguarded(const QString& cell) {
    const bool marked = cell.startsWith(QLatin1Char('\'')) && startsLikeFormula(cell);
    return marked ? cell.mid(1) : cell;
}
