// The worst a trickling peer can do: a reply dripped a byte every 70 ms,
// under the 80 ms end-of-reply silence, so that only the deadline ends it.
// Each line is driven in this process with the product's timing: RTU on a
// pseudo-terminal (9600,N,8,1, no echo), Modbus TCP (the header announces
// 253 bytes, then the drip) and RTU over TCP (bytes without end). A peer
// thread drips; the tool's thread is measured with getrusage(RUSAGE_THREAD).
// Every request must end within its deadline (plus the event delivery), and
// cost next to no CPU while it waits.
//
//   bench_deadline [REQUESTS]      (default 5 per line)

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "transport/Deadline.h"
#include "transport/ModbusTcpTransport.h"
#include "transport/RtuOverTcpTransport.h"
#include "transport/RtuTransport.h"

#include <QCoreApplication>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kDripMs = 70;
const QByteArray kRead = QByteArray::fromHex("0301900014"); // slot 0

double nowMs(clockid_t clock = CLOCK_MONOTONIC) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1000 + double(t.tv_nsec) / 1e6;
}

double threadCpuMs() {
    rusage use{};
    getrusage(RUSAGE_THREAD, &use);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000 + double(t.tv_usec) / 1000; };
    return ms(use.ru_utime) + ms(use.ru_stime);
}

// Drips on fd, one byte every 70 ms, from the first request on; each request
// starts the stream again: for Modbus TCP a header with the request's
// transaction id announcing 253 bytes of PDU, then '?' without end.
class Dripper {
public:
    Dripper(int fd, bool mbap) : fd_(fd), mbap_(mbap), thread_([this] { run(); }) {}
    ~Dripper() {
        stop_ = true;
        thread_.join();
    }

private:
    void run() {
        QByteArray stream;
        qsizetype at = 0;
        bool started = false;
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, kDripMs) > 0 && (p.revents & POLLIN)) {
                char request[300];
                const ssize_t n = ::read(fd_, request, sizeof request);
                if (n <= 0)
                    return;
                stream = mbap_ ? QByteArray(request, 2) + QByteArray::fromHex("000000FE01") +
                                     QByteArray::fromHex("03FC")
                               : QByteArray();
                at = 0;
                started = true;
                continue;
            }
            if (!started)
                continue;
            const char c = at < stream.size() ? stream.at(at) : '?';
            ++at;
            if (::write(fd_, &c, 1) != 1)
                return;
        }
    }
    int fd_;
    bool mbap_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Figures {
    int deadlineMs = 0;
    double worstWallMs = 0;
    double cpuMs = 0;
    double wallMs = 0;
};

Figures measure(Transport& t, int requests) {
    Figures f;
    const double cpu0 = threadCpuMs(), wall0 = nowMs();
    for (int i = 0; i < requests; ++i) {
        const double start = nowMs();
        const Transaction x = t.transact(1, kRead);
        f.worstWallMs = std::max(f.worstWallMs, nowMs() - start);
        f.deadlineMs = x.deadlineMs;
        if (!x.pastDeadline || checkReply(x, kRead).confirmed())
            std::fprintf(stderr, "bench_deadline: request %d was not cut at its deadline\n", i);
    }
    f.cpuMs = threadCpuMs() - cpu0;
    f.wallMs = nowMs() - wall0;
    return f;
}

void report(const char* line, const Figures& f, int requests) {
    const double ratio = f.worstWallMs / f.deadlineMs;
    const double cpuShare = 100 * f.cpuMs / f.wallMs;
    std::printf("%-13s deadline %5d ms, worst request %7.1f ms = %.3f x deadline (target <= "
                "1.05, %s); CPU %.1f ms in %.0f ms = %.2f %% (target <= 2 %%, %s), %d requests\n",
                line, f.deadlineMs, f.worstWallMs, ratio, ratio <= 1.05 ? "met" : "MISSED", f.cpuMs,
                f.wallMs, cpuShare, cpuShare <= 2 ? "met" : "MISSED", requests);
}

int serialLine(int requests) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return 1;
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    QtSerialPortDevice port;
    port.setPortName(QString::fromLocal8Bit(::ptsname(master)));
    if (!port.setSettings({9600}).ok || !port.open().ok)
        return 1;
    const CrcTableArray crc = standardCrcTable();
    RtuTransport t(port, crc);
    Figures f;
    {
        Dripper drip(master, false);
        f = measure(t, requests);
    }
    report("RTU, serial", f, requests);
    ::close(master);
    return 0;
}

// A loopback listener of its own, so that no Qt socket reads what the dripper should.
int listenLoopback(quint16& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
        return -1;
    port = ntohs(a.sin_port);
    return fd;
}

int networkLine(Endpoint::Kind kind, int requests) {
    quint16 port = 0;
    const int listener = listenLoopback(port);
    if (listener < 0)
        return 1;
    const CrcTableArray crc = standardCrcTable();
    const Endpoint e{kind, QStringLiteral("127.0.0.1"), port};
    std::unique_ptr<NetTransport> t;
    if (kind == Endpoint::Kind::ModbusTcp)
        t = std::make_unique<ModbusTcpTransport>(e, NetTiming{});
    else
        t = std::make_unique<RtuOverTcpTransport>(e, crc, NetTiming{});
    // The connection waits in the backlog until it is accepted.
    const int fd = t->prepare() == TransportStatus::Ok ? ::accept(listener, nullptr, nullptr) : -1;
    ::close(listener);
    if (fd < 0)
        return 1;
    Figures f;
    {
        Dripper drip(fd, kind == Endpoint::Kind::ModbusTcp);
        f = measure(*t, requests);
    }
    report(kind == Endpoint::Kind::ModbusTcp ? "Modbus TCP" : "RTU over TCP", f, requests);
    ::close(fd);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::printf("a byte every %d ms; the deadline rule: first-byte wait + 80 ms gap + 1.5 x the "
                "reply's bytes at the line speed (1200 baud behind a gateway) + %d ms\n",
                kDripMs, kDeadlineMarginMs);
    if (serialLine(requests) != 0 || networkLine(Endpoint::Kind::ModbusTcp, requests) != 0 ||
        networkLine(Endpoint::Kind::RtuOverTcp, requests) != 0) {
        std::fprintf(stderr, "bench_deadline: cannot set up a line\n");
        return 1;
    }
    return 0;
}
