#pragma once
// What the benchmarks share: a monotonic clock in milliseconds, an argv for
// execv, and the simulated unit (or line) started as a child process.

#include <cstdio>
#include <string>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace bench {

inline double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

// Pointers into args for execv, ending in nullptr; args must outlive them.
inline std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> v;
    for (auto& a : args)
        v.push_back(a.data());
    v.push_back(nullptr);
    return v;
}

// Starts `ctl simulate --baud BAUD` with the further options; its first
// stdout line, the device path, goes to path. -1 when it could not start.
inline pid_t startSimulator(const std::string& ctl, int baud, const std::vector<std::string>& more,
                            std::string& path) {
    int out[2];
    if (pipe(out) != 0)
        return -1;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<std::string> args{ctl, "simulate", "--baud", std::to_string(baud)};
        args.insert(args.end(), more.begin(), more.end());
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

// Starts program with args, its output thrown away; the child's pid.
inline pid_t startQuiet(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), program);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(127);
        execv(program.c_str(), argvOf(args).data());
        _exit(127);
    }
    return pid;
}

} // namespace bench
