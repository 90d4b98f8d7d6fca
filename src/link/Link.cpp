#include "link/Link.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

QByteArray Reply::bytes() const {
    QByteArray out;
    out.reserve(count);
    for (int i = 1; i <= count; ++i)
        out.append(static_cast<char>(cells[static_cast<std::size_t>(i)] & 0xFF));
    return out;
}

// One wait of the link: a local event loop ended by the timer, by the port's
// readyRead (when asked for) or by the port's failure. The timer is single-shot
// and precise, so a 500 ms wait never ends at 475 ms.
class Link::Wait {
public:
    enum class End { Bytes, TimedOut, Failed };

    // watchPort: a closed or failing port ends the wait early.
    Wait(Link& link, bool wakeOnBytes, bool watchPort = true)
        : link_(link), wakeOnBytes_(wakeOnBytes), watchPort_(watchPort) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, &loop_, [this] {
            link_.timeOutFlag_ = 1;
            loop_.quit();
        });
        QObject::connect(&link_.port_, &SerialPort::failed, &loop_, [this] {
            failed_ = true;
            loop_.quit();
        });
        if (wakeOnBytes)
            QObject::connect(&link_.port_, &SerialPort::readyRead, &loop_, &QEventLoop::quit);
    }

    Wait(const Wait&) = delete;
    Wait& operator=(const Wait&) = delete;

    // (Re)starts the timer: the wait now ends ms from this moment at the latest.
    void arm(int ms) { timer_.start(std::max(ms, 0)); }

    // Runs until the next event that concerns the wait. Bytes that came in
    // while the loop was not running (a readyRead outside exec) end it at once.
    End next() {
        if (!portGone() && link_.timeOutFlag_ == 0 && !(wakeOnBytes_ && bytesWaiting()))
            loop_.exec();
        if (portGone())
            return End::Failed;
        return link_.timeOutFlag_ != 0 ? End::TimedOut : End::Bytes;
    }

private:
    bool portGone() const { return watchPort_ && (failed_ || !link_.port_.isOpen()); }
    bool bytesWaiting() const { return link_.port_.isOpen() && link_.port_.inputCount() > 0; }
    Link& link_;
    bool wakeOnBytes_;
    bool watchPort_;
    QEventLoop loop_;
    QTimer timer_;
    bool failed_ = false;
};

namespace {

// Marks the link as in the middle of a wait for a scope, so that a request made
// from an event handler meanwhile is refused instead of nested.
class ActiveScope {
public:
    explicit ActiveScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~ActiveScope() { flag_ = false; }
    ActiveScope(const ActiveScope&) = delete;
    ActiveScope& operator=(const ActiveScope&) = delete;

private:
    bool& flag_;
};

} // namespace

Link::Link(SerialPort& port, LinkTiming timing, QObject* parent)
    : QObject(parent), port_(port), timing_(timing) {
    connect(&port_, &SerialPort::failed, this, [this](const QString& reason) {
        lastFailure_ = reason;
        ++failures_;
        emit portFailed(reason);
    });
}

Link::~Link() = default;

QString Link::notOpenText() const {
    return tr("The serial port %1 is not open.").arg(port_.portName());
}

LinkStatus Link::failure(quint64 failuresBefore, const QString& fallback) {
    // The port reports its own failures (and the constructor forwards them);
    // a failure it did not report is announced here, once.
    if (failures_ == failuresBefore) {
        lastFailure_ = fallback;
        ++failures_;
        emit portFailed(fallback);
    }
    return LinkStatus::PortFailed;
}

// --- RTS and the transmit path ---

LinkStatus Link::raiseRts() {
    // An adapter or the driver switches the direction itself.
    if (direction_ != Direction::Rts)
        return port_.isOpen() ? LinkStatus::Ok : LinkStatus::PortFailed;
    if (!port_.setRts(true) && !rtsNoteGiven_) {
        rtsNoteGiven_ = true;
        emit traceNote(tr("RTS not switchable on %1; the adapter must switch direction by itself")
                           .arg(port_.portName()));
    }
    // The line driver needs a moment after RTS rises before the first bit.
    return pause(timing_.turnaroundMs);
}

LinkStatus Link::lowerRts() {
    if (!port_.drainOutput())
        return LinkStatus::PortFailed;
    if (direction_ == Direction::Rts)
        port_.setRts(false);
    return LinkStatus::Ok;
}

LinkStatus Link::RtsOff() {
    // Dropping RTS under another request's transmission would cut it off.
    if (active_)
        return LinkStatus::Busy;
    if (!port_.isOpen())
        return LinkStatus::NotOpen;
    ActiveScope scope(active_);
    const quint64 before = failures_;
    if (lowerRts() != LinkStatus::Ok)
        return failure(before, tr("Sending on %1 failed.").arg(port_.portName()));
    QCoreApplication::processEvents();
    return LinkStatus::Ok;
}

LinkStatus Link::transmit(const QByteArray& bytes, int settleMs) {
    const quint64 before = failures_;
    emit sending(true);
    LinkStatus s = raiseRts();
    timeOutFlag_ = 0;
    if (s == LinkStatus::Ok) {
        if (!port_.write(bytes)) {
            s = LinkStatus::PortFailed;
        } else {
            emit frameSent(bytes);
            if (settleMs > 0)
                s = pause(settleMs);
            if (s == LinkStatus::Ok)
                s = lowerRts();
        }
    }
    emit sending(false);
    // Announced once here, whichever step met the failure.
    if (s == LinkStatus::PortFailed)
        return failure(before, tr("Sending on %1 failed.").arg(port_.portName()));
    return s;
}

