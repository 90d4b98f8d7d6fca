// The link taking a reply on a pseudo-terminal through the product's port,
// which signals the bytes of a reply a few at a time: whether they come at
// the line's speed or all at once, the reply is the same, a whole one ends as
// its last byte comes, and the silence after the last byte still ends one
// that stops, even inside a batch.
// The port fetching what a batch held back from inside a readyRead handler,
// where Qt takes the bytes in without a signal.

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "support/FakeUnit.h"
#include "support/PtyPeer.h"
#include "support/ScriptedPort.h"
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
// pause before byte `at` of each {at, ms}; no pauses: all at once.
using Pauses = QVector<QPair<int, int>>; // before byte, ms

static QVector<Chunk> replyChunks(const QByteArray& reply, const Pauses& pauses) {
    if (pauses.isEmpty())
        return {{2, reply}};
    QVector<Chunk> chunks;
    for (int i = 0; i < reply.size(); ++i) {
        int ms = i == 0 ? 2 : 1;
        for (const auto& [at, pauseMs] : pauses)
            if (at == i)
                ms = pauseMs;
        chunks.append({ms, reply.mid(i, 1)});
    }
    return chunks;
}

// A scripted port that counts the link's pauses; `late` comes in as a pause
// ends, without a signal, as Qt takes bytes in inside a readyRead handler.
class PausingPort : public ScriptedPort {
public:
    QByteArray late;
    int pauses = 0;
    void setReadPaused(bool paused) override {
        pauses += paused ? 1 : 0;
        if (!paused)
            takeInSilently(std::exchange(late, {}));
    }
};

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void replyInBatches_data() {
        QTest::addColumn<Pauses>("pauses");
        QTest::addColumn<int>("expected"); // bytes in the reply
        QTest::newRow("one burst") << Pauses{} << 45;
        QTest::newRow("byte by byte") << Pauses{{1, 1}} << 45;
        QTest::newRow("a pause of 60 ms: joined") << Pauses{{20, 60}} << 45;
        // After the first few bytes they come 16 at a time, and the last 2
        // one by one: a pause inside a batch is seen when its time is up.
        QTest::newRow("a pause of 130 ms after 20 bytes: cut") << Pauses{{20, 130}} << 20;
        QTest::newRow("a pause of 130 ms after 42 bytes: cut") << Pauses{{42, 130}} << 42;
        // A unit slower than the line: byte 14 comes 9 ms after byte 13,
        // then 79 ms of silence. The silence counts from when the byte could
        // have come last, never from the batch's start.
        QTest::newRow("a late byte, then 79 ms: joined") << Pauses{{13, 9}, {14, 79}} << 45;
    }
    void replyInBatches() {
        QFETCH(Pauses, pauses);
        QFETCH(int, expected);
        PtyLine line;
        QVERIFY(line.open());
        const QByteArray reply = FakeUnit::framed("\x01\x03\x28" + QByteArray(40, 'A'));
        const QVector<Chunk> chunks = replyChunks(reply, pauses);
        line.peer.setResponder([&](const QByteArray&) {
            return line.peer.requests().size() > 1 ? QVector<Chunk>{{2, reply}} : chunks;
        });
        int signalled = 0; // the port is out of the poll while paused: one wake-up each
        connect(&line.device, &SerialPort::readyRead, this, [&] { ++signalled; });
        QElapsedTimer clock;
        clock.start();
        const Transaction t = line.link.transact(1, Pdu::readMessage(400));
        const qint64 ms = clock.elapsed();
        QCOMPARE(t.received, reply.left(expected));
        int lastMs = 0; // when the last byte went, or the one before the cut
        for (int i = 0; i < chunks.size() && i < expected; ++i)
            lastMs += chunks[i].delayMs;
        const int nextMs = expected < chunks.size() ? lastMs + chunks[expected].delayMs : 0;
        // Whole: over as its last byte came, not a gap later. Cut: after the
        // gap, and no more than a batch's time later.
        const bool inTime =
            expected == reply.size() ? ms < lastMs + 40 : ms >= lastMs + 80 && ms < nextMs;
        QVERIFY2(inTime, qPrintable(QString("%1 ms; last byte at %2").arg(ms).arg(lastMs)));
        // The link wakes about once a batch, not once a byte.
        if (pauses.size() == 1 && pauses[0].second == 1)
            QVERIFY2(signalled <= 12,
                     qPrintable(QString("%1 wake-ups for 45 bytes").arg(signalled)));
        // What came after the cut never passes for the next reply, and the
        // port signals every byte again between requests.
        QTest::qWait(nextMs - ms + 60);
        QCOMPARE(line.link.transact(1, Pdu::readMessage(400)).received, reply);
    }

    void lastByteFetchedWithoutSignal() {
        PausingPort port;
        RtuTransport link{port, kCrc};
        const QByteArray reply = FakeUnit::framed("\x01\x03\x28" + QByteArray(40, 'A'));
        port.late = reply.right(1);
        // 37 bytes start a batch up to the whole 45; 7 more end it a byte short.
        port.setResponder([&](const QByteArray&) {
            return QVector<Chunk>{{2, reply.left(37)}, {1, reply.mid(37, 7)}};
        });
        const Transaction t = link.transact(1, Pdu::readMessage(400));
        QCOMPARE(t.status, TransportStatus::Ok);
        QCOMPARE(t.received, reply);
    }

    // A unit slower than the line: once a batch has come empty, the rest of
    // the reply is taken byte by byte, not with a pause for every byte.
    void slowUnitNotBatched() {
        PausingPort port;
        RtuTransport link{port, kCrc};
        const QByteArray reply = FakeUnit::framed("\x01\x03\x28" + QByteArray(40, 'A'));
        port.setResponder([&](const QByteArray&) {
            QVector<Chunk> chunks;
            for (char c : reply)
                chunks.append({6, QByteArray(1, c)});
            return chunks;
        });
        QCOMPARE(link.transact(1, Pdu::readMessage(400)).received, reply);
        QVERIFY2(port.pauses <= 2, qPrintable(QString::number(port.pauses)));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
