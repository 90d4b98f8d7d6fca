// The link on a pseudo-terminal through the Qt port, with the real waits: the
// first-byte time-out and the reply gaps at their edges, and a reply taken a
// batch at a time.

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "support/FakeUnit.h"
#include "support/PtyPeer.h"
#include "transport/RtuTransport.h"

#include <QtTest>

static const QByteArray kReadSlot0 = Pdu::readMessage(400);
static const CrcTableArray kCrc = standardCrcTable();

struct Line {
    PtyPeer peer;
    QtSerialPortDevice device;
    RtuTransport link{device, kCrc}; // the product's timing
    PortStatus opened = (device.setPortName(peer.slavePath()), device.open()); // else NotOpen
};

// Slot 0's reply byte by byte, 1 ms apart but for the pauses; none: at once.
using Pauses = QVector<QPair<int, int>>; // before byte, ms

static QVector<Chunk> replyChunks(const QByteArray& reply, const Pauses& pauses) {
    if (pauses.isEmpty())
        return {{2, reply}};
    QVector<Chunk> chunks;
    for (int i = 0; i < reply.size(); ++i)
        chunks.append({i == 0 ? 2 : 1, reply.mid(i, 1)});
    for (const auto& [at, pauseMs] : pauses)
        chunks[at].delayMs = pauseMs;
    return chunks;
}

class TestLinkTiming : public QObject {
    Q_OBJECT

private slots:
    // The unit's bytes 1 ms inside or outside the 80 ms gap (from when the
    // link took the earlier bytes) or the 500 ms first-byte time-out (from
    // the end of sending). An attempt counts when the bytes went out within
    // 0.5 ms of the offset; a cut where a join is due, only when the loop had
    // the bytes before the wait's end; a join where a cut is due, only when a
    // probe timer armed with the link's fired within poll()'s millisecond and
    // before the bytes were taken. A loop held up past the wait's end may take
    // the bytes or the timer first: that says nothing of the link. One
    // counted attempt must show the expected outcome, none the other.
    void boundaries_data() {
        QTest::addColumn<bool>("gap"); // else the first byte
        QTest::addColumn<int>("offsetMs");
        QTest::addColumn<bool>("joined");
        QTest::newRow("gap of 79 ms: one reply") << true << 79 << true;
        QTest::newRow("gap of 81 ms: cut") << true << 81 << false;
        QTest::newRow("first byte at 490 ms: answered") << false << 490 << true;
        QTest::newRow("first byte at 510 ms: silent") << false << 510 << false;
    }
    void boundaries() {
        QFETCH(bool, gap);
        QFETCH(int, offsetMs);
        QFETCH(bool, joined);
        QStringList attempts;
        bool shown = false;
        for (int i = 0; i < 10 && !shown; ++i) {
            Line line;
            qint64 from = -1, taken = -1, probed = -1; // monotonic ns
            const int waitMs = gap ? LinkTiming{}.replyGapMs : LinkTiming{}.firstByteMs;
            const auto writeLater = [&] {
                from = PtyPeer::nowNs();
                QTimer::singleShot(waitMs, Qt::PreciseTimer, &line.peer,
                                   [&] { probed = PtyPeer::nowNs(); });
                line.peer.writeAt(from + offsetMs * 1000000LL, QByteArray(10, 'b'));
            };
            // The link arms its gap right after it says it is receiving, and
            // its first-byte wait right after it says it has sent.
            connect(&line.link, gap ? &Transport::receiving : &Transport::sending, &line.peer,
                    [&](bool on) {
                        if (on == gap && from < 0)
                            writeLater();
                    });
            connect(&line.device, &SerialPort::readyRead, &line.peer, [&] {
                if (from >= 0 && taken < 0)
                    taken = PtyPeer::nowNs();
            });
            line.peer.setResponder([&](const QByteArray&) {
                if (line.peer.requests().size() > 1)
                    return QVector<PtyPeer::Chunk>{{2, "second"}};
                // Well after SendAll's settling time, so the link is listening.
                return gap ? QVector<PtyPeer::Chunk>{{20, QByteArray(10, 'a')}}
                           : QVector<PtyPeer::Chunk>{};
            });
            const auto count = line.link.transact(1, kReadSlot0).received.size();
            QTRY_VERIFY(line.peer.writtenAtNs() >= 0 && taken >= 0 && probed >= 0);
            const bool wasJoined = count == (gap ? 20 : 10);
            QVERIFY(wasJoined || count == (gap ? 10 : 0));
            const double late = double(line.peer.writtenAtNs() - from) / 1e6;
            const double lag = double(taken - line.peer.writtenAtNs()) / 1e6;
            const bool inTime = double(taken - from) / 1e6 < waitMs - 0.1;
            const double probeLate = double(probed - from) / 1e6 - waitMs;
            const bool loopFree = probeLate <= 1.0 && probed < taken; // poll() counts whole ms
            const bool counts = std::abs(late - offsetMs) <= 0.5 &&
                                (joined ? wasJoined || inTime : !wasJoined || loopFree);
            attempts << QString::asprintf(
                "out at %.2f ms, taken %.2f ms later, probe %.2f ms late: %s%s", late, lag,
                probeLate, wasJoined ? "joined" : "cut", counts ? "" : " (not counted)");
            QVERIFY2(!counts || wasJoined == joined, qPrintable(attempts.join("; ")));
            shown = counts;
            // The cut-off bytes never pass for the next request's reply.
            QCOMPARE(line.link.transact(1, kReadSlot0).received, "second");
        }
        qInfo("%s", qPrintable(attempts.join("; ")));
        QVERIFY2(shown, "no attempt counted");
    }

    // A reply of 45 bytes taken a batch at a time: whether its bytes come at
    // the line's speed or all at once, a whole one ends as its last byte
    // comes, and the silence after the last byte still ends one that stops,
    // even inside a batch.
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
        // then 75 ms of silence. The silence counts from when the byte could
        // have come last, never from the batch's start (9 + 75 is past the gap).
        QTest::newRow("a late byte, then 75 ms: joined") << Pauses{{13, 9}, {14, 75}} << 45;
        QTest::newRow("a late byte, then 90 ms: cut") << Pauses{{13, 9}, {14, 90}} << 14;
    }
    void replyInBatches() {
        QFETCH(Pauses, pauses);
        QFETCH(int, expected);
        Line line;
        QVERIFY(line.opened.ok);
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
};

QTEST_GUILESS_MAIN(TestLinkTiming)
#include "test_link_timing.moc"
