#pragma once
// The simulated unit behind a network gateway: a TCP server that answers from
// the same line of units (SimLine) as the unit on a pseudo-terminal, either as a Modbus TCP
// gateway (MBAP header, no CRC) or as a transparent one (RTU frames with
// their CRC, a request ended by a short silence). It listens only where it is
// told and keeps the unit's fault options. Its framing is its own, not the
// tool's.
//
// One client is served at a time, as a gateway with one line does. The others
// wait their turn in the order they came, at most maxWaiting of them (a
// further connection is closed at once); what a waiting client sends is kept
// for its turn. Whoever leaves, served or waiting, the next one still
// connected is served. A served client that sends nothing for idleLimitMs
// while another waits is dropped, so that one client cannot hold the unit.

#include "sim/SimLine.h"
#include "sim/SimUnit.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

class SimNetServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kIdleLimitMs = 10000;
    static constexpr int kMaxWaiting = 8;

    // The line's units answer, each at its own address; a line of one unit
    // takes the address listen() is given.
    explicit SimNetServer(SimLine& line, QObject* parent = nullptr);
    // A line of that one unit.
    explicit SimNetServer(SimModel& model, QObject* parent = nullptr);
    ~SimNetServer() override;

    void setIdleLimitMs(int ms) { idleLimitMs_ = ms; }
    void setMaxWaiting(int count) { maxWaiting_ = count; }

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
    void setUp();
    void onConnection();
    void queue(QTcpSocket* s);
    void serve(QTcpSocket* s);
    void onLeft(QTcpSocket* s);
    void onIdle();
    void restartIdle();
    void onReadable();
    void takeMbapFrames();
    void answerRtu(const QByteArray& request);
    void answerMbap(const QByteArray& header, const QByteArray& pdu);
    void send(QByteArray reply);

    std::unique_ptr<SimLine> ownLine_; // the line of one lent unit, when given one
    SimLine& line_;
    SimConfig config_;
    bool rtu_ = false;
    QTcpServer server_;
    QPointer<QTcpSocket> client_;         // the one served
    QList<QPointer<QTcpSocket>> waiting_; // in the order they came
    int idleLimitMs_ = kIdleLimitMs;
    int maxWaiting_ = kMaxWaiting;
    bool idleOver_ = false; // the served client has been silent for idleLimitMs_
    QByteArray buffer_;
    QTimer silence_; // ends an RTU request
    QTimer idle_;    // the served client's silence
};
