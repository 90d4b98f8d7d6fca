// The link against the scripted port: the transmit order around RTS, the
// receive timing and buffer rules, refusal of nested requests, port failures,
// and the Qt port's settings and messages.

#include "link/Link.h"
#include "link/QtSerialPortDevice.h"
#include "support/ScriptedPort.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

// Short waits: these tests are about order and rules, not the real timing.
LinkTiming fastTiming() {
    LinkTiming t;
    t.firstByteMs = 120;
    t.replyGapMs = 30;
    t.commsTestGapMs = 15;
    t.bulkPauseMs = 20;
    t.turnaroundMs = 1;
    t.sendAllSettleMs = 2;
    return t;
}

const QByteArray kReadSlot0 = QByteArray::fromHex("010301900014"
                                                  "4414");

QByteArray pattern(int n) {
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(static_cast<char>(i * 7 + 1));
    return b;
}

} // namespace

class TestLink : public QObject {
    Q_OBJECT

private slots:
    void transmitOrder_data();
    void transmitOrder();
    void rtsNotSwitchableIsNotedOnce();
    void noReplyLeavesThePreset();
    void gapJoinsOrCutsTheReply_data();
    void gapJoinsOrCutsTheReply();
    void bytesPastTheLastCellAreDropped();
    void bytesBufferedBeforeTheWaitCount();
    void nestedRequestsAreRefused();
    void portFailureEndsTheWaitAtOnce();
    void portFailureWhileSending();
    void portFailureDuringDelayLoop();
    void closedPort();
    void settingsStrings_data();
    void settingsStrings();
    void portProblemText();
};

void TestLink::transmitOrder_data() {
    QTest::addColumn<bool>("sendAll");
    QTest::newRow("SendAll") << true;
    QTest::newRow("WriteAll") << false;
}

void TestLink::transmitOrder() {
    QFETCH(bool, sendAll);
    ScriptedPort port;
    port.answerEveryRequest(QByteArray::fromHex("0103"), 5);
    Link link(port, fastTiming());
    QStringList signalsSeen;
    connect(&link, &Link::sending, this,
            [&](bool on) { signalsSeen << (on ? "sending" : "sent"); });
    connect(&link, &Link::frameSent, this,
            [&](const QByteArray& b) { signalsSeen << "frame " + b.toHex(); });
    connect(&link, &Link::receiving, this,
            [&](bool on) { signalsSeen << (on ? "receiving" : "received"); });
    connect(&link, &Link::frameReceived, this,
            [&](const QByteArray& b) { signalsSeen << "reply " + b.toHex(); });

    const Exchange x =
        link.transact(kReadSlot0, sendAll ? Link::Send::SendAll : Link::Send::WriteAll);
    QVERIFY(x.ok());
    QCOMPARE(x.reply.bytes(), QByteArray::fromHex("0103"));
    // Pending input goes first; RTS is up before the bytes and drops only
    // once they are on the wire.
    QCOMPARE(port.log().mid(0, 5),
             QStringList({"discard", "rts on", "write 8", "drain", "rts off"}));
    QVERIFY(!port.rtsDroppedBeforeDrain());
    QCOMPARE(port.requests(), QVector<QByteArray>{kReadSlot0});
    QCOMPARE(signalsSeen, QStringList({"sending", "frame " + kReadSlot0.toHex(), "sent",
                                       "receiving", "received", "reply 0103"}));
}

void TestLink::rtsNotSwitchableIsNotedOnce() {
    ScriptedPort port;
    port.setRtsSwitchable(false);
    port.answerEveryRequest("x", 1);
    Link link(port, fastTiming());
    QSignalSpy notes(&link, &Link::traceNote);
    QSignalSpy failures(&link, &Link::portFailed);
    for (int i = 0; i < 3; ++i)
        QVERIFY(link.transact(kReadSlot0, Link::Send::WriteAll).ok());
    QCOMPARE(notes.count(), 1);
    QVERIFY(notes.first().first().toString().contains("RTS"));
    QCOMPARE(failures.count(), 0);
    QCOMPARE(port.requests().size(), 3);
}

