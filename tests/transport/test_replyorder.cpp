// Every reply the tool takes answers the request it took it for, on a line whose unit answers
// late by anything from 0 to 3 s. A model of the line runs here, in milliseconds: the tool reads
// the twenty slots (retries, pauses) by the order's word; the unit answers each request it hears
// L ms late, deaf while it answers (as a half-duplex unit is), or queueing every request; the
// model knows which request each reply answers, so a reply taken for another is caught.

#include "modbus/Pdu.h"
#include "transport/ReplyOrder.h"

#include <QtTest>

namespace {

constexpr qint64 kRequestMs = 8; // 8 bytes at 9600 baud
constexpr qint64 kReplyMs = 47;  // 45 bytes
constexpr qint64 kFirstByteMs = 500;
constexpr qint64 kGapMs = 80;
constexpr int kDeadlineMs = 640; // the first byte, the reply and its gap

struct Reply {
    qint64 start, end;
    int slot;
    bool heard = false; // dropped while the tool listened, or cut
};

struct Line {
    qint64 lateMs;
    bool queues; // the unit hears requests while it answers, and answers each in turn
    QVector<Reply> replies;
    qint64 busyUntil = -1;

    void request(qint64 at, int slot) {
        const qint64 heardAt = at + kRequestMs;
        if (!queues && heardAt < busyUntil)
            return; // deaf while it answers
        const qint64 start = std::max(heardAt + 2 + lateMs, busyUntil);
        replies.append({start, start + kReplyMs, slot});
        busyUntil = start + kReplyMs;
    }
};

struct Outcome {
    int taken = 0, wrong = 0;
};

// The tool reads slots 0..19, each with retries, through the order.
Outcome readAll(Line& line, ReplyOrder& order, qint64& now, int retries, qint64 pauseMs) {
    Outcome out;
    for (int slot = 0; slot < 20; ++slot) {
        const QByteArray pdu = Pdu::readMessage(400 + 20 * slot);
        for (int attempt = 0; attempt <= retries; ++attempt) {
            now += pauseMs;
            for (qint64 until; (until = order.sendAfter(1, now)) > now; now = until)
                for (Reply& r : line.replies) // what the tool hears while it waits
                    if (!r.heard && r.start < until && r.end > now) {
                        r.heard = true;
                        order.overheard(45, 1, std::max(r.start, now), std::min(r.end, until));
                    }
            const qint64 sentAt = now;
            for (Reply& r : line.replies) // what waited in the port: dropped as the request goes
                if (!r.heard && r.end <= sentAt) {
                    r.heard = true;
                    order.overheard(45, 1, sentAt, sentAt);
                }
            line.request(sentAt, slot);
            Reply* got = nullptr;
            bool garbled = false;
            for (Reply& r : line.replies) {
                if (r.heard)
                    continue;
                if (r.start < sentAt + kRequestMs && r.end > sentAt) { // under way: cut, garbled
                    r.heard = garbled = true;
                    now = std::max(now, r.end + kGapMs);
                } else if (!got && r.start >= sentAt + kRequestMs &&
                           r.start <= sentAt + kRequestMs + kFirstByteMs) {
                    got = &r;
                }
            }
            if (got && !garbled) {
                got->heard = true;
                now = got->end;
            } else {
                now = std::max(now, sentAt + kRequestMs + kFirstByteMs);
                got = nullptr;
            }
            const bool taken = order.settle(1, pdu, sentAt, now, kDeadlineMs, got != nullptr);
            if (got && taken) {
                ++out.taken;
                out.wrong += got->slot != slot;
                break;
            }
        }
    }
    return out;
}

} // namespace

