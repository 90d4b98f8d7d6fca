// The whole line from the command line: qv840ctl backup reads every unit of
// an address range (or every unit a scan of the line finds) into
// DIR/unit-NN.sav and lists them in DIR/index.csv; verify DIR and restore DIR
// take each unit-NN.sav of a folder back to its unit. The work is
// line/LineRun's; this prints it.

#include "cli/Commands.h"
#include "cli/Session.h"

#include "line/LineRun.h"
#include "scan/Scanner.h"
#include "startup/MessageText.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <functional>

namespace {

// The run's progress on the terminal: each unit's line as it ends.
class TerminalLine : public LineProgress {
public:
    explicit TerminalLine(std::function<void(const LineUnitResult&)> done)
        : done_(std::move(done)) {}
    void lineProgress(int, int, int) override {}
    void unitFinished(const LineUnitResult& r) override { done_(r); }

private:
    std::function<void(const LineUnitResult&)> done_;
};

LineRun& lineRunOf(Session& s, std::unique_ptr<LineRun>& run) {
    run = std::make_unique<LineRun>(s.transport(), s.notices, s.messages);
    run->setBlockReads(s.connection.line.blockReads);
    return *run;
}

// No --units: the units a scan of the line finds at its speed, 1 to 31; an
// exit status when none answered or the scan was stopped.
std::optional<int> scanForUnits(Session& s, QVector<int>& units) {
    Scanner scanner(s.transport(), sessionScanLine(s));
    const StopOnSignal stop(s.signalWatch, [&scanner] { scanner.requestStop(); });
    const ScanPlan plan; // every address, at the line's speed
    printErr(QStringLiteral("qv840ctl: scanning units %1-%2 on %3")
                 .arg(plan.firstUnit)
                 .arg(plan.lastUnit)
                 .arg(s.portName()));
    const ScanResult r = scanner.run(plan);
    if (SignalWatch::first()) {
        s.stoppedDetail = QStringLiteral(" while scanning; nothing was saved");
        return Exit::NoAnswer;
    }
    if (r.outcome != ScanResult::Outcome::Finished)
        return fail(Exit::PortProblem, r.error);
    QStringList found;
    for (const FoundUnit& f : r.found)
        if (!units.contains(f.unit)) {
            units << f.unit;
            found << QString::number(f.unit);
        }
    if (units.isEmpty())
        return fail(Exit::NoAnswer, QStringLiteral("no unit answered; nothing was saved"));
    printErr(QStringLiteral("qv840ctl: found unit%1 %2")
                 .arg(units.size() == 1 ? QString() : QStringLiteral("s"),
                      found.join(QStringLiteral(", "))));
    return std::nullopt;
}

int backupLine(Session& s, QVector<int> units, const QString& folder) {
    if (units.isEmpty())
        if (const auto status = scanForUnits(s, units))
            return *status;
    std::unique_ptr<LineRun> owner;
    LineRun& run = lineRunOf(s, owner);
    TerminalLine progress([](const LineUnitResult& b) {
        printOut(QStringLiteral("%1\t%2\t%3")
                     .arg(b.unit)
                     .arg(b.result, MessageText::escaped(b.firstMessage)));
    });
    run.setProgress(&progress);
    const StopOnSignal stop(s.signalWatch, [&run] { run.requestStop(); });
    const LineReport r = run.backup(units, folder);
    if (r.outcome == LineReport::Outcome::Refused || r.indexFile.isEmpty())
        return fail(Exit::BadInput, r.error);
    if (r.outcome == LineReport::Outcome::Stopped) {
        const auto finished = std::count_if(r.units.cbegin(), r.units.cend(), [](const auto& u) {
            return u.result != QLatin1String("stopped");
        });
        s.stoppedDetail = QStringLiteral(" after %1 of %2 units, %3 saved; %4 lists them")
                              .arg(finished)
                              .arg(r.planned)
                              .arg(r.okCount())
                              .arg(r.indexFile);
        return Exit::NoAnswer;
    }
    printErr(QStringLiteral("qv840ctl: %1 of %2 units saved in %3")
                 .arg(r.okCount())
                 .arg(r.planned)
                 .arg(QDir::toNativeSeparators(folder)));
    if (r.outcome == LineReport::Outcome::PortFailed)
        return Exit::PortProblem;
    return r.okCount() == r.planned ? Exit::Done : Exit::NoAnswer;
}

int syncLine(Session& s, const QVector<UnitFile>& files, bool restore) {
    std::unique_ptr<LineRun> owner;
    LineRun& run = lineRunOf(s, owner);
    run.setChangeRecord(&s.history); // a compare writes nothing, so nothing is recorded
    QStringList lines;
    TerminalLine progress([&lines](const LineUnitResult& u) {
        for (const SlotDifference& d : u.differences)
            printOut(QStringLiteral("unit %1: %2").arg(u.unit).arg(differenceText(d)));
        lines << QStringLiteral("unit %1 (%2): %3")
                     .arg(u.unit)
                     .arg(QFileInfo(u.file).fileName(), u.result);
    });
    run.setProgress(&progress);
    const StopOnSignal stop(s.signalWatch, [&run] { run.requestStop(); });
    const LineReport r = restore ? run.restore(files) : run.compare(files);
    for (const QString& line : lines)
        printOut(line);
    s.stoppedDetail = QStringLiteral(" after %1 of %2 units").arg(r.units.size()).arg(r.planned);
    switch (r.outcome) {
    case LineReport::Outcome::Refused:
        return fail(Exit::PortProblem, r.error);
    case LineReport::Outcome::PortFailed:
        return r.units.last().box.isEmpty() ? fail(Exit::PortProblem, r.error) : Exit::PortProblem;
    case LineReport::Outcome::Stopped:
        return Exit::NoAnswer;
    case LineReport::Outcome::Finished:
        break;
    }
    return r.okCount() == r.planned ? Exit::Done : Exit::NoAnswer;
}

} // namespace