// --- Waits ---

LinkStatus Link::pause(int ms) {
    if (ms <= 0)
        return port_.isOpen() ? LinkStatus::Ok : LinkStatus::PortFailed;
    timeOutFlag_ = 0;
    Wait wait(*this, false);
    wait.arm(ms);
    return wait.next() == Wait::End::Failed ? LinkStatus::PortFailed : LinkStatus::Ok;
}

LinkStatus Link::DelayLoop(int DelayTime) {
    if (active_)
        return LinkStatus::Busy;
    ActiveScope scope(active_);
    const quint64 before = failures_;
    timeOutFlag_ = 0;
    // A pause needs no port; one that was open and fails ends it at once.
    Wait wait(*this, false, port_.isOpen());
    wait.arm(DelayTime);
    if (wait.next() == Wait::End::Failed)
        return failure(before, tr("The serial port %1 closed.").arg(port_.portName()));
    return LinkStatus::Ok;
}

LinkStatus Link::receive(Exchange& x, int gapMs, const ReplyRule& rule) {
    Reply& RcveBuff = x.reply;
    if (gapMs < 0)
        gapMs = timing_.replyGapMs;
    RcveBuff.count = 0;
    for (int i = 1; i <= 40; ++i)
        RcveBuff.cells[static_cast<std::size_t>(i)] = 255;
    timeOutFlag_ = 0;
    const auto take = [&RcveBuff](int b) {
        // What came in with the byte that filled the last cell is dropped
        // with it.
        if (RcveBuff.count < Reply::kCells)
            RcveBuff.cells[static_cast<std::size_t>(++RcveBuff.count)] = static_cast<qint16>(b);
    };

    const quint64 before = failures_;
    Wait wait(*this, true);
    // The first byte may take firstByteMs from now, the request being on the
    // wire; after that, gapMs of silence ends the reply.
    wait.arm(timing_.firstByteMs);
    bool lit = false;
    bool failed = false;
    // While the bytes that came are a beginning of the request, they may be
    // its echo; held here until they are the whole copy or prove not to be.
    bool matching = rule.echo != EchoMode::Off && !x.request.isEmpty();
    qsizetype held = 0;
    // Once the timer has fired the reply is over: bytes arriving at that
    // moment belong to the next exchange, which discards them.
    while (timeOutFlag_ == 0) {
        if (port_.isOpen() && port_.inputCount() > 0) {
            if (!lit) {
                lit = true;
                emit receiving(true);
            }
            bool echoEnded = false;
            int b;
            while ((b = port_.readByte()) >= 0) {
                if (matching && b == static_cast<quint8>(x.request.at(held))) {
                    if (++held == x.request.size()) {
                        matching = false;
                        x.echoed = echoEnded = true;
                    }
                    continue;
                }
                if (matching) { // not a copy: what was held begins the reply
                    matching = false;
                    for (qsizetype i = 0; i < held; ++i)
                        take(static_cast<quint8>(x.request.at(i)));
                }
                take(b);
            }
            // A full buffer ends the reply without waiting for its gap: a unit
            // that never falls silent would otherwise hold the link for good.
            // What it sends after this is dropped by the next discard.
            if (RcveBuff.count >= Reply::kCells)
                break;
            // The unit's time to answer counts from the end of the echo, which
            // is where the request ended on the line.
            if (echoEnded && RcveBuff.count == 0) {
                wait.arm(timing_.firstByteMs);
                continue;
            }
            if (!matching && RcveBuff.count > 0 && rule.complete && rule.complete(RcveBuff.bytes()))
                break;
            wait.arm(gapMs);
            continue;
        }
        const Wait::End end = wait.next();
        if (end == Wait::End::TimedOut)
            break;
        if (end == Wait::End::Failed) {
            failed = true;
            break;
        }
    }
    // A beginning of the request and then silence: that was what came.
    if (matching)
        for (qsizetype i = 0; i < held; ++i)
            take(static_cast<quint8>(x.request.at(i)));
    timeOutFlag_ = 0;
    emit receiving(false);
    if (RcveBuff.count > 0)
        emit frameReceived(RcveBuff.bytes());
    if (failed)
        return failure(before, tr("The serial port %1 closed.").arg(port_.portName()));
    return LinkStatus::Ok;
}

// --- A whole exchange ---

LinkStatus Link::exchange(Exchange& x, Send how, int gapMs, const ReplyRule& rule) {
    if (active_)
        return LinkStatus::Busy;
    if (!port_.isOpen())
        return LinkStatus::NotOpen;
    ActiveScope scope(active_);
    // The settling time holds RTS up; without RTS there is nothing to hold.
    const bool settle = how == Send::SendAll && direction_ == Direction::Rts;
    const LinkStatus s = transmit(x.request, settle ? timing_.sendAllSettleMs : 0);
    return s == LinkStatus::Ok ? receive(x, gapMs, rule) : s;
}

Exchange Link::transact(const QByteArray& request, Send how, int gapMs, const ReplyRule& rule) {
    Exchange x;
    x.request = request;
    if (!active_ && port_.isOpen())
        port_.discardInput();
    x.status = exchange(x, how, gapMs, rule);
    if (x.status == LinkStatus::Busy)
        x.error = tr("The serial link is busy with another request.");
    else if (x.status == LinkStatus::NotOpen)
        x.error = notOpenText();
    else if (x.status == LinkStatus::PortFailed)
        x.error = lastFailure_;
    return x;
}
