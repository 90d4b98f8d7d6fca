// The deadline of a reply: the rule, and replies that trickle in under the
// end-of-reply silence (a byte every 70 ms against 80 ms), cut off at it on
// every line, the processor idle meanwhile. Without a deadline such a reply
// holds the line until 512 bytes have come (36 s), or until its Modbus TCP
// header's length has (18 s), and a whole reply dripped so is confirmed
// seconds late.

#include "link/Crc.h"
#include "support/FakeUnit.h"
#include "support/Gateway.h"
#include "support/PtyPeer.h"
#include "support/ScriptedPort.h"
#include "transport/Deadline.h"
#include "transport/ModbusTcpTransport.h"
#include "transport/RtuOverTcpTransport.h"
#include "transport/RtuTransport.h"

#include <QtTest>

static const CrcTableArray kCrc = standardCrcTable();
static const QByteArray kRead = QByteArray::fromHex("0301900014");
static const QByteArray kReadReply = QByteArray::fromHex("0328") + QByteArray(40, 'A');
static const NetTiming kNet{300, 80, 20, 1000};
constexpr int kDripMs = 70;

class TestDeadline : public QObject {
    Q_OBJECT

private slots:
    void rule_data() {
        QTest::addColumn<int>("replyBytes");
        QTest::addColumn<int>("echoBytes");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("firstByteMs");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("deadlineMs");
        // 500 + 80 + 1.5 x 45 bytes x 1.0417 ms (70.3) + 50
        QTest::newRow("a slot read at 9600") << 45 << 0 << 9600 << 500 << 80 << 701;
        // 2 x 500 + 80 + 1.5 x 53 x 1.0417 (82.8) + 50
        QTest::newRow("the same behind an echo") << 45 << 8 << 9600 << 500 << 80 << 1213;
        // 500 + 80 + 1.5 x 8 x 0.5208 (6.25) + 50
        QTest::newRow("a write at 19200") << 8 << 0 << 19200 << 500 << 80 << 637;
        // 500 + 30 + 1.5 x 8 x 1.0417 (12.5) + 50
        QTest::newRow("a comms-test write") << 8 << 0 << 9600 << 500 << 30 << 593;
        // 500 + 80 + 1.5 x 255 x 0.0868 (33.2) + 50
        QTest::newRow("the longest read at 115200") << 255 << 0 << 115200 << 500 << 80 << 664;
        // 150 + 80 + 1.5 x 45 x 8.333 (562.5) + 50
        QTest::newRow("a slot read at 1200, short wait") << 45 << 0 << 1200 << 150 << 80 << 843;
        QTest::newRow("no first-byte wait: 80 + 70.3 + 50") << 45 << 0 << 9600 << -5 << 80 << 201;
    }
    void rule() {
        ReplyBudget b;
        QFETCH(int, baud);
        b.msPerByte = msPerByte(baud);
        QFETCH(int, replyBytes);
        QFETCH(int, echoBytes);
        QFETCH(int, firstByteMs);
        QFETCH(int, gapMs);
        b.replyBytes = replyBytes;
        b.echoBytes = echoBytes;
        b.firstByteMs = firstByteMs;
        b.gapMs = gapMs;
        QTEST(replyDeadlineMs(b), "deadlineMs");
    }

