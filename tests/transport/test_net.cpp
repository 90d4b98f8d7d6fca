// The network transports against a scripted gateway in the same event loop:
// the address forms, the MBAP parser, and what each transport makes of a
// reply, a stale one, a short one, silence, a closed or refused connection.

#include "commstest/CommsTest.h"
#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "support/RecordingViews.h"
#include "support/ScriptedPort.h"
#include "transport/Endpoint.h"
#include "transport/ModbusTcpTransport.h"
#include "transport/RtuOverTcpTransport.h"
#include "transport/RtuTransport.h"
#include "transport/Transports.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <ctime>
#include <functional>

static const CrcTableArray kCrc = standardCrcTable();
static const QByteArray kRead0 = Pdu::readMessage(400);
static const QByteArray kReadReply = QByteArray::fromHex("0328") + QByteArray(40, 'A');

// A gateway that hands each request (as it came, whole) to a script; the
// script writes what it likes on the socket.
class Gateway : public QObject {
public:
    using Script = std::function<void(QTcpSocket&, const QByteArray& request, int index)>;
    explicit Gateway(Script script) : script_(std::move(script)) {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = server_.nextPendingConnection();
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1); // pieces leave as written
            ++connections;
            connect(s, &QTcpSocket::readyRead, s,
                    [this, s] { script_(*s, s->readAll(), count++); });
        });
    }
    Endpoint endpoint(Endpoint::Kind kind) const {
        return {kind, QStringLiteral("127.0.0.1"), server_.serverPort()};
    }
    int count = 0;
    int connections = 0;

private:
    QTcpServer server_;
    Script script_;
};

static QByteArray mbapReplyTo(const QByteArray& request, const QByteArray& pdu, int unit = 1) {
    return mbapFrame(quint16(quint8(request.at(0)) << 8 | quint8(request.at(1))), unit, pdu);
}

static const NetTiming kFast{300, 40, 20, 1000};

