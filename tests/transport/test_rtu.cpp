// The RTU transport on the scripted port (RTS, replies, one wait at a time, failures, how a
// reply is framed); settings strings. Expected frames carry the simulated unit's CRC.

#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "support/FakeUnit.h"
#include "support/ScriptedPort.h"
#include "transport/Retry.h"
#include "transport/RtuTransport.h"

#include <QtTest>

static const LinkTiming kFast{120, 30, 15, 20, 1, 2}; // about order and rules, not timing
static const QByteArray kReadSlot0 = QByteArray::fromHex("0103019000144414");
static const CrcTableArray kCrc = standardCrcTable();

Q_DECLARE_METATYPE(QList<QByteArray>)

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

    // A message box opened while a reply is awaited runs its own event loop; the bytes that
    // arrive meanwhile still count, each against its own deadline, and the reply still ends
    // at its gap (30 ms here) or at once when whole.
    void boxDuringTheWait_data() {
        QTest::addColumn<int>("boxAtMs");
        QTest::addColumn<bool>("whole"); // a whole frame, or bytes that only the gap ends
        QTest::newRow("first-byte wait, whole") << 2 << true;
        QTest::newRow("gap, whole") << 12 << true;
        QTest::newRow("first-byte wait, gap ends it") << 2 << false;
        QTest::newRow("gap, gap ends it") << 12 << false;
    }
    void boxDuringTheWait() {
        QFETCH(int, boxAtMs);
        QFETCH(bool, whole);
        ScriptedPort port;
        const QByteArray reply =
            whole ? FakeUnit::framed(QByteArray::fromHex("010328") + QByteArray(40, 'A'))
                  : QByteArray("abcdefghi");
        port.setResponder([&](const QByteArray&) {
            QVector<ScriptedPort::Chunk> chunks;
            for (int at = 0, size = int(reply.size() / 3); at < reply.size(); at += size)
                chunks.append({at == 0 ? 5 : 10, reply.mid(at, size)});
            return chunks;
        });
        RtuTransport transport(port, kCrc, kFast);
        QElapsedTimer clock;
        QTimer::singleShot(boxAtMs, Qt::PreciseTimer, this, [&] {
            QEventLoop box; // stays open past every deadline of the reply
            QTimer::singleShot(400, Qt::PreciseTimer, &box, &QEventLoop::quit);
            box.exec();
        });
        clock.start();
        const Transaction t = transport.transact(1, Pdu::readMessage(400));
        QCOMPARE(t.received, reply);
        QVERIFY(clock.elapsed() >= 400); // the operation goes on once the box is closed
    }

    // What the line heard while nothing was asked, and when, in ms from the start of listening.
    void overheardTimes() {
        ScriptedPort port;
        RtuTransport transport(port, kCrc, kFast);
        QTimer::singleShot(30, Qt::PreciseTimer, &port, [&] { port.injectInput("ab"); });
        QTimer::singleShot(60, Qt::PreciseTimer, &port, [&] { port.injectInput("c"); });
        const Overheard h = transport.overhear(100);
        QVERIFY2(h.count == 3 && h.firstMs >= 29 && h.firstMs < 59 && h.lastMs >= 59 &&
                     h.lastMs <= 100,
                 qPrintable(QString("%1 %2 %3").arg(h.count).arg(h.firstMs).arg(h.lastMs)));
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

    // A whole reply ends as it comes, without the gap after it: the unit's
    // answer, its refusal, and a gateway's "no answer", which counts as silence.
    void wholeRepliesEndAtOnce_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a write confirmed") << QByteArray::fromHex("0110019000010018") << "";
        QTest::newRow("a refusal") << QByteArray::fromHex("018302C0F1")
                                   << "the unit refused the request (Modbus exception 2, illegal "
                                      "data address)";
        QTest::newRow("a gateway's exception 11")
            << QByteArray::fromHex("01830B00F7")
            << "no reply: the gateway answered for the unit (Modbus exception 11, gateway target "
               "device failed to respond)";
        QTest::newRow("a gateway's exception 10")
            << QByteArray::fromHex("01830AC137")
            << "no reply: the gateway answered for the unit (Modbus exception 10, gateway path "
               "unavailable)";
    }
    void wholeRepliesEndAtOnce() {
        QFETCH(QByteArray, reply);
        ScriptedPort port;
        port.answerEveryRequest(reply, 2);
        RtuTransport transport(port, kCrc, kFast);
        QElapsedTimer wall;
        wall.start();
        const QByteArray request =
            reply.at(1) == 0x10 ? Pdu::eraseMessage(400) : Pdu::readMessage(400);
        const Transaction t = transport.transact(1, request);
        QVERIFY2(wall.elapsed() < kFast.replyGapMs, qPrintable(QString::number(wall.elapsed())));
        QCOMPARE(t.received, reply);
        QTEST(checkReply(t, request).reason(), "reason");
    }

    // How a reply to unit 1 is framed, and the PDU it carries.
    void framing_data() {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("framing");
        QTest::addColumn<int>("otherUnit");
        const QByteArray echo = QByteArray::fromHex("0110019000010018");
        QTest::newRow("silent") << QByteArray() << int(Framing::Silent) << 0;
        QTest::newRow("4 bytes") << FakeUnit::framed("\x01\x10") << int(Framing::Garbled) << 0;
        QTest::newRow("bit flipped")
            << QByteArray(echo).replace(3, 1, "\x91") << int(Framing::Garbled) << 0;
        QTest::newRow("unit 9") << FakeUnit::framed(QByteArray::fromHex("091001900001"))
                                << int(Framing::OtherUnit) << 9;
        QTest::newRow("whole") << echo << int(Framing::Whole) << 0;
        QTest::newRow("whole exception")
            << FakeUnit::framed(QByteArray::fromHex("019002")) << int(Framing::Whole) << 0;
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

    // What the transport makes of the line: the adapter's echo, who switches
    // the direction, and the retries above it (transactRetrying). Each answer
    // is what one request brings: "@" first stands for the request's echo,
    // "!" for a garbled one.
    void line_data() {
        QTest::addColumn<int>("echo");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<QByteArray>("received"); // "@": the echo of the request
        QTest::addColumn<QString>("reason");      // of the check; empty when confirmed
        const QByteArray read = Pdu::readMessage(400), erase = Pdu::eraseMessage(400);
        const QByteArray slot = FakeUnit::framed("\x01\x03\x28" + QByteArray(40, 'A'));
        const QByteArray done = QByteArray::fromHex("0110019000010018");
        const QByteArray refused = QByteArray::fromHex("018302C0F1");
        const QString garbled53 = "a garbled reply of 53 bytes (its CRC is wrong)";
        const int A = int(EchoMode::Auto), On = int(EchoMode::On), Off = int(EchoMode::Off);
        const int rts = int(Direction::Rts);
        auto row = [](const char* name, int echo, int direction, int retries, QByteArray request,
                      QList<QByteArray> answers, QByteArray received, QString reason) {
            QTest::newRow(name) << echo << direction << retries << request << answers << received
                                << reason;
        };
        row("echo dropped, read", A, rts, 0, read, {"@" + slot}, slot, {});
        row("echo dropped, write", A, rts, 0, erase, {"@" + done}, done, {});
        // The reply to a write begins as the request does; it is no echo.
        row("no echo, write", A, rts, 0, erase, {done}, done, {});
        row("echo, then silence", A, rts, 0, read, {"@"}, {}, "no reply");
        // Cut short, the write's confirmation is the request's first six bytes: what came,
        // not silence (and so not written again).
        row("a confirmation cut short", A, rts, 1, erase, {done.left(6)}, done.left(6),
            "a garbled reply of 6 bytes (its CRC is wrong)");
        // The unit's time to answer counts from the end of the echo: a reply 60 ms after it
        // (twice the end-of-reply silence, half the first-byte wait) is its answer.
        row("echo, the reply 60 ms later", A, rts, 0, read, {"@+" + slot}, slot, {});
        row("garbled echo", A, rts, 0, read, {"!" + slot}, "!" + slot, garbled53);
        row("echo expected, none came", On, rts, 0, read, {""}, {}, "the line did not echo");
        row("echo expected, reply without", On, rts, 0, read, {slot}, slot, {});
        row("echo off: part of the reply", Off, rts, 0, read, {"@" + slot}, "@" + slot, garbled53);
        row("adapter: RTS untouched", Off, int(Direction::Adapter), 0, read, {slot}, slot, {});
        row("kernel refused: RTS instead", Off, int(Direction::Kernel), 0, read, {slot}, slot, {});
        row("retried after silence", A, rts, 2, read, {"", "@" + slot}, slot, {});
        row("a read retried after garbage", A, rts, 1, read, {"xyz", slot}, slot, {});
        row("a write retried after silence", A, rts, 1, erase, {"", done}, done, {});
        // The unit may have stored a write whatever came back: it goes once.
        row("a write not retried after garbage", A, rts, 2, erase, {"xyz"}, "xyz",
            "a garbled reply of 3 bytes (its CRC is wrong)");
        row("retries used up", A, rts, 1, read, {"", ""}, {}, "no reply");
        row("a confirmed write goes once", A, rts, 2, erase, {done}, done, {});
        row("a refusal is not retried", A, rts, 2, read, {refused}, refused,
            "the unit refused the request (Modbus exception 2, illegal data address)");
    }
    void line() {
        QFETCH(int, echo);
        QFETCH(int, direction);
        QFETCH(QList<QByteArray>, answers);
        QFETCH(QByteArray, received);
        QFETCH(QString, reason);
        ScriptedPort port;
        QByteArray echoOf; // the last request, as it came back
        port.setResponder([&](const QByteArray& request) {
            QByteArray a = answers.value(port.requests().size() - 1);
            echoOf = a.startsWith('!') ? QByteArray(request).replace(3, 1, "\x7F") : request;
            QVector<ScriptedPort::Chunk> chunks;
            if (a.startsWith('@') || a.startsWith('!'))
                chunks.append({1, echoOf});
            a = a.mid(a.startsWith('@') || a.startsWith('!') ? 1 : 0);
            const bool late = a.startsWith('+');
            a = a.mid(late ? 1 : 0);
            if (!a.isEmpty())
                chunks.append({late ? 60 : 3, a});
            return chunks;
        });
        LineOptions line{EchoMode(echo), Direction(direction), 5, 0};
        QFETCH(int, retries);
        line.retries = retries;
        RtuTransport transport(port, kCrc, kFast);
        transport.followLine(&line);
        QSignalSpy notices(&transport, &Transport::notice);
        QFETCH(QByteArray, request);
        const Transaction t = transactRetrying(transport, 1, request, ReplyEnd::Normal, retries);
        if (received.startsWith('@') || received.startsWith('!'))
            received.replace(0, 1, echoOf);
        QCOMPARE(t.received, received);
        QCOMPARE(checkReply(t, request).reason(), reason);
        QCOMPARE(port.requests().size(), qsizetype(answers.size())); // each answer, once
        QCOMPARE(port.log().filter("rts").isEmpty(), direction == int(Direction::Adapter));
        QCOMPARE(notices.count(), direction == int(Direction::Kernel) ? 1 : 0);
    }

    void settingsStrings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // empty: refused
        QTest::addColumn<double>("bits");    // on the line per character: start, data, parity, stop
        for (const auto& [good, bits] :
             {std::pair{"19200,E,7,2", 11.0}, std::pair{"4800,M,8,1", 11.0},
              std::pair{"4800,S,6,1", 9.0}, std::pair{"1200,O,5,1.5", 8.5},
              std::pair{"115200,N,8,1", 10.0}})
            QTest::newRow(good) << good << good << bits;
        QTest::newRow("blanks") << QString(" 1200 , o , 5 , 1.5 ") << QString("1200,O,5,1.5")
                                << 8.5;
        for (const char* bad :
             {"9600", "9600,N,8,1,1", "fast,N,8,1", "0,N,8,1", "300,N,8,1", "-9600,N,8,1",
              "9600,X,8,1", "9600,N,9,1", "9600,N,4,1", "9600,N,8,3", "9600,,8,1"})
            QTest::newRow(bad) << bad << QString() << 0.0;
    }
    void settingsStrings() {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        const auto s = parseLineSettings(text);
        QCOMPARE(s ? s->text() : QString(), parsed);
        QTEST(s ? s->bitsPerCharacter() : 0.0, "bits");
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_rtu.moc"
