// The link over a real pseudo-terminal through the Qt port, with the real
// waits: the first-byte time-out, the reply gaps, input left over from a cut
// reply, and a line that vanishes in the middle of a reply.

#include "link/CommsTest.h"
#include "link/Crc.h"
#include "link/Frames.h"
#include "link/Link.h"
#include "link/QtSerialPortDevice.h"
#include "support/PtyPeer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <sys/resource.h>

namespace {

const QByteArray kReadSlot0 = QByteArray::fromHex("0103019000144414");

qint64 cpuMicroseconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
}

QByteArray bytes(char c, int n) {
    return QByteArray(n, c);
}

class CountView : public CommsTestView {
public:
    void setUnitAddressText(const QString&) override {}
    void setTransmitted(const QString&) override {}
    void setReceived(const QString& d) override { received = d; }
    void setStoredText(const QString&) override {}
    void setByteCount(const QString& t) override { count = t; }
    void setSending(bool) override {}
    void setReceiving(bool) override {}
    QString messageText() const override { return text; }
    void clearMessageText() override { text.clear(); }
    void showProblem(const QString& t) override { problems << t; }
    QString received, count, text = QStringLiteral("TEST");
    QStringList problems;
};

// The tool's side of the line: the Qt port opened on the peer's terminal.
struct Line {
    PtyPeer peer;
    QtSerialPortDevice device;
    Link link{device}; // the product's timing
    PortStatus opened;
    Line() {
        device.setPortName(peer.slavePath());
        opened = device.open();
    }
};

} // namespace

class TestLinkTiming : public QObject {
    Q_OBJECT

private slots:
    void firstByteTimeOut();
    void replyGap_data();
    void replyGap();
    void leftoverIsDiscarded_data();
    void leftoverIsDiscarded();
    void commsTestWriteGap_data();
    void commsTestWriteGap();
    void lineVanishesMidReply();
};

void TestLinkTiming::firstByteTimeOut() {
    Line line;
    QVERIFY2(line.opened.ok, qPrintable(line.opened.reason));
    QSignalSpy notes(&line.link, &Link::traceNote);
    QSignalSpy failures(&line.link, &Link::portFailed);
    QElapsedTimer sinceOnWire;
    connect(&line.link, &Link::sending, this, [&](bool on) {
        if (!on)
            sinceOnWire.start();
    });
    for (int round = 0; round < 2; ++round) {
        const Exchange x = line.link.transact(kReadSlot0, Link::Send::SendAll);
        const double ms = static_cast<double>(sinceOnWire.nsecsElapsed()) / 1e6;
        QVERIFY(x.ok());
        QCOMPARE(x.reply.count, 0);
        QVERIFY2(ms >= 500.0 && ms < 515.0, qPrintable(QString::number(ms)));
    }
    QCOMPARE(line.peer.requests(), QVector<QByteArray>({kReadSlot0, kReadSlot0}));
    // A pseudo-terminal has no RTS: said once, and not a failure.
    QCOMPARE(notes.count(), 1);
    QCOMPARE(failures.count(), 0);
    QVERIFY(line.device.isOpen());
}

void TestLinkTiming::replyGap_data() {
    QTest::addColumn<int>("spacingMs");
    QTest::addColumn<int>("expected");
    QTest::newRow("70 ms apart: joined") << 70 << 25;
    QTest::newRow("90 ms apart: cut") << 90 << 10;
}

