// What block reads save on a real-speed line: `qv840ctl read-all` with
// --block-reads off (twenty requests) and on (four), each with the default
// 300 ms pause, against `qv840ctl simulate --baud 9600 --units 1-4` with line
// pacing; then a whole line of four units backed up either way.
//
//   bench_blockreads [RUNS]      (default 3)

#include "BenchProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBaud = 9600;
constexpr double kPauseMs = 300;
constexpr double kSettleMs = 5;
constexpr double kWireMsPerByte = 10.0 * 1000 / kBaud;
constexpr int kRequestBytes = 8;

// The protocol's floor for reads whose replies carry replyBytes each: the
// pause, the request, its settling time and the reply, per request.
double floorMs(const std::vector<int>& replyBytes) {
    double ms = 0;
    for (int bytes : replyBytes)
        ms += kPauseMs + kRequestBytes * kWireMsPerByte + kSettleMs + bytes * kWireMsPerByte;
    return ms;
}

pid_t startSimulator(const std::string& ctl, std::string& path) {
    return bench::startSimulator(ctl, kBaud, {"--units", "1-4"}, path);
}

// The wall time of one qv840ctl run, or a negative number when it failed.
double timeRun(const std::string& ctl, std::vector<std::string> args) {
    const double start = bench::nowMs();
    const pid_t pid = bench::startQuiet(ctl, args);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return bench::nowMs() - start;
}

double median(std::vector<double> all) {
    std::sort(all.begin(), all.end());
    return all[all.size() / 2];
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
        std::fprintf(stderr, "bench_blockreads: cannot start %s simulate\n", ctl.c_str());
        return 1;
    }
    QTemporaryDir dir;
    const std::string out = dir.filePath("line").toStdString();
    const std::vector<std::pair<const char*, std::vector<std::string>>> jobs = {
        {"read-all, --block-reads off", {"-p", port, "read-all", "--block-reads", "off"}},
        {"read-all, --block-reads on", {"-p", port, "read-all", "--block-reads", "on"}},
        {"backup --units 1-4, off", {"-p", port, "backup", "--units", "1-4", out + "-off"}},
        {"backup --units 1-4, on",
         {"-p", port, "backup", "--units", "1-4", out + "-on", "--block-reads", "on"}},
    };
    const double singles = floorMs(std::vector<int>(20, 45));
    const double blocks = floorMs({245, 245, 245, 85});
    const double floors[] = {singles, blocks, 4 * singles, 4 * blocks};
    std::printf("against qv840ctl simulate --baud %d --units 1-4 on %s, the median of %d runs\n",
                kBaud, port.c_str(), runs);
    std::printf("| job | wall ms | protocol floor ms | x floor |\n|---|---:|---:|---:|\n");
    int failed = 0;
    for (size_t j = 0; j < jobs.size(); ++j) {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i)
            times.push_back(timeRun(ctl, jobs[j].second));
        const double ms = median(times);
        failed += *std::min_element(times.begin(), times.end()) < 0;
        std::printf("| %s | %.0f | %.0f | %.3f |\n", jobs[j].first, ms, floors[j], ms / floors[j]);
    }
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    return failed ? 1 : 0;
}
