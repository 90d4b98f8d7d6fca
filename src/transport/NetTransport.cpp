#include "transport/NetTransport.h"

#include "link/ActiveScope.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

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
// closes or fails, or ms pass.
NetTransport::End NetTransport::wait(int ms, bool wakeOnBytes) {
    if (!connected())
        return End::Closed;
    if (wakeOnBytes && socket_.bytesAvailable() > 0)
        return End::Bytes;
    TimedLoop wait(ms);
    connect(&socket_, &QAbstractSocket::disconnected, &wait.loop, &QEventLoop::quit);
    connect(&socket_, &QAbstractSocket::errorOccurred, &wait.loop, &QEventLoop::quit);
    if (wakeOnBytes)
        connect(&socket_, &QIODevice::readyRead, &wait.loop, &QEventLoop::quit);
    wait.loop.exec();
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
    socket_.connectToHost(endpoint_.host, quint16(endpoint_.port));
    if (socket_.state() != QAbstractSocket::UnconnectedState && !connected())
        wait.loop.exec();
    if (connected())
        return true;
    QString why = socket_.errorString();
    if (wait.timedOut)
        why = tr("no connection within %1 s").arg(timing_.connectMs / 1000.0);
    socket_.abort();
    reason = tr("cannot connect to %1: %2").arg(endpoint_.hostPort(), why);
    return false;
}

QString NetTransport::closedReason() const {
    const QString why = socket_.error() == QAbstractSocket::UnknownSocketError
                            ? tr("the connection was closed")
                            : socket_.errorString();
    return tr("%1 closed the connection in the middle of a request: %2")
        .arg(endpoint_.hostPort(), why);
}

TransportStatus NetTransport::fail(Transaction& t, const QString& reason) {
    t.status = TransportStatus::Failed;
    t.error = reason;
    socket_.abort();
    emit failed(reason);
    return t.status;
}

TransportStatus NetTransport::prepare() {
    if (active_)
        return TransportStatus::Busy;
    if (closed_)
        return TransportStatus::NotOpen;
    if (connected())
        return TransportStatus::Ok;
    ActiveScope scope(active_);
    QString reason;
    if (connectSocket(reason))
        return TransportStatus::Ok;
    Transaction t;
    return fail(t, reason);
}

bool NetTransport::exchange(int unit, Transaction& t, bool& got) {
    got = false;
    socket_.readAll(); // whatever an earlier exchange left
    emit sending(true);
    const bool written = socket_.write(t.sent) == t.sent.size();
    emit sending(false);
    if (!written)
        return false;
    emit frameSent(t.sent);
    bool lit = false;
    const bool ok = receiveReply(unit, t, got, lit);
    if (lit)
        emit receiving(false);
    if (ok && !t.received.isEmpty())
        emit frameReceived(t.received);
    return ok;
}

bool NetTransport::receiveReply(int unit, Transaction& t, bool& got, bool& lit) {
    QByteArray buffer;
    int armMs = timing_.firstByteMs;
    QElapsedTimer requestSent;
    requestSent.start();
    QElapsedTimer clock = requestSent;
    qint64 total = 0;
    for (;;) {
        const End end = wait(armMs - int(clock.elapsed()), true);
        if (end == End::Closed && socket_.bytesAvailable() == 0) {
            t.received = buffer;
            return false;
        }
        if (end == End::TimedOut) {
            judgeIncomplete(unit, buffer, t);
            return true;
        }
        const QByteArray chunk = socket_.readAll();
        if (chunk.isEmpty())
            continue;
        got = true;
        if (!lit) {
            lit = true;
            emit receiving(true);
        }
        buffer += chunk;
        total += chunk.size();
        if (total > kMaxReplyBytes) { // a peer that never stops sending
            judgeIncomplete(unit, buffer, t);
            return true;
        }
        const Collect c = collect(unit, buffer, t);
        if (c == Collect::Done)
            return true;
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

Transaction NetTransport::transact(int unit, const QByteArray& requestPdu, ReplyEnd) {
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
    // A connection the gateway dropped while idle is made again once; so is
    // one found closed by the request itself before any byte of a reply.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool reused = connected();
        QString reason;
        if (!reused && !connectSocket(reason)) {
            fail(t, reason);
            return t;
        }
        t.sent = frame(unit, requestPdu);
        bool got = false;
        if (exchange(unit, t, got))
            return t;
        if (got || !reused || attempt == 1) {
            fail(t, closedReason());
            return t;
        }
        socket_.abort();
    }
    return t;
}

TransportStatus NetTransport::bulkPause() {
    if (active_)
        return TransportStatus::Busy;
    ActiveScope scope(active_);
    // A gateway that closes an idle connection meanwhile is no failure: the
    // next request connects again.
    TimedLoop pause(timing_.bulkPauseMs);
    pause.loop.exec();
    return TransportStatus::Ok;
}
