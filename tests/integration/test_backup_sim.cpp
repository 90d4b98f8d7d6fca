// Read all at the product's own waits, over a pseudo-terminal to the simulated unit. (What a
// backup keeps through its files and back onto a unit, tests/table/test_roundtrip shows; the
// command line's read-all -o, tests/cli/test_qv840ctl.)
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"

#include <QtTest>

class TestBackupSim : public QObject {
    Q_OBJECT
private slots:
    void readAllAtRealTiming() {
        LineRig<QtSerialPortDevice> rig(LinkTiming{}); // the product's waits
        SimThread sim;
        for (int k = 0; k < 19; ++k)
            sim.model().setMessage(k, "UNIT " + QByteArray::number(k));
        sim.model().setMessage(19, QByteArray(40, 'W')); // a full slot has no terminator
        QVERIFY(sim.start({}));
        rig.port.setPortName(sim.devicePath());
        QVERIFY(rig.port.open().ok);
        BulkOperations bulk{rig.messages, rig.transport, rig.view, rig.op};
        QElapsedTimer t;
        t.start();
        QCOMPARE(bulk.readAll(1).outcome, BulkResult::Outcome::Completed);
        const qint64 ms = t.elapsed();
        QCOMPARE(rig.messages.texts()[18], "UNIT 18");
        QCOMPARE(rig.messages.texts()[19], QString(40, 'W'));
        // Twenty passes of the 300 ms pause and a reply, whole as its last byte comes.
        QVERIFY2(ms >= 20 * (300 + 47) && ms < 20 * (300 + 47 + 40),
                 qPrintable(QString::number(ms)));
    }
};

QTEST_GUILESS_MAIN(TestBackupSim)
#include "test_backup_sim.moc"
