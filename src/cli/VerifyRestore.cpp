// qv840ctl verify FILE and restore FILE: is the unit what a backup says, and
// make it so, proven by reading it back.

#include "cli/Commands.h"
#include "cli/Session.h"
#include "table/UnitSync.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const QString kFileUsage = QStringLiteral("FILE.sav|FILE.csv|DIR");

// The one FILE a command takes; nothing after saying what is wrong.
std::optional<QString> fileArgument(const QString& command, const QStringList& args) {
    QCommandLineParser parser;
    if (!parser.parse(QStringList{QStringLiteral("qv840ctl ") + command} + args)) {
        fail(Exit::BadInput, parser.errorText());
        return std::nullopt;
    }
    if (parser.positionalArguments().size() != 1) {
        fail(Exit::BadInput,
             QStringLiteral("usage: qv840ctl [options] %1 %2").arg(command, kFileUsage));
        return std::nullopt;
    }
    return parser.positionalArguments().constFirst();
}

// The file's table over the defaults; a restore also refuses, before the
// port is opened, a table some slot could not hold.
std::optional<int> loadTable(Session& s, const QString& file, TextTable& table, bool forRestore) {
    const TextTable& defaults = s.messages.defaults();
    table = defaults;
    if (const auto status = loadTableArgument(file, defaults, table))
        return status;
    const QStringList problems = forRestore ? restoreProblems(table, defaults) : QStringList();
    if (!problems.isEmpty())
        return fail(Exit::BadInput,
                    QStringLiteral("nothing was written; these messages cannot go to the unit: ") +
                        problems.join(QStringLiteral("; ")));
    return std::nullopt;
}

// One line per differing slot, then the summary, on stdout.
void printDifferences(const QVector<SlotDifference>& differences, const QString& summary) {
    for (const SlotDifference& d : differences)
        printOut(differenceText(d));
    printOut(summary);
}

int compareWith(Session& s, const TextTable& table) {
    UnitSync sync(s.transport(), s.table, s.op);
    sync.setBlockReads(s.connection.line.blockReads);
    const StopOnSignal stop(s.signalWatch, [&sync] { sync.requestStop(); });
    const CompareResult r = sync.compare(s.connection.unitAddress, table, s.messages.defaults());
    if (r.run.outcome != BulkResult::Outcome::Completed)
        return bulkStatus(r.run);
    printDifferences(r.differences, compareSummary(r));
    return r.matches() ? Exit::Done : Exit::NoAnswer;
}

int restoreFrom(Session& s, const TextTable& table) {
    UnitSync sync(s.transport(), s.table, s.op);
    sync.setBlockReads(s.connection.line.blockReads);
    sync.setChangeRecord(&s.history);
    const StopOnSignal stop(s.signalWatch, [&sync] { sync.requestStop(); });
    const RestoreResult r = sync.restore(s.connection.unitAddress, table, s.messages.defaults());
    if (r.run.outcome != BulkResult::Outcome::Completed)
        return bulkStatus(r.run);
    printDifferences(r.differences, restoreSummary(r));
    return r.restored() ? Exit::Done : Exit::NoAnswer;
}

int syncCommand(const GlobalOptions& options, const QStringList& args, bool restore) {
    const QString name = restore ? QStringLiteral("restore") : QStringLiteral("verify");
    const auto file = fileArgument(name, args);
    if (!file)
        return Exit::BadInput;
    if (QFileInfo(*file).isDir()) // a line's backup: each unit-NN.sav to its unit
        return runLineSync(options, *file, restore);
    TextTable table; // filled before the port is opened
    return withUnit(
        options, name, [&](Session& s) { return loadTable(s, *file, table, restore); },
        [&](Session& s) { return restore ? restoreFrom(s, table) : compareWith(s, table); });
}

} // namespace

int runVerify(const GlobalOptions& options, const QStringList& args) {
    return syncCommand(options, args, false);
}

int runRestore(const GlobalOptions& options, const QStringList& args) {
    return syncCommand(options, args, true);
}