QString unitFileName(int unit) {
    return lineUnitFileName(unit);
}

std::optional<std::pair<int, int>> unitRangeArgument(const QString& text, int low, int high) {
    QString why;
    const auto range = parseUnitRange(text, low, high, &why);
    if (!range)
        fail(Exit::BadInput, why);
    return range;
}

std::optional<QVector<int>> chosenUnits(const GlobalOptions& options, const QString& range,
                                        bool rangeGiven) {
    QVector<int> units;
    if (rangeGiven && options.unitGiven) {
        fail(Exit::BadInput, QStringLiteral("-a and --units both choose units: give one"));
        return std::nullopt;
    }
    if (options.unitGiven)
        units << options.unit;
    if (rangeGiven) {
        const auto r = unitRangeArgument(range, kFirstUnitAddress, kLastUnitAddress);
        if (!r)
            return std::nullopt;
        for (int unit = r->first; unit <= r->second; ++unit)
            units << unit;
    }
    return units;
}

int runBackup(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser p;
    const QCommandLineOption units(QStringLiteral("units"), QStringLiteral("Unit addresses."),
                                   QStringLiteral("A-B"));
    p.addOption(units);
    if (!p.parse(QStringList{QStringLiteral("qv840ctl backup")} + args))
        return fail(Exit::BadInput, p.errorText());
    if (p.positionalArguments().size() != 1)
        return fail(Exit::BadInput, QStringLiteral("usage: qv840ctl [options] backup "
                                                   "[--units A-B] DIR"));
    const QString folder = p.positionalArguments().constFirst();
    // Empty: the units a scan finds.
    const auto plan = chosenUnits(options, p.value(units), p.isSet(units));
    if (!plan)
        return Exit::BadInput;
    // Where the backup goes is checked before the first request, a scan's included.
    const auto check = [&](Session&) -> std::optional<int> {
        QVector<int> files = *plan;
        if (files.isEmpty()) // a scan may find any unit: each file must be writable
            for (int unit = kFirstUnitAddress; unit <= kLastUnitAddress; ++unit)
                files << unit;
        if (const auto why = backupFolderProblem(folder, files))
            return fail(Exit::BadInput, *why);
        return std::nullopt;
    };
    return withUnit(options, QStringLiteral("backup"), check,
                    [&](Session& s) { return backupLine(s, *plan, folder); });
}

int runLineSync(const GlobalOptions& options, const QString& folder, bool restore,
                const QVector<int>& chosen) {
    QVector<UnitFile> files; // read before the port is opened
    const auto load = [&](Session& s) -> std::optional<int> {
        const LineFolder read = readLineFolder(folder, s.messages.defaults(), restore, chosen);
        for (const QString& note : read.notes)
            printErr(QStringLiteral("qv840ctl: ") + note);
        if (!read.error.isEmpty())
            return fail(Exit::BadInput, read.error);
        files = read.units;
        return std::nullopt;
    };
    return withUnit(options, restore ? QStringLiteral("restore") : QStringLiteral("verify"), load,
                    [&](Session& s) { return syncLine(s, files, restore); });
}
