// A restore goes to the unit its file names: qv840ctl against a simulated line of units 1 to 4,
// backed up into a folder.

#include "support/CtlRun.h"
#include "support/Files.h"

#include <QtTest>

class TestLineFolders : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QProcess line_;
    QString port_;

    // qv840ctl -p LINE -b 115200 --pause-ms 0 args, to its end.
    CtlRun ctl(const QStringList& args) {
        return runCtl(QStringList{"-p", port_, "-b", "115200", "--pause-ms", "0"} + args);
    }
    QString slot0(int unit) {
        return ctl({"-a", QString::number(unit), "read", "0"}).out.trimmed();
    }
    QString site() const { return dir_.filePath("site"); }
    void edit(const QString& file, const std::function<QByteArray(QByteArray)>& change) {
        QVERIFY(putFile(file, change(fileBytes(file))));
    }
    // Its status, then its stdout or its stderr.
    static QString out(const CtlRun& r) { return QString::number(r.status) + " " + r.out; }
    static QString err(const CtlRun& r) { return QString::number(r.status) + " " + r.err; }

private slots:
    void initTestCase() {
        port_ = startCtl(line_, {"simulate", "--units", "1-4", "--baud", "115200"});
        QCOMPARE(ctl({"--block-reads", "auto", "backup", "--units", "1-4", site()}).status, 0);
        QVERIFY(ctl({"-a", "3", "write", "0", "CHANGED 3"}).status == 0);
        QVERIFY(ctl({"-a", "4", "write", "0", "CHANGED 4"}).status == 0);
    }
    void cleanupTestCase() {
        line_.terminate();
        line_.waitForFinished(5000);
    }

    // -a with a folder restores that unit alone; the others keep their changes.
    void unitChosenFromAFolder() {
        QCOMPARE(out(ctl({"-a", "3", "restore", site()})),
                 "0 unit 3 (unit-03.sav): 1 written, 0 erased, 19 unchanged\n");
        QCOMPARE(slot0(3), "UNIT 3: BOILER 2 LOW WATER - CHECK FEED");
        QCOMPARE(slot0(4), "CHANGED 4");
        QCOMPARE(ctl({"verify", site(), "--units", "1-2"}).out,
                 "unit 1 (unit-01.sav): 20 of 20 slots as in the file\n"
                 "unit 2 (unit-02.sav): 20 of 20 slots as in the file\n");
        QCOMPARE(err(ctl({"-a", "2", "verify", site(), "--units", "1-2"})),
                 "2 qv840ctl: -a and --units both choose units: give one\n");
        QCOMPARE(err(ctl({"-a", "7", "verify", site()})),
                 QString("2 qv840ctl: %1 holds no backup of unit 7 (unit-07.sav)\n").arg(site()));
    }

    // A unit's file goes only where -a sends it.
    void aUnitsFile() {
        const QString file = site() + "/unit-04.sav";
        QCOMPARE(
            err(ctl({"restore", file})),
            QString("2 qv840ctl: %1 is unit 4's table (its name says so); nothing was written. "
                    "Give -a 4 to restore it to unit 4, or -a N for another unit\n")
                .arg(file));
        QCOMPARE(slot0(4), "CHANGED 4");
        QCOMPARE(slot0(1), "UNIT 1: BOILER 2 LOW WATER - CHECK FEED");
        QCOMPARE(ctl({"-a", "4", "restore", file}).status, 0);
        QCOMPARE(slot0(4), "UNIT 4: BOILER 2 LOW WATER - CHECK FEED");
    }

    // A copy cut after 17 rows would erase the last three slots: refused, alone or in a folder.
    void aTableCutShort() {
        QDir().mkpath(dir_.filePath("cut"));
        const QString cut = dir_.filePath("cut/unit-01.sav");
        QVERIFY(QFile::copy(site() + "/unit-01.sav", cut));
        edit(cut, [](QByteArray bytes) { return bytes.split('\n').mid(0, 17).join('\n') + '\n'; });
        const QString expected =
            QString("qv840ctl: %1 holds 17 of 20 messages: cut short, it would "
                    "erase the others. A table to compare or restore holds "
                    "every slot\n")
                .arg(cut);
        for (const char* command : {"restore", "verify"}) {
            QCOMPARE(err(ctl({"-a", "1", command, cut})), "2 " + expected);
            const CtlRun folder = ctl({command, dir_.filePath("cut")});
            QCOMPARE(folder.status, 2);
            QVERIFY2(folder.err.endsWith(expected), qPrintable(folder.err));
        }
    }

    // A unit-NN.sav the last backup did not save is older than the rest: left out, named.
    void anOlderFile() {
        edit(site() + "/index.csv", [](QByteArray bytes) {
            return bytes.replace("\r\n2,115200,saved,", "\r\n2,115200,no answer,");
        });
        QVERIFY(ctl({"-a", "2", "write", "5", "MONDAY"}).status == 0);
        const CtlRun r = ctl({"restore", site()});
        QVERIFY2(r.err.startsWith(
                     QString("qv840ctl: %1/unit-02.sav left out: the last backup (").arg(site())),
                 qPrintable(r.err));
        QVERIFY(r.err.contains(") did not save unit 2 (no answer), so the file is older"));
        QCOMPARE(out(r), "0 unit 1 (unit-01.sav): 0 written, 0 erased, 20 unchanged\n"
                         "unit 3 (unit-03.sav): 0 written, 0 erased, 20 unchanged\n"
                         "unit 4 (unit-04.sav): 0 written, 0 erased, 20 unchanged\n");
        QCOMPARE(ctl({"-a", "2", "read", "5"}).out, "MONDAY\n");
        const CtlRun chosen = ctl({"-a", "2", "restore", site()}); // asked for, but older: refused
        QCOMPARE(chosen.status, 2);
        QVERIFY(chosen.err.endsWith(
            QString("qv840ctl: %1 holds no backup of unit 2 (unit-02.sav)\n").arg(site())));
        QFile::remove(site() + "/unit-01.sav");
        edit(site() + "/index.csv", [](QByteArray bytes) { return bytes; });
        const CtlRun missing = ctl({"verify", site()});
        QCOMPARE(missing.status, 2);
        QVERIFY2(missing.err.endsWith(QString("qv840ctl: %1/index.csv lists unit 1 as saved, but "
                                              "unit-01.sav is not there\n")
                                          .arg(site())),
                 qPrintable(missing.err));
    }

    // A unit that does not answer is said so, not "0 of 20 slots differ".
    void aSilentUnit() {
        QCOMPARE(out(ctl({"-a", "9", "--timeout-ms", "50", "verify", site() + "/unit-03.sav"})),
                 "1 the unit did not answer: no slot was compared\n");
    }
};

QTEST_GUILESS_MAIN(TestLineFolders)
#include "test_line_folders.moc"