class TestReplyOrder : public QObject {
    Q_OBJECT
private slots:
    void neverAnotherRequestsReply_data() {
        QTest::addColumn<bool>("queues");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("pauseMs");
        for (bool queues : {false, true})
            for (int retries : {0, 1, 3})
                for (int pause : {0, 300})
                    QTest::addRow("%s unit, %d retries, pause %d ms",
                                  queues ? "queueing" : "half-duplex", retries, pause)
                        << queues << retries << pause;
    }
    void neverAnotherRequestsReply() {
        QFETCH(bool, queues);
        QFETCH(int, retries);
        QFETCH(int, pauseMs);
        for (qint64 late = 0; late <= 3000; late += 25) {
            Line line{late, queues, {}, -1};
            ReplyOrder order(kFirstByteMs, kGapMs);
            qint64 now = 1000;
            const Outcome first = readAll(line, order, now, retries, pauseMs);
            const Outcome second = readAll(line, order, now, retries, pauseMs); // the order learnt
            QVERIFY2(first.wrong == 0 && second.wrong == 0,
                     qPrintable(QString("late %1 ms: %2 and %3 replies taken for another request")
                                    .arg(late)
                                    .arg(first.wrong)
                                    .arg(second.wrong)));
            if (late + kRequestMs + kReplyMs < kFirstByteMs - 2) // in time: every slot read
                QCOMPARE(first.taken, 20);
        }
    }

    // A healthy unit that missed one request costs little: the retry's reply is taken (it
    // answers the same question) and the next slot waits once for the horizon.
    void aMissedRequestThenHealthy() {
        ReplyOrder order(kFirstByteMs, kGapMs);
        const QByteArray read3 = Pdu::readMessage(460), read4 = Pdu::readMessage(480);
        QVERIFY(order.settle(1, read3, 0, 508, kDeadlineMs, false)); // missed
        QCOMPARE(order.sendAfter(1, 508), 0 + kDeadlineMs + kFirstByteMs);
        QVERIFY(order.settle(1, read3, 1140, 1200, kDeadlineMs, true)); // the retry: taken
        QCOMPARE(order.lateness(), 1200);
        const qint64 next = order.sendAfter(1, 1200);
        QCOMPARE(next, 1140 + 1200 + kFirstByteMs);
        QVERIFY(order.settle(1, read4, next, next + 60, kDeadlineMs, true)); // settled: taken
        QVERIFY(!order.owes(1));
        // Another unit never waits for unit 1's debts.
        QVERIFY(order.settle(1, read3, 5000, 5508, kDeadlineMs, false));
        QCOMPARE(order.sendAfter(2, 5508), 5508);
    }

    // A reply that comes to a different request while one is owed could be its late answer:
    // not taken. A write's reply echoes its register, so only a write of that register and
    // count could pass for it; a read's answer could pass for any read of the same length.
    void whatCouldPassForWhat() {
        const QByteArray read0 = Pdu::readMessage(400), read7 = Pdu::readMessage(540);
        const QByteArray block = Pdu::readMessages(400, 6);
        const QByteArray writeA = Pdu::writeMessage(400, "A"), writeB = Pdu::writeMessage(400, "B");
        const QByteArray writeLong = Pdu::writeMessage(400, "ABCD");
        QVERIFY(couldPassFor(read0, read7) && !couldPassFor(read0, block));
        QVERIFY(!couldPassFor(read0, writeA) && couldPassFor(writeA, writeB));
        QVERIFY(!couldPassFor(writeA, writeLong) && !couldPassFor({}, read0));
        const QByteArray identify =
            QByteArray::fromHex("2B0E01"); // any other request: its function
        QVERIFY(couldPassFor(identify, identify) && !couldPassFor(identify, read0));
        QVERIFY(!couldPassFor(writeA, Pdu::writeMessage(420, "A")));

        ReplyOrder order(kFirstByteMs, kGapMs);
        QVERIFY(order.settle(1, read0, 0, 508, kDeadlineMs, false));
        QVERIFY(order.settle(1, writeA, 1200, 1260, kDeadlineMs, true)); // cannot be read0's
        QVERIFY(!order.settle(1, read7, 1300, 1360, kDeadlineMs, true)); // may be read0's
        QCOMPARE(order.droppedReplies(), 1);
    }

