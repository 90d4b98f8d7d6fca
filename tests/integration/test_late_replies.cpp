// A unit that answers after the tool stopped waiting: its reply is never taken as the answer to
// another request, by the same run of qv840ctl or by the next one, on a serial line or through
// an RTU-over-TCP gateway. The simulated unit (`simulate --late-ms`) knows which slot it
// answered; each slot holds its own text, so a reply taken for another slot shows.
//
// The quick rows run the product's own waits; the sweep (labelled slow) scales them down with
// --timeout-ms and answers 1.5 to 4 times too late, under retries and without pauses.

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "support/CtlRun.h"
#include "support/Files.h"
#include "support/ModbusSlave.h"
#include "support/RecordingOperator.h"
#include "support/RecordingViews.h"
#include "support/SlaveRelay.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "transport/Transports.h"

#include <QtTest>

static CtlRun ctl(const QStringList& args) {
    return runCtl(args, {}, 120000);
}

// A simulated unit whose slot k holds "SLOT k", answering late; its port or gateway address.
struct LateUnit {
    QProcess sim;
    QString port;
    bool start(const QTemporaryDir& dir, int lateMs, bool gateway) {
        QByteArray table;
        for (int k = 0; k < 20; ++k)
            table += "\"SLOT " + QByteArray::number(k) + "\"\r\n";
        if (!putFile(dir.filePath("unit.sav"), table))
            return false;
        QStringList args{"simulate", "--messages", dir.filePath("unit.sav"), "--late-ms",
                         QString::number(lateMs)};
        if (gateway)
            args += {"--listen", "0", "--rtu-over-tcp"};
        port = startCtl(sim, args);
        return !port.isEmpty();
    }
    ~LateUnit() {
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

class TestLateReplies : public QObject {
    Q_OBJECT
private slots:
    // Read all through the product's transport (retries, no pause) from an independent slave
    // whose replies come late by a chosen amount: every slot read holds its own text, the ones
    // not read stay as they were.
    void independentSlave_data() {
        QTest::addColumn<int>("lateMs");
        for (int late : {60, 130, 220, 330})
            QTest::addRow("%d ms late for a 100 ms wait", late) << late;
    }
    void independentSlave() {
        if (qEnvironmentVariable("QV_SLOW_TESTS") != "1")
            QSKIP("in the slow suite (QV_SLOW_TESTS=1)");
        QFETCH(int, lateMs);
        ModbusSlave slave(1);
        QVERIFY2(slave.ok(), qPrintable(slave.error()));
        for (int k = 0; k < 20; ++k)
            slave.setText(k, "SLOT " + QByteArray::number(k));
        SlaveRelay relay(slave.path(), {}, lateMs);
        QtSerialPortDevice port;
        port.setPortName(relay.toolPath());
        QVERIFY(port.open().ok);
        LineOptions line{EchoMode::Auto, Direction::Rts, 0, 1}; // no pause, one retry
        const CrcTableArray crc = standardCrcTable();
        const auto transport = makeTransport(port, crc, {100, &line});
        const TextTable defaults = numberedTexts("DEFAULT %1");
        MessageTable table;
        table.reset(defaults, {});
        RecordingTableView view;
        RecordingOperator op;
        op.answerAlways(MsgAnswer::IgnoreAll);
        BulkOperations bulk(table, *transport, view, op);
        const BulkResult r = bulk.readAll(1);
        for (int k = 0; k < 20; ++k) {
            const QString text = table.texts()[size_t(k)];
            QVERIFY2(text == QString("SLOT %1").arg(k) || text == defaults[size_t(k)],
                     qPrintable(QString("slot %1 holds \"%2\"").arg(k).arg(text)));
            QCOMPARE(r.done.contains(k), text == QString("SLOT %1").arg(k));
        }
        if (lateMs < 80) // in time: every slot read
            QCOMPARE(r.done.size(), 20);
    }

    // The first run gives up on slot 19; the next, started at once, must not print it for 5.
    void theNextRun_data() {
        QTest::addColumn<bool>("gateway");
        QTest::addColumn<int>("lateMs");
        QTest::newRow("serial, 600 ms late") << false << 600;
        QTest::newRow("RTU over TCP, 1700 ms late") << true << 1700;
    }
    void theNextRun() {
        QFETCH(bool, gateway);
        QFETCH(int, lateMs);
        QTemporaryDir dir;
        LateUnit unit;
        QVERIFY(unit.start(dir, lateMs, gateway));
        const CtlRun first = ctl({"-p", unit.port, "read", "19"});
        QCOMPARE(first.status, 1);
        const CtlRun next = ctl({"-p", unit.port, "--trace", "read", "5"});
        QVERIFY2(!next.out.contains("SLOT 19"), qPrintable(next.out));
        QCOMPARE(next.status, 1);
        // A serial line brings the late reply to the next run, which drops it; the simulated
        // gateway drops a reply for a client that left.
        if (!gateway)
            QVERIFY2(next.err.contains("came while nothing was asked; dropped") &&
                         next.err.contains("later than the tool waits. Late replies are dropped"),
                     qPrintable(next.err));
    }

    // Read all, verify and restore against a unit 1.5 to 4 times too late for the wait, with a
    // retry and no pause (the settings the README advises for speed): a table is saved only
    // when it is the unit's, and a verify or restore never claims a unit that differs.
    void sweep_data() {
        QTest::addColumn<bool>("gateway");
        QTest::addColumn<int>("lateMs");
        QTest::addColumn<QString>("command");
        QTest::newRow("serial, 150 ms late, read-all") << false << 150 << "read-all";
        QTest::newRow("serial, 400 ms late, read-all") << false << 400 << "read-all";
        QTest::newRow("RTU over TCP, 260 ms late, read-all") << true << 260 << "read-all";
        QTest::newRow("serial, 260 ms late, verify") << false << 260 << "verify";
        QTest::newRow("serial, 260 ms late, restore") << false << 260 << "restore";
    }
    void sweep() {
        if (qEnvironmentVariable("QV_SLOW_TESTS") != "1")
            QSKIP("the sweep runs in the slow suite (QV_SLOW_TESTS=1)");
        QFETCH(bool, gateway);
        QFETCH(int, lateMs);
        QFETCH(QString, command);
        QTemporaryDir dir;
        LateUnit unit;
        QVERIFY(unit.start(dir, lateMs, gateway));
        const QStringList line{"-p",        unit.port, "--timeout-ms",  "100", "--pause-ms", "0",
                               "--retries", "1",       "--block-reads", "auto"};
        if (command == "read-all") {
            const QString saved = dir.filePath("read.sav");
            const CtlRun read = ctl(line + QStringList{"read-all", "-o", saved});
            // A table is saved only when it is the unit's.
            QCOMPARE(read.status, QFileInfo::exists(saved) ? 0 : 1);
            if (read.status != 0)
                return;
            const QList<QByteArray> rows = fileBytes(saved).split('\n');
            for (int k = 0; k < 20; ++k)
                QCOMPARE(rows.value(k).trimmed(), QString("\"SLOT %1\"").arg(k).toLatin1());
            return;
        }
        // A file that differs from the unit in slot 19 only.
        QByteArray other;
        for (int k = 0; k < 20; ++k)
            other += "\"" + (k == 19 ? QByteArray("ANOTHER") : "SLOT " + QByteArray::number(k)) +
                     "\"\r\n";
        QVERIFY(putFile(dir.filePath("other.sav"), other));
        const CtlRun r = ctl(line + QStringList{command, dir.filePath("other.sav")});
        QVERIFY2(r.status != 0, qPrintable(r.out));
        QVERIFY2(!r.out.contains("20 of 20 slots as in the file") &&
                     !r.out.contains("0 written, 0 erased, 20 unchanged"),
                 qPrintable(r.out));
    }
};

QTEST_GUILESS_MAIN(TestLateReplies)
#include "test_late_replies.moc"
