// How close a read-all through a network gateway comes to the time the
// protocol itself needs, and what it costs in CPU. Runs `qv840ctl simulate
// --listen 0` (Modbus TCP, then --rtu-over-tcp) and times `qv840ctl read-all`
// against each. On a network the reply ends at its length, not after a gap,
// so the floor is the pauses, and for RTU over TCP the silence of 3 ms that
// ends each request at the unit.
//
//   bench_net [RUNS]      (default 3)

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kSlots = 20;
constexpr double kPauseMs = 300;       // before each bulk request
constexpr double kRtuRequestEndMs = 3; // silence that ends an RTU frame at the unit

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

// One read-all: its exit status, wall and CPU time.
bool timeReadAll(const QByteArray& ctl, const QByteArray& address, double& wallMs, double& cpuMs) {
    std::fflush(nullptr);
    const double start = nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout))
            _exit(127);
        execl(ctl.constData(), ctl.constData(), "-p", address.constData(), "read-all", nullptr);
        _exit(127);
    }
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid)
        return false;
    wallMs = nowMs() - start;
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000 + double(t.tv_usec) / 1000; };
    cpuMs = ms(use.ru_utime) + ms(use.ru_stime);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const QString ctl = QDir(QCoreApplication::applicationDirPath()).filePath("qv840ctl");
    for (const QStringList& mode : {QStringList{}, QStringList{"--rtu-over-tcp"}}) {
        const double kFloorMs = kSlots * (kPauseMs + (mode.isEmpty() ? 0 : kRtuRequestEndMs));
        std::printf("floor: 20 x (300 ms pause%s), each reply ending at its length = %.0f ms\n",
                    mode.isEmpty() ? "" : " + 3 ms request end", kFloorMs);
        QProcess sim;
        sim.start(ctl, QStringList{"simulate", "--listen", "0"} + mode);
        if (!sim.waitForReadyRead(5000)) {
            std::fprintf(stderr, "bench_net: cannot start %s simulate --listen\n", qPrintable(ctl));
            return 1;
        }
        const QByteArray address = sim.readLine().trimmed();
        double worst = 0, worstCpu = 0;
        for (int i = 0; i < runs; ++i) {
            double wall = 0, cpu = 0;
            if (!timeReadAll(ctl.toLocal8Bit(), address, wall, cpu)) {
                std::fprintf(stderr, "bench_net: read-all on %s failed\n", address.constData());
                return 1;
            }
            std::printf("%s run %d: wall %.1f ms (%.4f x floor), CPU %.1f ms (%.2f %% of wall)\n",
                        address.constData(), i + 1, wall, wall / kFloorMs, cpu, 100 * cpu / wall);
            worst = std::max(worst, wall / kFloorMs);
            worstCpu = std::max(worstCpu, 100 * cpu / wall);
        }
        std::printf("%s worst of %d: %.4f x floor (target <= 1.02, %s), CPU %.2f %% (target <= "
                    "2 %%, %s)\n",
                    address.constData(), runs, worst, worst <= 1.02 ? "met" : "MISSED", worstCpu,
                    worstCpu <= 2 ? "met" : "MISSED");
        sim.terminate();
        sim.waitForFinished(3000);
    }
    return 0;
}
