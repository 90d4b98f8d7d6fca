// The retries, one rule above every line: which tries may follow which
// replies, and the same requests on a serial port, through Modbus TCP and
// through RTU over TCP. A write goes again only when nothing came back, and
// never after its connection closed under it. Replies carry the simulated
// unit's CRC, or a Modbus TCP header written here.

#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "support/FakeUnit.h"
#include "support/Gateway.h"
#include "support/ScriptedPort.h"
#include "transport/ReplyOrder.h"
#include "transport/Retry.h"
#include "transport/Transports.h"

#include <QtTest>

static const CrcTableArray kCrc = standardCrcTable();
static const QByteArray kRead = QByteArray::fromHex("0301900014");        // slot 0, 20 registers
static const QByteArray kWrite = QByteArray::fromHex("1001900001024142"); // "AB" to slot 0
static const QByteArray kErase = QByteArray::fromHex("1001900001020000"); // slot 0 cleared

// The reply PDU a scripted answer stands for: "ok" the unit's answer, "exc2"
// a refusal, "gw10" and "gw11" the gateway's exceptions, "junk" nothing
// whole, "" silence.
static QByteArray replyPdu(const QString& answer, const QByteArray& request) {
    const char function = request.at(0);
    if (answer == QLatin1String("ok"))
        return function == 3 ? QByteArray::fromHex("0328") + QByteArray(40, 'A') : request.left(5);
    if (answer.startsWith(QLatin1String("exc")))
        return QByteArray(1, char(function | 0x80)) + char(answer.mid(3).toInt());
    if (answer.startsWith(QLatin1String("gw")))
        return QByteArray(1, char(function | 0x80)) + char(answer.mid(2).toInt());
    return {};
}

// One transaction as a transport would give it, for the pure rule.
static Transaction brought(const QString& answer, const QByteArray& request) {
    Transaction t;
    if (answer == QLatin1String("failed") || answer == QLatin1String("stopped")) {
        t.status =
            answer == QLatin1String("failed") ? TransportStatus::Failed : TransportStatus::Stopped;
        return t;
    }
    if (answer == QLatin1String("junk") || answer == QLatin1String("late")) {
        t.received = "xyz";
        t.framing = Framing::Garbled;
        t.pastDeadline = answer == QLatin1String("late");
        if (t.pastDeadline) { // whole, and yet too late
            t.framing = Framing::Whole;
            t.replyPdu = replyPdu("ok", request);
        }
        return t;
    }
    if (answer == QLatin1String("unit9")) {
        t.received = "\x09";
        t.framing = Framing::OtherUnit;
        t.otherUnit = 9;
        return t;
    }
    t.replyPdu = replyPdu(answer, request);
    t.received = t.replyPdu;
    t.framing = t.received.isEmpty() ? Framing::Silent : Framing::Whole;
    return t;
}

// A line that hands out scripted answers, and whose pause and listening end as told: Failed
// with the line's reason, or another status without one.
struct ScriptedLine : Transport {
    QString endpointName() const override { return QStringLiteral("line"); }
    bool isOpen() const override { return true; }
    void close() override {}
    TransportStatus prepare() override { return TransportStatus::Ok; }
    Transaction exchange(int, const QByteArray& pdu, ReplyEnd) override {
        Transaction t = brought(answers.takeFirst(), pdu);
        t.sent = pdu;
        t.stale = stale;
        return t;
    }
    TransportStatus ends(TransportStatus s) {
        if (s == TransportStatus::Failed)
            emit failed(QStringLiteral("the cable was pulled"));
        return s;
    }
    TransportStatus bulkPause() override { return ends(pauseEnds); }
    Overheard overhear(int) override { return {ends(listenEnds), {}, 0, -1, -1}; }
    QStringList answers;
    QByteArray stale;
    TransportStatus pauseEnds = TransportStatus::Ok, listenEnds = TransportStatus::Ok;
};

