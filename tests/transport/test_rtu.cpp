// The RTU transport on the scripted port (RTS, replies, one wait at a time, failures, how a
// reply is framed); settings strings.

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "support/ScriptedPort.h"
#include "transport/RtuTransport.h"

#include <QtTest>

static const LinkTiming kFast{120, 30, 15, 20, 1, 2}; // about order and rules, not timing
static const QByteArray kReadSlot0 = QByteArray::fromHex("0103019000144414");
static const CrcTableArray kCrc = standardCrcTable();

static QString canonical(const LineSettings& s) {
    const double stop = s.stopBits == QSerialPort::OneAndHalfStop ? 1.5 : int(s.stopBits);
    return QString::asprintf("%d,%c,%d,%g", s.baud, "N?EOSM"[s.parity], int(s.dataBits), stop);
}

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void exchange_data() {
        QTest::addColumn<QByteArray>("reply"); // in three chunks
        QTest::addColumn<int>("spacingMs");    // the gap is 30 ms here
        QTest::addColumn<int>("expected");
        QTest::newRow("silent") << QByteArray() << 0 << 0;
        QTest::newRow("10 ms apart: one reply") << QByteArray("abcdefghi") << 10 << 9;
        QTest::newRow("60 ms apart: cut") << QByteArray("abcdefghi") << 60 << 3;
        QTest::newRow("past cell 512") << QByteArray("0123456789").repeated(60) << 10 << 512;
    }
    void exchange() {
        QFETCH(QByteArray, reply);
        QFETCH(int, spacingMs);
        QFETCH(int, expected);
        ScriptedPort port;
        port.setResponder([&](const QByteArray&) {
            QVector<ScriptedPort::Chunk> chunks;
            for (int at = 0, size = reply.size() / 3; at < reply.size(); at += size)
                chunks.append({at == 0 ? 5 : spacingMs, reply.mid(at, size)});
            return chunks;
        });
        RtuTransport transport(port, kCrc, kFast);
        port.injectInput("stale"); // a late answer to some earlier request
        QStringList lamps;
        connect(&transport, &Transport::sending, this,
                [&](bool on) { lamps << QString("tx%1").arg(on); });
        connect(&transport, &Transport::receiving, this,
                [&](bool on) { lamps << QString("rx%1").arg(on); });
        connect(&transport, &Transport::frameReceived, this, [&] { lamps << "reply"; });
        QVector<TransportStatus> inner; // from an event handler run while the request waits
        QTimer::singleShot(2, Qt::PreciseTimer, this, [&] {
            inner << transport.transact(1, Pdu::readMessage(400)).status << transport.bulkPause()
                  << transport.prepare();
        });
        const Transaction t = transport.transact(1, Pdu::readMessage(400));
        QVERIFY(t.ok() && t.sent == kReadSlot0);
        QCOMPARE(inner, QVector<TransportStatus>(3, TransportStatus::Busy));
        // Stale input goes first; RTS drops only once the bytes are on the wire.
        QCOMPARE(port.log().mid(1, 5).join(','), "discard,rts on,write 8,drain,rts off");
        QCOMPARE(lamps.join(' '), expected ? "tx1 tx0 rx1 rx0 reply" : "tx1 tx0 rx0");
        QCOMPARE(t.received, reply.left(expected));
        QCOMPARE(port.inputCount(), 0); // read to the end, even past the last cell
    }

    void portFailureEndsTheOperation_data() {
        QTest::addColumn<int>("phase");
        QTest::newRow("waiting for the reply") << 0;
        QTest::newRow("sending") << 1;
        QTest::newRow("pausing") << 2;
    }
    void portFailureEndsTheOperation() {
        QFETCH(int, phase);
        ScriptedPort port;
        port.answerEveryRequest("par", 5);
        RtuTransport transport(port, kCrc, {2000, 2000, 15, 2000, 1, phase == 1 ? 2000 : 1});
        QSignalSpy failures(&transport, &Transport::failed);
        QSignalSpy lamp(&transport, phase == 1 ? &Transport::sending : &Transport::receiving);
        QTimer::singleShot(20, Qt::PreciseTimer, this, [&] { port.failNow("device vanished"); });
        QElapsedTimer clock;
        clock.start();
        if (phase == 2) {
            QCOMPARE(transport.bulkPause(), TransportStatus::Failed);
        } else {
            const Transaction t = transport.transact(1, Pdu::readMessage(400));
            QVERIFY(t.status == TransportStatus::Failed && t.error == "device vanished");
            QCOMPARE(t.received, QByteArray(phase == 0 ? "par" : "")); // what came is kept
            QCOMPARE(lamp.last().first().toBool(), false);             // the lamp goes out
        }
        QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(failures.count(), 1);
        // Afterwards the port is closed and says so at once, naming itself.
        const Transaction after = transport.transact(1, Pdu::eraseMessage(400));
        QVERIFY(after.status == TransportStatus::NotOpen && after.error.contains("scripted"));
    }

    // How a reply to unit 1 is framed, and the PDU it carries.
    void framing_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("framing");
        QTest::addColumn<int>("otherUnit");
        const QByteArray echo = rtuFrame(kCrc, 1, QByteArray::fromHex("1001900001"));
        QTest::newRow("silent") << QByteArray() << int(Framing::Silent) << 0;
        QTest::newRow("4 bytes") << echo.left(4) << int(Framing::Garbled) << 0;
        QTest::newRow("bit flipped")
            << QByteArray(echo).replace(3, 1, "\x91") << int(Framing::Garbled) << 0;
        QTest::newRow("unit 9") << rtuFrame(kCrc, 9, QByteArray::fromHex("1001900001"))
                                << int(Framing::OtherUnit) << 9;
        QTest::newRow("whole") << echo << int(Framing::Whole) << 0;
        QTest::newRow("whole exception")
            << rtuFrame(kCrc, 1, QByteArray::fromHex("9002")) << int(Framing::Whole) << 0;
    }
    void framing() {
        Transaction t;
        QFETCH(QByteArray, received);
        t.received = received;
        judgeRtuFrame(kCrc, 1, t);
        QTEST(int(t.framing), "framing");
        QTEST(t.otherUnit, "otherUnit");
        QCOMPARE(t.replyPdu, received.size() >= 3 ? received.mid(1, received.size() - 3) : "");
    }

    void settingsStrings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // empty: refused
        for (const char* good :
             {"19200,E,7,2", "4800,M,8,1", "4800,S,6,1", "1200,O,5,1.5", "115200,N,8,1"})
            QTest::newRow(good) << good << good;
        QTest::newRow("blanks") << QString(" 1200 , o , 5 , 1.5 ") << QString("1200,O,5,1.5");
        for (const char* bad :
             {"9600", "9600,N,8,1,1", "fast,N,8,1", "0,N,8,1", "300,N,8,1", "-9600,N,8,1",
              "9600,X,8,1", "9600,N,9,1", "9600,N,4,1", "9600,N,8,3", "9600,,8,1"})
            QTest::newRow(bad) << bad << QString();
    }
    void settingsStrings() {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        const auto s = parseLineSettings(text);
        QCOMPARE(s ? canonical(*s) : QString(), parsed);
        QtSerialPortDevice device;
        const PortStatus status = device.setSettings(text);
        QCOMPARE(status.ok, s.has_value());
        QVERIFY(status.ok || status.reason.contains('"' + text + '"'));
        QVERIFY(device.setSettings(QString()).ok); // the empty string keeps what is in force
        QCOMPARE(device.settings(), status.ok ? text : QString("9600,N,8,1"));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_rtu.moc"
