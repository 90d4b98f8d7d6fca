// The line doctor's figures: for each fault the simulated unit makes, how
// often `check` names it and only it (10 runs each), how often a clean line
// gives no finding (20 runs), whether the counters equal what the simulator
// injected, and how long a check of 31 units with 20 reads each takes against
// the wire time of those reads plus the silences it must wait out.
//
//   bench_check [RUNS]      (default 10; the clean line runs twice as often)
//
// For the findings the unit and the check run in one process on a
// pseudo-terminal at 9600 baud with line pacing, as the tests do; for the
// time, qv840ctl check and qv840ctl simulate run as processes of their own. Each check sends 20
// reads of one message with 250 ms pauses (the simulated idle faults come 150 ms after a reply) and
// a 200 ms first-byte wait, so that silence and the scan of other speeds stay short; the slow unit
// answers 160 ms late.

#include "diag/LineCheck.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimUnit.h"
#include "transport/Transports.h"

#include "BenchProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/wait.h>

namespace {

const CrcTableArray kCrc = standardCrcTable();
constexpr int kWaitMs = 200;
constexpr int kPauseMs = 250;

struct Fault {
    const char* name;
    QStringList expected; // the findings' words, line ones marked " (line)"
    std::function<void(SimConfig&)> make;
    int retries = 0;
};

CheckResult check(SimUnit& sim, int first, int last, int count, int pauseMs, int retries,
                  bool scan = true) {
    QtSerialPortDevice port;
    port.setPortName(sim.devicePath());
    port.setSettings({9600});
    if (!port.open().ok)
        return {};
    LineOptions line;
    line.pauseMs = pauseMs;
    line.retries = retries;
    const auto transport = makeTransport(port, kCrc, {kWaitMs, &line});
    LineCheck run(*transport, &port, line);
    CheckPlan plan;
    plan.firstUnit = first;
    plan.lastUnit = last;
    plan.count = count;
    plan.firstByteWaitMs = kWaitMs;
    plan.scanSettings = scan;
    return run.run(plan);
}

QStringList words(const CheckResult& r) {
    QStringList w;
    for (const Finding& f : r.findings)
        w << f.word + (f.unit > 0 ? QString() : QStringLiteral(" (line)"));
    return w;
}

// What the tool counted against what the simulator says it made.
bool countsAgree(const CheckResult& r, const SimUnit& sim, const SimConfig& cfg) {
    const UnitCounters c = r.evidence.units.value(1);
    const SimFaultCounts& m = sim.injected();
    const bool replies =
        cfg.baud != 9600 ||
        (c.crcWrong == m.crcErrors + m.collisions && c.otherUnit == m.otherAddress &&
         c.silent == m.dropped + (cfg.neverAnswer ? c.requests : 0));
    return replies && r.evidence.idle.noiseBytes == m.noiseBytes &&
           r.evidence.idle.foreignRequests == m.foreignRequests &&
           c.echoed == (cfg.echo ? c.requests : 0);
}

QVector<Fault> faults() {
    return {
        {"clean", {}, [](SimConfig&) {}},
        {"silent", {"silent"}, [](SimConfig& c) { c.neverAnswer = true; }},
        {"echo", {"echo"}, [](SimConfig& c) { c.echo = true; }},
        {"wrong-speed", {"wrong-speed"}, [](SimConfig& c) { c.baud = 19200; }},
        {"other-unit", {"other-unit"}, [](SimConfig& c) { c.faults.replyAs = 9; }},
        {"duplicate-address", {"duplicate-address"}, [](SimConfig& c) { c.faults.twin = true; }},
        {"noise (CRC errors 20%)", {"noise"}, [](SimConfig& c) { c.faults.crcErrorPercent = 20; }},
        {"noise (idle, 4 bytes)", {"noise (line)"}, [](SimConfig& c) { c.faults.noiseBytes = 4; }},
        {"second-master",
         {"second-master (line)"},
         [](SimConfig& c) { c.faults.secondMaster = true; }},
        {"slow-unit", {"slow-unit"}, [](SimConfig& c) { c.lateMs = kWaitMs * 4 / 5; }},
        {"intermittent (drop 20%, 1 retry)",
         {"intermittent"},
         [](SimConfig& c) { c.faults.dropPercent = 20; },
         1},
    };
}

// 31 units, 20 reads each, 20 ms pauses, `qv840ctl check` against `qv840ctl
// simulate --units 1-31` in processes of their own: the check's own time (its
// JSON's elapsedMs) against the floor.
void lineTiming() {
    const std::string ctl =
        QDir(QCoreApplication::applicationDirPath()).filePath("qv840ctl").toStdString();
    std::string path;
    const pid_t sim = bench::startSimulator(ctl, 9600, {"--units", "1-31"}, path);
    QTemporaryDir dir;
    const QString json = dir.filePath(QStringLiteral("check.json"));
    constexpr int kUnits = 31, kReads = 20, kPause = 20;
    const pid_t pid = bench::startQuiet(ctl, {"-p", path, "check", "--units", "1-31", "--count",
                                              "20", "--pause-ms", "20", "-o", json.toStdString()});
    int status = 0;
    waitpid(pid, &status, 0);
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    QFile file(json);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject result = QJsonDocument::fromJson(file.readAll()).object();
    const double elapsed = result.value(QStringLiteral("elapsedMs")).toDouble();
    const double msPerByte = 10.0 * 1000 / 9600;
    const int reads = kUnits * kReads;
    const double wire = reads * (8 + 45) * msPerByte; // each request and its reply
    // Before each read the pause (the idle line heard), one more at the end;
    // after each request the unit's 3.5 characters of silence and its 2 ms
    // turnaround.
    const double silences = reads * (kPause + 3.5 * msPerByte + 2) + kPause;
    std::printf("\n31 units x 20 reads (exit %d, %d findings): %.0f ms; wire time %.0f ms + "
                "silences %.0f ms = %.0f ms; ratio %.3f (at most 1.10)\n",
                WEXITSTATUS(status), int(result.value(QStringLiteral("findings")).toArray().size()),
                elapsed, wire, silences, wire + silences, elapsed / (wire + silences));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::printf("%-34s %-26s %s\n", "fault", "named, and only it", "counters equal injected");
    for (const Fault& f : faults()) {
        const int n = f.expected.isEmpty() ? 2 * runs : runs;
        int right = 0, agree = 0;
        QStringList wrong;
        for (int i = 0; i < n; ++i) {
            SimConfig cfg;
            cfg.followLineSpeed = true;
            f.make(cfg);
            SimUnit sim;
            if (!sim.start(cfg))
                return 1;
            const CheckResult r = check(sim, 1, 1, 20, kPauseMs, f.retries);
            const QStringList w = words(r);
            if (w == f.expected)
                ++right;
            else
                wrong << w.join(QLatin1Char('+'));
            if (countsAgree(r, sim, cfg))
                ++agree;
        }
        std::printf("%-34s %2d of %-2d %-17s %2d of %d\n", f.name, right, n,
                    wrong.isEmpty() ? "" : qPrintable("(" + wrong.first() + ")"), agree, n);
        std::fflush(stdout);
    }
    lineTiming();
    return 0;
}
