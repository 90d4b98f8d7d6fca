#include "transport/NetTransport.h"

#include "link/ActiveScope.h"
#include "transport/Deadline.h"
#include "transport/SocketState.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// More than any reply of the tool's requests, stale ones included.
constexpr qint64 kMaxReplyBytes = 4096;

// A local event loop that a precise single-shot timer ends ms from now at the
// latest; whatever else the caller connects to quit() ends it sooner.
struct TimedLoop {
    explicit TimedLoop(int ms) {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, [this] {
            timedOut = true;
            loop.quit();
        });
        timer.start(std::max(ms, 0));
    }
    QEventLoop loop;
    QTimer timer;
    bool timedOut = false;
};

} // namespace

NetTransport::NetTransport(const Endpoint& endpoint, NetTiming timing, QObject* parent)
    : Transport(parent), endpoint_(endpoint), timing_(timing) {
    // Requests are small and must leave at once.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Every wait below also ends on this, and looks at the flag.
    connect(this, &Transport::stopRequested, this, [this] { stopPending_ = active_; });
}

NetTransport::~NetTransport() {
    socket_.abort();
}

QString NetTransport::endpointName() const {
    return endpointText(endpoint_);
}

void NetTransport::close() {
    closed_ = true;
    socket_.abort();
}

// Runs a local event loop until bytes come (when asked for), the socket
// closes or fails, a stop is asked for, or ms pass.
NetTransport::End NetTransport::wait(int ms, bool wakeOnBytes) {
    if (!connected())
        return End::Closed;
    if (stopPending_)
        return End::Stopped;
    if (wakeOnBytes && socket_.bytesAvailable() > 0)
        return End::Bytes;
    TimedLoop wait(ms);
    connect(&socket_, &QAbstractSocket::disconnected, &wait.loop, &QEventLoop::quit);
    connect(&socket_, &QAbstractSocket::errorOccurred, &wait.loop, &QEventLoop::quit);
    connect(this, &Transport::stopRequested, &wait.loop, &QEventLoop::quit);
    if (wakeOnBytes)
        connect(&socket_, &QIODevice::readyRead, &wait.loop, &QEventLoop::quit);
    wait.loop.exec();
    if (stopPending_)
        return End::Stopped;
    if (wakeOnBytes && socket_.bytesAvailable() > 0)
        return End::Bytes;
    if (!connected())
        return End::Closed;
    return wait.timedOut ? End::TimedOut : End::Bytes;
}

bool NetTransport::connectSocket(QString& reason) {
    socket_.abort();
    TimedLoop wait(timing_.connectMs);
    connect(&socket_, &QAbstractSocket::connected, &wait.loop, &QEventLoop::quit);
    connect(&socket_, &QAbstractSocket::errorOccurred, &wait.loop, &QEventLoop::quit);
    connect(this, &Transport::stopRequested, &wait.loop, &QEventLoop::quit);
    socket_.connectToHost(endpoint_.host, quint16(endpoint_.port));
    if (socket_.state() != QAbstractSocket::UnconnectedState && !connected() && !stopPending_)
        wait.loop.exec();
    if (connected() && !stopPending_)
        return true;
    QString why = socket_.errorString();
    if (wait.timedOut)
        why = tr("no connection within %1 s").arg(timing_.connectMs / 1000.0);
    socket_.abort();
    reason = tr("cannot connect to %1: %2").arg(endpoint_.hostPort(), why);
    return false;
}

bool NetTransport::peerClosed() const {
    // The gateway's close of an idle connection may be in the socket before
    // the event loop has told it: a zero-time look, no wait. Asked only of a
    // connected socket, which has its descriptor.
    return socketPeerClosed(socket_.socketDescriptor());
}

QString NetTransport::closedReason() const {
    // The gateway's own close needs no second wording of the system's.
    const QAbstractSocket::SocketError e = socket_.error();
    if (e == QAbstractSocket::UnknownSocketError || e == QAbstractSocket::RemoteHostClosedError)
        return tr("%1 closed the connection in the middle of a request").arg(endpoint_.hostPort());
    return tr("the connection to %1 failed in the middle of a request: %2")
        .arg(endpoint_.hostPort(), socket_.errorString());
}

TransportStatus NetTransport::fail(Transaction& t, const QString& reason) {
    t.status = TransportStatus::Failed;
    t.error = reason;
    socket_.abort();
    emit failed(reason);
    return t.status;
}

void NetTransport::stopped(Transaction& t) {
    t.status = TransportStatus::Stopped;
    t.error = tr("the request was stopped");
}

TransportStatus NetTransport::prepare() {
    if (active_)
        return TransportStatus::Busy;
    if (closed_)
        return TransportStatus::NotOpen;
    if (connected())
        return TransportStatus::Ok;
    ActiveScope scope(active_);
    stopPending_ = false;
    QString reason;
    if (connectSocket(reason))
        return TransportStatus::Ok;
    Transaction t;
    if (stopPending_) {
        stopped(t);
        return t.status;
    }
    return fail(t, reason);
}

NetTransport::Outcome NetTransport::exchange(int unit, Transaction& t) {
    t.stale = socket_.readAll(); // whatever an earlier exchange left
    emit sending(true);
    const bool written = socket_.write(t.sent) == t.sent.size();
    emit sending(false);
    if (!written)
        return Outcome::Closed;
    emit frameSent(t.sent);
    bool lit = false;
    const Outcome o = receiveReply(unit, t, lit);
    if (lit)
        emit receiving(false);
    if (o != Outcome::Closed && !t.received.isEmpty())
        emit frameReceived(t.received);
    return o;
}

