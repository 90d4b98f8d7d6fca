// The link on a pseudo-terminal through the Qt port, with the real waits: the
// first-byte time-out, the reply gaps, leftovers of a cut reply, a vanishing line.

#include "link/CommsTest.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "support/PtyPeer.h"

#include <QtTest>

#include <ctime>

static const QByteArray kReadSlot0 = QByteArray::fromHex("0103019000144414");

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

struct Line {
    PtyPeer peer;
    QtSerialPortDevice device;
    Link link{device}; // the product's timing
    PortStatus opened = (device.setPortName(peer.slavePath()), device.open()); // else NotOpen
};

class TestLinkTiming : public QObject {
    Q_OBJECT

private slots:
    void replyTiming_data() {
        QTest::addColumn<bool>("read"); // a read ends after 80 ms of silence, a write after 30
        QTest::addColumn<int>("spacingMs");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("endMs"); // from the start; the peer's delays count from the request
        QTest::newRow("silent") << true << 0 << 0 << 1 + 5 + 500; // time-out from RTS off
        QTest::newRow("read, 70 ms apart: joined") << true << 70 << 25 << 2 + 140 + 80;
        QTest::newRow("read, 90 ms apart: cut") << true << 90 << 10 << 2 + 80;
        QTest::newRow("write, 20 ms apart: joined") << false << 20 << 25 << 2 + 40 + 30;
        QTest::newRow("write, 45 ms apart: cut") << false << 45 << 10 << 2 + 30;
    }
    void replyTiming() {
        QFETCH(bool, read);
        QFETCH(int, spacingMs);
        QFETCH(int, expected);
        QFETCH(int, endMs);
        Line line;
        line.peer.setResponder([&](const QByteArray&) {
            if (line.peer.requests().size() > 1)
                return QVector<PtyPeer::Chunk>{{2, "second"}};
            if (expected == 0)
                return QVector<PtyPeer::Chunk>{};
            return QVector<PtyPeer::Chunk>{
                {2, QByteArray(10, 'a')}, {spacingMs, QByteArray(10, 'b')}, {spacingMs, "ccccc"}};
        });
        SharedState state;
        state.CrcTable = standardCrcTable();
        CountView view;
        CommsTest test(state, line.link, view);
        QSignalSpy notes(&line.link, &Link::traceNote);
        QElapsedTimer clock;
        clock.start();
        read ? test.readMessage() : test.writeMessage();
        const qint64 ms = clock.elapsed();
        QCOMPARE(view.count, " " + QString::number(expected));
        QVERIFY2(ms >= endMs && ms < endMs + 40, qPrintable(QString::number(ms)));
        // What came after a cut, fetched by Qt or still in the terminal's queue
        // (written while no events run), is gone before the next request.
        QTRY_COMPARE_WITH_TIMEOUT(line.device.inputCount(), expected == 10 ? 15 : 0, 400);
        line.peer.writeNow("later");
        QThread::msleep(30);
        QCOMPARE(line.link.transact(kReadSlot0, Link::Send::SendAll).reply.bytes(), "second");
        QCOMPARE(notes.count(), 1); // a pseudo-terminal has no RTS: said once, not a failure
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
        QVERIFY(x.status == LinkStatus::PortFailed && x.reply.bytes() == "0103");
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
