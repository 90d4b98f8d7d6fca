// A backup as a technician makes one: `qv840ctl read-all -o` from a simulated unit holding
// quotes, commas, control characters and bytes that look like UTF-8, as .sav and as CSV (the
// CSV renamed as a spreadsheet user might), opened again, restored onto another simulated unit
// holding other texts, and read back by qv840ctl into the very same file. And read all at the
// product's own waits over a pseudo-terminal.
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "startup/CodePage.h"
#include "startup/ConfigFiles.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "table/TableFiles.h"
#include "table/UnitSync.h"

#include <QtTest>

static const QString kCtl = QDir(qEnvironmentVariable("QV_APP_DIR")).filePath("qv840ctl");

// What the source unit holds, byte for byte; slot 5 stays empty.
static const QList<QByteArray> kSource = {
    "PRESS \"RESET\", THEN WAIT",
    "\xC3\xA9 IS TWO BYTES",
    "A\x1B]0;X\x07"
    "B",
    "=SUM(A1) -- NOT A FORMULA",
    "C:\\x41\\x22 LITERAL",
    "",
    "  CENTRED  ",
    "\"",
    QByteArray(40, '\xC9'),
    "SEMI;COLON,COMMA",
    "'@QUOTED",
    "\x81\x8D\x8F\x90\x9D C1",
};

static int run(const QStringList& args, QByteArray* err = nullptr) {
    QProcess p;
    p.start(kCtl, args);
    const bool ended = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
    if (err)
        *err = p.readAllStandardError();
    return ended ? p.exitCode() : -1;
}

static QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

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

class TestBackupSim : public QObject {
    Q_OBJECT
private slots:
    void backupAndRestore() {
        TextTable defaults, expected;
        QVERIFY(!readDefaults(qEnvironmentVariable("QV_APP_DIR"), defaults));
        SimThread source, target;
        for (int k = 0; k < 20; ++k) {
            const QByteArray bytes =
                k < kSource.size() ? kSource[k] : "SOURCE " + QByteArray::number(k);
            source.model().setMessage(k, bytes);
            target.model().setMessage(k, "OTHER " + QByteArray::number(k));
            expected[size_t(k)] = bytes.isEmpty() ? defaults[size_t(k)] : CodePage::decode(bytes);
        }
        target.model().setMessage(3, ""); // an empty slot on the target, to be written
        SimConfig fast;                   // the line paced at 115200 keeps the test short
        fast.baud = 115200;
        QVERIFY(source.start(fast) && target.start(fast));

        QTemporaryDir dir;
        const QString sav = dir.filePath("b.sav"), csv = dir.filePath("b.csv");
        QByteArray err;
        for (const QString& file : {sav, csv})
            QVERIFY2(run({"-p", source.devicePath(), "-b", "115200", "--pause-ms", "0", "read-all",
                          "-o", file},
                         &err) == 0,
                     err.constData());
        QVERIFY(QFile::rename(csv, dir.filePath("site.txt")));
        for (const QString& file : {sav, dir.filePath("site.txt")}) {
            TextTable loaded;
            loaded.fill("KEEP");
            const TableFileOutcome out = loadTableFile(file, defaults, loaded);
            QVERIFY2(out.ok && out.message.isEmpty(), qPrintable(out.message));
            QCOMPARE(loaded, expected);
        }

        LineRig<QtSerialPortDevice> rig(LinkTiming{150, 20, 30, 5, 1, 5});
        rig.port.setPortName(target.devicePath());
        QVERIFY(rig.port.open().ok && rig.port.setSettings("115200,N,8,1").ok);
        UnitSync sync{rig.transport, rig.view, rig.op};
        const RestoreResult r = sync.restore(1, expected, defaults);
        QVERIFY2(r.restored() && rig.op.count() == 0, qPrintable(restoreSummary(r)));
        QCOMPARE(r.erased, QVector<int>{5});
        QCOMPARE(target.model().message(2), QByteArray("A\x1B]0;X\x07"
                                                       "B"));
        QVERIFY(sync.compare(1, expected, defaults).matches());
        rig.port.close();

        const QString back = dir.filePath("back.sav");
        QVERIFY2(run({"-p", target.devicePath(), "-b", "115200", "--pause-ms", "0", "read-all",
                      "-o", back},
                     &err) == 0,
                 err.constData());
        QCOMPARE(contents(back), contents(sav));
    }

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

QTEST_GUILESS_MAIN(TestBackupSim)
#include "test_backup_sim.moc"