void TestLinkTiming::replyGap() {
    QFETCH(int, spacingMs);
    QFETCH(int, expected);
    Line line;
    QVERIFY(line.opened.ok);
    line.peer.setResponder([&](const QByteArray&) {
        return QVector<PtyPeer::Chunk>{
            {2, bytes('a', 10)}, {spacingMs, bytes('b', 10)}, {spacingMs, bytes('c', 5)}};
    });
    QElapsedTimer clock;
    clock.start();
    const Exchange x = line.link.transact(kReadSlot0, Link::Send::SendAll);
    QVERIFY(x.ok());
    QCOMPARE(x.reply.count, expected);
    QCOMPARE(x.reply.bytes(), (bytes('a', 10) + bytes('b', 10) + bytes('c', 5)).left(expected));
    // The reply ends 80 ms after its last byte.
    const qint64 lastByteAt = expected == 25 ? 2 + 2 * spacingMs : 2;
    QVERIFY2(clock.elapsed() >= lastByteAt + 80, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(clock.elapsed() < lastByteAt + 80 + 40, qPrintable(QString::number(clock.elapsed())));
}

void TestLinkTiming::leftoverIsDiscarded_data() {
    QTest::addColumn<bool>("eventsRun");
    // Either Qt has already fetched the late bytes, or they still wait in the
    // terminal's queue: the next request must see neither.
    QTest::newRow("fetched by Qt") << true;
    QTest::newRow("still in the OS queue") << false;
}

void TestLinkTiming::leftoverIsDiscarded() {
    QFETCH(bool, eventsRun);
    Line line;
    QVERIFY(line.opened.ok);
    int request = 0;
    line.peer.setResponder([&](const QByteArray&) {
        if (++request == 1)
            return QVector<PtyPeer::Chunk>{{2, "first"}, {90, "late"}};
        return QVector<PtyPeer::Chunk>{{2, "second"}};
    });
    const Exchange first = line.link.transact(kReadSlot0, Link::Send::SendAll);
    QCOMPARE(first.reply.bytes(), QByteArray("first"));
    if (eventsRun) {
        QTRY_VERIFY_WITH_TIMEOUT(line.device.inputCount() == 4, 200);
    } else {
        // More late bytes, written while nothing runs the event loop: Qt has
        // not fetched them when the next request starts.
        QTRY_VERIFY_WITH_TIMEOUT(line.device.inputCount() == 4, 200);
        line.peer.writeNow("later");
        QThread::msleep(30);
    }
    const Exchange second = line.link.transact(kReadSlot0, Link::Send::SendAll);
    QCOMPARE(second.reply.bytes(), QByteArray("second"));
}

void TestLinkTiming::commsTestWriteGap_data() {
    QTest::addColumn<int>("spacingMs");
    QTest::addColumn<QString>("count");
    QTest::newRow("20 ms apart: joined") << 20 << " 8";
    QTest::newRow("45 ms apart: cut") << 45 << " 4";
}

void TestLinkTiming::commsTestWriteGap() {
    QFETCH(int, spacingMs);
    QFETCH(QString, count);
    Line line;
    QVERIFY(line.opened.ok);
    SharedState state;
    state.CrcTable = standardCrcTable();
    state.UnitAddress = 1;
    state.MsgAddress = 400;
    CountView view;
    CommsTest test(state, line.link, view);
    line.peer.setResponder([&](const QByteArray&) {
        return QVector<PtyPeer::Chunk>{{2, "\x01\x10\x01\x90"},
                                       {spacingMs, QByteArray::fromHex("00024142")}};
    });
    test.writeMessage();
    QVERIFY(view.problems.isEmpty());
    QCOMPARE(view.count, count);
    QCOMPARE(line.peer.requests(),
             QVector<QByteArray>{buildWriteRequest(state.CrcTable, 1, 400, "TEST")});
}

void TestLinkTiming::lineVanishesMidReply() {
    Line line;
    QVERIFY(line.opened.ok);
    QSignalSpy failures(&line.device, &SerialPort::failed);
    line.peer.setResponder([&](const QByteArray&) {
        line.peer.closeMasterAfter(30);
        return QVector<PtyPeer::Chunk>{{2, "0103"}};
    });
    QElapsedTimer clock;
    clock.start();
    const Exchange x = line.link.transact(kReadSlot0, Link::Send::SendAll);
    // Ended by the failure, well before the 80 ms gap would have ended it.
    QVERIFY2(clock.elapsed() < 75, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(x.status, LinkStatus::PortFailed);
    QVERIFY(!x.error.isEmpty());
    QCOMPARE(x.reply.bytes(), QByteArray("0103"));
    QVERIFY(!line.device.isOpen());
    QCOMPARE(failures.count(), 1);

    // Nothing is left spinning on the dead line.
    const qint64 before = cpuMicroseconds();
    QTest::qWait(300);
    const qint64 used = cpuMicroseconds() - before;
    QVERIFY2(used < 30000, qPrintable(QString("%1 us of CPU in 300 ms").arg(used)));
    QCOMPARE(failures.count(), 1);
    QCOMPARE(line.link.transact(kReadSlot0, Link::Send::SendAll).status, LinkStatus::NotOpen);
}

QTEST_GUILESS_MAIN(TestLinkTiming)
#include "test_link_timing.moc"
