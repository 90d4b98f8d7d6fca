// The whole line against a simulated line of units 3 to 5: the units a scan
// finds backed up, a silent unit listed while the others go on, a stop
// between two requests keeping what was finished, and a restore that writes
// to the unit that differs only.

#include "line/LineRun.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "scan/Scanner.h"
#include "sim/SimThread.h"
#include "startup/ConfigFiles.h"
#include "support/RecordingOperator.h"
#include "table/TableFiles.h"
#include "transport/ChangeRecord.h"
#include "transport/RtuTransport.h"

#include <QtTest>

namespace {

// What a run told its listeners; stops the run at a chosen unit and slot.
class Listener : public LineProgress {
public:
    void lineProgress(int unit, int slot, int percent) override {
        percents << percent;
        if (run && unit == stopUnit && slot == stopSlot)
            run->requestStop();
    }
    void unitFinished(const LineUnitResult& r) override { finished << r.unit; }
    LineRun* run = nullptr;
    int stopUnit = -1, stopSlot = -1;
    QVector<int> percents, finished;
};

class Changes : public ChangeRecord {
public:
    void record(const SlotChange& c) override { units << c.unit; }
    QVector<int> units;
};

QStringList rows(const QString& index) {
    QFile f(index);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split("\r\n")
                                       : QStringList();
}

} // namespace

class TestLineRun : public QObject {
    Q_OBJECT
    SimThread sim_;
    QtSerialPortDevice port_;
    CrcTableArray crc_ = standardCrcTable();
    std::unique_ptr<RtuTransport> transport_;
    MessageTable startup_;
    RecordingOperator op_;
    QTemporaryDir dir_;

private slots:
    void initTestCase() {
        TextTable defaults;
        QVERIFY(!readDefaults(qEnvironmentVariable("QV_APP_DIR"), defaults));
        startup_.reset(defaults, defaults);
        sim_.line().setUnits(3, 5);
        for (int unit : {3, 4, 5})
            for (int k = 0; k < 20; ++k)
                sim_.line().unit(unit)->setMessage(
                    k, QStringLiteral("U%1 M%2").arg(unit).arg(k).toLatin1());
        SimConfig fast;
        fast.baud = 115200;
        QVERIFY(sim_.start(fast));
        port_.setPortName(sim_.devicePath());
        QVERIFY(port_.open().ok && port_.setSettings("115200,N,8,1").ok);
        transport_ = std::make_unique<RtuTransport>(port_, crc_, LinkTiming{100, 20, 30, 2, 1, 5});
    }

    // The units a scan finds, backed up with a silent address among them:
    // it is listed as such, the others are saved whole, index.csv lists all.
    void scanThenBackup() {
        Scanner scanner(*transport_, ScanLine{});
        ScanPlan plan;
        plan.firstUnit = 2;
        plan.lastUnit = 6;
        QVector<int> units{2}; // nobody there
        for (const FoundUnit& f : scanner.run(plan).found)
            units << f.unit;
        QCOMPARE(units, (QVector<int>{2, 3, 4, 5}));
        LineRun run(*transport_, op_, startup_);
        Listener heard;
        run.setProgress(&heard);
        const LineReport r = run.backup(units, dir_.filePath("b"));
        QCOMPARE(r.outcome, LineReport::Outcome::Finished);
        QCOMPARE(r.okCount(), 3);
        QCOMPARE(heard.finished, units);
        QVERIFY(std::is_sorted(heard.percents.cbegin(), heard.percents.cend()));
        QCOMPARE(heard.percents.last(), 100);
        QCOMPARE(r.units[0].result, "no answer");
        QVERIFY(!QFile::exists(dir_.filePath("b/unit-02.sav")));
        TextTable back;
        QVERIFY(loadTableFile(dir_.filePath("b/unit-04.sav"), startup_.defaults(), back).ok);
        QCOMPARE(back[19], "U4 M19");
        const QStringList index = rows(r.indexFile);
        QCOMPARE(index.size(), 6); // the header, four units, the empty end
        QCOMPARE(index[1].section(',', 0, 2), "2,115200,no answer");
        QCOMPARE(index[3].section(',', 0, 2) + ',' + index[3].section(',', 4),
                 "4,115200,saved,U4 M0");
    }

