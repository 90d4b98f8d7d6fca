// Finding a unit: the simulated unit at its own address and speed, an
// independent libmodbus slave, a silent line, a refusal that counts as a unit,
// a stop between two probes, and units behind a gateway.
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "scan/Scanner.h"
#include "sim/SimNetServer.h"
#include "sim/SimUnit.h"
#include "support/FakeUnit.h"
#include "support/ModbusSlave.h"
#include "support/PtyPeer.h"
#include "support/ScriptedPort.h"
#include "transport/RtuTransport.h"
#include "transport/Transports.h"

#include <QtTest>

enum Line { Simulated, Libmodbus, Nothing, Refusal, Stop };

class TestScanner : public QObject {
    Q_OBJECT
private slots:
    void scans_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("hints");
        QTest::addColumn<int>("probes");
        const auto row = [](const char* name, Line line, const char* found, const char* hints,
                            int probes) {
            QTest::newRow(name) << int(line) << QString(found) << QString(hints) << probes;
        };
        row("simulated unit 7 at 4800", Simulated, "7@4800 SEVEN", "9600", 6);
        row("libmodbus slave 12", Libmodbus, "12@9600 ", "", 3);
        row("nothing answers", Nothing, "", "", 6);
        // Every probe gets unit 7's refusal; --first ends the scan there.
        row("a refusal is a unit", Refusal,
            "7@9600 the unit refused the request (Modbus exception 2, ", "9600", 2);
        row("stopped after two probes", Stop, "", "", 2);
    }
    void scans() {
        QFETCH(int, line);
        SimUnit sim;
        PtyPeer silent;
        ScriptedPort scripted;
        QtSerialPortDevice device;
        SerialPort* port = &device;
        ScanPlan plan{6, 8, {9600, 4800}, 100, line == Refusal};
        ModbusSlave slave(12); // serves the libmodbus row only
        if (line == Simulated) {
            SimConfig c;
            c.unit = 7;
            c.baud = 4800;
            c.followLineSpeed = true;
            sim.model().setMessage(0, "SEVEN");
            QVERIFY(sim.start(c));
            device.setPortName(sim.devicePath());
        } else if (line == Libmodbus) {
            QVERIFY2(slave.ok(), qPrintable(slave.error()));
            device.setPortName(slave.path());
            // libmodbus 3.1.6 misreads the request after one it ignored, so the
            // slave comes first in the range; the two after it stay silent.
            plan = ScanPlan{12, 14, {9600}, 100, false};
        } else if (line == Nothing) {
            device.setPortName(silent.slavePath());
        } else {
            port = &scripted;
            if (line == Refusal)
                scripted.answerEveryRequest(FakeUnit::framed(QByteArray::fromHex("078302")));
        }
        if (port == &device)
            QVERIFY(device.setSettings({9600}).ok && device.open().ok);
        const CrcTableArray crc = standardCrcTable();
        RtuTransport transport(*port, crc);
        Scanner scanner(transport);
        QVector<qint64> left;
        connect(&scanner, &Scanner::progress, [&](int done, int total, qint64 msLeft) {
            left << msLeft;
            QCOMPARE(total, plan.probeCount());
            if (line == Stop && done == 2)
                scanner.requestStop();
        });
        const ScanResult r = scanner.run(plan);
        QStringList got, hints;
        for (const FoundUnit& f : r.found)
            got << QString("%1@%2 %3").arg(f.unit).arg(f.baud).arg(f.firstMessage + f.note);
        for (int baud : r.hintSpeeds)
            hints << QString::number(baud);
        QFETCH(QString, found);
        QVERIFY2(found.isEmpty() ? got.isEmpty() : got.join(",").startsWith(found),
                 qPrintable(got.join(",")));
        QTEST(hints.join(","), "hints");
        QTEST(r.probes, "probes");
        QCOMPARE(r.outcome,
                 line == Stop ? ScanResult::Outcome::Stopped : ScanResult::Outcome::Finished);
        // The time left falls to 0 at the end of a whole scan; the line is as it was.
        QVERIFY(left.size() == r.probes && std::is_sorted(left.rbegin(), left.rend()));
        QCOMPARE(left.last() == 0, r.probes == plan.probeCount());
        QCOMPARE(port->settings().text(), "9600,N,8,1");
        QCOMPARE(transport.timing().firstByteMs, 500);
    }

    // Each address once, at the gateway's one speed: no speed is known, and a
    // plan that asks for speeds is refused before anything is sent.
    void throughAGateway_data() {
        QTest::addColumn<bool>("rtu");
        QTest::addColumn<QVector<int>>("speeds");
        QTest::newRow("Modbus TCP") << false << QVector<int>{};
        QTest::newRow("RTU over TCP") << true << QVector<int>{};
        QTest::newRow("speeds asked") << false << QVector<int>{9600, 4800};
    }
    void throughAGateway() {
        QFETCH(bool, rtu);
        QFETCH(QVector<int>, speeds);
        SimModel model;
        model.setMessage(0, "SEVEN");
        SimNetServer server(model);
        SimConfig c;
        c.unit = 7;
        QVERIFY(server.listen(c, QHostAddress::LocalHost, 0, rtu));
        const auto endpoint = parseEndpoint(server.address());
        QVERIFY(endpoint);
        const CrcTableArray crc = standardCrcTable();
        const NetTiming timing{100}; // the first-byte wait
        const auto transport = makeNetTransport(*endpoint, crc, timing);
        int requests = 0;
        connect(&server, &SimNetServer::requestSeen, [&] { ++requests; });
        ScanLine line;
        line.firstByteMs = timing.firstByteMs;
        Scanner scanner(*transport, line);
        const ScanResult r = scanner.run(ScanPlan{5, 8, speeds, 0, false});
        if (!speeds.isEmpty()) {
            QCOMPARE(r.outcome, ScanResult::Outcome::Refused);
            QVERIFY2(r.error.contains("cannot switch speeds"), qPrintable(r.error));
            QCOMPARE(requests, 0);
            return;
        }
        QCOMPARE(r.outcome, ScanResult::Outcome::Finished);
        QCOMPARE(QList<int>({r.probes, requests, int(r.found.size())}), QList<int>({4, 4, 1}));
        const FoundUnit f = r.found.value(0);
        QCOMPARE(QString("%1@%2 %3").arg(f.unit).arg(f.baud).arg(f.firstMessage), "7@0 SEVEN");
        // Three silent addresses and one that answers, at 100 ms each at most.
        QCOMPARE(Scanner::worstCaseMs(ScanPlan{5, 8, {}, 0, false}, line), 400);
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "test_scanner.moc"