class TestNet : public QObject {
    Q_OBJECT

private slots:
    void endpoints_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind"); // -1: refused
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("serial path") << "/dev/ttyUSB0" << 0 << "/dev/ttyUSB0" << 0;
        QTest::newRow("tcp, default port")
            << "tcp://gw.plant.local" << 1 << "gw.plant.local" << 502;
        QTest::newRow("tcp, IPv4 and port") << " tcp://10.0.0.7:1502 " << 1 << "10.0.0.7" << 1502;
        QTest::newRow("tcp, IPv6") << "tcp://[fe80::1]:503" << 1 << "fe80::1" << 503;
        QTest::newRow("tcp, IPv6, default") << "TCP://[::1]" << 1 << "::1" << 502;
        QTest::newRow("rtu+tcp") << "rtu+tcp://192.168.1.20:4001" << 2 << "192.168.1.20" << 4001;
        QTest::newRow("rtu+tcp, IPv6") << "rtu+tcp://[::1]:8899" << 2 << "::1" << 8899;
        QTest::newRow("rtu+tcp needs a port") << "rtu+tcp://gw" << -1 << "names no port" << 0;
        QTest::newRow("no host") << "tcp://:502" << -1 << "names no host" << 0;
        QTest::newRow("port 0") << "tcp://gw:0" << -1 << "a port is 1 to 65535" << 0;
        QTest::newRow("port too high") << "tcp://gw:65536" << -1 << "a port is 1 to 65535" << 0;
        QTest::newRow("empty port") << "tcp://gw:" << -1 << "a port is 1 to 65535" << 0;
        QTest::newRow("bare IPv6") << "tcp://::1:502" << -1 << "without brackets" << 0;
        QTest::newRow("open bracket") << "tcp://[::1:502" << -1 << "no ]" << 0;
        QTest::newRow("not IPv6 in brackets") << "tcp://[gw]:502" << -1 << "no IPv6" << 0;
        QTest::newRow("space in host") << "tcp://my gw:502" << -1 << "no host name" << 0;
        QTest::newRow("path after host") << "tcp://gw/x:502" << -1 << "no host name" << 0;
    }
    void endpoints() {
        QFETCH(QString, text);
        QFETCH(int, kind);
        QFETCH(QString, host);
        QFETCH(int, port);
        QString error;
        const std::optional<Endpoint> e = parseEndpoint(text, &error);
        if (kind < 0) {
            QVERIFY(!e);
            QVERIFY2(error.contains(host) && error.contains(text.trimmed()), qPrintable(error));
            return;
        }
        QVERIFY2(e, qPrintable(error));
        QCOMPARE(int(e->kind), kind);
        QCOMPARE(e->host, host);
        QCOMPARE(e->port, port);
        if (e->network()) // written back, it reads the same
            QCOMPARE(parseEndpoint(endpointText(*e))->hostPort(), e->hostPort());
    }

    void mbap_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("size");
        QTest::newRow("short header") << QByteArray::fromHex("000100000006") << 0 << 0;
        QTest::newRow("whole") << QByteArray::fromHex("00070000000301830299") << 2 << 9;
        QTest::newRow("whole, more behind")
            << QByteArray::fromHex("0007000000030183020000") << 2 << 9;
        QTest::newRow("PDU not all in") << QByteArray::fromHex("0007000000060103") << 0 << 0;
        QTest::newRow("protocol 1") << QByteArray::fromHex("00070001000301830299") << 1 << 0;
        QTest::newRow("length 1: no PDU") << QByteArray::fromHex("00070000000101") << 1 << 0;
        QTest::newRow("length past 254") << QByteArray::fromHex("000700000100") << 1 << 0;
    }
    void mbap() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, state);
        QFETCH(int, size);
        const MbapFrame f = parseMbap(bytes);
        QCOMPARE(int(f.state), state);
        QCOMPARE(f.size, size);
        if (f.state == MbapFrame::State::Whole)
            QCOMPARE(f.transaction, quint16(7));
    }

    // What the Modbus TCP transport makes of each kind of answer.
    void modbusTcp_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("framing");
        QTest::newRow("the reply") << "reply" << 0 << int(Framing::Whole);
        QTest::newRow("in two pieces") << "split" << 0 << int(Framing::Whole);
        QTest::newRow("a stale reply first") << "stale+reply" << 0 << int(Framing::Whole);
        QTest::newRow("only a stale reply") << "stale" << 0 << int(Framing::Silent);
        QTest::newRow("a stale reply in pieces, the reply late")
            << "stale-pieces" << 0 << int(Framing::Whole);
        QTest::newRow("protocol 1") << "protocol" << 0 << int(Framing::Garbled);
        QTest::newRow("another unit") << "unit" << 0 << int(Framing::OtherUnit);
        QTest::newRow("never") << "never" << 0 << int(Framing::Silent);
        QTest::newRow("header only, then silence") << "short" << 0 << int(Framing::Garbled);
        QTest::newRow("closes mid-reply") << "close-mid" << 3 << int(Framing::Silent);
    }
    void modbusTcp() {
        QFETCH(QString, answer);
        QFETCH(int, status);
        QFETCH(int, framing);
        Gateway gw([&](QTcpSocket& s, const QByteArray& r, int) {
            const QByteArray reply = mbapReplyTo(r, kReadReply);
            if (answer == QLatin1String("reply"))
                s.write(reply);
            else if (answer == QLatin1String("split")) {
                s.write(reply.left(5));
                s.flush();
                QTimer::singleShot(10, &s, [&s, reply] { s.write(reply.mid(5)); });
            } else if (answer.startsWith(QLatin1String("stale+")) ||
                       answer == QLatin1String("stale"))
                s.write(mbapFrame(quint16(quint8(r.at(1)) - 1), 1, QByteArray::fromHex("8302")) +
                        (answer.endsWith(QLatin1String("reply")) ? reply : QByteArray()));
            else if (answer == QLatin1String("stale-pieces")) {
                const QByteArray stale = mbapFrame(quint16(quint8(r.at(1)) - 1), 1, kReadReply);
                s.write(stale.left(5));
                s.flush();
                QTimer::singleShot(10, &s, [&s, stale] { s.write(stale.mid(5)); });
                QTimer::singleShot(120, &s, [&s, reply] { s.write(reply); });
            } else if (answer == QLatin1String("protocol"))
                s.write(reply.left(3) + char(1) + reply.mid(4));
            else if (answer == QLatin1String("unit"))
                s.write(mbapReplyTo(r, kReadReply, 2));
            else if (answer == QLatin1String("short"))
                s.write(reply.left(9));
            else if (answer == QLatin1String("close-mid")) {
                s.write(reply.left(20));
                s.flush();
                s.disconnectFromHost();
            }
        });
        ModbusTcpTransport t(gw.endpoint(Endpoint::Kind::ModbusTcp), kFast);
        QString failure;
        connect(&t, &Transport::failed, this, [&](const QString& why) { failure = why; });
        QCOMPARE(t.prepare(), TransportStatus::Ok);
        const std::clock_t cpu = std::clock();
        QElapsedTimer wall;
        wall.start();
        const Transaction x = t.transact(1, kRead0);
        QCOMPARE(int(x.status), status);
        QCOMPARE(int(x.framing), framing);
        // A fresh transaction id each time, the PDU behind the header.
        QCOMPARE(x.sent, mbapFrame(t.lastTransaction(), 1, kRead0));
        if (framing == int(Framing::Garbled))
            QVERIFY(checkReply(x, kRead0).reason().contains("MBAP header"));
        if (framing == int(Framing::Whole)) {
            QVERIFY(checkReply(x, kRead0).confirmed());
            QVERIFY(wall.elapsed() <
                    (answer.endsWith("pieces") ? 200 : kFast.replyGapMs)); // ends at its length
        }
        if (answer == QLatin1String("never")) {
            QVERIFY(wall.elapsed() >= kFast.firstByteMs);
            // Waiting is no spinning.
            QVERIFY(double(std::clock() - cpu) / CLOCKS_PER_SEC < 0.1 * wall.elapsed() / 1000);
        }
        if (status == int(TransportStatus::Failed))
            QVERIFY2(failure.contains(QLatin1String("127.0.0.1")) && x.error == failure,
                     qPrintable(failure));
    }

    // Closed by the gateway while idle: made again once, at the next request,
    // whether the close was seen during the pause or only by the request.
    void reopensAnIdleConnection() {
        QSet<QByteArray> ids;
        // 0 answered; 1 meets a closing connection; 2 (its retry) answered, then
        // the gateway closes while idle; 3 answered; 4 and its retry meet closes.
        Gateway gw([&](QTcpSocket& s, const QByteArray& r, int index) {
            ids.insert(r.left(2));
            if (index == 0 || index == 2 || index == 3)
                s.write(mbapReplyTo(r, kReadReply));
            s.flush();
            if (index != 0 && index != 3)
                s.disconnectFromHost();
        });
        ModbusTcpTransport t(gw.endpoint(Endpoint::Kind::ModbusTcp), kFast);
        QVERIFY(checkReply(t.transact(1, kRead0), kRead0).confirmed());
        QVERIFY(checkReply(t.transact(1, kRead0), kRead0).confirmed());
        QCOMPARE(t.bulkPause(), TransportStatus::Ok); // the close is seen here
        QVERIFY(checkReply(t.transact(1, kRead0), kRead0).confirmed());
        QCOMPARE(gw.connections, 3);
        QCOMPARE(ids.size(), 4); // a fresh transaction id for each request, a retry too
        const Transaction x = t.transact(1, kRead0); // once only: closed again, it is told
        QCOMPARE(x.status, TransportStatus::Failed);
        QVERIFY2(x.error.contains(QLatin1String("closed the connection")), qPrintable(x.error));
    }

    // The comms test shows the bytes as they went on the network, MBAP header included.
    void commsTestShowsTheNetworkBytes() {
        QByteArray request, reply;
        Gateway gw([&](QTcpSocket& s, const QByteArray& r, int) {
            request = r;
            s.write(reply = mbapReplyTo(r, QByteArray::fromHex("0328") + "HI" + QByteArray(38, 0)));
        });
        ModbusTcpTransport t(gw.endpoint(Endpoint::Kind::ModbusTcp), kFast);
        RecordingCommsTestView view;
        CommsTest test(t, view);
        test.setUnit(5);
        test.setRegister(780);
        test.readMessage();
        QCOMPARE(request, mbapFrame(1, 5, Pdu::readMessage(780)));
        QCOMPARE(view.labels.mid(1, 2), QStringList({byteDump(request), byteDump(reply)}));
        QCOMPARE(view.labels[4], "HI");
    }

    // The windows' transport follows the port's name, as the connection dialog sets it.
    void chosenByThePortName() {
        Gateway gw(
            [](QTcpSocket& s, const QByteArray& r, int) { s.write(mbapReplyTo(r, kReadReply)); });
        ScriptedPort port;
        const std::unique_ptr<Transport> t = makeTransport(port, kCrc, {400});
        QSignalSpy sent(t.get(), &Transport::frameSent);
        const QString address = endpointText(gw.endpoint(Endpoint::Kind::ModbusTcp));
        port.setPortName(address);
        QVERIFY(t->isOpen() && t->endpointName() == address);
        QVERIFY(checkReply(t->transact(1, kRead0), kRead0).confirmed());
        QCOMPARE(sent.size(), 1);
        port.setPortName("ttyS0");
        QCOMPARE(t->endpointName(), "ttyS0"); // the serial port again
    }

    void refused() {
        quint16 port = 0;
        {
            QTcpServer s;
            s.listen(QHostAddress::LocalHost);
            port = s.serverPort();
        }
        ModbusTcpTransport t({Endpoint::Kind::ModbusTcp, QStringLiteral("127.0.0.1"), port}, kFast);
        QSignalSpy failed(&t, &Transport::failed);
        const Transaction x = t.transact(1, kRead0);
        QCOMPARE(x.status, TransportStatus::Failed);
        QCOMPARE(failed.size(), 1);
        QVERIFY2(x.error.contains(QStringLiteral("127.0.0.1:%1").arg(port)) &&
                     x.error.contains(QLatin1String("refused")),
                 qPrintable(x.error));
        QVERIFY(t.isOpen()); // the next request tries again
    }

    // RTU over TCP: the reply ends at its length, or after the gap when short.
    void rtuOverTcp_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("framing");
        QTest::addColumn<bool>("atLength");
        const QByteArray read = rtuFrame(kCrc, 1, kReadReply);
        QTest::newRow("read reply") << read << int(Framing::Whole) << true;
        QTest::newRow("exception")
            << rtuFrame(kCrc, 1, QByteArray::fromHex("8302")) << int(Framing::Whole) << true;
        QTest::newRow("write echo")
            << rtuFrame(kCrc, 1, Pdu::eraseMessage(400).left(5)) << int(Framing::Whole) << true;
        QTest::newRow("cut short") << read.left(30) << int(Framing::Garbled) << false;
        QTest::newRow("bad CRC") << read.left(44) + 'x' << int(Framing::Garbled) << true;
        QTest::newRow("another unit")
            << rtuFrame(kCrc, 2, kReadReply) << int(Framing::OtherUnit) << true;
    }
    void rtuOverTcp() {
        QFETCH(QByteArray, reply);
        QFETCH(int, framing);
        QFETCH(bool, atLength);
        QByteArray seen;
        Gateway gw([&](QTcpSocket& s, const QByteArray& r, int) {
            seen = r;
            s.write(reply);
        });
        RtuOverTcpTransport t(gw.endpoint(Endpoint::Kind::RtuOverTcp), kCrc, kFast);
        QElapsedTimer wall;
        wall.start();
        const Transaction x = t.transact(1, kRead0);
        QCOMPARE(seen, rtuFrame(kCrc, 1, kRead0));
        QCOMPARE(int(x.framing), framing);
        QCOMPARE(x.received, reply);
        QCOMPARE(wall.elapsed() < kFast.replyGapMs, atLength);
    }
};

QTEST_GUILESS_MAIN(TestNet)
#include "test_net.moc"
