// The link taking a reply on a pseudo-terminal through the product's port,
// which signals the bytes of a reply a few at a time: whether they come at
// the line's speed or all at once, the reply is the same, a whole one ends as
// its last byte comes, and the silence after the last byte still ends one
// that stops, even inside a batch.

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "support/FakeUnit.h"
#include "support/PtyPeer.h"
#include "transport/RtuTransport.h"

#include <QtTest>

static const CrcTableArray kCrc = standardCrcTable();

struct PtyLine {
    PtyPeer peer;
    QtSerialPortDevice device;
    RtuTransport link{device, kCrc}; // the product's timing: an 80 ms gap
    bool open() {
        device.setPortName(peer.slavePath());
        return device.open().ok;
    }
};

// The reply to reading slot 0 (45 bytes), byte by byte 1 ms apart, with a
// pause after the first pauseAfter bytes; pauseAfter 0: all at once.
static QVector<Chunk> replyChunks(const QByteArray& reply, int pauseAfter, int pauseMs) {
    if (pauseAfter == 0)
        return {{2, reply}};
    QVector<Chunk> chunks;
    for (int i = 0; i < reply.size(); ++i)
        chunks.append({i == 0 ? 2 : i == pauseAfter ? pauseMs : 1, reply.mid(i, 1)});
    return chunks;
}

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void replyInBatches_data() {
        QTest::addColumn<int>("pauseAfter"); // bytes before the pause; 0: one burst
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<int>("expected"); // bytes in the reply
        QTest::newRow("one burst") << 0 << 0 << 45;
        QTest::newRow("byte by byte") << 45 << 0 << 45;
        QTest::newRow("a pause of 60 ms: joined") << 20 << 60 << 45;
        // 20 ends inside a batch: the batch comes short and is taken then.
        QTest::newRow("a pause of 95 ms inside a batch: cut") << 20 << 95 << 20;
        QTest::newRow("a pause of 95 ms at a batch's end: cut") << 13 << 95 << 13;
        // The silence counts from the last byte, not from when the short
        // batch was taken (about 10 ms later).
        QTest::newRow("a pause of 86 ms a byte into a batch: cut") << 14 << 86 << 14;
    }
    void replyInBatches() {
        QFETCH(int, pauseAfter);
        QFETCH(int, pauseMs);
        QFETCH(int, expected);
        PtyLine line;
        QVERIFY(line.open());
        const QByteArray reply = FakeUnit::framed("\x01\x03\x28" + QByteArray(40, 'A'));
        line.peer.setResponder([&](const QByteArray&) {
            if (line.peer.requests().size() > 1)
                return QVector<Chunk>{{2, reply}};
            return replyChunks(reply, pauseAfter, pauseMs);
        });
        int signalled = 0;
        connect(&line.device, &SerialPort::readyRead, this, [&] { ++signalled; });
        QElapsedTimer clock;
        clock.start();
        const Transaction t = line.link.transact(1, Pdu::readMessage(400));
        const qint64 ms = clock.elapsed();
        QCOMPARE(t.received, reply.left(expected));
        if (expected == reply.size()) {
            // Whole: over as its last byte came, not a gap later.
            const int lastMs = pauseAfter == 0 ? 2 : 2 + 44 + pauseMs;
            QVERIFY2(ms < lastMs + 40, qPrintable(QString::number(ms)));
        } else {
            QVERIFY2(ms >= pauseAfter + 80 && ms < pauseAfter + pauseMs,
                     qPrintable(QString::number(ms)));
        }
        if (pauseAfter == reply.size()) // a wake-up for about every eighth byte
            QVERIFY2(signalled <= 12, qPrintable(QString::number(signalled)));
        // What came after the cut never passes for the next reply, and the
        // port signals every byte again between requests.
        QTest::qWait(pauseMs + 60);
        QCOMPARE(line.link.transact(1, Pdu::readMessage(400)).received, reply);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
