#include "cli/Signals.h"

#include <QSocketNotifier>

#include <csignal>
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
    notifier_ = new QSocketNotifier(pair[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
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

QString SignalWatch::name(int sig) {
    switch (sig) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    case SIGPIPE:
        return QStringLiteral("SIGPIPE");
    }
    return QStringLiteral("signal %1").arg(sig);
}

int SignalWatch::first() {
    return firstSignal;
}

void SignalWatch::deliver(int sig) {
    onSignal(sig);
}
