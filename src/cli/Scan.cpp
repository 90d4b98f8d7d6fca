// qv840ctl scan: finds the units on a line whose addresses or speed are not known.

#include "cli/Commands.h"
#include "cli/Signals.h"
#include "cli/Terminal.h"

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "scan/Scanner.h"
#include "startup/ConfigFiles.h"
#include "startup/DataFolder.h"
#include "startup/MessageText.h"
#include "transport/RtuTransport.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <csignal>
#include <optional>

namespace {

struct ScanOptions {
    QCommandLineOption units{QStringLiteral("units"),
                             QStringLiteral("Unit addresses to try, A-B (default 1-31)."),
                             QStringLiteral("A-B")};
    QCommandLineOption speeds{QStringLiteral("speeds"),
                              QStringLiteral("Line speeds to try, comma-separated (default: "
                                             "those of filedata.fm)."),
                              QStringLiteral("LIST")};
    QCommandLineOption timeout{QStringLiteral("timeout-ms"),
                               QStringLiteral("Wait N ms for each reply's first byte (default "
                                              "500)."),
                               QStringLiteral("N")};
    QCommandLineOption first{QStringLiteral("first"),
                             QStringLiteral("Stop at the first unit found.")};
};

// --units A-B, or a status to exit with.
std::optional<int> takeUnits(const QString& text, ScanPlan& plan) {
    const auto m = QRegularExpression(QStringLiteral("^(\\d{1,3})(?:-(\\d{1,3}))?$")).match(text);
    const int a = m.captured(1).toInt(), b = m.hasCaptured(2) ? m.captured(2).toInt() : a;
    if (!m.hasMatch() || a < kFirstUnitAddress || b > kLastUnitAddress || a > b)
        return fail(Exit::BadInput, QStringLiteral("--units takes A-B, unit addresses from %1 to "
                                                   "%2 with A no more than B, not \"%3\"")
                                        .arg(kFirstUnitAddress)
                                        .arg(kLastUnitAddress)
                                        .arg(text));
    plan.firstUnit = a;
    plan.lastUnit = b;
    return std::nullopt;
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

// The speeds filedata.fm lists, or a status to exit with.
std::optional<int> fileSpeeds(const QString& folder, ScanPlan& plan) {
    FileData data;
    if (const auto err = readFileData(folder, data))
        return fail(Exit::BadInput, err->text());
    for (int i = 1; i <= 3; ++i)
        if (const int baud = data.baudRates[size_t(i)].section(QLatin1Char(','), 0, 0).toInt();
            isLineSpeed(baud) && !plan.speeds.contains(baud))
            plan.speeds.append(baud);
    return std::nullopt;
}

// The plan from the options, or a status to exit with.
std::optional<int> takePlan(const QCommandLineParser& p, const ScanOptions& o,
                            const QString& folder, ScanPlan& plan) {
    if (p.isSet(o.units))
        if (const auto status = takeUnits(p.value(o.units), plan))
            return status;
    if (const auto status =
            p.isSet(o.speeds) ? takeSpeeds(p.value(o.speeds), plan) : fileSpeeds(folder, plan))
        return status;
    if (p.isSet(o.timeout)) {
        bool ok = false;
        plan.probeMs = p.value(o.timeout).toInt(&ok);
        if (!ok || plan.probeMs < 1 || plan.probeMs > 60000)
            return fail(Exit::BadInput,
                        QStringLiteral("--timeout-ms takes a number from 1 to 60000, not \"%1\"")
                            .arg(p.value(o.timeout)));
    }
    plan.stopAtFirst = p.isSet(o.first);
    return std::nullopt;
}

QString speedList(const QVector<int>& speeds) {
    QStringList items;
    for (int s : speeds)
        items << QString::number(s);
    return items.join(QStringLiteral(", "));
}

int scan(RtuTransport& transport, const ScanPlan& plan, const QString& portName) {
    Scanner scanner(transport);
    SignalWatch watch({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&watch, &SignalWatch::caught, [&scanner] { scanner.requestStop(); });
    QObject::connect(&scanner, &Scanner::unitFound, [](const FoundUnit& f) {
        printOut(QStringLiteral("%1\t%2\t%3")
                     .arg(f.unit)
                     .arg(f.baud)
                     .arg(MessageText::escaped(f.firstMessage)));
        if (!f.note.isEmpty())
            printErr(QStringLiteral("qv840ctl: unit %1 at %2 baud: %3")
                         .arg(f.unit)
                         .arg(f.baud)
                         .arg(f.note));
    });
    printErr(QStringLiteral("qv840ctl: scanning units %1-%2 at %3 baud on %4: up to %5 s")
                 .arg(plan.firstUnit)
                 .arg(plan.lastUnit)
                 .arg(speedList(plan.speeds), portName)
                 .arg((Scanner::worstCaseMs(plan, transport.timing()) + 999) / 1000));
    const ScanResult r = scanner.run(plan);
    for (int baud : r.hintSpeeds)
        printErr(QStringLiteral("qv840ctl: something answers at %1 baud, but not as a unit "
                                "asked: another unit, other line settings, or noise")
                     .arg(baud));
    if (const int sig = SignalWatch::first())
        return fail(SignalWatch::exitStatus(sig),
                    QStringLiteral("scan stopped by %1 after %2 of %3 probes")
                        .arg(SignalWatch::name(sig))
                        .arg(r.probes)
                        .arg(plan.probeCount()));
    if (r.outcome == ScanResult::Outcome::PortFailed || r.outcome == ScanResult::Outcome::Refused)
        return fail(Exit::PortProblem, r.error);
    return r.found.isEmpty() ? fail(Exit::NoAnswer, QStringLiteral("no unit answered"))
                             : Exit::Done;
}

} // namespace

int runScan(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser p;
    const ScanOptions o;
    p.addOptions({o.units, o.speeds, o.timeout, o.first});
    if (!p.parse(QStringList{QStringLiteral("qv840ctl scan")} + args))
        return fail(Exit::BadInput, p.errorText());
    if (!p.positionalArguments().isEmpty())
        return fail(Exit::BadInput, QStringLiteral("scan takes no arguments, only options"));
    const QString folder = options.configFolder.isEmpty() ? dataFolder() : options.configFolder;
    ScanPlan plan;
    if (const auto status = takePlan(p, o, folder, plan))
        return *status;
    CrcTableArray crc{};
    if (auto err = LoadCrcTable(folder, crc))
        return fail(Exit::BadInput, err->text());
    if (options.port.isEmpty())
        return fail(Exit::BadInput,
                    QStringLiteral("no port given: use -p PORT (see qv840ctl ports)"));

    QtSerialPortDevice port;
    port.setPortName(options.port);
    PortStatus s = port.setSettings(QStringLiteral("%1,N,8,1").arg(plan.speeds.value(0, 9600)));
    if (s.ok)
        s = port.open();
    if (!s.ok)
        return fail(Exit::PortProblem, describePortProblem(options.port, s));
    RtuTransport transport(port, crc);
    return scan(transport, plan, options.port);
}