void TestLink::noReplyLeavesThePreset() {
    ScriptedPort port;
    port.staysilent();
    const LinkTiming t = fastTiming();
    Link link(port, t);
    QSignalSpy replies(&link, &Link::frameReceived);
    QElapsedTimer clock;
    clock.start();
    const Exchange x = link.transact(kReadSlot0, Link::Send::SendAll);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(x.ok());
    QCOMPARE(x.reply.count, 0);
    QVERIFY(!x.reply.answered());
    for (int i = 1; i <= 40; ++i)
        QCOMPARE(x.reply.cells[static_cast<std::size_t>(i)], qint16(255));
    QCOMPARE(x.reply.cells[41], qint16(0));
    QVERIFY2(elapsed >= t.firstByteMs, qPrintable(QString::number(elapsed)));
    QCOMPARE(replies.count(), 0);
    QCOMPARE(link.TimeOutFlag(), 0);
}

void TestLink::gapJoinsOrCutsTheReply_data() {
    QTest::addColumn<int>("spacingMs");
    QTest::addColumn<int>("expectedCount");
    // The gap is 30 ms here.
    QTest::newRow("10 ms apart: one reply") << 10 << 9;
    QTest::newRow("60 ms apart: cut after the first chunk") << 60 << 3;
}

void TestLink::gapJoinsOrCutsTheReply() {
    QFETCH(int, spacingMs);
    QFETCH(int, expectedCount);
    ScriptedPort port;
    port.setResponder([&](const QByteArray&) {
        return QVector<ScriptedPort::Chunk>{{5, "abc"}, {spacingMs, "def"}, {spacingMs, "ghi"}};
    });
    Link link(port, fastTiming());
    const Exchange first = link.transact(kReadSlot0, Link::Send::SendAll);
    QVERIFY(first.ok());
    QCOMPARE(first.reply.count, expectedCount);
    QCOMPARE(first.reply.bytes(), QByteArray("abcdefghi").left(expectedCount));

    // What came after the cut is gone before the next request.
    QTest::qWait(3 * spacingMs);
    port.answerEveryRequest("Z", 1);
    const Exchange second = link.transact(kReadSlot0, Link::Send::SendAll);
    QCOMPARE(second.reply.bytes(), QByteArray("Z"));
}

void TestLink::bytesPastTheLastCellAreDropped() {
    ScriptedPort port;
    const QByteArray flood = pattern(700);
    port.setResponder([&](const QByteArray&) {
        return QVector<ScriptedPort::Chunk>{
            {2, flood.left(300)}, {10, flood.mid(300, 300)}, {10, flood.mid(600)}};
    });
    const LinkTiming t = fastTiming();
    Link link(port, t);
    QElapsedTimer clock;
    clock.start();
    const Exchange x = link.transact(kReadSlot0, Link::Send::SendAll);
    QVERIFY(x.ok());
    QCOMPARE(x.reply.count, Reply::kCells);
    QCOMPARE(x.reply.bytes(), flood.left(Reply::kCells));
    // The bytes past cell 512 still kept the reply going.
    QVERIFY(clock.elapsed() >= 22 + t.replyGapMs);
    QCOMPARE(port.inputCount(), 0);
}

void TestLink::bytesBufferedBeforeTheWaitCount() {
    ScriptedPort port;
    Link link(port, fastTiming());
    port.injectInput("early");
    Reply r;
    QCOMPARE(link.GetRcveData(r), LinkStatus::Ok);
    QCOMPARE(r.bytes(), QByteArray("early"));
}

