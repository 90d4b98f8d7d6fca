// qv840ctl history: the record of the changes made to units, from the
// history file the window and the commands append to.

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "startup/MessageText.h"
#include "table/HistoryFile.h"

#include <QCommandLineParser>
#include <QDir>

namespace {

// 2024-05-01 (from its start, local time) or 2024-05-01T14:30[:00][+02:00].
QDateTime sinceTime(const QString& text) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid())
        return day.startOfDay();
    return QDateTime::fromString(text, Qt::ISODate);
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
    if (parser.isSet(since) && !(from = sinceTime(parser.value(since))).isValid())
        return fail(Exit::BadInput,
                    QStringLiteral("--since \"%1\" is not a date: give 2024-05-01 or "
                                   "2024-05-01T14:30")
                        .arg(parser.value(since)));
    const QString path = HistoryFile::defaultPath();
    const HistoryRead read = readHistory(path);
    if (!read.error.isEmpty())
        return fail(
            Exit::BadInput,
            QStringLiteral("cannot read %1: %2").arg(QDir::toNativeSeparators(path), read.error));
    for (const SlotChange& c : historyOf(read.changes, which, from))
        printOut(changeLine(c));
    if (read.damaged > 0)
        fail(Exit::Done,
             QStringLiteral("%1 damaged %2 in %3 skipped")
                 .arg(read.damaged)
                 .arg(read.damaged == 1 ? QStringLiteral("line") : QStringLiteral("lines"))
                 .arg(QDir::toNativeSeparators(path)));
    return Exit::Done;
}
