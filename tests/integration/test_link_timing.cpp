// The link on a pseudo-terminal through the Qt port, with the real waits: the
// first-byte time-out, the reply gaps, leftovers of a cut reply, a vanishing line.

#include "link/CommsTest.h"
#include "link/Crc.h"
#include "link/Link.h"
#include "link/QtSerialPortDevice.h"
#include "support/PtyPeer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <ctime>

namespace {

const QByteArray kReadSlot0 = QByteArray::fromHex("0103019000144414");

class CountView : public CommsTestView {
public:
    void setUnitAddressText(const QString&) override {}
    void setTransmitted(const QString&) override {}
    void setReceived(const QString&) override {}
    void setStoredText(const QString&) override {}
    void setByteCount(const QString& t) override { count = t; }
    void setSending(bool) override {}
    void setReceiving(bool) override {}
    QString messageText() const override { return QStringLiteral("TEST"); }
    void clearMessageText() override {}
    void showProblem(const QString& t) override { count = t; } // shown where it fails
    QString count;
};

// The tool's side: the Qt port on the peer's terminal, the product's timing.
struct Line {
    PtyPeer peer;
    QtSerialPortDevice device;
    Link link{device};
    PortStatus opened = (device.setPortName(peer.slavePath()), device.open()); // else NotOpen
};

} // namespace

class TestLinkTiming : public QObject {
    Q_OBJECT

private slots:
    void firstByteTimeOut() {
        Line line;
        QSignalSpy notes(&line.link, &Link::traceNote);
        QElapsedTimer sinceOnWire;
        connect(&line.link, &Link::sending, this, [&](bool on) {
            if (!on)
                sinceOnWire.start();
        });
        for (int round = 0; round < 2; ++round) {
            const Exchange x = line.link.transact(kReadSlot0, Link::Send::SendAll);
            const double ms = static_cast<double>(sinceOnWire.nsecsElapsed()) / 1e6;
            QVERIFY(x.ok() && x.reply.count == 0);
            QVERIFY2(ms >= 500.0 && ms < 515.0, qPrintable(QString::number(ms)));
        }
        QCOMPARE(line.peer.requests(), QVector<QByteArray>({kReadSlot0, kReadSlot0}));
        QCOMPARE(notes.count(), 1); // a pseudo-terminal has no RTS: said once, not a failure
    }

    void replyGap_data() {
        QTest::addColumn<bool>("read"); // a read ends after 80 ms of silence, a write after 30
        QTest::addColumn<int>("spacingMs");
        QTest::addColumn<int>("expected");
        QTest::newRow("read, 70 ms apart: joined") << true << 70 << 25;
        QTest::newRow("read, 90 ms apart: cut") << true << 90 << 10;
        QTest::newRow("write, 20 ms apart: joined") << false << 20 << 25;
        QTest::newRow("write, 45 ms apart: cut") << false << 45 << 10;
    }
    void replyGap() {
        QFETCH(bool, read);
        QFETCH(int, spacingMs);
        QFETCH(int, expected);
        Line line;
        line.peer.setResponder([&](const QByteArray&) {
            if (line.peer.requests().size() > 1)
                return QVector<PtyPeer::Chunk>{{2, "second"}};
            return QVector<PtyPeer::Chunk>{
                {2, QByteArray(10, 'a')}, {spacingMs, QByteArray(10, 'b')}, {spacingMs, "ccccc"}};
        });
        SharedState state;
        state.CrcTable = standardCrcTable();
        CountView view;
        CommsTest test(state, line.link, view);
        QElapsedTimer clock;
        clock.start();
        read ? test.readMessage() : test.writeMessage();
        const qint64 elapsed = clock.elapsed(),
                     end = (expected == 25 ? 2 + 2 * spacingMs : 2) + (read ? 80 : 30);
        QCOMPARE(view.count, " " + QString::number(expected));
        // The reply ends a gap after its last byte.
        QVERIFY2(elapsed >= end && elapsed < end + 40, qPrintable(QString::number(elapsed)));
        // What came after a cut, fetched by Qt or still in the terminal's queue
        // (written while no events run), is gone before the next request.
        QTRY_COMPARE_WITH_TIMEOUT(line.device.inputCount(), 25 - expected, 400);
        line.peer.writeNow("later");
        QThread::msleep(30);
        QCOMPARE(line.link.transact(kReadSlot0, Link::Send::SendAll).reply.bytes(), "second");
    }

    void lineVanishesMidReply() {
        Line line;
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
        QVERIFY(x.status == LinkStatus::PortFailed && !x.error.isEmpty());
        QCOMPARE(x.reply.bytes(), QByteArray("0103"));
        // Nothing is left spinning on the dead line.
        const std::clock_t before = std::clock();
        QTest::qWait(300);
        const double cpuMs = 1000.0 * double(std::clock() - before) / CLOCKS_PER_SEC;
        QVERIFY2(cpuMs < 30, qPrintable(QString("%1 ms of CPU in 300 ms").arg(cpuMs)));
        QCOMPARE(failures.count(), 1);
        QCOMPARE(line.link.transact(kReadSlot0, Link::Send::SendAll).status, LinkStatus::NotOpen);
    }
};

QTEST_GUILESS_MAIN(TestLinkTiming)
#include "test_link_timing.moc"
