// qv840ctl check: the line doctor from the command line. Reads to each unit
// of a range at the line options given, the idle line heard between them,
// then one line of counters per unit and one line per finding (diag/). Exit 0
// when nothing is found, 1 when something is, 3 when the port cannot be opened.

#include "cli/CheckOutput.h"
#include "cli/Commands.h"
#include "cli/Session.h"

#include "diag/LineCheck.h"
#include "diag/TrafficLog.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <tuple>

namespace {

struct CheckOptions {
    QCommandLineOption units{QStringLiteral("units"),
                             QStringLiteral("Unit addresses to check, A-B (default: -a)."),
                             QStringLiteral("A-B")};
    QCommandLineOption count{QStringLiteral("count"),
                             QStringLiteral("Reads per unit (default 20)."), QStringLiteral("N")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Save the counters and findings to FILE.csv or "
                                             "FILE.json."),
                              QStringLiteral("FILE")};
    QCommandLineOption report{QStringLiteral("report"),
                              QStringLiteral("Write a support report to FILE."),
                              QStringLiteral("FILE")};
};

constexpr int kMaxCount = 1000;

int check(Session& s, const CheckPlan& plan, const CheckFiles& files) {
    const TrafficLog traffic(s.transport());
    LineCheck run(s.transport(), s.serialPort(), s.connection.line);
    const StopOnSignal stop(s.signalWatch, [&run] { run.requestStop(); });
    const CheckResult r = run.run(plan);
    if (r.outcome == CheckResult::Outcome::Stopped || SignalWatch::first()) {
        s.stoppedDetail = QStringLiteral(" during the check; nothing was saved");
        return Exit::NoAnswer;
    }
    if (r.outcome == CheckResult::Outcome::LineFailed)
        return fail(Exit::PortProblem, r.error);
    const ReportContext context{
        s.portName(), s.serialPort() ? s.serialPort()->settings().text() : QString(),
        lineOptionsText(s.connection.line), QStringLiteral(QV_VERSION), traffic.lines()};
    for (const QString& line : checkLines(r))
        printOut(line);
    if (const auto status = saveCheckFiles(files, r, context))
        return *status;
    return r.findings.isEmpty() ? Exit::Done : Exit::NoAnswer;
}

} // namespace

int runCheck(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser p;
    const CheckOptions o;
    p.addOptions({o.units, o.count, o.output, o.report});
    if (!p.parse(QStringList{QStringLiteral("qv840ctl check")} + args))
        return fail(Exit::BadInput, p.errorText());
    if (!p.positionalArguments().isEmpty())
        return fail(Exit::BadInput, QStringLiteral("check takes no arguments, only options"));
    CheckPlan plan;
    plan.firstUnit = plan.lastUnit = options.unit;
    if (p.isSet(o.units)) {
        const auto range = unitRangeArgument(p.value(o.units), kFirstUnitAddress, kLastUnitAddress);
        if (!range)
            return Exit::BadInput;
        std::tie(plan.firstUnit, plan.lastUnit) = *range;
    }
    if (p.isSet(o.count)) {
        bool ok = false;
        plan.count = p.value(o.count).toInt(&ok);
        if (!ok || plan.count < 1 || plan.count > kMaxCount)
            return fail(Exit::BadInput, QStringLiteral("--count takes a number from 1 to %1, not "
                                                       "\"%2\"")
                                            .arg(kMaxCount)
                                            .arg(p.value(o.count)));
    }
    const CheckFiles files{p.value(o.output), p.value(o.report)};
    if (const auto status = checkFileTargets(files))
        return *status;
    return withUnit(options, QStringLiteral("check"), {}, [&](Session& s) {
        plan.firstByteWaitMs = s.firstByteMs();
        return check(s, plan, files);
    });
}
