// Read all against the simulated unit over a pseudo-terminal, at the product's waits. (Erase all
// and write all over a line, the scripted tests and the backup test show.)
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"

#include <QtTest>

// The unit holds "UNIT k" in slot k; the table starts on its defaults; the product's waits.
struct Bench : LineRig<QtSerialPortDevice> {
    SimThread sim;
    int address = 1;
    BulkOperations bulk{messages, transport, view, op};

    Bench() : LineRig(LinkTiming{}) {}
    bool start() {
        for (int k = 0; k < 20; ++k)
            sim.model().setMessage(k, "UNIT " + QByteArray::number(k));
        if (!sim.start({}))
            return false;
        port.setPortName(sim.devicePath());
        return port.open().ok;
    }
};

class TestTableSim : public QObject {
    Q_OBJECT
private slots:
    void readAllAtRealTiming() {
        Bench b;
        QVERIFY(b.start());
        b.sim.model().setMessage(19, QByteArray(40, 'W')); // a full slot has no terminator
        QElapsedTimer t;
        t.start();
        QCOMPARE(b.bulk.readAll(b.address).outcome, BulkResult::Outcome::Completed);
        const qint64 ms = t.elapsed();
        QCOMPARE(b.messages.texts()[19], QString(40, 'W'));
        // Twenty passes of the 300 ms pause and a reply, whole as its last byte comes.
        QVERIFY2(ms >= 20 * (300 + 47) && ms < 20 * (300 + 47 + 40),
                 qPrintable(QString::number(ms)));
    }
};

QTEST_GUILESS_MAIN(TestTableSim)
#include "test_table_sim.moc"
