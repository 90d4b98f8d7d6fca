// A whole line of 31 units backed up at 9600 baud: `qv840ctl backup --units
// 1-31` with block reads on and off and no pause, against `qv840ctl simulate
// --baud 9600 --units 1-31` with line pacing. Each run is set against the
// protocol's floor, its CPU time and peak memory; then a plain Modbus RTU
// master (libmodbus) does the same reads on the same line as the peer.
//
//   bench_line [--with-defaults]
//
// --with-defaults also times the backup with its default settings (block
// reads off, the 300 ms pause before each request): about four minutes.

#include "startup/MessageLayout.h"

#include "BenchProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <modbus.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBaud = 9600;
constexpr int kFirstUnit = 1;
constexpr int kLastUnit = 31;
constexpr double kDefaultPauseMs = 300;
constexpr double kWireMsPerByte = 10.0 * 1000 / kBaud;
// The simulated unit takes a request as ended after 3.5 characters of
// silence (at least 2 ms), then answers after a 2 ms turnaround.
constexpr double kSettleMs = std::max(2.0, 3.5 * kWireMsPerByte) + 2;
constexpr int kRequestBytes = 8;
constexpr int kReplyOverhead = 5; // address, function, count, CRC
constexpr int kMessagesPerBlock = 6;

// The register count of each read of one unit's messages, kPerRead at a time.
std::vector<int> readSizes(int perRead) {
    std::vector<int> sizes;
    for (int slot = 0; slot < kInterlockCount; slot += perRead)
        sizes.push_back(std::min(perRead, kInterlockCount - slot) * kRegistersPerMessage);
    return sizes;
}

// The protocol's floor for the whole line: per request the pause, the
// request, the unit's settling time and the reply.
double lineFloorMs(int perRead, double pauseMs) {
    double ms = 0;
    for (int registers : readSizes(perRead))
        ms += pauseMs + kRequestBytes * kWireMsPerByte + kSettleMs +
              (kReplyOverhead + 2 * registers) * kWireMsPerByte;
    return ms * (kLastUnit - kFirstUnit + 1);
}

pid_t startSimulator(const std::string& ctl, std::string& path) {
    return bench::startSimulator(
        ctl, kBaud, {"--units", std::to_string(kFirstUnit) + "-" + std::to_string(kLastUnit)},
        path);
}

struct RunFigures {
    bool ok = false;
    double wallMs = 0;
    double cpuMs = 0; // user + system
    long maxRssKb = 0;
};

double cpuMsOf(const rusage& u) {
    return (double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)) * 1000 +
           (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1000;
}

// One qv840ctl run: its wall time, and the CPU time and peak memory of that
// process alone (wait4 gives the child's own rusage).
RunFigures timeRun(const std::string& ctl, std::vector<std::string> args) {
    RunFigures figures;
    const double start = bench::nowMs();
    const pid_t pid = bench::startQuiet(ctl, args);
    int status = 0;
    rusage usage{};
    const bool waited = wait4(pid, &status, 0, &usage) == pid;
    figures.wallMs = bench::nowMs() - start;
    figures.ok = waited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    figures.cpuMs = cpuMsOf(usage);
    figures.maxRssKb = usage.ru_maxrss;
    return figures;
}

// The peer: every unit's messages read perRead at a time by a libmodbus RTU
// master, no pause between requests. Its CPU time is this process's own.
RunFigures timePeer(const std::string& port, int perRead) {
    RunFigures figures;
    modbus_t* ctx = modbus_new_rtu(port.c_str(), kBaud, 'N', 8, 1);
    if (!ctx)
        return figures;
    modbus_set_response_timeout(ctx, 1, 0);
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_SELF, &before);
    const double start = bench::nowMs();
    bool ok = modbus_connect(ctx) == 0;
    uint16_t regs[MODBUS_MAX_READ_REGISTERS];
    for (int unit = kFirstUnit; ok && unit <= kLastUnit; ++unit) {
        modbus_set_slave(ctx, unit);
        int address = kFirstMessageRegister;
        for (int registers : readSizes(perRead)) {
            ok = ok && modbus_read_registers(ctx, address, registers, regs) == registers;
            address += registers;
        }
    }
    figures.wallMs = bench::nowMs() - start;
    getrusage(RUSAGE_SELF, &after);
    if (!ok)
        std::fprintf(stderr, "bench_line: libmodbus: %s\n", modbus_strerror(errno));
    modbus_close(ctx);
    modbus_free(ctx);
    figures.ok = ok;
    figures.cpuMs = cpuMsOf(after) - cpuMsOf(before);
    figures.maxRssKb = after.ru_maxrss;
    return figures;
}