void TestLink::nestedRequestsAreRefused() {
    ScriptedPort port;
    port.answerEveryRequest("outer", 40);
    Link link(port, fastTiming());
    Exchange inner;
    LinkStatus innerWait = LinkStatus::Ok, innerDelay = LinkStatus::Ok, innerSend = LinkStatus::Ok;
    // An event handler that runs while the outer request waits for its reply.
    QTimer::singleShot(15, Qt::PreciseTimer, this, [&] {
        inner = link.transact(kReadSlot0, Link::Send::SendAll);
        Reply r;
        innerWait = link.GetRcveData(r);
        innerDelay = link.DelayLoop(5);
        innerSend = link.WriteAll("zz");
    });
    const Exchange outer = link.transact(kReadSlot0, Link::Send::SendAll);
    QVERIFY(outer.ok());
    QCOMPARE(outer.reply.bytes(), QByteArray("outer"));
    QCOMPARE(inner.status, LinkStatus::Busy);
    QCOMPARE(innerWait, LinkStatus::Busy);
    QCOMPARE(innerDelay, LinkStatus::Busy);
    QCOMPARE(innerSend, LinkStatus::Busy);
    QCOMPARE(port.requests().size(), 1); // the refused ones sent nothing
}

void TestLink::portFailureEndsTheWaitAtOnce() {
    ScriptedPort port;
    port.setResponder([](const QByteArray&) { return QVector<ScriptedPort::Chunk>{{5, "par"}}; });
    LinkTiming t = fastTiming();
    t.firstByteMs = 2000;
    t.replyGapMs = 2000;
    Link link(port, t);
    QSignalSpy failures(&link, &Link::portFailed);
    QSignalSpy receiving(&link, &Link::receiving);
    QTimer::singleShot(20, Qt::PreciseTimer, this, [&] { port.failNow("device vanished"); });
    QElapsedTimer clock;
    clock.start();
    const Exchange x = link.transact(kReadSlot0, Link::Send::SendAll);
    QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(x.status, LinkStatus::PortFailed);
    QCOMPARE(x.error, QString("device vanished"));
    QCOMPARE(x.reply.bytes(), QByteArray("par")); // what came before is kept
    QCOMPARE(failures.count(), 1);
    QCOMPARE(receiving.last().first().toBool(), false); // the lamp goes out
    // Afterwards the port is closed, and says so at once.
    QCOMPARE(link.transact(kReadSlot0, Link::Send::SendAll).status, LinkStatus::NotOpen);
    QCOMPARE(failures.count(), 1);
}

void TestLink::portFailureWhileSending() {
    ScriptedPort port;
    port.answerEveryRequest("never", 1);
    LinkTiming t = fastTiming();
    t.sendAllSettleMs = 50;
    Link link(port, t);
    QSignalSpy failures(&link, &Link::portFailed);
    QSignalSpy sending(&link, &Link::sending);
    QTimer::singleShot(10, Qt::PreciseTimer, this, [&] { port.failNow("unplugged"); });
    const Exchange x = link.transact(kReadSlot0, Link::Send::SendAll);
    QCOMPARE(x.status, LinkStatus::PortFailed);
    QCOMPARE(x.error, QString("unplugged"));
    QCOMPARE(x.reply.count, 0);
    QCOMPARE(failures.count(), 1);
    QCOMPARE(sending.last().first().toBool(), false);
    QVERIFY(port.requests().isEmpty()); // never drained onto the wire
    QCOMPARE(link.RtsOff(), LinkStatus::NotOpen);
}

