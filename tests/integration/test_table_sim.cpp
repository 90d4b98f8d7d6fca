// The table's operations against the simulated unit over a pseudo-terminal,
// through the product's Qt serial port: once at the real timing, otherwise
// with shorter waits.
#include "link/CommsClock.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "startup/ConfigFiles.h"
#include "support/RecordingOperator.h"
#include "support/RecordingViews.h"
#include "table/BulkOperations.h"
#include "table/Editor.h"
#include "table/TableFile.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

QString appDir() {
    return QString::fromLocal8Bit(qgetenv("QV_APP_DIR"));
}

LinkTiming shortTiming() {
    LinkTiming t;
    t.firstByteMs = 150; // the unit's reply still takes its wire time at 9600
    t.replyGapMs = 20;
    t.bulkPauseMs = 5;
    return t;
}

// The tool and the simulated unit, joined by a pseudo-terminal.
struct Bench {
    SimThread sim;
    QtSerialPortDevice port;
    std::unique_ptr<Link> link;
    SharedState state;
    RecordingTableView view;
    RecordingOperator op;
    CommsClock clock;
    TextTable demo; // what the unit holds at the start
    int framesSent = 0;

    bool start(const LinkTiming& timing, SimConfig config = {}) {
        state.CrcTable = standardCrcTable();
        state.UnitAddress = 1;
        if (readDefaults(appDir(), state.DefaultMessages))
            return false;
        state.InterlockMessages = state.DefaultMessages;
        const QString demoPath = appDir() + QStringLiteral("/demo.sav");
        if (!openTable(demoPath, demo).ok || !sim.model().loadSav(demoPath))
            return false;
        QString why;
        if (!sim.start(config, &why)) {
            qWarning() << why;
            return false;
        }
        port.setPortName(sim.devicePath());
        if (!port.open().ok)
            return false;
        link = std::make_unique<Link>(port, timing);
        QObject::connect(link.get(), &Link::frameSent, [this] { ++framesSent; });
        clock.start();
        return true;
    }
    BulkOperations bulk() { return BulkOperations(state, *link, view, op, &clock); }
    QByteArray unitHolds(int k) { return sim.model().message(k); }
};

} // namespace

class TestTableSim : public QObject {
    Q_OBJECT
private slots:
    void readAllAtRealTiming() {
        Bench b;
        QVERIFY(b.start(LinkTiming{}));
        b.sim.model().setMessage(3, QByteArray());
        b.sim.model().setMessage(5, QByteArray(40, 'W'));
        b.state.InterlockMessages[3] = QStringLiteral("BEFORE");

        QElapsedTimer t;
        t.start();
        const BulkResult r = b.bulk().readAll();
        const qint64 ms = t.elapsed();
        QCOMPARE(r.outcome, BulkResult::Outcome::Completed);
        QCOMPARE(b.op.count(), 0);
        for (int i = 0; i < 20; ++i) {
            if (i == 3 || i == 5)
                continue;
            QCOMPARE(b.state.InterlockMessages[i], b.demo[i]);
            QCOMPARE(b.view.labels[i], b.demo[i]);
        }
        QCOMPARE(b.view.labels[3], b.state.DefaultMessages[3]); // no message stored there
        QCOMPARE(b.state.InterlockMessages[3], QStringLiteral("BEFORE"));
        QCOMPARE(b.state.InterlockMessages[5], QString(40, QLatin1Char('W')));
        QCOMPARE(b.view.progressHistory.last(), 0);
        // Twenty passes, each the 300 ms pause, the reply's wire time and the
        // 80 ms of silence that ends it.
        QVERIFY2(ms >= 20 * (300 + 47 + 80) && ms < 20 * 700, qPrintable(QString::number(ms)));
    }

    void writeEraseAndEditorReachTheUnit() {
        Bench b;
        QVERIFY(b.start(shortTiming()));
        b.state.InterlockMessages[2] = QStringLiteral("NEW TWO");
        b.state.InterlockMessages[19] = QString(40, QLatin1Char('Z'));
        QCOMPARE(b.bulk().writeAll().outcome, BulkResult::Outcome::Completed);
        QCOMPARE(b.framesSent, 2);
        QCOMPARE(b.unitHolds(2), QByteArray("NEW TWO"));
        QCOMPARE(b.unitHolds(19), QByteArray(40, 'Z'));
        QCOMPARE(b.unitHolds(0), b.demo[0].toLatin1());
        QCOMPARE(b.op.count(), 0);

        Editor editor(b.state, *b.link, b.view, b.op, &b.clock);
        FakeEditorView ev;
        b.state.SelectedInterlock = 7;
        ev.text = QStringLiteral("EDITED");
        QCOMPARE(editor.write(ev), Editor::Outcome::Delivered);
        QCOMPARE(b.unitHolds(7), QByteArray("EDITED"));
        QCOMPARE(b.view.labels[7], QStringLiteral("EDITED"));
        QCOMPARE(editor.erase(ev), Editor::Outcome::Delivered);
        QVERIFY(b.unitHolds(7).isEmpty());
        QCOMPARE(b.state.InterlockMessages[7], b.state.DefaultMessages[7]);

        QCOMPARE(b.bulk().eraseAll().outcome, BulkResult::Outcome::Completed);
        for (int i = 0; i < 20; ++i)
            QVERIFY(b.unitHolds(i).isEmpty());
        QVERIFY(std::equal(b.state.InterlockMessages.begin(), b.state.InterlockMessages.end(),
                           b.state.DefaultMessages.begin()));
        const int before = b.framesSent;
        b.bulk().writeAll();
        QCOMPARE(b.framesSent, before);
    }

    void unitVanishesMidRead() {
        Bench b;
        QVERIFY(b.start(shortTiming()));
        QObject::connect(b.link.get(), &Link::frameSent, [&] {
            if (b.framesSent == 6)
                QTimer::singleShot(0, [&] { b.sim.stop(); });
        });
        QElapsedTimer t;
        t.start();
        const BulkResult r = b.bulk().readAll();
        QCOMPARE(r.outcome, BulkResult::Outcome::PortFailed);
        QVERIFY(!r.error.isEmpty());
        QVERIFY(b.framesSent <= 7);
        QVERIFY(!b.port.isOpen());
        QCOMPARE(b.op.last().icon, MsgIcon::Critical);
        QVERIFY(b.op.last().text.contains(b.port.portName()));
        QCOMPARE(b.view.progressHistory.last(), 0);
        QVERIFY(b.clock.isEnabled());
        QCOMPARE(b.state.InterlockMessages[0], b.demo[0]);
        QCOMPARE(b.state.InterlockMessages[10], b.state.DefaultMessages[10]);
        QVERIFY(t.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(TestTableSim)
#include "test_table_sim.moc"
