#include "support/SlaveRelay.h"

#include "support/PtyPeer.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

SlaveRelay::SlaveRelay(const QString& slavePath, Change change, int lateMs, bool echo)
    : change_(std::move(change)), lateMs_(lateMs), echo_(echo) {
    QString error;
    openRawPty(tool_, keep_, toolPath_, error);
    slave_ = ::open(qPrintable(slavePath), O_RDWR | O_NOCTTY | O_NONBLOCK);
    auto* fromTool = new QSocketNotifier(tool_, QSocketNotifier::Read, this);
    auto* fromSlave = new QSocketNotifier(slave_, QSocketNotifier::Read, this);
    connect(fromTool, &QSocketNotifier::activated, this, [this] {
        const QByteArray bytes = drainFd(tool_);
        if (echo_)
            putFd(tool_, bytes);
        putFd(slave_, bytes);
    });
    connect(fromSlave, &QSocketNotifier::activated, this, [this] {
        reply_ += drainFd(slave_);
        whole_.start(3);
    });
    whole_.setSingleShot(true);
    whole_.setTimerType(Qt::PreciseTimer);
    connect(&whole_, &QTimer::timeout, this, [this] {
        const QByteArray reply =
            change_ ? change_(std::exchange(reply_, {})) : std::exchange(reply_, {});
        QTimer::singleShot(lateMs_, Qt::PreciseTimer, this, [this, reply] { putFd(tool_, reply); });
    });
}

SlaveRelay::~SlaveRelay() {
    for (int fd : {tool_, keep_, slave_})
        if (fd >= 0)
            ::close(fd);
}
