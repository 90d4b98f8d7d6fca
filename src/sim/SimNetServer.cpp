#include "sim/SimNetServer.h"

#include <QRandomGenerator>

namespace {

constexpr int kRtuSilenceMs = 3;       // ends a request, as 3.5 characters do on a line
constexpr int kMaxRequestBytes = 4096; // more without a whole request: not a Modbus master

quint16 word(const QByteArray& b, int at) {
    return quint16(quint8(b.at(at)) << 8 | quint8(b.at(at + 1)));
}

} // namespace

SimNetServer::SimNetServer(SimLine& line, QObject* parent) : QObject(parent), line_(line) {
    setUp();
}

SimNetServer::SimNetServer(SimModel& model, QObject* parent)
    : QObject(parent), ownLine_(std::make_unique<SimLine>(model)), line_(*ownLine_) {
    setUp();
}

void SimNetServer::setUp() {
    silence_.setSingleShot(true);
    silence_.setTimerType(Qt::PreciseTimer);
    connect(&silence_, &QTimer::timeout, this, [this] {
        const QByteArray request = buffer_;
        buffer_.clear();
        answerRtu(request);
    });
    idle_.setSingleShot(true);
    idle_.setTimerType(Qt::PreciseTimer);
    connect(&idle_, &QTimer::timeout, this, &SimNetServer::onIdle);
    connect(&server_, &QTcpServer::newConnection, this, &SimNetServer::onConnection);
}

SimNetServer::~SimNetServer() {
    // The sockets go with the server; none may call back into this meanwhile.
    for (QTcpSocket* s : server_.findChildren<QTcpSocket*>())
        s->disconnect(this);
}

bool SimNetServer::listen(const SimConfig& config, const QHostAddress& host, quint16 port,
                          bool rtuOverTcp, QString* error) {
    config_ = config;
    rtu_ = rtuOverTcp;
    if (line_.unitCount() == 1)
        line_.model().setUnit(config.unit);
    line_.setClearSlotOnWrite(config.clearSlotOnWrite);
    line_.setSingleMessageReads(config.singleMessageReads);
    if (server_.listen(host, port))
        return true;
    if (error)
        *error = server_.errorString();
    return false;
}

QString SimNetServer::address() const {
    const QHostAddress a = server_.serverAddress();
    const QString host = a.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + a.toString() + QLatin1Char(']')
                             : a.toString();
    return QStringLiteral("%1://%2:%3")
        .arg(rtu_ ? QStringLiteral("rtu+tcp") : QStringLiteral("tcp"), host)
        .arg(port());
}

void SimNetServer::onConnection() {
    while (server_.hasPendingConnections()) {
        QTcpSocket* s = server_.nextPendingConnection();
        if (client_ && waiting_.size() >= maxWaiting_) {
            s->abort(); // the queue is full
            s->deleteLater();
            continue;
        }
        // Watched from the start: one that leaves while it waits is noticed.
        connect(s, &QTcpSocket::disconnected, this, [this, s] { onLeft(s); });
        if (client_)
            queue(s);
        else
            serve(s);
    }
}

void SimNetServer::queue(QTcpSocket* s) {
    // Its bytes wait in the socket for its turn, within a bound.
    s->setReadBufferSize(kMaxRequestBytes);
    waiting_.append(s);
    if (idleOver_ && client_)
        client_->abort(); // silent long enough: the one who came gets a turn
}

void SimNetServer::serve(QTcpSocket* s) {
    client_ = s;
    buffer_.clear();
    s->setReadBufferSize(0);
    connect(s, &QTcpSocket::readyRead, this, &SimNetServer::onReadable);
    restartIdle();
    if (s->bytesAvailable() > 0) // what it sent while it waited
        QMetaObject::invokeMethod(this, &SimNetServer::onReadable, Qt::QueuedConnection);
}

