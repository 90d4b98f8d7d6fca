// The check against faulty lines: each fault the simulated unit makes is named,
// and only it, and the counters equal what the simulator injected; then two
// faults made by a relay in front of an independent slave (libmodbus).

#include "diag/LineCheck.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimModel.h"
#include "sim/SimUnit.h"
#include "support/ModbusSlave.h"
#include "support/SlaveRelay.h"
#include "transport/Transports.h"

#include <QtTest>

static const CrcTableArray kCrc = standardCrcTable();

// The check run on a port, as qv840ctl check runs it: six reads, 200 ms
// pauses (the simulated line's idle faults come 150 ms after a reply), and a
// first-byte wait of 150 ms, so that silence and the scan of other settings
// are short.
static constexpr int kWaitMs = 150;
static CheckResult checkOn(const QString& path, int unit = 1) {
    QtSerialPortDevice port;
    port.setPortName(path);
    port.setSettings({9600});
    if (!port.open().ok)
        return {};
    LineOptions line{EchoMode::Auto, Direction::Rts, 200};
    const auto transport = makeTransport(port, kCrc, {kWaitMs, &line});
    LineCheck check(*transport, &port, line);
    CheckPlan plan;
    plan.firstUnit = plan.lastUnit = unit;
    plan.count = 6;
    plan.firstByteWaitMs = kWaitMs;
    return check.run(plan);
}

static QStringList words(const CheckResult& r) {
    QStringList w;
    for (const Finding& f : r.findings)
        w << f.word + (f.unit > 0 ? "" : " (line)");
    return w;
}

class TestLineCheck : public QObject {
    Q_OBJECT
private slots:
    void simulatedFaults_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("clean") << "" << QStringList();
        QTest::newRow("silent") << "never" << QStringList{"silent"};
        QTest::newRow("echo") << "echo" << QStringList{"echo"};
        QTest::newRow("wrong-speed") << "19200" << QStringList{"wrong-speed"};
        QTest::newRow("other-unit") << "reply-as" << QStringList{"other-unit"};
        QTest::newRow("duplicate-address") << "twin" << QStringList{"duplicate-address"};
        QTest::newRow("noise in replies") << "crc" << QStringList{"noise"};
        QTest::newRow("noise when idle") << "noise" << QStringList{"noise (line)"};
        QTest::newRow("second-master") << "master" << QStringList{"second-master (line)"};
        QTest::newRow("slow-unit") << "late" << QStringList{"slow-unit"};
        QTest::newRow("intermittent") << "drop" << QStringList{"intermittent"};
    }
    void simulatedFaults() {
        QFETCH(QString, fault);
        QFETCH(QStringList, expected);
        SimConfig cfg;
        cfg.followLineSpeed = true;
        cfg.faults.seed = 7;
        cfg.neverAnswer = fault == "never";
        cfg.echo = fault == "echo";
        cfg.baud = fault == "19200" ? 19200 : 9600;
        cfg.faults.replyAs = fault == "reply-as" ? 9 : 0;
        cfg.faults.twin = fault == "twin";
        cfg.faults.crcErrorPercent = fault == "crc" ? 50 : 0;
        cfg.faults.noiseBytes = fault == "noise" ? 4 : 0;
        cfg.faults.secondMaster = fault == "master";
        cfg.lateMs = fault == "late" ? kWaitMs * 4 / 5 : 0;
        cfg.faults.dropPercent = fault == "drop" ? 40 : 0;
        SimUnit sim;
        QVERIFY(sim.start(cfg));
        const CheckResult r = checkOn(sim.devicePath());
        QCOMPARE(r.outcome, CheckResult::Outcome::Finished);
        QCOMPARE(words(r), expected);
        // What the tool counted is what the line did.
        const UnitCounters c = r.evidence.units.value(1);
        const SimFaultCounts& made = sim.injected();
        if (fault != "19200")
            QCOMPARE(QList<int>({c.crcWrong, c.otherUnit, c.silent}),
                     QList<int>({made.crcErrors + made.collisions, made.otherAddress,
                                 made.dropped + (cfg.neverAnswer ? c.requests : 0)}));
        QCOMPARE(
            QList<int>({r.evidence.idle.noiseBytes, r.evidence.idle.foreignRequests, c.echoed}),
            QList<int>({made.noiseBytes, made.foreignRequests, cfg.echo ? c.requests : 0}));
        if (fault == "19200")
            QCOMPARE(r.evidence.otherSettings.value(1).text(), "19200,N,8,1");
    }

    // An independent slave behind a relay that mangles what it passes on: it echoes, answers as
    // unit 7, or flips a bit in every third reply, each in its own place.
    void independentSlave_data() {
        QTest::addColumn<QString>("mangle");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("echo") << "echo" << QStringList{"echo"};
        QTest::newRow("other-unit") << "reply-as-7" << QStringList{"other-unit"};
        QTest::newRow("noise") << "flip" << QStringList{"noise"};
    }
    void independentSlave() {
        QFETCH(QString, mangle);
        QFETCH(QStringList, expected);
        ModbusSlave slave(1);
        QVERIFY2(slave.ok(), qPrintable(slave.error()));
        int replies = 0, flipped = 0;
        SlaveRelay relay(
            slave.path(),
            [&](QByteArray r) {
                if (mangle == "reply-as-7" && r.size() > 2)
                    r = SimModel::withCrc(char(7) + r.mid(1, r.size() - 3)); // bit by bit
                if (mangle == "flip" && ++replies % 3 == 0 && r.size() > 8) {
                    const int at = 3 + (flipped++ * 5) % int(r.size() - 3);
                    r[at] = char(r.at(at) ^ 0x04);
                }
                return r;
            },
            0, mangle == "echo");
        const CheckResult r = checkOn(relay.toolPath());
        QCOMPARE(words(r), expected);
        const UnitCounters c = r.evidence.units.value(1);
        QCOMPARE(c.requests, slave.requests);
        QCOMPARE(c.crcWrong, flipped);
        if (mangle == "reply-as-7")
            QCOMPARE(c.otherAddresses.value(7), 6);
    }
};

QTEST_MAIN(TestLineCheck)
#include "test_line_check.moc"
