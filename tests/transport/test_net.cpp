// The network transports against a scripted gateway in the same event loop:
// the address forms, the MBAP parser, and what each transport makes of a
// reply, a stale one, a short one, silence, a closed or refused connection.

#include "commstest/CommsTest.h"
#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "support/FakeUnit.h"
#include "support/Gateway.h"
#include "support/RecordingViews.h"
#include "support/ScriptedPort.h"
#include "transport/Endpoint.h"
#include "transport/ModbusTcpTransport.h"
#include "transport/PortTexts.h"
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

static QByteArray mbapReplyTo(const QByteArray& request, const QByteArray& pdu, int unit = 1) {
    return mbapBytes(mbapTransaction(request), unit, pdu);
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
        QTest::newRow("rtu+tcp") << "rtu+tcp://192.168.1.20:4001/" << 2 << "192.168.1.20" << 4001;
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
        // The header's words go high byte first.
        QCOMPARE(mbapFrame(0x9A87, 7, QByteArray(254, 'p')).left(7).toHex(), "9a87"
                                                                             "0000"
                                                                             "00ff"
                                                                             "07");
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
        QTest::newRow("stale replies on and on") << "endless" << 0 << int(Framing::Garbled);
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
                s.write(mbapBytes(mbapTransaction(r) - 1, 1, QByteArray::fromHex("8302")) +
                        (answer.endsWith(QLatin1String("reply")) ? reply : QByteArray()));
            else if (answer == QLatin1String("stale-pieces")) {
                const QByteArray stale = mbapBytes(mbapTransaction(r) - 1, 1, kReadReply);
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
            else if (answer == QLatin1String("endless")) {
                const QByteArray stale = mbapBytes(mbapTransaction(r) - 1, 1, kReadReply);
                auto* more = new QTimer(&s);
                connect(more, &QTimer::timeout, &s, [&s, stale] { s.write(stale.repeated(10)); });
                more->start(5);
            } else if (answer == QLatin1String("close-mid")) {
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
        // The first transaction id, protocol 0, 6 bytes of unit id and PDU.
        QCOMPARE(x.sent.toHex(), QByteArray("000100000006010301900014"));
        if (framing == int(Framing::Garbled)) // what came is kept, for the comms test
            QVERIFY(checkReply(x, kRead0).reason().contains("MBAP header") &&
                    x.received.size() > 8);
        if (framing == int(Framing::Whole)) {
            QVERIFY(checkReply(x, kRead0).confirmed());
            QVERIFY(wall.elapsed() <
                    (answer.endsWith("pieces") ? 200 : kFast.replyGapMs)); // ends at its length
        }
        if (answer == QLatin1String("endless")) // cut off long before its deadline
            QVERIFY2(!x.pastDeadline, qPrintable(checkReply(x, kRead0).reason()));
        if (answer == QLatin1String("never")) {
            QVERIFY(wall.elapsed() >= kFast.firstByteMs);
            // Waiting is no spinning.
            QVERIFY(double(std::clock() - cpu) / CLOCKS_PER_SEC < 0.1 * wall.elapsed() / 1000);
        }
        // Said once, naming the gateway once.
        if (status == int(TransportStatus::Failed))
            QVERIFY2(failure ==
                             gw.hostPort() + " closed the connection in the middle of a request" &&
                         x.error == failure,
                     qPrintable(failure));
    }

    // A connection the gateway closed while idle is made again before the
    // request goes, whether the close was seen during the pause or is only
    // in the socket when the request is due. One that closes once a request
    // has gone fails that request, which is never sent again: a write may
    // have reached the unit.
    void idleCloseAndHandedOver_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("Modbus TCP") << int(Endpoint::Kind::ModbusTcp);
        QTest::newRow("RTU over TCP") << int(Endpoint::Kind::RtuOverTcp);
    }
    void idleCloseAndHandedOver() {
        QFETCH(int, kind);
        const bool mbap = kind == int(Endpoint::Kind::ModbusTcp);
        const QByteArray write = Pdu::writeMessage(400, "AB");
        // 0 and 1 (reads) answered, then closed (1 by the test, between requests); 2 (a write)
        // answered; 3 (a write) closes as it arrives.
        QTcpSocket* second = nullptr;
        Gateway gw([&](QTcpSocket& s, const QByteArray& r, int index) {
            const QByteArray pdu = index < 2 ? kReadReply : write.left(5);
            const QByteArray rtu = FakeUnit::framed("\x01" + pdu);
            if (index < 3)
                s.write(mbap ? mbapReplyTo(r, pdu) : rtu);
            s.flush();
            if (index == 1)
                second = &s;
            else if (index != 2)
                s.disconnectFromHost();
        });
        const auto t = makeNetTransport(gw.endpoint(Endpoint::Kind(kind)), kCrc, kFast);
        QVERIFY(checkReply(t->transact(1, kRead0), kRead0).confirmed());
        QCOMPARE(t->bulkPause(), TransportStatus::Ok); // the close is seen here
        QVERIFY(checkReply(t->transact(1, kRead0), kRead0).confirmed() && second);
        second->abort();     // closed while the tool handles no event
        QThread::msleep(50); // and reaching its socket meanwhile
        QVERIFY(checkReply(t->transact(1, write), write).confirmed());
        QCOMPARE(gw.connections, 3);
        const Transaction x = t->transact(1, write);
        QCOMPARE(x.status, TransportStatus::Failed);
        QCOMPARE(x.error, gw.hostPort() + " closed the connection in the middle of a request");
        QCOMPARE(gw.requests.size(), 4); // each request once, the last write too
        QCOMPARE(gw.connections, 3);
        if (mbap) { // a fresh transaction id for each request
            QSet<quint16> ids;
            for (const QByteArray& r : gw.requests)
                ids.insert(mbapTransaction(r));
            QCOMPARE(ids.size(), 4);
        }
    }

    // A gateway that refuses the connection fails it at once, in the system's words.
    void refusedAtOnce() {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        const quint16 port = gone.serverPort();
        gone.close();
        const auto t =
            makeNetTransport({Endpoint::Kind::ModbusTcp, "127.0.0.1", port}, kCrc, kFast);
        QSignalSpy failed(t.get(), &Transport::failed);
        QCOMPARE(t->prepare(), TransportStatus::Failed);
        QCOMPARE(failed.value(0).value(0).toString(),
                 QString("cannot connect to 127.0.0.1:%1: Connection refused").arg(port));
    }

    // When a reply came, for the line's counters (a slow gateway or unit): its first byte when
    // the gateway wrote it, its last when the rest came.
    void arrivalTimes() {
        Gateway gw([&](QTcpSocket& s, const QByteArray& r, int) {
            const QByteArray frame = mbapReplyTo(r, kReadReply);
            for (const int at : {60, 120})
                QTimer::singleShot(at, Qt::PreciseTimer, &s, [&s, frame, at] {
                    s.write(at == 60 ? frame.left(9) : frame.mid(9));
                    s.flush();
                });
        });
        const auto t = makeNetTransport(gw.endpoint(Endpoint::Kind::ModbusTcp), kCrc,
                                        {300, 200, 20, 1000}); // the pause in the reply is no end
        const Transaction x = t->transact(1, kRead0);
        QVERIFY(checkReply(x, kRead0).confirmed());
        QVERIFY2(x.firstByteMs >= 55 && x.firstByteMs < 100 && x.lastByteMs >= 115,
                 qPrintable(QStringLiteral("%1 %2").arg(x.firstByteMs).arg(x.lastByteMs)));
    }

    // One wait at a time on a connection: a request or a listening asked while another waits
    // is refused as busy, and sends nothing. A stop ends the listening at once, and not the
    // pause after it (the next run's first). A closed transport sends nothing either.
    void oneWaitAtATime() {
        int requests = 0;
        Gateway gw([&](QTcpSocket& s, const QByteArray& r, int) {
            ++requests;
            s.write(mbapReplyTo(r, kReadReply));
        });
        const auto t = makeNetTransport(gw.endpoint(Endpoint::Kind::ModbusTcp), kCrc, kFast);
        QVERIFY(checkReply(t->transact(1, kRead0), kRead0).confirmed());
        Transaction during;
        TransportStatus heardDuring{};
        QTimer::singleShot(50, Qt::PreciseTimer, t.get(), [&] {
            during = t->transact(1, kRead0);
            heardDuring = t->overhear(10).status;
            t->requestStop();
        });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(t->overhear(3000).status, TransportStatus::Stopped);
        QVERIFY(clock.elapsed() < 2000 && heardDuring == TransportStatus::Busy);
        QCOMPARE(t->bulkPause(), TransportStatus::Ok); // the stop ended that wait, not the next
        QCOMPARE(during.error,
                 "The connection to " + gw.hostPort() + " is busy with another request.");
        t->close();
        QCOMPARE(t->transact(1, kRead0).error,
                 "The connection to " + gw.hostPort() + " is closed.");
        QCOMPARE(requests, 1);
    }

    // Listening between requests (for a late reply, on RTU over TCP): a gateway that closes the
    // idle connection meanwhile is no failure, and the listening still lasts the time asked, as
    // the gateway may hand the late reply on to the next connection. What came meanwhile is
    // counted and timed. A stop ends it at once.
    void listeningOutlastsAClose() {
        Gateway gw([&](QTcpSocket& s, const QByteArray&, int) {
            s.write(FakeUnit::framed("\x01" + kReadReply));
            s.flush();
            for (const int at : {20, 150})
                QTimer::singleShot(at, &s, [&s, at] { s.write(at == 20 ? "ab" : "cde"); });
            QTimer::singleShot(180, &s, [&s] { s.disconnectFromHost(); });
        });
        const auto t = makeNetTransport(gw.endpoint(Endpoint::Kind::RtuOverTcp), kCrc, kFast);
        QSignalSpy failures(t.get(), &Transport::failed);
        QVERIFY(checkReply(t->transact(1, kRead0), kRead0).confirmed());
        QElapsedTimer clock;
        clock.start();
        const Overheard heard = t->overhear(400);
        QVERIFY(heard.status == TransportStatus::Ok && heard.bytes == "abcde" && heard.count == 5);
        QVERIFY2(heard.firstMs < 120 && heard.lastMs >= 145 && clock.elapsed() >= 395,
                 qPrintable(QStringLiteral("%1 %2").arg(heard.firstMs).arg(heard.lastMs)));
        QCOMPARE(failures.count(), 0);
        QTimer::singleShot(50, Qt::PreciseTimer, t.get(), [&] { t->requestStop(); });
        clock.restart();
        QCOMPARE(t->overhear(3000).status, TransportStatus::Stopped);
        QVERIFY(clock.elapsed() < 2000);
    }

    // A network failure, as the operator reads it: the gateway named once,
    // the system's words at most once, a sentence that ends.
    void failureTexts_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("text");
        const QString stopped = "\r\nThe operation was stopped.";
        QTest::newRow("closed mid-request")
            << "tcp://10.0.0.7:502"
            << "10.0.0.7:502 closed the connection in the middle of a request"
            << "10.0.0.7:502 closed the connection in the middle of a request." + stopped;
        QTest::newRow("refused") << "rtu+tcp://gw:4001"
                                 << "cannot connect to gw:4001: Connection refused"
                                 << "Cannot connect to gw:4001: Connection refused." + stopped;
        QTest::newRow("no reason")
            << "tcp://[::1]:502" << QString()
            << "The connection to tcp://[::1]:502 failed: it was closed." + stopped;
        QTest::newRow("serial, as it was")
            << QString("/dev/ttyUSB0") << "device vanished"
            << "The serial port /dev/ttyUSB0 failed: device vanished" + stopped;
    }
    void failureTexts() {
        QFETCH(QString, port);
        QFETCH(QString, reason);
        QTEST(PortTexts::failed(port, reason), "text");
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
        QCOMPARE(request.toHex(), QByteArray("00010000000605"
                                             "03030c0014"));
        QCOMPARE(view.labels.mid(1, 2), QStringList({byteDump(request), byteDump(reply)}));
        QCOMPARE(view.labels[4], "HI");
    }

    // The transport talks to the line the chosen endpoint names, whatever the serial port's
    // name says: a port named like a gateway still carries RTU, and nothing connects there.
    void chosenByTheEndpoint() {
        int connections = 0;
        QTcpServer decoy;
        QVERIFY(decoy.listen(QHostAddress::LocalHost));
        connect(&decoy, &QTcpServer::newConnection, [&] { ++connections; });
        ScriptedPort port;
        port.answerEveryRequest(FakeUnit::framed("\x01" + kReadReply));
        port.setPortName(QStringLiteral("tcp://127.0.0.1:%1").arg(decoy.serverPort()));
        const std::unique_ptr<LineTransport> t = makeTransport(port, kCrc, {400});
        QVERIFY(checkReply(t->transact(1, kRead0), kRead0).confirmed());
        QCOMPARE(port.requests().value(0).chopped(2), "\x01" + kRead0); // RTU, on the port
        QCOMPARE(connections, 0);
        // The gateway in use chosen again keeps its connection; another kind of gateway at the
        // same address is another line.
        Gateway gw([](QTcpSocket&, const QByteArray&, int) {});
        const std::pair<Endpoint::Kind, int> steps[] = {
            {Endpoint::Kind::ModbusTcp, 1},
            {Endpoint::Kind::ModbusTcp, 1},
            {Endpoint::Kind::RtuOverTcp, 2}}; // the kind, the connections made by then
        for (const auto& [kind, made] : steps) {
            t->choose(gw.endpoint(kind));
            QCOMPARE(t->prepare(), TransportStatus::Ok);
            QTest::qWait(30);
            QCOMPARE(gw.connections, made);
        }
        QCOMPARE(gw.clients, 1); // the first closed when the second was chosen
        t->transact(1, kRead0);  // framed for RTU over TCP
        QCOMPARE(gw.requests.value(0), FakeUnit::framed("\x01" + kRead0));
    }

    // The pause before a bulk request (and before a retry) through a gateway
    // is the line's, from the first call on: the first one used to be 300 ms
    // whatever --pause-ms said.
    void gatewayPauseIsTheLines() {
        Gateway gw([](QTcpSocket& s, const QByteArray& request, int) {
            const QByteArray reply = mbapBytes(mbapTransaction(request), 1, kReadReply);
            QTimer::singleShot(600, &s, [&s, reply] { s.write(reply); });
        });
        ScriptedPort port;
        LineOptions line;
        line.pauseMs = 40;
        const std::unique_ptr<LineTransport> t = makeTransport(port, kCrc, {0, &line});
        t->choose(gw.endpoint(Endpoint::Kind::ModbusTcp));
        for (int i = 0; i < 2; ++i) {
            QElapsedTimer wall;
            wall.start();
            QCOMPARE(t->bulkPause(), TransportStatus::Ok);
            QVERIFY2(wall.elapsed() >= 40 && wall.elapsed() < 120,
                     qPrintable(QString::number(wall.elapsed())));
        }
        // No time-out given: the gateway's own wait (1500 ms) takes a reply 600 ms late.
        QVERIFY(checkReply(t->transact(1, kRead0), kRead0).confirmed());
    }

    // RTU over TCP: the reply ends at its length, or after the gap when short.
    void rtuOverTcp_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("framing");
        QTest::addColumn<bool>("atLength");
        const QByteArray read = FakeUnit::framed("\x01" + kReadReply);
        QTest::newRow("read reply") << read << int(Framing::Whole) << true;
        QTest::newRow("exception")
            << QByteArray::fromHex("018302C0F1") << int(Framing::Whole) << true;
        QTest::newRow("write echo")
            << QByteArray::fromHex("0110019000010018") << int(Framing::Whole) << true;
        QTest::newRow("cut short") << read.left(30) << int(Framing::Garbled) << false;
        QTest::newRow("bad CRC") << read.left(44) + 'x' << int(Framing::Garbled) << true;
        QTest::newRow("another unit")
            << FakeUnit::framed("\x02" + kReadReply) << int(Framing::OtherUnit) << true;
        // A peer that never stops is cut off at 512 bytes, as a serial reply is.
        QTest::newRow("600 bytes, no length known")
            << "\x01\x41" + QByteArray(598, 'x') << int(Framing::Garbled) << true;
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
        QCOMPARE(seen.toHex(), QByteArray("0103019000144414"));
        QCOMPARE(int(x.framing), framing);
        QCOMPARE(x.received, reply.left(512));
        QCOMPARE(wall.elapsed() < kFast.replyGapMs, atLength);
    }
};

QTEST_GUILESS_MAIN(TestNet)
#include "test_net.moc"
