#pragma once
// The common part of the transports to a unit behind a network gateway: one
// QTcpSocket to the endpoint, connected on demand, one transaction at a time,
// and every wait a local QEventLoop ended by readyRead, the socket closing or
// a Qt::PreciseTimer. No RTS and no echo: the gateway drives the RS-485 line.
//
// The tool only ever connects; it never listens. A connection the gateway
// closed while idle is opened again at the next request, before the request
// goes. A connection that closes once the request has gone fails the request:
// it is never sent again here, since a write may already have reached the
// unit (the retries, transport/Retry.h, decide on resending, and never on a
// failed line). Each reply ends by its deadline (transport/Deadline.h) at
// the latest; requestStop() ends any wait.

#include "transport/Endpoint.h"
#include "transport/Transport.h"

#include <QTcpSocket>

struct NetTiming {
    int firstByteMs = 1500; // a gateway adds its own delay to the unit's 500 ms
    int replyGapMs = 80;    // silence that ends a reply that stopped short
    int bulkPauseMs = 300;  // before each bulk request, as on a serial line
    int connectMs = 3000;   // name lookup and connection together
};

class NetTransport : public Transport {
    Q_OBJECT
public:
    NetTransport(const Endpoint& endpoint, NetTiming timing, QObject* parent = nullptr);
    ~NetTransport() override;

    const Endpoint& endpoint() const { return endpoint_; }
    const NetTiming& timing() const { return timing_; }
    void setTiming(const NetTiming& t) { timing_ = t; }
    bool connected() const { return socket_.state() == QAbstractSocket::ConnectedState; }

    QString endpointName() const override;
    // A chosen endpoint counts as open: the connection is made when needed.
    bool isOpen() const override { return !closed_; }
    void close() override;
    // Connects when not connected; Failed, with the reason told, when that fails.
    TransportStatus prepare() override;
    TransportStatus bulkPause() override;
    Overheard overhear(int ms) override;

protected:
    Transaction exchange(int unit, const QByteArray& requestPdu, ReplyEnd end) override;
    // The request as it goes on the network.
    virtual QByteArray frame(int unit, const QByteArray& requestPdu) = 0;
    // Looks at what came so far. Done when the reply is over (t.received,
    // t.framing and t.replyPdu then set); More to wait for further bytes;
    // Stale when bytes of an older transaction were dropped from the front
    // of buffer (the wait for the first byte of the reply goes on).
    enum class Collect { More, Stale, Done };
    virtual Collect collect(int unit, QByteArray& buffer, Transaction& t) = 0;
    // The reply as it stands when the gap or the first-byte wait ran out.
    virtual void judgeIncomplete(int unit, const QByteArray& buffer, Transaction& t) = 0;

private:
    enum class End { Bytes, TimedOut, Closed, Stopped };
    End wait(int ms, bool wakeOnBytes);
    // Connects; false with the reason when that fails or a stop came.
    bool connectSocket(QString& reason);
    // The connected socket has been closed by the other end already.
    bool peerClosed() const;
    QString closedReason() const;
    TransportStatus fail(Transaction& t, const QString& reason);
    void stopped(Transaction& t);
    // One send and the collection of its reply. Done: the reply is over (t
    // judged); Closed: the connection closed before that; Stopped: requestStop().
    enum class Outcome { Done, Closed, Stopped };
    Outcome exchange(int unit, Transaction& t);
    // Collects the reply to the request just sent. lit: the receiving lamp was lit.
    Outcome receiveReply(int unit, Transaction& t, bool& lit);
    void cutOff(int unit, const QByteArray& buffer, Transaction& t, bool atDeadline);

    Endpoint endpoint_;
    NetTiming timing_;
    QTcpSocket socket_;
    bool active_ = false;
    bool closed_ = false;
    bool stopPending_ = false; // requestStop() while active_
};
