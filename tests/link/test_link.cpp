// The link's batches on a scripted port that counts its pauses.

#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "support/FakeUnit.h"
#include "support/ScriptedPort.h"
#include "transport/RtuTransport.h"

#include <QtTest>

static const CrcTableArray kCrc = standardCrcTable();

// `late` comes in as a pause ends, without a signal.
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
    // The last byte taken in without a signal (as Qt does inside a readyRead
    // handler) as a pause ends; a unit slower than the line, taken byte by
    // byte once a batch came empty, not with a pause for every byte.
    void batches_data() {
        QTest::addColumn<int>("spacingMs"); // 0: 37 bytes, 7 more, the last one late
        QTest::addColumn<int>("mostPauses");
        QTest::newRow("the last byte without a signal") << 0 << 2;
        QTest::newRow("a byte every 6 ms") << 6 << 2;
    }
    void batches() {
        QFETCH(int, spacingMs);
        QFETCH(int, mostPauses);
        PausingPort port;
        RtuTransport link{port, kCrc};
        const QByteArray reply = FakeUnit::framed("\x01\x03\x28" + QByteArray(40, 'A'));
        QVector<Chunk> chunks{{2, reply.left(37)}, {1, reply.mid(37, 7)}};
        port.late = reply.right(1);
        if (spacingMs > 0) {
            port.late.clear();
            chunks.clear();
            for (char c : reply)
                chunks.append({spacingMs, QByteArray(1, c)});
        }
        port.setResponder([&](const QByteArray&) { return chunks; });
        QCOMPARE(link.transact(1, Pdu::readMessage(400)).received, reply);
        QVERIFY2(port.pauses <= mostPauses, qPrintable(QString::number(port.pauses)));
    }

    // One wait at a time on the line: a request or a listening asked while the line listens is
    // refused as busy, and sends nothing. A stop ends the listening at once.
    void oneWaitAtATime() {
        ScriptedPort port;
        RtuTransport link{port, kCrc};
        Transaction during;
        TransportStatus heardDuring{};
        QTimer::singleShot(30, Qt::PreciseTimer, &link, [&] {
            during = link.transact(1, Pdu::readMessage(400));
            heardDuring = link.overhear(10).status;
            link.requestStop();
        });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(link.overhear(3000).status, TransportStatus::Stopped);
        QVERIFY(clock.elapsed() < 2000 && heardDuring == TransportStatus::Busy);
        QVERIFY(during.status == TransportStatus::Busy && port.requests().isEmpty());
    }

    // A port that takes no bytes fails the request at once, named once; nothing is waited for.
    void aWriteRefused() {
        struct RefusingPort : ScriptedPort {
            bool write(const QByteArray&) override { return false; }
        } port;
        port.answerEveryRequest(FakeUnit::framed("\x01\x03\x28" + QByteArray(40, 'A')));
        RtuTransport link{port, kCrc};
        QSignalSpy failed(&link, &Transport::failed);
        const Transaction t = link.transact(1, Pdu::readMessage(400));
        QVERIFY(t.status == TransportStatus::Failed && t.received.isEmpty());
        QCOMPARE(failed.value(0).value(0).toString(), "Sending on scripted failed.");
        QCOMPARE(failed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
