#include "link/ActiveScope.h"
#include "link/LinkWait.h"

#include <QElapsedTimer>

// Listening while nothing is asked: what comes is dropped, and noted.

namespace {
constexpr int kHeardKept = 4096; // bytes of one listen kept for the line's counters
}

Link::Heard Link::overhear(int ms) {
    Heard h;
    if (active_) {
        h.status = LinkStatus::Busy;
        return h;
    }
    ActiveScope scope(active_);
    stopPending_ = false;
    const quint64 before = failures_;
    timedOut_ = 0;
    QElapsedTimer clock;
    clock.start();
    const auto take = [&] {
        const QByteArray b = dropInput();
        if (b.isEmpty())
            return;
        if (h.count == 0)
            h.firstMs = clock.elapsed();
        h.count += int(b.size());
        h.bytes += b.left(kHeardKept - h.bytes.size());
        h.lastMs = clock.elapsed();
    };
    Wait wait(*this, port_.isOpen(), true);
    const QMetaObject::Connection bytes = connect(&port_, &SerialPort::readyRead, this, take);
    take();
    wait.arm(ms);
    Wait::End end = Wait::End::Bytes;
    while (end == Wait::End::Bytes)
        end = wait.next();
    disconnect(bytes);
    take();
    if (end == Wait::End::Failed)
        h.status = failure(before, tr("The serial port %1 closed.").arg(port_.portName()));
    else if (end == Wait::End::Stopped)
        h.status = LinkStatus::Stopped;
    return h;
}

QByteArray Link::dropInput() {
    QByteArray all;
    if (!port_.isOpen())
        return all;
    for (int b; (b = port_.readByte()) >= 0;)
        all.append(char(b));
    port_.discardInput();
    return all;
}
