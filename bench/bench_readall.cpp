// How close a full read-all comes to the time the protocol itself needs, and
// what it costs in CPU and memory. Runs `qv840ctl simulate` at 9600 baud with
// line pacing and times `qv840ctl read-all` against it.
//
//   bench_readall [RUNS]      (default 3)

#include <QCoreApplication>
#include <QDir>

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
constexpr double kGapMs = 80;    // silence that ends a reply
constexpr int kRequestBytes = 8;
constexpr int kReplyBytes = 45;
constexpr double kWireMsPerByte = 10.0 * 1000 / kBaud;

double floorMs() {
    return kSlots * (kPauseMs + kRequestBytes * kWireMsPerByte + kSettleMs +
                     kReplyBytes * kWireMsPerByte + kGapMs);
}

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> v;
    for (auto& a : args)
        v.push_back(a.data());
    v.push_back(nullptr);
    return v;
}

// Starts the simulator; its first stdout line is the device path.
pid_t startSimulator(const std::string& ctl, std::string& path) {
    int out[2];
    if (pipe(out) != 0)
        return -1;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<std::string> args{ctl, "simulate", "--baud", std::to_string(kBaud)};
        execv(ctl.c_str(), argvOf(args).data());
        _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        path += c;
    close(out[0]);
    return pid;
}

struct Figures {
    int status = -1;
    double wallMs = 0;
    double cpuMs = 0;
    double peakMb = 0;
};

Figures timeReadAll(const std::string& ctl, const std::string& port) {
    Figures f;
    std::fflush(nullptr); // or the child repeats what is still buffered
    const double start = nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        if (FILE* devnull = freopen("/dev/null", "w", stdout); !devnull)
            _exit(127);
        std::vector<std::string> args{ctl, "-p", port, "-b", std::to_string(kBaud), "read-all"};
        execv(ctl.c_str(), argvOf(args).data());
        _exit(127);
    }
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid)
        return f;
    f.wallMs = nowMs() - start;
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000 + double(t.tv_usec) / 1000; };
    f.cpuMs = ms(use.ru_utime) + ms(use.ru_stime);
    f.peakMb = double(use.ru_maxrss) / 1024; // kilobytes on Linux
    return f;
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
    std::printf("qv840ctl -p %s -b %d read-all, against qv840ctl simulate --baud %d\n",
                port.c_str(), kBaud, kBaud);
    std::printf("floor: 20 x (300 + %.2f + 5 + %.2f + 80) ms = %.1f ms\n",
                kRequestBytes * kWireMsPerByte, kReplyBytes * kWireMsPerByte, floorMs());

    std::vector<Figures> all;
    for (int i = 0; i < runs; ++i) {
        const Figures f = timeReadAll(ctl, port);
        if (f.status != 0) {
            std::fprintf(stderr, "bench_readall: read-all exited with %d\n", f.status);
            kill(sim, SIGTERM);
            waitpid(sim, nullptr, 0);
            return 1;
        }
        std::printf("run %d: wall %.1f ms (%.4f x floor), CPU %.1f ms (%.2f %% of wall), "
                    "peak %.1f MB\n",
                    i + 1, f.wallMs, f.wallMs / floorMs(), f.cpuMs, 100 * f.cpuMs / f.wallMs,
                    f.peakMb);
        all.push_back(f);
    }
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);

    auto worst = [&](auto field) {
        double w = 0;
        for (const auto& f : all)
            w = std::max(w, field(f));
        return w;
    };
    const double ratio = worst([](const Figures& f) { return f.wallMs; }) / floorMs();
    const double cpu = worst([](const Figures& f) { return 100 * f.cpuMs / f.wallMs; });
    const double peak = worst([](const Figures& f) { return f.peakMb; });
    std::printf("worst of %d: wall %.4f x floor (target <= 1.02, %s), CPU %.2f %% (target <= 2 %%, "
                "%s), peak %.1f MB (target <= 30 MB, %s)\n",
                runs, ratio, verdict(ratio <= 1.02), cpu, verdict(cpu <= 2), peak,
                verdict(peak <= 30));
    return 0;
}