    // Bytes heard while waiting pay the oldest request owed (one burst, one reply, however it
    // is heard), teach the lateness, and keep the line quiet for the gap after them.
    void overheardReplies() {
        ReplyOrder order(kFirstByteMs, kGapMs);
        const QByteArray read0 = Pdu::readMessage(400);
        QVERIFY(order.settle(1, read0, 0, 508, kDeadlineMs, false));
        QVERIFY(order.settle(1, read0, 600, 1108, kDeadlineMs, false));
        order.overheard(20, 1, 700, 720);
        order.overheard(25, 1, 730, 750); // the rest of the same reply
        QCOMPARE(order.droppedReplies(), 1);
        QCOMPARE(order.droppedBytes(), 45);
        QCOMPARE(order.lateness(), 750);
        QVERIFY(order.owes(1));
        QCOMPARE(order.sendAfter(1, 1108), 600 + 750 + kFirstByteMs);
        // A burst that names no unit owed (garbled) pays the oldest owed of any unit; then
        // noise is only counted.
        order.overheard(3, 9, 5000, 5001);
        QCOMPARE(order.droppedReplies(), 2);
        QVERIFY(!order.owes(1));
        QCOMPARE(order.sendAfter(1, 5001), 5001 + kGapMs);
        order.overheard(2, 9, 6000, 6001);
        QCOMPARE(order.droppedReplies(), 2);
        QCOMPARE(order.droppedBytes(), 50);
        // On a line, unit 2's late reply pays unit 2's request, not unit 1's older one: unit 1's
        // answer may still come.
        ReplyOrder line(kFirstByteMs, kGapMs);
        QVERIFY(line.settle(1, read0, 7000, 7508, kDeadlineMs, false));
        QVERIFY(line.settle(2, read0, 7600, 8108, kDeadlineMs, false));
        line.overheard(45, 2, 8200, 8250);
        QVERIFY(line.owes(1) && !line.owes(2));
        QCOMPARE(line.lateness(), 650);
    }

    // Another run of the tool learns what this one left owed; a damaged or strange note is
    // ignored, and one from the future is not believed.
    void anotherRun() {
        ReplyOrder first(kFirstByteMs, kGapMs);
        const QByteArray read19 = Pdu::readMessage(780), read5 = Pdu::readMessage(500);
        QVERIFY(first.settle(3, read19, 10'000, 10'508, kDeadlineMs, false));
        const QByteArray note = first.save(10'510);
        ReplyOrder second(kFirstByteMs, kGapMs);
        second.restore(note, 10'560);
        QCOMPARE(second.sendAfter(3, 10'560), 10'000 + kDeadlineMs + kFirstByteMs);
        // Unit 3's late answer to slot 19 comes to the next run's read of slot 5.
        QVERIFY(!second.settle(3, read5, 11'140, 11'200, kDeadlineMs, true));

        for (const QByteArray& bad :
             {QByteArray("owed 3 zz 10000 640\n"), QByteArray("owed 3 0301 99999999999999 640\n"),
              QByteArray("owed 3 0301 10000 6x0\n"), QByteArray("lateness -5\nowed x\n"),
              QByteArray(70'000, '\n')}) {
            ReplyOrder third(kFirstByteMs, kGapMs);
            third.restore(bad, 10'560);
            QVERIFY(!third.owes(3));
            QCOMPARE(third.lateness(), 0);
        }
        ReplyOrder old(kFirstByteMs, kGapMs); // a note older than the memory is nothing
        old.restore(note, 10'000 + ReplyOrder::kMemoryMs);
        QVERIFY(!old.owes(3));
    }
};

QTEST_GUILESS_MAIN(TestReplyOrder)
#include "test_replyorder.moc"
