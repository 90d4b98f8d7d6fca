// The link on the scripted port (RTS, replies, one wait at a time, failures); settings strings.

#include "link/Link.h"
#include "link/QtSerialPortDevice.h"
#include "support/ScriptedPort.h"

#include <QtTest>

static const LinkTiming kFast{120, 30, 15, 20, 1, 2}; // about order and rules, not timing
static const QByteArray kReadSlot0 = QByteArray::fromHex("0103019000144414");

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
        Link link(port, kFast);
        port.injectInput("stale"); // already buffered: it counts towards a reply
        Reply stale;
        QVERIFY(link.GetRcveData(stale) == LinkStatus::Ok && stale.bytes() == "stale");
        QStringList lamps;
        connect(&link, &Link::sending, this, [&](bool on) { lamps << QString("tx%1").arg(on); });
        connect(&link, &Link::receiving, this, [&](bool on) { lamps << QString("rx%1").arg(on); });
        connect(&link, &Link::frameReceived, this, [&] { lamps << "reply"; });
        QVector<LinkStatus> inner; // from an event handler run while the request waits
        QTimer::singleShot(2, Qt::PreciseTimer, this, [&] {
            inner << link.transact(kReadSlot0, Link::Send::SendAll).status
                  << link.GetRcveData(stale) << link.DelayLoop(5) << link.WriteAll("zz")
                  << link.SendAll("zz") << link.RtsOff();
        });
        const Exchange x = link.transact(kReadSlot0, Link::Send::SendAll);
        QVERIFY(x.ok());
        QCOMPARE(inner, QVector<LinkStatus>(6, LinkStatus::Busy));
        // Stale input goes first; RTS drops only once the bytes are on the wire.
        QCOMPARE(port.log().mid(1, 5).join(','), "discard,rts on,write 8,drain,rts off");
        QCOMPARE(lamps.join(' '), expected ? "tx1 tx0 rx1 rx0 reply" : "tx1 tx0 rx0");
        QCOMPARE(x.reply.bytes(), reply.left(expected));
        for (int i = expected + 1; i <= 41; ++i) // cells 1..40 are preset to 255
            QCOMPARE(x.reply.cells[std::size_t(i)], qint16(i <= 40 ? 255 : 0));
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
        Link link(port, {2000, 2000, 15, 20, 1, phase == 1 ? 2000 : 1});
        QSignalSpy failures(&link, &Link::portFailed);
        QSignalSpy lamp(&link, phase == 1 ? &Link::sending : &Link::receiving);
        QTimer::singleShot(20, Qt::PreciseTimer, this, [&] { port.failNow("device vanished"); });
        QElapsedTimer clock;
        clock.start();
        if (phase == 2) {
            QCOMPARE(link.DelayLoop(2000), LinkStatus::PortFailed);
        } else {
            const Exchange x = link.transact(kReadSlot0, Link::Send::SendAll);
            QVERIFY(x.status == LinkStatus::PortFailed && x.error == "device vanished");
            QCOMPARE(x.reply.bytes(), QByteArray(phase == 0 ? "par" : "")); // what came is kept
            QCOMPARE(lamp.last().first().toBool(), false);                  // the lamp goes out
        }
        QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(failures.count(), 1);
        // Afterwards the port is closed and says so at once, naming itself.
        const Exchange after = link.transact(kReadSlot0, Link::Send::WriteAll);
        QVERIFY(after.status == LinkStatus::NotOpen && after.error.contains("scripted"));
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
#include "test_link.moc"
