// The link taking replies a batch at a time, on a scripted port that counts
// its pauses: bytes the port takes in without a signal as a pause ends (as Qt
// does inside a readyRead handler) still count, and a unit slower than the
// line is not paused for every byte. On a real pseudo-terminal:
// integration/test_link_timing.

#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "support/FakeUnit.h"
#include "support/ScriptedPort.h"
#include "transport/RtuTransport.h"

#include <QtTest>

static const CrcTableArray kCrc = standardCrcTable();

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