void printRow(const char* job, const RunFigures& f, double floorMs) {
    std::printf("| %s | %.0f | %.0f | %.3f | %.2f %% | %.1f |%s\n", job, f.wallMs, floorMs,
                f.wallMs / floorMs, 100 * f.cpuMs / f.wallMs, double(f.maxRssKb) / 1024,
                f.ok ? "" : " FAILED");
}

struct Job {
    const char* name;
    std::vector<std::string> args;
    int perRead;
    double pauseMs;
};

// The backups to time: block reads on and off with no pause, and the defaults.
std::vector<Job> toolJobs(const std::string& port, const std::string& out, bool withDefaults) {
    const std::string units = std::to_string(kFirstUnit) + "-" + std::to_string(kLastUnit);
    std::vector<Job> jobs = {
        {"backup, block reads on, pause 0",
         {"-p", port, "backup", "--units", units, out + "-on", "--block-reads", "on", "--pause-ms",
          "0"},
         kMessagesPerBlock,
         0},
        {"backup, block reads off, pause 0",
         {"-p", port, "backup", "--units", units, out + "-off", "--block-reads", "off",
          "--pause-ms", "0"},
         1,
         0},
    };
    if (withDefaults)
        jobs.push_back({"backup, defaults (off, 300 ms)",
                        {"-p", port, "backup", "--units", units, out + "-defaults"},
                        1,
                        kDefaultPauseMs});
    return jobs;
}

// The targets: block reads with no pause within 1.10 x their floor; every
// backup under 2 % CPU of its wall time and 40 MB of peak memory.
void printTargets(const std::vector<RunFigures>& tool) {
    const double x = tool[0].wallMs / lineFloorMs(kMessagesPerBlock, 0);
    std::printf("target, block reads within 1.10 x floor: %.3f, %s\n", x,
                x <= 1.10 ? "met" : "MISSED");
    for (const RunFigures& f : tool) {
        const double cpu = 100 * f.cpuMs / f.wallMs;
        const double mb = double(f.maxRssKb) / 1024;
        std::printf("target, CPU under 2 %%: %.2f %%, %s; peak under 40 MB: %.1f MB, %s\n", cpu,
                    cpu < 2 ? "met" : "MISSED", mb, mb < 40 ? "met" : "MISSED");
    }
}

// Times every job, then the peer in both modes; the number of failed runs.
int runAll(const std::string& ctl, const std::string& port, const std::vector<Job>& jobs) {
    std::printf("| job | wall ms | floor ms | x floor | CPU of wall | peak MB |\n"
                "|---|---:|---:|---:|---:|---:|\n");
    int failed = 0;
    std::vector<RunFigures> tool;
    for (const Job& job : jobs) {
        const RunFigures f = timeRun(ctl, job.args);
        failed += !f.ok;
        tool.push_back(f);
        printRow(job.name, f, lineFloorMs(job.perRead, job.pauseMs));
    }
    const std::pair<const char*, int> peers[] = {
        {"libmodbus, 6 messages a read", kMessagesPerBlock}, {"libmodbus, 1 message a read", 1}};
    std::vector<double> peerMs;
    for (const auto& [name, perRead] : peers) {
        const RunFigures f = timePeer(port, perRead);
        failed += !f.ok;
        peerMs.push_back(f.wallMs);
        printRow(name, f, lineFloorMs(perRead, 0));
    }
    std::printf("\nqv840ctl wall over libmodbus wall: block reads %.3f, single reads %.3f\n",
                tool[0].wallMs / peerMs[0], tool[1].wallMs / peerMs[1]);
    printTargets(tool);
    return failed;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const bool withDefaults = argc > 1 && std::strcmp(argv[1], "--with-defaults") == 0;
    const std::string ctl =
        QDir(QCoreApplication::applicationDirPath()).filePath("qv840ctl").toStdString();
    std::string port;
    const pid_t sim = startSimulator(ctl, port);
    if (sim < 0 || port.empty()) {
        std::fprintf(stderr, "bench_line: cannot start %s simulate\n", ctl.c_str());
        return 1;
    }
    QTemporaryDir dir;
    std::printf("against qv840ctl simulate --baud %d --units %d-%d on %s, one run each\n", kBaud,
                kFirstUnit, kLastUnit, port.c_str());
    const int failed =
        runAll(ctl, port, toolJobs(port, dir.filePath("line").toStdString(), withDefaults));
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    return failed ? 1 : 0;
}