    void expectedLengths_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("bytes");
        QTest::newRow("read of 20 registers") << QByteArray::fromHex("0301900014") << 45;
        QTest::newRow("read of 1") << QByteArray::fromHex("0301900001") << 7;
        QTest::newRow("read of 125") << QByteArray::fromHex("030190007D") << 255;
        QTest::newRow("write") << QByteArray::fromHex("1001900001024142") << 8;
        QTest::newRow("one register") << QByteArray::fromHex("0601900000") << 8;
        QTest::newRow("unknown function") << QByteArray::fromHex("2B0E01") << 256;
        QTest::newRow("nothing") << QByteArray() << 256;
    }
    void expectedLengths() {
        QFETCH(QByteArray, request);
        QTEST(expectedReplyBytes(request), "bytes");
    }

    void throughAGateway() {
        // 1500 + 80 + 1.5 x 45 bytes at 1200 baud (562.5) + 50
        QCOMPARE(networkDeadlineMs(kRead, 1500, 80), 2193);
        // 300 + 80 + 1.5 x 8 at 1200 (100) + 50
        QCOMPARE(networkDeadlineMs(QByteArray::fromHex("1001900001024142"), 300, 80), 530);
    }

    // A reply dripped a byte every 70 ms, the whole reply or bytes without
    // end: cut off at the deadline, garbled, never confirmed.
    void dripIsCutOff_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("endless");
        QTest::addColumn<int>("deadlineMs");
        const int serial = int(Endpoint::Kind::Serial), tcp = int(Endpoint::Kind::ModbusTcp),
                  rtu = int(Endpoint::Kind::RtuOverTcp);
        QTest::newRow("serial, the reply") << serial << false << 701;
        QTest::newRow("serial, endless") << serial << true << 701;
        // 300 + 80 + 1.5 x 45 at 1200 baud (562.5) + 50
        QTest::newRow("Modbus TCP, the reply") << tcp << false << 993;
        QTest::newRow("Modbus TCP, a header asking for 253 bytes") << tcp << true << 993;
        QTest::newRow("RTU over TCP, the reply") << rtu << false << 993;
        QTest::newRow("RTU over TCP, endless") << rtu << true << 993;
    }
    void dripIsCutOff() {
        QFETCH(int, kind);
        QFETCH(bool, endless);
        const QByteArray rtuReply = FakeUnit::framed("\x01" + kReadReply);
        ScriptedPort port;
        port.setResponder([&](const QByteArray&) {
            QVector<Chunk> drip;
            for (int i = 0; i < (endless ? 600 : int(rtuReply.size())); ++i)
                drip.append({i == 0 ? 1 : kDripMs, endless ? QByteArray("?") : rtuReply.mid(i, 1)});
            return drip;
        });
        Gateway gw([&](QTcpSocket& s, const QByteArray& request, int) {
            if (kind == int(Endpoint::Kind::ModbusTcp))
                Gateway::drip(s,
                              mbapBytes(mbapTransaction(request), 1,
                                        endless ? QByteArray(253, '?') : kReadReply),
                              kDripMs);
            else
                Gateway::drip(s, endless ? QByteArray() : rtuReply, kDripMs);
        });
        std::unique_ptr<Transport> t;
        if (kind == int(Endpoint::Kind::Serial))
            t = std::make_unique<RtuTransport>(port, kCrc); // the product's timing
        else if (kind == int(Endpoint::Kind::ModbusTcp))
            t = std::make_unique<ModbusTcpTransport>(gw.endpoint(Endpoint::Kind::ModbusTcp), kNet);
        else
            t = std::make_unique<RtuOverTcpTransport>(gw.endpoint(Endpoint::Kind::RtuOverTcp), kCrc,
                                                      kNet);
        QVERIFY(t->prepare() == TransportStatus::Ok);
        const qint64 cpuBefore = PtyPeer::nowNs(CLOCK_PROCESS_CPUTIME_ID);
        QElapsedTimer wall;
        wall.start();
        const Transaction x = t->transact(1, kRead);
        const qint64 ms = wall.elapsed();
        const double cpuMs = double(PtyPeer::nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore) / 1e6;
        qInfo("ended after %lld ms with %lld bytes, %.1f ms CPU", ms, qlonglong(x.received.size()),
              cpuMs);
        QFETCH(int, deadlineMs);
        QCOMPARE(x.deadlineMs, deadlineMs);
        // Cut at the deadline, long before the drip would end (3 s for the reply, 42 s endless);
        // the margin is for a loaded machine.
        QVERIFY2(ms >= deadlineMs - 2 && ms < deadlineMs + 400, qPrintable(QString::number(ms)));
        QVERIFY(x.ok() && x.pastDeadline);
        const ReplyCheck check = checkReply(x, kRead);
        QCOMPARE(check.verdict, ReplyCheck::Verdict::Garbled);
        QCOMPARE(check.reason(), QString("a garbled reply of %1 bytes (still coming when its %2 ms "
                                         "were up)")
                                     .arg(x.received.size())
                                     .arg(deadlineMs));
        QVERIFY(x.received.size() >= deadlineMs / kDripMs - 2);
        QVERIFY2(cpuMs < 0.1 * double(ms), qPrintable(QString::number(cpuMs)));
    }
};

QTEST_GUILESS_MAIN(TestDeadline)
#include "test_deadline.moc"