    // A stop ends the run between two requests: the unit finished is kept,
    // the one under way is saved nowhere, both are listed.
    void stopKeepsWhatWasFinished() {
        LineRun run(*transport_, op_, startup_);
        Listener heard;
        heard.run = &run;
        heard.stopUnit = 4;
        heard.stopSlot = 5;
        run.setProgress(&heard);
        const LineReport r = run.backup({3, 4, 5}, dir_.filePath("s"));
        QCOMPARE(r.outcome, LineReport::Outcome::Stopped);
        QCOMPARE(r.units.size(), 2);
        QCOMPARE(r.units[0].result, "saved");
        QCOMPARE(r.units[1].result, "stopped");
        QVERIFY(QFile::exists(dir_.filePath("s/unit-03.sav")));
        QVERIFY(!QFile::exists(dir_.filePath("s/unit-04.sav")));
        QCOMPARE(rows(r.indexFile).size(), 4);
        QVERIFY(op_.last().text.startsWith("unit 4: 5 of 20 interlocks read"));
        op_.clear();
    }

    // Compare lists the slots that differ per unit; restore writes to that
    // unit only, and afterwards every unit holds its file.
    void restoreWritesOnlyDiffering() {
        sim_.line().unit(4)->setMessage(2, "CHANGED");
        const LineFolder folder = readLineFolder(dir_.filePath("b"), startup_.defaults(), true);
        QVERIFY2(folder.error.isEmpty(), qPrintable(folder.error));
        LineRun run(*transport_, op_, startup_);
        const LineReport compared = run.compare(folder.units);
        QCOMPARE(compared.okCount(), 2);
        QCOMPARE(compared.units[1].differences.size(), 1);
        QCOMPARE(compared.units[1].differences[0].onUnit, "CHANGED");
        Changes changes;
        run.setChangeRecord(&changes);
        const LineReport restored = run.restore(folder.units);
        QCOMPARE(restored.okCount(), 3);
        QCOMPARE(changes.units, (QVector<int>{4, 4})); // sent, then written
        QCOMPARE(restored.units[1].result, "1 written, 0 erased, 19 unchanged");
        QCOMPARE(sim_.line().unit(4)->message(2), QByteArray("U4 M2"));
        QCOMPARE(op_.count(), 0);
    }

    // The folder a backup cannot go to, and a unit's file no slot can take,
    // are refused before anything is sent.
    void refusedBeforeSending() {
        QFile file(dir_.filePath("plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        LineRun run(*transport_, op_, startup_);
        const LineReport r = run.backup({3}, file.fileName());
        QCOMPARE(r.outcome, LineReport::Outcome::Refused);
        QVERIFY(r.error.endsWith("plain is not a folder"));
        QVERIFY(QDir(dir_.path()).mkpath("long"));
        TextTable table = startup_.defaults();
        table[4] = QString(41, 'L');
        QVERIFY(saveTableFile(dir_.filePath("long/unit-03.sav"), table).ok);
        QVERIFY(readLineFolder(dir_.filePath("long"), startup_.defaults(), true)
                    .error.contains("cannot go to the unit"));
        QVERIFY(readLineFolder(dir_.filePath("long"), startup_.defaults(), false).error.isEmpty());
        QString why;
        QVERIFY(!parseUnitRange("5-3", 1, 31, &why) && why.contains("not \"5-3\""));
        QCOMPARE(parseUnitRange("7", 1, 31), std::make_optional(std::make_pair(7, 7)));
    }
};

QTEST_GUILESS_MAIN(TestLineRun)
#include "test_linerun.moc"
