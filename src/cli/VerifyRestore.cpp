// qv840ctl verify FILE and restore FILE: is the unit what a backup says, and
// make it so, proven by reading it back.

#include "cli/Commands.h"
#include "cli/Session.h"
#include "line/LineFolder.h"
#include "table/TableFiles.h"
#include "table/UnitSync.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

const QString kFileUsage = QStringLiteral("FILE.sav|FILE.csv|DIR [--units A-B]");

struct SyncArguments {
    QString file;
    QString units; // --units, with a folder
    bool unitsGiven = false;
};

// The one FILE a command takes, and --units for a folder; nothing after
// saying what is wrong.
std::optional<SyncArguments> syncArguments(const QString& command, const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption units(QStringLiteral("units"), QStringLiteral("Unit addresses."),
                                   QStringLiteral("A-B"));
    parser.addOption(units);
    if (!parser.parse(QStringList{QStringLiteral("qv840ctl ") + command} + args)) {
        fail(Exit::BadInput, parser.errorText());
        return std::nullopt;
    }
    if (parser.positionalArguments().size() != 1) {
        fail(Exit::BadInput,
             QStringLiteral("usage: qv840ctl [options] %1 %2").arg(command, kFileUsage));
        return std::nullopt;
    }
    return SyncArguments{parser.positionalArguments().constFirst(), parser.value(units),
                         parser.isSet(units)};
}

// The file's table over the defaults. It must hold every slot, and a file
// named after a unit (unit-05.sav) goes to another only when -a names it. A
// restore also refuses, before the port is opened, a table some slot could
// not hold.
std::optional<int> loadTable(Session& s, const QString& file, TextTable& table, bool forRestore) {
    const TextTable& defaults = s.messages.defaults();
    const auto named = unitNamedBy(file);
    if (named && !s.options().unitGiven)
        return fail(Exit::BadInput,
                    QStringLiteral("%1 is unit %2's table (its name says so); nothing was %3. "
                                   "Give -a %2 to %4 unit %2, or -a N for another unit")
                        .arg(QDir::toNativeSeparators(file))
                        .arg(*named)
                        .arg(forRestore ? QStringLiteral("written") : QStringLiteral("read"),
                             forRestore ? QStringLiteral("restore it to")
                                        : QStringLiteral("compare it with")));
    table = defaults;
    const TableFileOutcome opened = loadTableFile(file, defaults, table);
    if (!opened.ok)
        return fail(Exit::BadInput, opened.message);
    if (const auto cut = shortTableProblem(file, opened.entriesRead))
        return fail(Exit::BadInput, *cut);
    if (!opened.message.isEmpty())
        printErr(QStringLiteral("qv840ctl: ") + opened.message);
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
    UnitSync sync(s.transport(), nullptr, s.notices, kTerminalPolicy);
    sync.setBlockReads(s.connection.line.blockReads);
    const StopOnSignal stop(s.signalWatch, [&sync] { sync.requestStop(); });
    const CompareResult r = sync.compare(s.connection.unitAddress, table, s.messages.defaults());
    if (r.run.outcome != BulkResult::Outcome::Completed)
        return bulkStatus(r.run);
    printDifferences(r.differences, compareSummary(r));
    return r.matches() ? Exit::Done : Exit::NoAnswer;
}

int restoreFrom(Session& s, const TextTable& table) {
    UnitSync sync(s.transport(), nullptr, s.notices, kTerminalPolicy);
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
    const auto a = syncArguments(name, args);
    if (!a)
        return Exit::BadInput;
    if (QFileInfo(a->file).isDir()) { // a line's backup: each unit-NN.sav to its unit
        const auto chosen = chosenUnits(options, a->units, a->unitsGiven);
        return chosen ? runLineSync(options, a->file, restore, *chosen) : Exit::BadInput;
    }
    if (a->unitsGiven)
        return fail(Exit::BadInput, QStringLiteral("--units goes with a folder; for one file, "
                                                   "-a names the unit"));
    TextTable table; // filled before the port is opened
    return withUnit(
        options, name, [&](Session& s) { return loadTable(s, a->file, table, restore); },
        [&](Session& s) { return restore ? restoreFrom(s, table) : compareWith(s, table); });
}

} // namespace

int runVerify(const GlobalOptions& options, const QStringList& args) {
    return syncCommand(options, args, false);
}

int runRestore(const GlobalOptions& options, const QStringList& args) {
    return syncCommand(options, args, true);
}