// The reply as it stands when a wait ran out; past the deadline with bytes
// in hand it is garbled, whatever they look like.
void NetTransport::cutOff(int unit, const QByteArray& buffer, Transaction& t, bool atDeadline) {
    judgeIncomplete(unit, buffer, t);
    t.pastDeadline = atDeadline;
    if (atDeadline && !buffer.isEmpty())
        t.framing = Framing::Garbled;
}

NetTransport::Outcome NetTransport::receiveReply(int unit, Transaction& t, bool& lit) {
    QByteArray buffer;
    int armMs = timing_.firstByteMs;
    QElapsedTimer requestSent;
    requestSent.start();
    QElapsedTimer clock = requestSent;
    qint64 total = 0;
    for (;;) {
        const qint64 armLeft = armMs - clock.elapsed();
        const qint64 deadlineLeft = t.deadlineMs - requestSent.elapsed();
        if (deadlineLeft <= 0) {
            cutOff(unit, buffer, t, true);
            return Outcome::Done;
        }
        const End end = wait(int(std::min(armLeft, deadlineLeft)), true);
        if (end == End::Stopped || (end == End::Closed && socket_.bytesAvailable() == 0)) {
            t.received = buffer; // whatever came, for the comms test
            return end == End::Stopped ? Outcome::Stopped : Outcome::Closed;
        }
        if (end == End::TimedOut) {
            cutOff(unit, buffer, t, deadlineLeft < armLeft);
            return Outcome::Done;
        }
        const QByteArray chunk = socket_.readAll();
        if (chunk.isEmpty())
            continue;
        buffer += chunk;
        total += chunk.size();
        t.lastByteMs = int(requestSent.elapsed()); // for the line's counters
        if (!std::exchange(lit, true)) {
            t.firstByteMs = t.lastByteMs;
            emit receiving(true);
        }
        if (total > kMaxReplyBytes) { // a peer that never stops sending
            cutOff(unit, buffer, t, false);
            return Outcome::Done;
        }
        const Collect c = collect(unit, buffer, t);
        if (c == Collect::Done)
            return Outcome::Done;
        if (c == Collect::Stale && buffer.isEmpty()) {
            // Still waiting for the first byte of this reply.
            armMs = timing_.firstByteMs;
            clock = requestSent;
        } else { // more of this reply, or one that began behind a stale one
            armMs = timing_.replyGapMs;
            clock.restart();
        }
    }
}

Transaction NetTransport::exchange(int unit, const QByteArray& requestPdu, ReplyEnd) {
    Transaction t;
    if (active_) {
        t.status = TransportStatus::Busy;
        t.error =
            tr("The connection to %1 is busy with another request.").arg(endpoint_.hostPort());
        return t;
    }
    if (closed_) {
        t.status = TransportStatus::NotOpen;
        t.error = tr("The connection to %1 is closed.").arg(endpoint_.hostPort());
        return t;
    }
    ActiveScope scope(active_);
    stopPending_ = false;
    // A connection the gateway closed while idle is made again before the
    // request goes, when the request has certainly not left. Once it has, it
    // is never sent again here: a write may have reached the unit.
    if (!connected() || peerClosed()) {
        QString reason;
        if (!connectSocket(reason)) {
            if (stopPending_)
                stopped(t);
            else
                fail(t, reason);
            return t;
        }
    }
    t.sent = frame(unit, requestPdu);
    t.deadlineMs = networkDeadlineMs(requestPdu, timing_.firstByteMs, timing_.replyGapMs);
    switch (exchange(unit, t)) {
    case Outcome::Done:
        break;
    case Outcome::Stopped:
        stopped(t);
        break;
    case Outcome::Closed:
        fail(t, closedReason());
        break;
    }
    return t;
}

Overheard NetTransport::overhear(int ms) {
    Overheard o;
    if (active_) {
        o.status = TransportStatus::Busy;
        return o;
    }
    ActiveScope scope(active_);
    stopPending_ = false;
    QElapsedTimer clock;
    clock.start();
    // An idle connection the gateway closes meanwhile is no failure here:
    // the next request connects again, and nothing more can come on it.
    for (qint64 left = ms; left > 0; left = ms - clock.elapsed()) {
        const End end = wait(int(left), true);
        const QByteArray chunk = connected() ? socket_.readAll() : QByteArray();
        if (!chunk.isEmpty()) {
            if (o.count == 0)
                o.firstMs = clock.elapsed();
            o.count += int(chunk.size());
            o.bytes += chunk.left(4096 - o.bytes.size());
            o.lastMs = clock.elapsed();
        }
        if (end == End::Stopped) {
            o.status = TransportStatus::Stopped;
            break;
        }
        if (end == End::Closed) {
            TimedLoop rest(int(std::max<qint64>(ms - clock.elapsed(), 0)));
            connect(this, &Transport::stopRequested, &rest.loop, &QEventLoop::quit);
            rest.loop.exec();
            if (stopPending_)
                o.status = TransportStatus::Stopped;
            break;
        }
    }
    return o;
}

TransportStatus NetTransport::bulkPause() {
    if (active_)
        return TransportStatus::Busy;
    ActiveScope scope(active_);
    stopPending_ = false;
    // A gateway that closes an idle connection meanwhile is no failure: the
    // next request connects again.
    TimedLoop pause(timing_.bulkPauseMs);
    connect(this, &Transport::stopRequested, &pause.loop, &QEventLoop::quit);
    pause.loop.exec();
    return stopPending_ ? TransportStatus::Stopped : TransportStatus::Ok;
}