void SimNetServer::onLeft(QTcpSocket* s) {
    waiting_.removeAll(s);
    s->deleteLater();
    if (s != client_)
        return;
    client_ = nullptr;
    buffer_.clear();
    silence_.stop();
    idle_.stop();
    idleOver_ = false;
    while (!waiting_.isEmpty() && !client_) {
        QTcpSocket* next = waiting_.takeFirst();
        if (next && next->state() == QAbstractSocket::ConnectedState)
            serve(next);
    }
}

void SimNetServer::onIdle() {
    idleOver_ = true;
    if (client_ && !waiting_.isEmpty())
        client_->abort();
}

void SimNetServer::restartIdle() {
    idleOver_ = false;
    idle_.start(idleLimitMs_);
}

void SimNetServer::onReadable() {
    if (!client_)
        return;
    const QByteArray bytes = client_->readAll();
    if (bytes.isEmpty())
        return;
    restartIdle();
    buffer_ += bytes;
    // Nothing from the network is trusted: a peer that never ends a frame
    // is cut off.
    if (buffer_.size() > kMaxRequestBytes) {
        buffer_.clear();
        client_->abort();
        return;
    }
    if (rtu_)
        silence_.start(kRtuSilenceMs);
    else
        takeMbapFrames();
}

void SimNetServer::takeMbapFrames() {
    while (client_ && buffer_.size() >= 7) {
        const int length = word(buffer_, 4);
        if (word(buffer_, 2) != 0 || length < 2 || length > 254) {
            buffer_.clear();
            client_->abort(); // not Modbus TCP: a gateway drops the connection
            return;
        }
        if (buffer_.size() < 6 + length)
            return;
        const QByteArray frame = buffer_.left(6 + length);
        buffer_.remove(0, 6 + length);
        emit requestSeen(frame);
        answerMbap(frame.left(7), frame.mid(7));
    }
}

void SimNetServer::answerRtu(const QByteArray& request) {
    if (request.isEmpty())
        return;
    emit requestSeen(request);
    if (config_.neverAnswer)
        return;
    QByteArray reply = line_.reply(request);
    if (reply.isEmpty())
        return;
    if (config_.garbage) {
        auto* random = QRandomGenerator::global();
        do {
            for (auto& c : reply)
                c = char(random->bounded(256));
        } while (SimModel::crcValid(reply));
    }
    send(reply);
}

void SimNetServer::answerMbap(const QByteArray& header, const QByteArray& pdu) {
    if (config_.neverAnswer)
        return;
    // The unit on the far side of the gateway answers the RTU frame.
    const QByteArray rtu = line_.reply(SimModel::withCrc(header.right(1) + pdu));
    if (rtu.size() < 4)
        return; // silent: the gateway answers nothing either
    const QByteArray replyPdu = rtu.mid(1, rtu.size() - 3);
    QByteArray reply = header.left(4);
    reply.append(char((replyPdu.size() + 1) >> 8)).append(char((replyPdu.size() + 1) & 0xFF));
    reply += header.right(1) + replyPdu;
    if (config_.garbage) {
        auto* random = QRandomGenerator::global();
        for (auto& c : reply)
            c = char(random->bounded(256));
        reply[2] = char(0x5A); // never protocol 0
    }
    send(reply);
}

// Sends after the turnaround (and lateMs), with the fault's silence in its middle.
void SimNetServer::send(QByteArray reply) {
    const QPointer<QTcpSocket> to = client_;
    const int firstHalf =
        config_.pauseInsideReplyMs > 0 ? int(reply.size() / 2) : int(reply.size());
    const auto write = [this, to](const QByteArray& bytes) {
        if (!to || to->state() != QAbstractSocket::ConnectedState)
            return;
        to->write(bytes);
        if (to == client_)
            restartIdle(); // its silence counts from the reply
    };
    const int delay = config_.turnaroundMs + config_.lateMs;
    QTimer::singleShot(delay, Qt::PreciseTimer, this, [=] {
        write(reply.left(firstHalf));
        if (firstHalf == reply.size()) {
            emit replySent(reply);
            return;
        }
        QTimer::singleShot(config_.pauseInsideReplyMs, Qt::PreciseTimer, this, [=] {
            write(reply.mid(firstHalf));
            emit replySent(reply);
        });
    });
}
