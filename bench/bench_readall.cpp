// How close a full read-all comes to the time the protocol itself needs, and
// what it costs in CPU and memory, beside a plain Modbus master doing the same
// reads. Runs `qv840ctl simulate` at 9600 baud with line pacing and times, in
// one run: `qv840ctl read-all` with the default pause, `qv840ctl --pause-ms 0
// read-all`, and libmodbus reading the twenty slots back to back.
//
//   bench_readall [RUNS]      (default 3)

#include "BenchProcess.h"

#include <QCoreApplication>
#include <QDir>

#include <modbus.h>

#include <algorithm>
#include <cerrno>
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
constexpr int kSlots = 20;
constexpr double kPauseMs = 300; // before each bulk request
constexpr double kSettleMs = 5;  // after the request, before RTS drops
constexpr int kRequestBytes = 8;
constexpr int kReplyBytes = 45;
constexpr double kWireMsPerByte = 10.0 * 1000 / kBaud;

// The bytes alone: 20 x (request + reply) x 10 bits / 9600.
double wireMs() {
    return kSlots * (kRequestBytes + kReplyBytes) * kWireMsPerByte;
}

// The protocol's own floor for a read-all: the pause, the request, its
// settling time and the reply, twenty times.
double floorMs() {
    return kSlots *
           (kPauseMs + kRequestBytes * kWireMsPerByte + kSettleMs + kReplyBytes * kWireMsPerByte);
}

pid_t startSimulator(const std::string& ctl, std::string& path) {
    return bench::startSimulator(ctl, kBaud, {}, path);
}

struct Figures {
    int status = -1;
    double wallMs = 0;
    double cpuMs = 0;
    double peakMb = 0;
};

Figures timeReadAll(const std::string& ctl, const std::string& port, bool noPause) {
    Figures f;
    std::fflush(nullptr); // or the child repeats what is still buffered
    const double start = bench::nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        if (FILE* devnull = freopen("/dev/null", "w", stdout); !devnull)
            _exit(127);
        std::vector<std::string> args{ctl, "-p", port, "-b", std::to_string(kBaud)};
        if (noPause)
            args.insert(args.end(), {"--pause-ms", "0"});
        args.push_back("read-all");
        execv(ctl.c_str(), bench::argvOf(args).data());
        _exit(127);
    }
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid)
        return f;
    f.wallMs = bench::nowMs() - start;
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000 + double(t.tv_usec) / 1000; };
    f.cpuMs = ms(use.ru_utime) + ms(use.ru_stime);
    f.peakMb = double(use.ru_maxrss) / 1024; // kilobytes on Linux
    return f;
}

// libmodbus opening the line and reading the twenty slots back to back.
Figures timeLibmodbus(const std::string& port) {
    Figures f;
    const double start = bench::nowMs();
    modbus_t* ctx = modbus_new_rtu(port.c_str(), kBaud, 'N', 8, 1);
    if (ctx == nullptr)
        return f;
    modbus_set_slave(ctx, 1);
    if (modbus_connect(ctx) == 0) {
        f.status = 0;
        uint16_t regs[20];
        for (int k = 0; k < kSlots && f.status == 0; ++k)
            if (modbus_read_registers(ctx, 400 + 20 * k, 20, regs) != 20)
                f.status = 1;
        modbus_close(ctx);
    }
    modbus_free(ctx);
    f.wallMs = bench::nowMs() - start;
    return f;
}

double median(std::vector<Figures> all, double Figures::*field) {
    std::sort(all.begin(), all.end(),
              [field](const Figures& a, const Figures& b) { return a.*field < b.*field; });
    return all[all.size() / 2].*field;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string ctl =
        QDir(QCoreApplication::applicationDirPath()).filePath("qv840ctl").toStdString();

    std::string port;
    const pid_t sim = startSimulator(ctl, port);
    if (sim < 0 || port.empty()) {
        std::fprintf(stderr, "bench_readall: cannot start %s simulate\n", ctl.c_str());
        return 1;
    }
    std::printf("against qv840ctl simulate --baud %d on %s, the median of %d runs\n", kBaud,
                port.c_str(), runs);
    std::printf("wire floor: 20 x (%d + %d bytes) x 10 bits / %d = %.1f ms\n", kRequestBytes,
                kReplyBytes, kBaud, wireMs());
    std::printf("protocol floor: 20 x (300 + %.2f + 5 + %.2f) ms = %.1f ms\n",
                kRequestBytes * kWireMsPerByte, kReplyBytes * kWireMsPerByte, floorMs());

    std::vector<Figures> paused, unpaused, peer;
    for (int i = 0; i < runs; ++i) {
        const Figures a = timeReadAll(ctl, port, false);
        const Figures b = timeReadAll(ctl, port, true);
        const Figures c = timeLibmodbus(port);
        if (a.status != 0 || b.status != 0 || c.status != 0) {
            std::fprintf(stderr, "bench_readall: a run failed (%d, %d, %d)\n", a.status, b.status,
                         c.status);
            kill(sim, SIGTERM);
            waitpid(sim, nullptr, 0);
            return 1;
        }
        paused.push_back(a);
        unpaused.push_back(b);
        peer.push_back(c);
    }
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);

    const double a = median(paused, &Figures::wallMs);
    const double b = median(unpaused, &Figures::wallMs);
    const double c = median(peer, &Figures::wallMs);
    std::printf("| job | wall ms | x wire floor |\n|---|---:|---:|\n");
    std::printf("| `qv840ctl read-all` | %.0f | %.2f |\n", a, a / wireMs());
    std::printf("| `qv840ctl --pause-ms 0 read-all` | %.0f | %.2f |\n", b, b / wireMs());
    std::printf("| libmodbus, 20 reads back to back | %.0f | %.2f |\n", c, c / wireMs());
    const double cpu = median(paused, &Figures::cpuMs);
    const double peak = median(paused, &Figures::peakMb);
    std::printf("read-all: %.4f x protocol floor (target <= 1.02, %s); CPU %.2f %% of wall "
                "(target <= 2 %%, %s); peak %.1f MB (target <= 30 MB, %s)\n",
                a / floorMs(), verdict(a <= 1.02 * floorMs()), 100 * cpu / a,
                verdict(cpu <= 0.02 * a), peak, verdict(peak <= 30));
    std::printf("--pause-ms 0 / libmodbus: %.3f (target <= 1.15, %s)\n", b / c,
                verdict(b <= 1.15 * c));
    return 0;
}
