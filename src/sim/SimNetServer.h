#pragma once
// The simulated unit behind a network gateway: a TCP server that answers from
// the same model as the unit on a pseudo-terminal, either as a Modbus TCP
// gateway (MBAP header, no CRC) or as a transparent one (RTU frames with
// their CRC, a request ended by a short silence). It listens only where it is
// told, serves one client at a time (the next one waits until it leaves), and
// keeps the unit's fault options. Its framing is its own, not the tool's.

#include "sim/SimModel.h"
#include "sim/SimUnit.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class SimNetServer : public QObject {
    Q_OBJECT
public:
    explicit SimNetServer(SimModel& model, QObject* parent = nullptr);

    // Port 0 takes a free port. False, with the system's reason, when the
    // address cannot be listened on.
    bool listen(const SimConfig& config, const QHostAddress& host, quint16 port, bool rtuOverTcp,
                QString* error = nullptr);
    quint16 port() const { return server_.serverPort(); }
    // The address the tool takes: tcp://HOST:PORT or rtu+tcp://HOST:PORT.
    QString address() const;

signals:
    void requestSeen(const QByteArray& frame);
    void replySent(const QByteArray& frame);

private:
    void onConnection();
    void onReadable();
    void takeMbapFrames();
    void answerRtu(const QByteArray& request);
    void answerMbap(const QByteArray& header, const QByteArray& pdu);
    void send(QByteArray reply);

    SimModel& model_;
    SimConfig config_;
    bool rtu_ = false;
    QTcpServer server_;
    QPointer<QTcpSocket> client_;
    QByteArray buffer_;
    QTimer silence_; // ends an RTU request
};