class TestRetry : public QObject {
    Q_OBJECT

private slots:
    void rule_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("resend");
        const auto row = [](const char* name, const QByteArray& r, const char* a, bool resend) {
            QTest::newRow(name) << r << QString(a) << resend;
        };
        row("read, silence", kRead, "", true);
        row("read, garbled", kRead, "junk", true);
        row("read, another unit", kRead, "unit9", true);
        row("read, cut off at its deadline", kRead, "late", true);
        row("read, gateway: path unavailable", kRead, "gw10", true);
        row("read, gateway: target silent", kRead, "gw11", true);
        row("read, confirmed", kRead, "ok", false);
        row("read, refused", kRead, "exc2", false);
        row("read, line failed", kRead, "failed", false);
        row("read, stopped", kRead, "stopped", false);
        row("write, silence", kWrite, "", true);
        row("write, gateway: path unavailable", kWrite, "gw10", true);
        row("write, gateway: target silent", kWrite, "gw11", true);
        row("write, garbled", kWrite, "junk", false);
        row("write, another unit", kWrite, "unit9", false);
        row("write, cut off at its deadline", kWrite, "late", false);
        row("write, confirmed", kWrite, "ok", false);
        row("write, refused", kWrite, "exc2", false);
        row("erase, garbled", kErase, "junk", false);
        row("erase, silence", kErase, "", true);
        row("an unknown request, garbled", QByteArray::fromHex("2B0E01"), "junk", false);
    }
    void rule() {
        QFETCH(QByteArray, request);
        QFETCH(QString, answer);
        Transaction t = brought(answer, request);
        t.check = checkReply(t, request); // as the transport hands it out
        QTEST(mayResend(request, t), "resend");
    }

    // The same answers on every line, through the transport the windows and
    // the command line use (makeTransport), with the line's retries.
    void everyLine_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QStringList>("answers"); // one per request that should come
        QTest::addColumn<QString>("reason");      // of the last reply; empty: confirmed
        QTest::addColumn<bool>("quick");          // the comms test's: what one request brought
        const QString gw11 = "no reply: the gateway answered for the unit (Modbus exception 11, "
                             "gateway target device failed to respond)";
        for (const auto& [kindName, kind] :
             {std::pair{"serial", int(Endpoint::Kind::Serial)},
              std::pair{"Modbus TCP", int(Endpoint::Kind::ModbusTcp)},
              std::pair{"RTU over TCP", int(Endpoint::Kind::RtuOverTcp)}}) {
            const auto row = [kindName = kindName, kind = kind](
                                 const char* name, const QByteArray& request, int retries,
                                 QStringList answers, QString reason, bool quick = false) {
                QTest::addRow("%s: %s", kindName, name)
                    << kind << request << retries << answers << reason << quick;
            };
            row("read, silence, then the reply", kRead, 1, {"", "ok"}, {});
            row("read, garbled, then the reply", kRead, 2, {"junk", "ok"}, {});
            row("read, retries used up", kRead, 2, {"", "", ""}, "no reply");
            row("read, no retries asked", kRead, 0, {""}, "no reply");
            row("read, refused once", kRead, 3, {"exc2"},
                "the unit refused the request (Modbus exception 2, illegal data address)");
            row("read, gateway: path unavailable, then the reply", kRead, 1, {"gw10", "ok"}, {});
            row("write, silence, then the reply", kWrite, 2, {"", "ok"}, {});
            row("write, confirmed once", kWrite, 3, {"ok"}, {});
            row("write, gateway: target silent twice", kWrite, 1, {"gw11", "gw11"}, gw11);
            row("the comms test's read, silence: once", kRead, 2, {""}, "no reply", true);
            row("the comms test's write, silence: once", kWrite, 2, {""}, "no reply", true);
            row("erase, garbled: never again", kErase, 2, {"junk"},
                kind == int(Endpoint::Kind::ModbusTcp)
                    ? "a garbled reply of 3 bytes (cut short, or its MBAP header is wrong)"
                    : "a garbled reply of 3 bytes (its CRC is wrong)");
        }
    }
    void everyLine() {
        QFETCH(int, kind);
        QFETCH(QByteArray, request);
        QFETCH(int, retries);
        QFETCH(QStringList, answers);
        const bool mbap = kind == int(Endpoint::Kind::ModbusTcp);
        // What goes on the line for an answer; junk is three bytes nothing can take.
        const auto bytes = [&](const QString& answer, const QByteArray& frame) -> QByteArray {
            if (answer == QLatin1String("junk"))
                return QByteArray("xyz");
            const QByteArray pdu = replyPdu(answer, request);
            if (pdu.isEmpty())
                return {};
            return mbap ? mbapBytes(mbapTransaction(frame), 1, pdu)
                        : FakeUnit::framed("\x01" + pdu);
        };
        QList<QByteArray> seen;
        ScriptedPort port;
        port.setResponder([&](const QByteArray& frame) {
            seen << frame;
            const QByteArray b = bytes(answers.value(int(seen.size()) - 1), frame);
            return b.isEmpty() ? QVector<Chunk>{} : QVector<Chunk>{{2, b}};
        });
        Gateway gw([&](QTcpSocket& s, const QByteArray& frame, int index) {
            seen << frame;
            s.write(bytes(answers.value(index), frame));
        });
        LineOptions line{EchoMode::Off, Direction::Adapter, 5, retries};
        const auto t = makeTransport(port, kCrc, {150, &line});
        if (kind != int(Endpoint::Kind::Serial))
            t->choose(gw.endpoint(Endpoint::Kind(kind)));
        QSignalSpy notes(t.get(), &Transport::traceNote);
        QSignalSpy sent(t.get(), &Transport::frameSent), got(t.get(), &Transport::frameReceived);
        QFETCH(bool, quick);
        const Transaction x = t->transact(1, request, quick ? ReplyEnd::Quick : ReplyEnd::Normal);
        QCOMPARE(x.status, TransportStatus::Ok);
        QCOMPARE(seen.size(), answers.size());
        for (const QByteArray& frame : seen) // the same request each time
            QCOMPARE(mbap ? frame.mid(7) : frame.mid(1, frame.size() - 3), request);
        QTEST(checkReply(x, request).reason(), "reason");
        QCOMPARE(notes.count(), answers.size() - 1); // each further try is told
        // The trace and the lamps see every frame of every try: a reply whenever one came.
        QCOMPARE(sent.count(), answers.size());
        QCOMPARE(got.count(), answers.size() - answers.count(QString()));
        if (!x.received.isEmpty())
            QCOMPARE(got.last().at(0).toByteArray(), x.received);
    }

    // A gateway that closes the connection right after a write arrives: the
    // write went, so it is never sent again, retries or not; the failure
    // names the gateway once.
    void aWriteNeverTwice_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("retries");
        QTest::newRow("Modbus TCP, no retries") << int(Endpoint::Kind::ModbusTcp) << 0;
        QTest::newRow("Modbus TCP, 2 retries") << int(Endpoint::Kind::ModbusTcp) << 2;
        QTest::newRow("RTU over TCP, no retries") << int(Endpoint::Kind::RtuOverTcp) << 0;
        QTest::newRow("RTU over TCP, 2 retries") << int(Endpoint::Kind::RtuOverTcp) << 2;
    }
    void aWriteNeverTwice() {
        QFETCH(int, kind);
        QFETCH(int, retries);
        const bool mbap = kind == int(Endpoint::Kind::ModbusTcp);
        int writes = 0;
        Gateway gw([&](QTcpSocket& s, const QByteArray& frame, int) {
            const QByteArray pdu = mbap ? frame.mid(7) : frame.mid(1, frame.size() - 3);
            if (pdu.startsWith(char(Pdu::kWriteMultipleRegisters))) {
                ++writes;
                s.disconnectFromHost();
                return;
            }
            const QByteArray reply = QByteArray::fromHex("0328") + QByteArray(40, 'A');
            s.write(mbap ? mbapBytes(mbapTransaction(frame), 1, reply)
                         : FakeUnit::framed("\x01" + reply));
        });
        ScriptedPort port;
        LineOptions line{EchoMode::Off, Direction::Adapter, 5, retries};
        const auto t = makeTransport(port, kCrc, {300, &line});
        t->choose(gw.endpoint(Endpoint::Kind(kind)));
        QSignalSpy failures(t.get(), &Transport::failed);
        // A read first, so that the write goes on a connection already in use.
        QVERIFY(checkReply(t->transact(1, kRead), kRead).confirmed());
        const Transaction x = t->transact(1, kWrite);
        QTest::qWait(100); // anything sent late would arrive meanwhile
        QCOMPARE(writes, 1);
        QCOMPARE(x.status, TransportStatus::Failed);
        QCOMPARE(x.error, gw.hostPort() + " closed the connection in the middle of a request");
        QCOMPARE(failures.count(), 1);
        QCOMPARE(gw.connections, 1);
    }

    // Bytes found waiting when a request went are the late reply the line owed (here a whole
    // read reply from unit 1): they settle it, so that the next request to the unit need not
    // wait for it, and the line's observer hears them. A reply that may be an owed one is not
    // taken.
    void owedReplies() {
        ScriptedLine line;
        struct Heard : TransactionObserver {
            void transactionDone(int, const QByteArray&, const Transaction&, int) override {}
            void idleBytes(const QByteArray& bytes, qint64) override { idle += bytes; }
            QByteArray idle;
        } observer;
        ReplyOrder order(0, 30); // no wait for a turn: only the bytes can settle the read
        line.answers = {"", "ok"};
        transactRetrying(line, 1, kRead, {}, 0, &order, &observer);
        QVERIFY(order.owes(1));
        const QByteArray late = QByteArray::fromHex("010328") + QByteArray(40, 'A') + "\x12\x34";
        line.stale = late;
        const Transaction w = transactRetrying(line, 1, kWrite, {}, 0, &order, &observer);
        QVERIFY(checkReply(w, kWrite).confirmed() && !order.owes(1));
        QCOMPARE(order.droppedReplies(), 1);
        QCOMPARE(order.droppedBytes(), late.size());
        QCOMPARE(observer.idle, late);
        // Before the unit has shown how late it is, a reply at once to a read of another slot
        // could be the missed read's late answer: it is not taken, and the check says why.
        ReplyOrder fresh(0, 30);
        line.stale.clear();
        line.answers = {"", "ok"};
        transactRetrying(line, 1, kRead, {}, 0, &fresh, &observer);
        QTest::qWait(2); // the next request goes later than the missed one
        const QByteArray read7 = QByteArray::fromHex("03021C0014");
        const Transaction r = transactRetrying(line, 1, read7, {}, 0, &fresh, &observer);
        QCOMPARE(checkReply(r, read7).reason(),
                 "a reply of 42 bytes that may be the late answer to an earlier request");
    }

    // A line lost in the pause before a further try, or while a unit's owed reply is awaited,
    // ends the request there: nothing more is sent, and the reason is the line's.
    void aLineLostBetweenTries() {
        for (const auto& [ends, reason] :
             {std::pair{TransportStatus::Failed, "the cable was pulled"},
              std::pair{TransportStatus::NotOpen, "the port is not open"},
              std::pair{TransportStatus::Stopped, "the request was stopped"}}) {
            ScriptedLine line;
            line.answers = {"", "ok"};
            line.pauseEnds = ends;
            const Transaction t = transactRetrying(line, 1, kRead, {}, 2);
            QCOMPARE(line.answers, QStringList{"ok"});
            QCOMPARE(t.status, ends);
            QCOMPARE(t.error, reason);
            ReplyOrder order(400, 30); // the silent read's reply is owed for 400 ms
            line.pauseEnds = TransportStatus::Ok;
            line.listenEnds = ends;
            line.answers = {"", "ok"};
            transactRetrying(line, 1, kRead, {}, 0, &order);
            const Transaction w = transactRetrying(line, 1, kWrite, {}, 0, &order);
            QCOMPARE(line.answers, QStringList{"ok"});
            QCOMPARE(w.status, ends);
            QCOMPARE(w.error, reason);
        }
        QVERIFY(!isReadRequest({}));
    }
};

QTEST_GUILESS_MAIN(TestRetry)
#include "test_retry.moc"
