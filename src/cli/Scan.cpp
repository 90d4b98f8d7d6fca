// qv840ctl scan: finds the units on a line whose addresses or speed are not
// known. The line is set up as for the unit commands (withUnit): the same
// port or gateway, line options, first-byte wait, trace and signals.

#include "cli/Commands.h"
#include "cli/Session.h"

#include "scan/Scanner.h"
#include "startup/ConfigFiles.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"
#include "table/CsvRecords.h"
#include "table/CsvTable.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <optional>
#include <tuple>

namespace {

// The scan's own options. The wait for each reply (--timeout-ms) and the
// line options are the global ones, which may also follow the command.
struct ScanOptions {
    QCommandLineOption units{QStringLiteral("units"),
                             QStringLiteral("Unit addresses to try, A-B (default 1-31)."),
                             QStringLiteral("A-B")};
    QCommandLineOption speeds{QStringLiteral("speeds"),
                              QStringLiteral("Line speeds to try, comma-separated (default: "
                                             "those of filedata.fm)."),
                              QStringLiteral("LIST")};
    QCommandLineOption first{QStringLiteral("first"),
                             QStringLiteral("Stop at the first unit found.")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Save the units found to FILE.csv."),
                              QStringLiteral("FILE.csv")};
};

// Where -o saves: a .csv name that can be written, checked before the scan
// so that a long scan is not thrown away at its end.
std::optional<int> checkCsvTarget(const QString& path) {
    const QFileInfo file(path);
    if (!isCsvName(file.fileName()))
        return fail(Exit::BadInput,
                    QStringLiteral("the file name %1 must end in .csv").arg(file.filePath()));
    if (!QFileInfo(file.absolutePath()).isWritable())
        return fail(Exit::BadInput,
                    QStringLiteral("cannot save into %1: no such folder, or not writable")
                        .arg(file.absolutePath()));
    if ((file.exists() && (!file.isFile() || !file.isWritable())) ||
        (file.isSymLink() && !file.exists()))
        return fail(Exit::BadInput,
                    QStringLiteral("cannot save to %1: it is not a regular file that can be "
                                   "written")
                        .arg(file.filePath()));
    return std::nullopt;
}

// The units found as a CSV table: UTF-8, CR LF, a header row
// "address,speed,message", one row per unit in the order found; the speed is
// empty when not known (through a gateway).
QByteArray foundCsv(const QVector<FoundUnit>& found) {
    QString text = QStringLiteral("address,speed,message\r\n");
    for (const FoundUnit& f : found)
        text += QStringLiteral("%1,%2,%3\r\n")
                    .arg(f.unit)
                    .arg(f.baud > 0 ? QString::number(f.baud) : QString(),
                         csvField(MessageText::escaped(f.firstMessage)));
    return text.toUtf8();
}

// --speeds 9600,4800, or a status to exit with.
std::optional<int> takeSpeeds(const QString& text, ScanPlan& plan) {
    for (const QString& item : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int baud = item.trimmed().toInt(&ok);
        if (!ok || !isLineSpeed(baud))
            return fail(Exit::BadInput,
                        QStringLiteral("--speeds takes %1, not \"%2\"").arg(lineSpeedList(), item));
        if (!plan.speeds.contains(baud))
            plan.speeds.append(baud);
    }
    return std::nullopt;
}

// The speeds filedata.fm lists, in its order.
void fileSpeeds(const FileData& data, ScanPlan& plan) {
    for (int i = 1; i <= kSpeedCount; ++i)
        if (const int baud = data.baudRates[size_t(i)].section(QLatin1Char(','), 0, 0).toInt();
            isLineSpeed(baud) && !plan.speeds.contains(baud))
            plan.speeds.append(baud);
}

// The speeds to try: --speeds, else those of filedata.fm; through a gateway
// none (it runs its line at the speed set on it). A status to exit with when
// they are wrong.
std::optional<int> takePlanSpeeds(Session& session, const std::optional<QString>& given,
                                  ScanPlan& plan) {
    if (!session.serialPort()) {
        if (given)
            return fail(Exit::BadInput,
                        QStringLiteral("--speeds goes with a serial port: the gateway %1 runs its "
                                       "line at the speed set on it")
                            .arg(session.portName()));
        return std::nullopt;
    }
    if (given)
        return takeSpeeds(*given, plan);
    fileSpeeds(session.fileData(), plan);
    return std::nullopt;
}

QString speedList(const QVector<int>& speeds) {
    QStringList items;
    for (int s : speeds)
        items << QString::number(s);
    return items.join(QStringLiteral(", "));
}

void printFound(const FoundUnit& f) {
    // Through a gateway the speed is not known: its field stays empty.
    const QString speed = f.baud > 0 ? QString::number(f.baud) : QString();
    printOut(
        QStringLiteral("%1\t%2\t%3").arg(f.unit).arg(speed, MessageText::escaped(f.firstMessage)));
    if (f.note.isEmpty())
        return;
    printErr(
        f.baud > 0
            ? QStringLiteral("qv840ctl: unit %1 at %2 baud: %3").arg(f.unit).arg(f.baud).arg(f.note)
            : QStringLiteral("qv840ctl: unit %1: %2").arg(f.unit).arg(f.note));
}

void printPlan(const ScanPlan& plan, const ScanLine& line, const QString& portName) {
    const QString speeds = plan.speeds.isEmpty()
                               ? QString()
                               : QStringLiteral(" at %1 baud").arg(speedList(plan.speeds));
    printErr(QStringLiteral("qv840ctl: scanning units %1-%2%3 on %4: up to %5 s")
                 .arg(plan.firstUnit)
                 .arg(plan.lastUnit)
                 .arg(speeds, portName)
                 .arg((Scanner::worstCaseMs(plan, line) + 999) / 1000));
}

void printHint(int baud, const QString& portName) {
    if (baud > 0)
        printErr(QStringLiteral("qv840ctl: something answers at %1 baud, but not as a unit "
                                "asked: another unit, other line settings, or noise")
                     .arg(baud));
    else
        printErr(QStringLiteral("qv840ctl: something answers through %1, but not as a unit "
                                "asked: another unit, or noise")
                     .arg(portName));
}

// The scan over the session's line: its transport, its first-byte wait and
// retries; the speed is switched on a serial port only.
int scan(Session& session, const ScanPlan& plan, const QString& outFile) {
    const ScanLine line = sessionScanLine(session);
    Scanner scanner(session.transport(), line);
    QObject::connect(&session.signalWatch, &SignalWatch::caught, &scanner,
                     [&scanner] { scanner.requestStop(); });
    QObject::connect(&scanner, &Scanner::unitFound, &printFound);
    printPlan(plan, line, session.portName());
    const ScanResult r = scanner.run(plan);
    for (int baud : r.hintSpeeds)
        printHint(baud, session.portName());
    if (SignalWatch::first()) { // withUnit says so
        session.stoppedDetail =
            QStringLiteral(" after %1 of %2 probes").arg(r.probes).arg(plan.probeCount());
        return Exit::NoAnswer;
    }
    if (r.outcome == ScanResult::Outcome::PortFailed || r.outcome == ScanResult::Outcome::Refused)
        return fail(Exit::PortProblem, r.error);
    // A scan that ran to its end is saved, also when it found nobody.
    if (!outFile.isEmpty())
        if (const auto why = writeWholeFile(outFile, foundCsv(r.found)))
            return fail(Exit::BadInput,
                        QStringLiteral("cannot save %1: %2; nothing was saved").arg(outFile, *why));
    return r.found.isEmpty() ? fail(Exit::NoAnswer, QStringLiteral("no unit answered"))
                             : Exit::Done;
}

} // namespace

