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
#include "support/Files.h"
#include "support/RecordingOperator.h"
#include "support/TableRig.h"
#include "table/TableFiles.h"
#include "transport/ChangeRecord.h"
#include "transport/RtuTransport.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

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
    return QString::fromUtf8(fileBytes(index)).split("\r\n");
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
        QVERIFY(port_.open().ok && port_.setSettings({115200}).ok);
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
        QCOMPARE(op_.count(), 0); // its first silence ended its part, asking and telling nobody
        run.backup({5, 2}, dir_.filePath("c")); // a silent unit last: the line's bar ends full too
        QCOMPARE(heard.percents.last(), 100);
        QVERIFY(r.units[0].box.endsWith("No answer for interlock L1-40 at unit address 2."));
        QVERIFY(!QFile::exists(dir_.filePath("b/unit-02.sav")));
        TextTable back;
        QVERIFY(loadTableFile(dir_.filePath("b/unit-04.sav"), startup_.defaults(), back).ok);
        QCOMPARE(back[19], "U4 M19");
        const QStringList index = rows(r.indexFile);
        QCOMPARE(index.size(), 6); // the header, four units, the empty end
        QCOMPARE(index[1].section(',', 0, 2), "2,115200,no answer");
        QCOMPARE(index[3].section(',', 0, 2) + ',' + index[3].section(',', 4),
                 "4,115200,saved,U4 M0");
        QCOMPARE(backupIn(dir_.filePath("b"))->section(" from ", 0, 0),
                 "a backup of units 2, 3, 4 and 5");
        QVERIFY(QDir(dir_.path()).mkpath("e") &&
                QFile(dir_.filePath("e/index.csv")).open(QFile::WriteOnly));
        QCOMPARE(*backupIn(dir_.filePath("e")), "a backup"); // an index that names no unit
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
        // Both answered; only the finished one names its file.
        QVERIFY(r.units[0].answered && r.units[1].answered);
        QCOMPARE(r.units[0].file + "|" + r.units[1].file, dir_.filePath("s/unit-03.sav") + "|");
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

        // Stopped while a write is under way: the unit's row names the slots written and the one
        // that may have reached the unit.
        for (int k : {2, 5, 9})
            sim_.line().unit(4)->setMessage(k, "CHANGED AGAIN");
        int writes = 0;
        const auto stopAtSecond =
            QObject::connect(transport_.get(), &Transport::frameSent, [&](const QByteArray& frame) {
                if (frame.at(1) == '\x10' && ++writes == 2)
                    run.requestStop();
            });
        const LineReport stopped = run.restore(folder.units);
        QObject::disconnect(stopAtSecond);
        QCOMPARE(stopped.outcome, LineReport::Outcome::Stopped);
        QCOMPARE(stopped.units[1].result,
                 "stopped: written 41-42; 43-44 may have reached the unit");
        // The port lost under a write (a pulled adapter): the unit's row says so, and the line
        // ends there.
        sim_.line().unit(4)->setMessage(2, "CHANGED AGAIN");
        writes = 0;
        const auto pullAtSecond =
            QObject::connect(transport_.get(), &Transport::frameSent, [&](const QByteArray& frame) {
                const int fd = ::open(qPrintable(sim_.devicePath()), O_RDWR | O_NOCTTY);
                if (frame.at(1) == '\x10' && ++writes == 2)
                    ::ioctl(fd, TIOCVHANGUP);
                ::close(fd);
            });
        const LineReport pulled = run.restore(folder.units);
        QObject::disconnect(pullAtSecond);
        QVERIFY(port_.open().ok && port_.setSettings({115200}).ok);
        QCOMPARE(pulled.units.size(), 2);
        QCOMPARE(pulled.units[1].result,
                 "the port failed: written 41-42; 43-44 may have reached the unit");
        op_.clear();
    }

    // The folder a backup cannot go to, a unit's file no slot can take, and a
    // line another operation holds are refused before anything is sent.
    void refusedBeforeSending() {
        QVERIFY(putFile(dir_.filePath("plain"), {}));
        LineRun run(*transport_, op_, startup_);
        const LineReport r = run.backup({3}, dir_.filePath("plain"));
        QCOMPARE(r.outcome, LineReport::Outcome::Refused);
        QVERIFY(r.error.endsWith("plain is not a folder") && QDir(dir_.path()).mkpath("long"));
        QCOMPARE(readLineFolder(dir_.filePath("plain"), startup_.defaults(), true).error,
                 dir_.filePath("plain") + " is not a folder");
        TextTable table = startup_.defaults();
        table[4] = QString(41, 'L');
        QVERIFY(saveTableFile(dir_.filePath("long/unit-03.sav"), table).ok);
        QVERIFY(readLineFolder(dir_.filePath("long"), startup_.defaults(), true)
                    .error.contains("cannot go to the unit"));
        QVERIFY(readLineFolder(dir_.filePath("long"), startup_.defaults(), false).error.isEmpty());
        QString why;
        QVERIFY(!parseUnitRange("5-3", 1, 31, &why) && why.contains("not \"5-3\""));
        port_.close(); // a port that failed while idle: the unit is listed as not read, and why
        const LineReport closed = run.backup({3}, dir_.filePath("closed"));
        QVERIFY(port_.open().ok && port_.setSettings({115200}).ok);
        QVERIFY(closed.units.value(0).result.startsWith("not read: The serial port "));
        const TransportClaim other(*transport_); // another operation holds the line
        QCOMPARE(run.backup({3}, dir_.filePath("held")).outcome, LineReport::Outcome::Refused);
    }
    // Unit addresses run from 1 to 31, both ends taken: a folder's files and --units.
    void unitAddressBoundaries_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected"); // the units, or the start of the error
        QTest::newRow("1 and 31") << QStringList{"unit-01.sav", "unit-31.sav"} << "1 31";
        QTest::newRow("31 alone") << QStringList{"unit-31.sav"} << "31";
        QTest::newRow("32") << QStringList{"unit-31.sav", "unit-32.sav"} << "unit-32.sav: a unit";
        QTest::newRow("0") << QStringList{"unit-00.sav", "unit-01.sav"} << "unit-00.sav: a unit";
    }
    void unitAddressBoundaries() {
        QFETCH(QStringList, names);
        QTemporaryDir dir;
        for (const QString& name : names)
            QVERIFY(saveTableFile(dir.filePath(name), startup_.defaults()).ok);
        const LineFolder folder = readLineFolder(dir.path(), startup_.defaults(), true);
        QStringList units;
        for (const UnitFile& u : folder.units)
            units << QString::number(u.unit);
        QFETCH(QString, expected);
        const QString got =
            folder.error.isEmpty() ? units.join(' ') : folder.error.section('/', -1);
        QVERIFY2(folder.error.isEmpty() ? got == expected : got.startsWith(expected),
                 qPrintable(got));
        QCOMPARE(parseUnitRange("1-31", 1, 31), std::make_optional(std::make_pair(1, 31)));
        QVERIFY(!parseUnitRange("0-5", 1, 31) && !parseUnitRange("30-32", 1, 31));
        // A table named as a backup names it (the command line then asks for -a).
        QCOMPARE(unitNamedBy("/b/unit-01.sav").value_or(0) + unitNamedBy("UNIT-31.SAV").value_or(0),
                 32);
        for (const char* other :
             {"unit-001.sav", "unit-1.sav", "unit-00.sav", "unit-32.sav", "u-05.sav"})
            QVERIFY2(!unitNamedBy(other), other);
    }

    // A unit that misleads: it confirms the write and keeps its old text, or cannot be read back
    // after it, or refuses or garbles the read of slot 0. A restore then counts the unit as not
    // restored, names what the slot was found to hold (or that it could not be read, never the
    // default), and a unit that answers at all is restored or compared, never skipped as silent.
    void restoreOnAUnitThatMisleads_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("difference"); // empty: none
        QTest::addColumn<QString>("requests");
        const QString reads = singleReads(0, 19); // the first also tells whether it is there
        const QString differs = "0 written, 0 erased, 19 unchanged, 1 still differs",
                      held = "interlock 42-3: on the unit \"STORED 3\", in the file \"THREE\"",
                      unreadable = "interlock 42-3: could not be read, in the file \"THREE\"";
        QTest::newRow("keeps its old text") // as it holds
            << QString("unstored") << differs << held << reads + " W3 R3";
        QTest::newRow("read-back unanswered")
            << QString("read-back unanswered") << differs << unreadable << reads + " W3 R3";
        // A write without a usable reply may have been stored all the same: it is read back.
        QTest::newRow("write unanswered")
            << QString("write unanswered") << differs << unreadable << reads + " W3 R3";
        QTest::newRow("write refused")
            << QString("write refused") << differs << held << reads + " W3 R3";
        const QString unread = "nothing written: 1 slot could not be read";
        QTest::newRow("slot 0 refused") << QString("exception 0") << unread << QString() << reads;
        QTest::newRow("slot 0 garbled") << QString("garbled 0") << unread << QString() << reads;
        QTest::newRow("silent") << QString("silent") << "did not answer" << QString() << "R0";
    }
    void restoreOnAUnitThatMisleads() {
        QFETCH(QString, fault);
        QFETCH(QString, result);
        QFETCH(QString, difference);
        ScriptedRig rig;
        bool written = false;
        rig.unit.onRequest = [&](const QByteArray& request) { written |= request.at(1) == 0x10; };
        rig.unit.spoil = [&](int k, const QByteArray& reply,
                             const QByteArray& request) -> QByteArray {
            if (written && (fault == "write unanswered" || request.at(1) == 0x03) &&
                fault.endsWith("unanswered"))
                return {};
            if (fault == "write refused" && request.at(1) == 0x10) {
                rig.unit.model.setMessage(3, "STORED 3"); // as the unit does nothing
                return FakeUnit::framed("\x01\x90\x04");
            }
            if (k == 0 && fault == "exception 0")
                return FakeUnit::framed("\x01\x83\x02");
            if (k == 0 && fault == "garbled 0")
                return "\x01\x03\x50\x41\x41\x00";
            return reply;
        };
        if (fault == "unstored")
            rig.unit.unstored = {3};
        if (fault == "silent")
            for (int k = 0; k < 20; ++k)
                rig.unit.silent << k;
        MessageTable startup;
        startup.reset(rig.defaults, rig.defaults);
        UnitFile file{1, "unit-01.sav", numberedTexts("STORED %1")};
        file.table[3] = "THREE";
        RecordingOperator op;
        LineRun run(rig.transport, op, startup);
        const LineReport r = run.restore({file});
        QCOMPARE(r.outcome, LineReport::Outcome::Finished);
        QCOMPARE(r.units.size(), 1);
        QCOMPARE(r.units[0].result, result);
        QCOMPARE(r.okCount(), 0);
        QCOMPARE(r.units[0].answered, fault != "silent");
        QStringList differences;
        for (const SlotDifference& d : r.units[0].differences)
            differences << differenceText(d);
        QCOMPARE(differences.join('|'), difference);
        QTEST(rig.requests(), "requests");
        QCOMPARE(rig.unit.model.message(3),
                 QByteArray(fault.endsWith("unanswered") ? "THREE" : "STORED 3"));
    }
};

QTEST_GUILESS_MAIN(TestLineRun)
#include "test_linerun.moc"
