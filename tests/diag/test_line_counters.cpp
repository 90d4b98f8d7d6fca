// The counters' rules on literal frames: how a try is classed, what the idle
// line's bytes are, the spread of times, and the findings the rules draw
// from counters given by hand.

#include "diag/Findings.h"
#include "diag/LineCounters.h"
#include "diag/TrafficLog.h"
#include "link/Crc.h"
#include "transport/RtuTransport.h"

#include <QtTest>

// A read of 20 registers from 400 at unit 1, with its CRC as a Modbus master
// sends it (the same frame as the README's trace).
static const QByteArray kRead = QByteArray::fromHex("0103019000144414");
static const QByteArray kReadPdu = QByteArray::fromHex("03019000 14");
// Unit 1's reply to a read of one register: 2 bytes, 0x0041; CRC by hand.
static const QByteArray kOneRegister = QByteArray::fromHex("01030200417874");
// The read of that one register, as a PDU and as the frame sent.
static const QByteArray kOnePdu = QByteArray::fromHex("0300000001");
static const QByteArray kOneSent = QByteArray::fromHex("010300000001840A");

static Transaction tryOf(const QByteArray& sent, const QByteArray& received, int unit = 1) {
    Transaction t;
    t.sent = sent;
    t.received = received;
    judgeRtuFrame(standardCrcTable(), unit, t);
    t.check = checkReply(t, sent.mid(1, sent.size() - 3)); // as the transport hands it out
    return t;
}

class TestLineCounters : public QObject {
    Q_OBJECT
private slots:
    void classify_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("outcome");
        QTest::newRow("whole") << kOneRegister << int(TryOutcome::Answered);
        QTest::newRow("nothing") << QByteArray() << int(TryOutcome::Silent);
        QByteArray flipped = kOneRegister;
        flipped[4] = char(flipped.at(4) ^ 0x10);
        QTest::newRow("a bit flipped") << flipped << int(TryOutcome::CrcWrong);
        QTest::newRow("cut short") << kOneRegister.left(6) << int(TryOutcome::TooShort);
        QTest::newRow("a byte more") << kOneRegister + char(0xFF) << int(TryOutcome::TooLong);
        QTest::newRow("another unit")
            << QByteArray::fromHex("02030200413C74") << int(TryOutcome::OtherUnit);
        QTest::newRow("an exception")
            << QByteArray::fromHex("018302C0F1") << int(TryOutcome::Answered);
    }
    void classify() {
        QFETCH(QByteArray, received);
        QFETCH(int, outcome);
        QCOMPARE(int(classifyTry(tryOf(kOneSent, received), kOnePdu)), outcome);
        // The request itself first is an echo, whatever follows.
        QCOMPARE(classifyTry(tryOf(kOneSent, kOneSent + received), kOnePdu), TryOutcome::Echo);
    }

    void counters() {
        LineCounters c;
        Transaction whole = tryOf(kOneSent, kOneRegister);
        whole.firstByteMs = 12;
        whole.lastByteMs = 19;
        c.transactionDone(1, kOnePdu, tryOf(kOneSent, {}), 0);
        c.transactionDone(1, kOnePdu, whole, 1); // its retry saved it
        c.transactionDone(1, kOnePdu, tryOf(kOneSent, QByteArray::fromHex("018302C0F1")), 0);
        const UnitCounters u = c.unit(1);
        QCOMPARE(QList<int>({u.requests, u.answered, u.silent, u.retries, u.savedByRetry,
                             u.exceptions.value(2), c.total().requests}),
                 QList<int>({3, 2, 1, 1, 1, 1, 3}));
        QCOMPARE(QList<QVector<int>>({u.firstByteMs, u.lastByteMs}),
                 QList<QVector<int>>({{12}, {19}}));
        c.reset();
        QCOMPARE(c.total().requests, 0);
    }

    void idleBytes() {
        // Noise, a request to 247 (F7 03 00 00 00 01 90 9C), noise, unit 1's reply.
        const QByteArray second = QByteArray::fromHex("F70300000001909C");
        const IdleTraffic idle = sortIdleBytes(QByteArray::fromHex("FF00") + second +
                                               QByteArray::fromHex("13") + kOneRegister);
        QCOMPARE(QList<int>({idle.bytes, idle.noiseBytes, idle.foreignRequests, idle.strayReplies}),
                 QList<int>({2 + 8 + 1 + 7, 3, 1, 1}));
        QCOMPARE(idle.requestSamples.value(0), second);
        QCOMPARE(idle.strayFrom, QVector<int>{1});
    }

    void spread() {
        const TimeSpread s = TimeSpread::of({30,  10,  20,  50,  40,  60,  70,  80,  90,  100,
                                             110, 120, 130, 140, 150, 160, 170, 180, 190, 200});
        QCOMPARE(QList<int>({s.min, s.median, s.p95, s.max}), QList<int>({10, 100, 190, 200}));
        QCOMPARE(TimeSpread::of({}).text(), QString("-"));
    }

    // Counters by hand against the words: each gives its one finding.
    void findings_data() {
        QTest::addColumn<QString>("expected");
        QTest::newRow("clean") << "";
        QTest::newRow("silent") << "silent";
        QTest::newRow("echo") << "echo";
        QTest::newRow("other") << "other-unit";
        QTest::newRow("twin") << "duplicate-address";
        QTest::newRow("noisy") << "noise";
        QTest::newRow("slow") << "slow-unit";
        QTest::newRow("flaky") << "intermittent";
        QTest::newRow("idle") << "second-master noise";
    }
    void findings() {
        const QString kind = QTest::currentDataTag();
        CheckEvidence e;
        UnitCounters u;
        u.requests = 20;
        u.answered = 20;
        u.firstByteMs = QVector<int>(20, 15);
        if (kind == "silent") {
            u = {};
            u.requests = u.silent = 20;
        } else if (kind == "echo") {
            u.echoed = 20;
        } else if (kind == "other") {
            u.answered = 0;
            u.otherUnit = u.otherAddresses[7] = 20;
        } else if (kind == "twin" || kind == "noisy") {
            u.answered = 16;
            u.crcWrong = 4;
            for (int i = 0; i < 4; ++i)
                u.garbled << qMakePair(kRead, QByteArray(1, char(kind == "twin" ? 0 : i)));
        } else if (kind == "slow") {
            u.firstByteMs = QVector<int>(20, 400);
        } else if (kind == "flaky") {
            u.requests = 23;
            u.silent = u.retries = u.savedByRetry = 3;
        } else if (kind == "idle") {
            e.idle = sortIdleBytes(QByteArray::fromHex("F70300000001909C55"));
        }
        e.units[1] = u;
        QStringList words;
        for (const Finding& f : findFaults(e))
            words << f.word;
        words.sort();
        QFETCH(QString, expected);
        QStringList want = expected.split(' ', Qt::SkipEmptyParts);
        want.sort();
        QCOMPARE(words, want);
    }

    void trafficWords() {
        QCOMPARE(describeRequest(kRead), QString("unit 1, read 20 registers from 400, CRC ok"));
        QCOMPARE(describeReply(kOneRegister, 1), QString("unit 1, 2 bytes of registers, CRC ok"));
        QCOMPARE(describeReply(QByteArray::fromHex("018302C0F1"), 1),
                 QString("unit 1, exception 2 (illegal data address), CRC ok"));
        QCOMPARE(describeReply(QByteArray::fromHex("02030200413C74"), 1),
                 QString("unit 2, 2 bytes of registers, CRC ok, from another unit than 1"));
    }
};

QTEST_GUILESS_MAIN(TestLineCounters)
#include "test_line_counters.moc"
