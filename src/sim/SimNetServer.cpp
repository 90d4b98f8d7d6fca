#include "sim/SimNetServer.h"

#include <QRandomGenerator>

namespace {

constexpr int kRtuSilenceMs = 3; // ends a request, as 3.5 characters do on a line

quint16 word(const QByteArray& b, int at) {
    return quint16(quint8(b.at(at)) << 8 | quint8(b.at(at + 1)));
}

} // namespace

SimNetServer::SimNetServer(SimModel& model, QObject* parent) : QObject(parent), model_(model) {
    silence_.setSingleShot(true);
    silence_.setTimerType(Qt::PreciseTimer);
    connect(&silence_, &QTimer::timeout, this, [this] {
        const QByteArray request = buffer_;
        buffer_.clear();
        answerRtu(request);
    });
    connect(&server_, &QTcpServer::newConnection, this, &SimNetServer::onConnection);
}

bool SimNetServer::listen(const SimConfig& config, const QHostAddress& host, quint16 port,
                          bool rtuOverTcp, QString* error) {
    config_ = config;
    rtu_ = rtuOverTcp;
    model_.setUnit(config.unit);
    model_.setBareRegisters(config.bareRegisters);
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
    if (client_ || !server_.hasPendingConnections())
        return;
    // One client at a time: the next waits, unanswered, until this one leaves.
    server_.pauseAccepting();
    QTcpSocket* s = server_.nextPendingConnection();
    client_ = s;
    buffer_.clear();
    connect(s, &QTcpSocket::readyRead, this, &SimNetServer::onReadable);
    connect(s, &QTcpSocket::disconnected, this, [this, s] {
        s->deleteLater();
        client_ = nullptr;
        server_.resumeAccepting();
        onConnection(); // one that came meanwhile
    });
}

void SimNetServer::onReadable() {
    if (!client_)
        return;
    buffer_ += client_->readAll();
    // Nothing from the network is trusted: a peer that never ends a frame
    // is cut off.
    if (buffer_.size() > 4096) {
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
    QByteArray reply = model_.reply(request);
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
    const QByteArray rtu = model_.reply(SimModel::withCrc(header.right(1) + pdu));
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
    const auto write = [to](const QByteArray& bytes) {
        if (to && to->state() == QAbstractSocket::ConnectedState)
            to->write(bytes);
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
