#include "link/ActiveScope.h"
#include "link/LinkWait.h"

#include <QElapsedTimer>

// Listening while nothing is asked: what comes is dropped, and noted.

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
        int first = -1;
        const int n = dropInput(&first);
        if (n == 0)
            return;
        if (h.bytes == 0) {
            h.first = first;
            h.firstMs = clock.elapsed();
        }
        h.bytes += n;
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
    timedOut_ = 0;
    if (end == Wait::End::Failed)
        h.status = failure(before, tr("The serial port %1 closed.").arg(port_.portName()));
    else if (end == Wait::End::Stopped)
        h.status = LinkStatus::Stopped;
    return h;
}

int Link::dropInput(int* first) {
    int n = 0;
    if (!port_.isOpen())
        return n;
    for (int b; (b = port_.readByte()) >= 0; ++n)
        if (n == 0 && first)
            *first = b;
    port_.discardInput();
    return n;
}
