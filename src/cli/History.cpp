// qv840ctl history: the record of the changes made to units, from the
// history file the window and the commands append to.

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "startup/MessageText.h"
#include "table/HistoryFile.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>

namespace {

const QString kSinceForms = QStringLiteral("give 2024-05-01 or 2024-05-01T14:30");

// The seconds ahead of UTC that zone (Z, +02:00, -05:30) names; nothing for
// none given (local time). The form has been matched; the range is checked.
std::optional<int> offsetOf(const QString& zone, bool& ok) {
    ok = true;
    if (zone.isEmpty())
        return std::nullopt;
    if (zone == QLatin1String("Z"))
        return 0;
    const int hours = zone.mid(1, 2).toInt();
    const int minutes = zone.mid(4, 2).toInt();
    ok = hours < 15 && minutes < 60;
    return (zone.startsWith(QLatin1Char('-')) ? -1 : 1) * (hours * 3600 + minutes * 60);
}

// 2024-05-01 (from its start, local time) or 2024-05-01T14:30[:00], local
// time or with Z or an offset (+02:00); nothing, with why, for another form
// or a date or time that does not exist (2024-02-30, T24:00, T23:60).
std::optional<QDateTime> sinceTime(const QString& text, QString& why) {
    static const QRegularExpression form(QStringLiteral(
        "^(\\d{4})-(\\d\\d)-(\\d\\d)(?:T(\\d\\d):(\\d\\d)(?::(\\d\\d))?(Z|[+-]\\d\\d:\\d\\d)?)?$"));
    const QRegularExpressionMatch m = form.match(text);
    why = QStringLiteral("--since \"%1\"").arg(text);
    if (!m.hasMatch()) {
        why += QStringLiteral(" is not a date: ") + kSinceForms;
        return std::nullopt;
    }
    const auto n = [&m](int i) { return m.captured(i).toInt(); };
    const QDate day(n(1), n(2), n(3));
    if (!day.isValid()) {
        why += QStringLiteral(": no such day in the calendar; ") + kSinceForms;
        return std::nullopt;
    }
    if (!m.hasCaptured(4))
        return day.startOfDay();
    const QTime time(n(4), n(5), n(6)); // hours 0..23, minutes and seconds 0..59
    if (!time.isValid()) {
        why += QStringLiteral(": no such time of day (hours 00 to 23, minutes and seconds 00 "
                              "to 59)");
        return std::nullopt;
    }
    bool known = true;
    const auto offset = offsetOf(m.captured(7), known);
    if (!known) {
        why += QStringLiteral(": no such offset from UTC (at most 14:59 either way)");
        return std::nullopt;
    }
    const QDateTime at =
        !offset ? QDateTime(day, time) : QDateTime(day, time, Qt::OffsetFromUTC, *offset);
    if (!at.isValid()) // an hour skipped when the clocks go forward
        why += QStringLiteral(": no such time on the local clock (the clocks went forward)");
    return at.isValid() ? std::optional<QDateTime>(at) : std::nullopt;
}

QString shownText(const QString& text) {
    return text.isEmpty() ? QStringLiteral("-")
                          : QLatin1Char('"') + MessageText::escaped(text) + QLatin1Char('"');
}

// One change a line, the columns two blanks apart:
// time  port[ speed]  unit N  slot S (terminal)  before -> written  result
QString changeLine(const SlotChange& c) {
    const QString line = c.speed.isEmpty() ? c.endpoint : c.endpoint + QLatin1Char(' ') + c.speed;
    return QStringList{c.time.toString(Qt::ISODate),
                       line,
                       QStringLiteral("unit %1").arg(c.unit),
                       QStringLiteral("slot %1 (%2)").arg(c.slot).arg(c.terminal),
                       shownText(c.before) + QStringLiteral(" -> ") + shownText(c.written),
                       c.result}
        .join(QStringLiteral("  "));
}

// "12 changes", "3 of 12 changes shown", with ", 1 damaged line skipped".
QString readSummary(const HistoryRead& read, const QVector<SlotChange>& shown) {
    const auto count = [](qsizetype n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    QString said = shown.size() == read.changes.size()
                       ? count(shown.size(), "change", "changes")
                       : QStringLiteral("%1 of %2 shown")
                             .arg(shown.size())
                             .arg(count(read.changes.size(), "change", "changes"));
    if (read.damaged > 0)
        said += QStringLiteral(", ") + count(read.damaged, "damaged line", "damaged lines") +
                QStringLiteral(" skipped");
    return said;
}

} // namespace

int runHistory(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption unit{QStringLiteral("unit"), QStringLiteral("unit"),
                                  QStringLiteral("N")};
    const QCommandLineOption since{QStringLiteral("since"), QStringLiteral("since"),
                                   QStringLiteral("DATE")};
    parser.addOptions({unit, since});
    if (!parser.parse(QStringList{QStringLiteral("qv840ctl history")} + args))
        return fail(Exit::BadInput, parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(Exit::BadInput,
                    QStringLiteral("usage: qv840ctl history [--unit N] [--since DATE]"));
    std::optional<int> which;
    if (parser.isSet(unit)) {
        bool ok = false;
        which = parser.value(unit).toInt(&ok);
        if (!ok || *which < 0)
            return fail(
                Exit::BadInput,
                QStringLiteral("--unit \"%1\" is not a unit address").arg(parser.value(unit)));
    } else if (options.unitGiven) {
        which = options.unit;
    }
    QDateTime from;
    if (parser.isSet(since)) {
        QString why;
        const auto time = sinceTime(parser.value(since), why);
        if (!time)
            return fail(Exit::BadInput, why);
        from = *time;
    }
    const QString path = HistoryFile::defaultPath();
    const QString shownPath = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path)) {
        return fail(Exit::Done, QStringLiteral("no history yet: %1 does not exist").arg(shownPath));
    }
    const HistoryRead read = readHistory(path);
    if (!read.error.isEmpty())
        return fail(Exit::BadInput,
                    QStringLiteral("cannot read %1: %2").arg(shownPath, read.error));
    const QVector<SlotChange> shown = historyOf(read.changes, which, from);
    for (const SlotChange& c : shown)
        printOut(changeLine(c));
    return fail(Exit::Done,
                QStringLiteral("history of %1: %2").arg(shownPath, readSummary(read, shown)));
}
