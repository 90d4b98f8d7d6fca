#pragma once
// A network gateway played on loopback: each request, as it came (whole), goes
// to a script that writes what it likes on the socket, or closes it. It counts
// connections (and those open now) and keeps every request.

#include "transport/Endpoint.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

class Gateway : public QObject {
public:
    using Script = std::function<void(QTcpSocket&, const QByteArray& request, int index)>;
    explicit Gateway(Script script);

    Endpoint endpoint(Endpoint::Kind kind) const {
        return {kind, QStringLiteral("127.0.0.1"), server_.serverPort()};
    }
    // The address the operator would type: tcp://127.0.0.1:N or rtu+tcp://127.0.0.1:N.
    QString address(Endpoint::Kind kind) const { return endpointText(endpoint(kind)); }
    QString hostPort() const { return endpoint(Endpoint::Kind::ModbusTcp).hostPort(); }

    // Writes bytes on s one at a time, everyMs apart (the first at once); an
    // empty bytes drips "?" until the socket closes.
    static void drip(QTcpSocket& s, const QByteArray& bytes, int everyMs);

    int count = 0;
    int connections = 0;
    int clients = 0; // connected now
    QList<QByteArray> requests;

private:
    QTcpServer server_;
    Script script_;
};

// The Modbus TCP frame of pdu, written here for the tests: transaction id,
// protocol 0, the length of the unit id and the PDU, the unit id.
QByteArray mbapBytes(quint16 transaction, int unit, const QByteArray& pdu);
// The transaction id at the front of a Modbus TCP frame.
quint16 mbapTransaction(const QByteArray& frame);

// A loopback port whose backlog is full, so that a connection attempt hears
// nothing back: the connect time-out, without leaving the machine.
class Blackhole {
public:
    Blackhole();
    ~Blackhole();
    Blackhole(const Blackhole&) = delete;
    Blackhole& operator=(const Blackhole&) = delete;
    quint16 port() const { return port_; }

private:
    int fds_[4] = {-1, -1, -1, -1};
    quint16 port_ = 0;
};