void TestLink::portFailureDuringDelayLoop() {
    ScriptedPort port;
    Link link(port, fastTiming());
    QTimer::singleShot(10, Qt::PreciseTimer, this, [&] { port.failNow("gone"); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(link.DelayLoop(1000), LinkStatus::PortFailed);
    QVERIFY(clock.elapsed() < 200);
    // A pause needs no port: with the port closed it simply lasts its time.
    clock.restart();
    QCOMPARE(link.DelayLoop(40), LinkStatus::Ok);
    QVERIFY(clock.elapsed() >= 40);
    QCOMPARE(link.TimeOutFlag(), 1);
}

void TestLink::closedPort() {
    ScriptedPort port;
    port.close();
    Link link(port, fastTiming());
    const Exchange x = link.transact(kReadSlot0, Link::Send::WriteAll);
    QCOMPARE(x.status, LinkStatus::NotOpen);
    QVERIFY(x.error.contains(port.portName()));
    QCOMPARE(link.SendAll(kReadSlot0), LinkStatus::NotOpen);
    QVERIFY(port.log().isEmpty());
}

void TestLink::settingsStrings_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("9600,N,8,1") << "9600,N,8,1" << true << 9600 << int(QSerialPort::NoParity) << 8
                                << int(QSerialPort::OneStop);
    QTest::newRow("19200,E,7,2") << "19200,E,7,2" << true << 19200 << int(QSerialPort::EvenParity)
                                 << 7 << int(QSerialPort::TwoStop);
    QTest::newRow("1200,o,5,1.5 blanks")
        << " 1200 , o , 5 , 1.5 " << true << 1200 << int(QSerialPort::OddParity) << 5
        << int(QSerialPort::OneAndHalfStop);
    QTest::newRow("mark") << "4800,M,8,1" << true << 4800 << int(QSerialPort::MarkParity) << 8
                          << int(QSerialPort::OneStop);
    QTest::newRow("space") << "4800,S,6,1" << true << 4800 << int(QSerialPort::SpaceParity) << 6
                           << int(QSerialPort::OneStop);
    for (const char* bad :
         {"9600", "9600,N,8", "9600,N,8,1,1", "fast,N,8,1", "0,N,8,1", "-9600,N,8,1", "9600,X,8,1",
          "9600,N,9,1", "9600,N,4,1", "9600,N,8,3", "9600,,8,1"})
        QTest::newRow(bad) << bad << false << 0 << 0 << 0 << 0;
}

void TestLink::settingsStrings() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto parsed = parseLineSettings(text);
    QCOMPARE(parsed.has_value(), valid);
    QtSerialPortDevice device;
    const PortStatus s = device.setSettings(text);
    QCOMPARE(s.ok, valid);
    if (!valid) {
        QVERIFY2(s.reason.contains('"' + text + '"'), qPrintable(s.reason));
        QCOMPARE(device.settings(), QString("9600,N,8,1")); // unchanged
        return;
    }
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QCOMPARE(parsed->baud, baud);
    QCOMPARE(int(parsed->parity), parity);
    QCOMPARE(int(parsed->dataBits), dataBits);
    QCOMPARE(int(parsed->stopBits), stopBits);
    QCOMPARE(device.settings(), text);
    // The empty string keeps what is in force.
    QVERIFY(device.setSettings(QString()).ok);
    QCOMPARE(device.settings(), text);
}

void TestLink::portProblemText() {
    QCOMPARE(describePortProblem("ttyUSB0", PortStatus::failure("Permission denied", true)),
             QString("Cannot open /dev/ttyUSB0: Permission denied. Add your user to the dialout "
                     "group (sudo usermod -aG dialout $USER), then log in again."));
    QCOMPARE(describePortProblem("/dev/pts/4", PortStatus::failure("No such file or directory")),
             QString("Cannot open /dev/pts/4: No such file or directory."));

    QtSerialPortDevice device;
    device.setPortName("/dev/qv840-no-such-port");
    const PortStatus s = device.open();
    QVERIFY(!s.ok);
    QVERIFY(!s.permissionDenied);
    QVERIFY2(!s.reason.isEmpty(), "the system's reason is kept");
    QVERIFY(!device.isOpen());
    QVERIFY(!device.setRts(true));
    QVERIFY(!device.write("x"));
    QVERIFY(!device.drainOutput());
    QCOMPARE(device.readByte(), -1);
}

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
