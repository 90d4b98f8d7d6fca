#include "support/Gateway.h"

#include <QTimer>

#include <memory>
#ifndef _WIN32 // the Blackhole is Linux's: Windows refuses a connection past the backlog
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

Gateway::Gateway(Script script) : script_(std::move(script)) {
    server_.listen(QHostAddress::LocalHost);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        QTcpSocket* s = server_.nextPendingConnection();
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1); // pieces leave as written
        ++connections;
        ++clients;
        connect(s, &QTcpSocket::disconnected, this, [this] { --clients; });
        connect(s, &QTcpSocket::readyRead, s, [this, s] {
            const QByteArray request = s->readAll();
            requests << request;
            script_(*s, request, count++);
        });
    });
}

void Gateway::drip(QTcpSocket& s, const QByteArray& bytes, int everyMs) {
    auto* timer = new QTimer(&s);
    timer->setTimerType(Qt::PreciseTimer);
    auto at = std::make_shared<int>(0);
    const auto tick = [timer, &s, bytes, at] {
        if (s.state() != QAbstractSocket::ConnectedState ||
            (!bytes.isEmpty() && *at >= bytes.size())) {
            timer->stop();
            return;
        }
        s.write(bytes.isEmpty() ? QByteArray("?") : bytes.mid((*at)++, 1));
        s.flush();
    };
    QObject::connect(timer, &QTimer::timeout, &s, tick);
    tick();
    timer->start(everyMs);
}

QByteArray mbapBytes(quint16 transaction, int unit, const QByteArray& pdu) {
    QByteArray b;
    b.append(char(transaction >> 8)).append(char(transaction & 0xFF));
    b.append('\0').append('\0');
    const int length = int(pdu.size()) + 1;
    b.append(char(length >> 8)).append(char(length & 0xFF));
    b.append(char(unit));
    return b + pdu;
}

quint16 mbapTransaction(const QByteArray& frame) {
    return frame.size() < 2 ? 0 : quint16(quint8(frame.at(0)) << 8 | quint8(frame.at(1)));
}

#ifndef _WIN32
Blackhole::Blackhole() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    fds_[0] = ::socket(AF_INET, SOCK_STREAM, 0);
    ::bind(fds_[0], reinterpret_cast<sockaddr*>(&a), n);
    ::listen(fds_[0], 0);
    ::getsockname(fds_[0], reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    for (int i = 1; i < 4; ++i) {
        fds_[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fds_[i], reinterpret_cast<sockaddr*>(&a), n);
    }
}

Blackhole::~Blackhole() {
    for (int fd : fds_)
        ::close(fd);
}
#endif
