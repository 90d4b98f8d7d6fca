// requestStop() on every line: the wait for a reply, the pause before a
// request and the wait for a connection end within half a second (in
// practice at once), the call comes back Stopped and is not retried; a
// request frame already going out is sent whole; a stop while nothing waits
// changes nothing; and the line works as before afterwards. A run's stop.

#include "link/Crc.h"
#include "support/FakeUnit.h"
#include "support/Gateway.h"
#include "support/ScriptedPort.h"
#include "transport/RtuTransport.h"
#include "transport/Transports.h"
#include "transport/UnitRun.h"

#include <QtTest>

static const CrcTableArray kCrc = standardCrcTable();
static const QByteArray kRead = QByteArray::fromHex("0301900014");
static const QByteArray kReadReply = QByteArray::fromHex("0328") + QByteArray(40, 'A');
constexpr int kStopAtMs = 150;

class TestStop : public QObject {
    Q_OBJECT

private slots:
    void stopEndsTheWait_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("phase");
        for (const auto& [name, kind] :
             {std::pair{"serial", int(Endpoint::Kind::Serial)},
              std::pair{"Modbus TCP", int(Endpoint::Kind::ModbusTcp)},
              std::pair{"RTU over TCP", int(Endpoint::Kind::RtuOverTcp)}}) {
            QTest::addRow("%s, awaiting the reply", name) << kind << "reply";
            QTest::addRow("%s, in the pause", name) << kind << "pause";
        }
        QTest::newRow("Modbus TCP, connecting") << int(Endpoint::Kind::ModbusTcp) << "connect";
        QTest::newRow("Modbus TCP, connecting before a run")
            << int(Endpoint::Kind::ModbusTcp) << "prepare";
    }
    void stopEndsTheWait() {
        QFETCH(int, kind);
        QFETCH(QString, phase);
        bool answer = false; // only after the stop
        const QByteArray rtuReply = FakeUnit::framed("\x01" + kReadReply);
        ScriptedPort port;
        port.setResponder([&](const QByteArray&) {
            return answer ? QVector<Chunk>{{2, rtuReply}} : QVector<Chunk>{};
        });
        Gateway gw([&](QTcpSocket& s, const QByteArray& r, int) {
            if (answer)
                s.write(kind == int(Endpoint::Kind::ModbusTcp)
                            ? mbapBytes(mbapTransaction(r), 1, kReadReply)
                            : rtuReply);
        });
        Blackhole blackhole;
        // Waits far longer than the stop may take: 3 s for the first byte, a
        // second's pause, 3 retries that must not follow a stop.
        LineOptions line{EchoMode::Off, Direction::Adapter, 1000, 3};
        const auto t = makeTransport(port, kCrc, {3000, &line});
        const bool connecting = phase == QLatin1String("connect") || phase == "prepare";
        if (connecting)
            t->choose({Endpoint::Kind::ModbusTcp, QStringLiteral("127.0.0.1"), blackhole.port()});
        else if (kind != int(Endpoint::Kind::Serial))
            t->choose(gw.endpoint(Endpoint::Kind(kind)));
        QSignalSpy failures(t.get(), &Transport::failed);
        QTimer::singleShot(kStopAtMs, Qt::PreciseTimer, this, [&] { t->requestStop(); });
        QElapsedTimer wall;
        wall.start();
        TransportStatus status = TransportStatus::Ok;
        if (phase == QLatin1String("pause"))
            status = t->bulkPause();
        else if (phase == QLatin1String("prepare"))
            status = t->prepare();
        else
            status = t->transact(1, kRead).status;
        const qint64 afterStop = wall.elapsed() - kStopAtMs;
        qInfo("ended %lld ms after the stop", afterStop);
        QCOMPARE(status, TransportStatus::Stopped);
        QVERIFY2(afterStop >= 0 && afterStop < 500, qPrintable(QString::number(afterStop)));
        QCOMPARE(failures.count(), 0);       // a stop is no failure of the line
        if (phase == QLatin1String("reply")) // once: no retry after a stop
            QCOMPARE(kind == int(Endpoint::Kind::Serial) ? port.requests().size() : gw.count, 1);
        if (connecting)
            return;
        // The next request goes and is answered as ever.
        answer = true;
        const Transaction next = t->transact(1, kRead);
        QVERIFY(checkReply(next, kRead).confirmed());
    }

    // A stop asked for while nothing waits is not kept for the next request.
    void stopWhileNothingWaits() {
        ScriptedPort port;
        port.answerEveryRequest(FakeUnit::framed("\x01" + kReadReply), 2);
        RtuTransport t(port, kCrc);
        t.requestStop();
        const Transaction x = t.transact(1, kRead);
        QVERIFY(x.ok() && checkReply(x, kRead).confirmed());
    }

    // A run sends only to the unit it names, and nothing once refused the line. Its owner's stop
    // ends its wait, also after another run of the owner was refused meanwhile.
    void aRunsStop() {
        ScriptedPort port; // a silent unit
        RtuTransport t(port, kCrc, {3000});
        RunStop stop(t);
        UnitRun run(t, stop, 7);
        QVERIFY(run.claimed() &&
                UnitRun(t, stop, 9).exchange(kRead).status == TransportStatus::Busy);
        QTimer::singleShot(kStopAtMs, Qt::PreciseTimer, this, [&] { stop.requestStop(); });
        QCOMPARE(run.exchange(kRead).status, TransportStatus::Stopped);
        QCOMPARE(port.requests(), QVector<QByteArray>{QByteArray::fromHex("0703019000144472")});
    }

    // A stop while the request is going out (here in the 200 ms that RTS is
    // held up after a read's last byte) lets the frame go whole, RTS down
    // only then, and does not await the reply.
    void theFrameGoesOutWhole() {
        ScriptedPort port;
        port.answerEveryRequest(FakeUnit::framed("\x01" + kReadReply), 50);
        RtuTransport t(port, kCrc, {3000, 80, 30, 300, 1, 200});
        QTimer::singleShot(50, Qt::PreciseTimer, this, [&] { t.requestStop(); });
        QElapsedTimer wall;
        wall.start();
        const Transaction x = t.transact(1, kRead);
        const qint64 ms = wall.elapsed();
        QCOMPARE(x.status, TransportStatus::Stopped);
        QVERIFY2(ms >= 199 && ms < 260, qPrintable(QString::number(ms)));
        QCOMPARE(port.requests(), QVector<QByteArray>{QByteArray::fromHex("0103019000144414")});
        QCOMPARE(port.log().join(','), "discard,rts on,write 8,drain,rts off");
    }
};

QTEST_GUILESS_MAIN(TestStop)
#include "test_stop.moc"
