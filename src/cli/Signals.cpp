#include "cli/Signals.h"

#ifdef _WIN32
#include <QWinEventNotifier>

#include <atomic>
#include <windows.h>

namespace {

HANDLE arrived = nullptr;   // set by the console handler, reset by the watch
HANDLE finished = nullptr;  // set when the watch ends: the console may close now
std::atomic<int> wanted{0}; // the signals watched, one bit each
std::atomic<int> firstSignal{0};
std::atomic<int> lastSignal{0};

int signalFor(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return SIGINT;
    case CTRL_CLOSE_EVENT:
        return kSigHangUp;
    default: // log off, shut down
        return SIGTERM;
    }
}

// Runs on a thread of the system's. Windows ends the process once this
// returns from a close, log-off or shut-down event: wait (at most the few
// seconds Windows grants) until the command has stopped on its normal path.
BOOL WINAPI onConsoleEvent(DWORD event) {
    const int sig = signalFor(event);
    if ((wanted.load() & (1 << sig)) == 0)
        return FALSE;
    int none = 0;
    firstSignal.compare_exchange_strong(none, sig);
    lastSignal = sig;
    SetEvent(arrived);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        WaitForSingleObject(finished, 4500);
    return TRUE;
}

} // namespace

SignalWatch::SignalWatch(std::initializer_list<int> sigs, QObject* parent)
    : QObject(parent), sigs_(sigs) {
    if (arrived != nullptr)
        return;
    arrived = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (arrived == nullptr || finished == nullptr)
        return;
    int bits = 0;
    for (int sig : sigs_)
        bits |= 1 << sig;
    wanted = bits;
    auto* notifier = new QWinEventNotifier(arrived, this);
    connect(notifier, &QWinEventNotifier::activated, this, [this] {
        ResetEvent(arrived);
        emit caught(lastSignal.load());
    });
    notifier_ = notifier;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

SignalWatch::~SignalWatch() {
    if (!notifier_)
        return;
    wanted = 0;
    SetEvent(finished); // a handler waiting for the close lets Windows end the process
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    delete notifier_;
    CloseHandle(arrived);
    CloseHandle(finished);
    arrived = finished = nullptr;
}

int SignalWatch::first() {
    return firstSignal.load();
}

void SignalWatch::deliver(int sig) {
    int none = 0;
    firstSignal.compare_exchange_strong(none, sig);
    lastSignal = sig;
    if (arrived)
        SetEvent(arrived);
}

#else
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int pair[2] = {-1, -1};
volatile std::sig_atomic_t firstSignal = 0;

void onSignal(int sig) {
    if (firstSignal == 0)
        firstSignal = sig;
    const char byte = char(sig);
    if (pair[0] >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(pair[0], &byte, 1);
    }
}

} // namespace

SignalWatch::SignalWatch(std::initializer_list<int> sigs, QObject* parent)
    : QObject(parent), sigs_(sigs) {
    if (pair[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return;
    auto* notifier = new QSocketNotifier(pair[1], QSocketNotifier::Read, this);
    notifier_ = notifier;
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(pair[1], &byte, 1) == 1)
            emit caught(int(byte));
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : sigs_)
        ::sigaction(sig, &sa, nullptr);
}

SignalWatch::~SignalWatch() {
    if (!notifier_)
        return;
    for (int sig : sigs_)
        std::signal(sig, SIG_DFL);
    delete notifier_;
    ::close(pair[0]);
    ::close(pair[1]);
    pair[0] = pair[1] = -1;
}

int SignalWatch::first() {
    return firstSignal;
}

void SignalWatch::deliver(int sig) {
    onSignal(sig);
}
#endif

QString SignalWatch::name(int sig) {
    switch (sig) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case kSigHangUp:
        return QStringLiteral("SIGHUP");
    case kSigPipe:
        return QStringLiteral("SIGPIPE");
    }
    return QStringLiteral("signal %1").arg(sig);
}