ScanLine sessionScanLine(Session& session) {
    ScanLine line;
    line.port = session.serialPort();
    line.firstByteMs = session.firstByteMs();
    line.retries = session.options().line.retries;
    line.retryPauseMs = session.options().line.pauseMs;
    return line;
}

int runScan(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser p;
    const ScanOptions o;
    p.addOptions({o.units, o.speeds, o.first, o.output});
    if (!p.parse(QStringList{QStringLiteral("qv840ctl scan")} + args))
        return fail(Exit::BadInput, p.errorText());
    if (!p.positionalArguments().isEmpty())
        return fail(Exit::BadInput, QStringLiteral("scan takes no arguments, only options"));
    ScanPlan plan;
    if (p.isSet(o.units)) {
        const auto range = unitRangeArgument(p.value(o.units), kFirstUnitAddress, kLastUnitAddress);
        if (!range)
            return Exit::BadInput;
        std::tie(plan.firstUnit, plan.lastUnit) = *range;
    }
    plan.stopAtFirst = p.isSet(o.first);
    const QString outFile = p.value(o.output);
    const std::optional<QString> speeds =
        p.isSet(o.speeds) ? std::optional<QString>(p.value(o.speeds)) : std::nullopt;
    return withUnit(
        options, QStringLiteral("scan"),
        [&](Session& s) {
            const auto status = takePlanSpeeds(s, speeds, plan);
            return status || outFile.isEmpty() ? status : checkCsvTarget(outFile);
        },
        [&](Session& s) { return scan(s, plan, outFile); });
}
