// The simulated gateway with several clients: one is served at a time, the
// others wait; whoever leaves, in whatever order, the next one is served; a
// client that sends nothing is dropped once another waits; the queue is
// bounded. The replies are checked byte for byte against Modbus TCP as a
// master reads it.

#include "link/Crc.h"
#include "sim/SimNetServer.h"
#include "transport/RtuTransport.h"

#include <QTcpSocket>
#include <QtTest>

#include <map>

namespace {

constexpr int kIdleMs = 600; // the server's idle limit in this test

const QByteArray kSlot0 = QByteArray("HELLO").leftJustified(40, '\0');

// A read of slot 0 (holding registers 400..419) from unit 1 (request), or its reply, as an RTU
// frame or behind an MBAP header of the given transaction.
QByteArray adu(bool rtu, quint16 tid, bool request) {
    const QByteArray pdu = request ? QByteArray::fromHex("0301900014") : "\x03\x28" + kSlot0;
    if (rtu)
        return rtuFrame(standardCrcTable(), 1, pdu);
    return QByteArray(1, char(tid >> 8)) + char(tid & 0xFF) +
           QByteArray::fromHex(request ? "00000006" : "0000002B") + char(1) + pdu;
}

struct Client {
    QTcpSocket socket;
    QVector<quint16> unanswered; // requests sent while it waited
};

} // namespace

class TestSimNetServer : public QObject {
    Q_OBJECT
    std::map<QChar, Client> clients_; // made in place on first use
    quint16 tid_ = 0x100;

private slots:
    void cleanup() { clients_.clear(); }

    // Steps: A+ connects A; A- A leaves; A? A asks and is answered (and so are
    // the requests it sent while it waited); A. A asks and hears nothing: it
    // waits its turn; A~ the server drops A; A! the server closes A at once
    // (the queue is full); W waits past the idle limit; N+ connects a..h.
    void turns_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<bool>("rtu");
        QTest::newRow("the next one, after the first leaves") << "A+ A? B+ B. A- B?" << false;
        QTest::newRow("a waiting one gives up") << "A+ A? B+ B- A- C+ C?" << false;
        QTest::newRow("a waiting one asks, then gives up") << "A+ A? B+ B. B- A- C+ C?" << false;
        QTest::newRow("a waiting one asks, then gives up, RTU")
            << "A+ A? B+ B. B- A- C+ C?" << true;
        QTest::newRow("the second of two waiting leaves first")
            << "A+ A? B+ C+ C. C- A? B. A- B? D+ B- D?" << false;
        QTest::newRow("the first of two waiting leaves first")
            << "A+ A? B+ C+ B- C. A- C?" << false;
        QTest::newRow("one that sends nothing, then leaves") << "A+ B+ A- B?" << false;
        QTest::newRow("a silent client is dropped when another waits")
            << "A+ A? B+ B. A~ B?" << false;
        QTest::newRow("a silent client is dropped when one comes after its time")
            << "A+ A? W B+ B?" << false;
        QTest::newRow("a silent client alone keeps its turn") << "A+ A? W A?" << false;
        QTest::newRow("at most eight wait") << "A+ A? N+ X+ X! A- a?" << false;
    }
    void turns() {
        QFETCH(QString, steps);
        QFETCH(bool, rtu);
        SimLine line;
        line.model().setMessage(0, "HELLO");
        SimNetServer server(line);
        server.setIdleLimitMs(kIdleMs);
        QVERIFY(server.listen(SimConfig{}, QHostAddress::LocalHost, 0, rtu));
        for (const QString& step : steps.split(' ')) {
            if (step == "W") {
                QTest::qWait(kIdleMs * 2);
            } else if (step == "N+") {
                for (char c = 'a'; c <= 'h'; ++c)
                    QVERIFY(connectClient(clients_[QChar(c)].socket, server.port()));
            } else {
                QVERIFY2(take(step, clients_[step.at(0)], server.port(), rtu), qPrintable(step));
            }
        }
    }

private:
    static bool connectClient(QTcpSocket& s, quint16 port) {
        s.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor([&] { return s.state() == QAbstractSocket::ConnectedState; }, 3000);
    }

    bool take(const QString& step, Client& c, quint16 port, bool rtu) {
        QTcpSocket& s = c.socket;
        switch (step.at(1).toLatin1()) {
        case '+':
            return connectClient(s, port);
        case '-':
            s.abort();
            c.unanswered.clear();
            QTest::qWait(50); // the server sees it go
            return true;
        case '.':
            c.unanswered << ++tid_;
            s.write(adu(rtu, tid_, true));
            QTest::qWait(300);
            return s.bytesAvailable() == 0;
        case '?':
            return asks(c, rtu);
        case '~': // dropped after the idle limit, not sooner
            return s.state() == QAbstractSocket::ConnectedState &&
                   QTest::qWaitFor([&] { return s.state() == QAbstractSocket::UnconnectedState; },
                                   kIdleMs * 3);
        case '!':
            return QTest::qWaitFor([&] { return s.state() == QAbstractSocket::UnconnectedState; },
                                   1000);
        }
        return false;
    }

    // Asks, and gets the replies to every request it sent, in order, and nothing more.
    bool asks(Client& c, bool rtu) {
        c.unanswered << ++tid_;
        c.socket.write(adu(rtu, tid_, true));
        QByteArray want;
        for (quint16 tid : c.unanswered)
            want += adu(rtu, tid, false);
        c.unanswered.clear();
        QByteArray got;
        while (got.size() < want.size() &&
               QTest::qWaitFor([&] { return c.socket.bytesAvailable() > 0; }, 3000))
            got += c.socket.readAll();
        QTest::qWait(50);
        got += c.socket.readAll();
        if (got != want)
            qWarning() << "got" << got.toHex() << "want" << want.toHex();
        return got == want;
    }
};

QTEST_GUILESS_MAIN(TestSimNetServer)
#include "test_sim_net_server.moc"
