// Finding a unit: the simulated unit at its own address and speed, an
// independent libmodbus slave, a silent line, a refusal that counts as a unit,
// a stop between two probes, and units behind a gateway.
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "scan/Scanner.h"
#include "sim/SimNetServer.h"
#include "sim/SimUnit.h"
#include "support/FakeUnit.h"
#include "support/PtyPeer.h"
#include "support/ScriptedPort.h"
#include "transport/RtuTransport.h"
#include "transport/Transports.h"

#include <QSocketNotifier>
#include <QtTest>

#include <modbus/modbus.h>

enum Line { Simulated, Libmodbus, Nothing, Refusal, Stop };

class TestScanner : public QObject {
    Q_OBJECT
private slots:
    void scans_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("hints");
        QTest::addColumn<int>("probes");
        QTest::newRow("simulated unit 7 at 4800") << int(Simulated) << "7@4800 SEVEN"
                                                  << "9600" << 6;
        QTest::newRow("libmodbus slave 12") << int(Libmodbus) << "12@9600 "
                                            << "" << 3;
        QTest::newRow("nothing answers") << int(Nothing) << ""
                                         << "" << 6;
        // Every probe gets unit 7's refusal; --first ends the scan there.
        QTest::newRow("a refusal is a unit")
            << int(Refusal) << "7@9600 the unit refused the request (Modbus exception 2, "
            << "9600" << 2;
        QTest::newRow("stopped after two probes") << int(Stop) << ""
                                                  << "" << 2;
    }
    void scans() {
        QFETCH(int, line);
        SimUnit sim;
        PtyPeer silent;
        ScriptedPort scripted;
        QtSerialPortDevice device;
        SerialPort* port = &device;
        ScanPlan plan{6, 8, {9600, 4800}, 100, line == Refusal};
        int master = -1, keeper = -1;
        modbus_t* ctx = modbus_new_rtu("pty", 9600, 'N', 8, 1);
        modbus_mapping_t* map = modbus_mapping_new_start_address(0, 0, 0, 0, 400, 400, 0, 0);
        std::unique_ptr<QSocketNotifier> notifier;
        const auto release = qScopeGuard([&] {
            modbus_mapping_free(map);
            modbus_free(ctx);
            for (int fd : {master, keeper})
                if (fd >= 0)
                    ::close(fd);
        });
        if (line == Simulated) {
            SimConfig c;
            c.unit = 7;
            c.baud = 4800;
            c.followLineSpeed = true;
            sim.model().setMessage(0, "SEVEN");
            QVERIFY(sim.start(c));
            device.setPortName(sim.devicePath());
        } else if (line == Libmodbus) {
            QString path, error;
            QVERIFY2(openRawPty(master, keeper, path, error), qPrintable(error));
            modbus_set_slave(ctx, 12);
            modbus_set_socket(ctx, master);
            notifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
            connect(notifier.get(), &QSocketNotifier::activated, this, [&] {
                uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
                if (const int rc = modbus_receive(ctx, query); rc > 0)
                    modbus_reply(ctx, query, rc, map);
            });
            device.setPortName(path);
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
            QVERIFY(device.setSettings("9600,N,8,1").ok && device.open().ok);
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
        QCOMPARE(port->settings(), "9600,N,8,1");
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
        NetTiming timing;
        timing.firstByteMs = 100;
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
        QCOMPARE(r.probes, 4);
        QCOMPARE(requests, 4);
        QCOMPARE(r.found.size(), 1);
        QCOMPARE(r.found[0].unit, 7);
        QCOMPARE(r.found[0].baud, 0);
        QCOMPARE(r.found[0].firstMessage, "SEVEN");
        // Three silent addresses and one that answers, at 100 ms each at most.
        QCOMPARE(Scanner::worstCaseMs(ScanPlan{5, 8, {}, 0, false}, line), 400);
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "test_scanner.moc"
