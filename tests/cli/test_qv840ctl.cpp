// qv840ctl as a user runs it: the built program against `qv840ctl simulate`,
// checked by its output and exit status.

#include "startup/CodePage.h"
#include "startup/ConfigFiles.h"
#include "table/TableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString appDir() {
    return qEnvironmentVariable("QV_APP_DIR");
}
QString ctl() {
    return QDir(appDir()).filePath("qv840ctl");
}

struct Run {
    int status = -1;
    QString out;
    QString err;
};

QProcess* startCtl(const QStringList& args) {
    auto* p = new QProcess;
    p->start(ctl(), args);
    return p;
}

Run finish(QProcess* p, int timeoutMs = 30000) {
    Run r;
    if (!p->waitForFinished(timeoutMs))
        p->kill();
    p->waitForFinished();
    r.status = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    r.out = QString::fromUtf8(p->readAllStandardOutput());
    r.err = QString::fromUtf8(p->readAllStandardError());
    delete p;
    return r;
}

Run ctlRun(const QStringList& args) {
    return finish(startCtl(args));
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// `qv840ctl simulate` for the length of a test.
class Simulator {
public:
    explicit Simulator(const QStringList& options = {}) {
        // Its trace goes to a file: nothing reads the pipe while a test waits
        // for the tool.
        proc_.setStandardErrorFile(logDir_.filePath("trace.log"));
        proc_.start(ctl(), QStringList{"--trace", "simulate"} + options);
        while (!proc_.canReadLine() && proc_.waitForReadyRead(5000)) {
        }
        path_ = QString::fromUtf8(proc_.readLine()).trimmed();
    }
    ~Simulator() { stop(); }
    QString path() const { return path_; }
    // Ends it as Ctrl+C would; its exit status and what it heard.
    int stop() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate();
            proc_.waitForFinished(5000);
            status_ = proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
        }
        return status_;
    }
    QString trace() const { return QString::fromUtf8(fileBytes(logDir_.filePath("trace.log"))); }

private:
    QTemporaryDir logDir_;
    QProcess proc_;
    QString path_;
    int status_ = -1;
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestQv840ctl : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void writeReadErase();
    void charactersAndLength_data();
    void charactersAndLength();
    void readAllPrintsAndSaves();
    void writeAll();
    void silentUnit();
    void missingPort();
    void badUsage_data();
    void badUsage();
    void badConfiguration();
    void traceAndUnitAddress();
    void simulateEndsCleanly();

private:
    TextTable defaults_;
};

void TestQv840ctl::initTestCase() {
    QVERIFY2(QFileInfo(ctl()).isExecutable(), qPrintable(ctl()));
    QVERIFY(!readDefaults(appDir(), defaults_));
}

void TestQv840ctl::writeReadErase() {
    Simulator sim;
    QVERIFY(sim.path().startsWith("/dev/"));
    const QString p = sim.path();

    Run r = ctlRun({"-p", p, "write", "0", "HELLO"});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.isEmpty()); // stdout is for data only
    r = ctlRun({"-p", p, "read", "0"});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QString("HELLO\n"));

    // A shorter text replaces the whole message, not just its start.
    QCOMPARE(ctlRun({"-p", p, "write", "0", "HI"}).status, 0);
    QCOMPARE(ctlRun({"-p", p, "read", "0"}).out, QString("HI\n"));

    QCOMPARE(ctlRun({"-p", p, "erase", "0"}).status, 0);
    r = ctlRun({"-p", p, "read", "0"});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QString("\n"));

    // A text starting with a dash, after "--".
    QCOMPARE(ctlRun({"-p", p, "write", "19", "--", "-5 V"}).status, 0);
    QCOMPARE(ctlRun({"-p", p, "read", "19"}).out, QString("-5 V\n"));
}

void TestQv840ctl::charactersAndLength_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("status");
    QTest::newRow("euro sign is in Windows-1252") << QString("5 € COIN") << 0;
    QTest::newRow("accents") << QString("PRÉSSION ÉLEVÉE") << 0;
    QTest::newRow("omega is not") << QString("Ω LOAD") << 2;
    QTest::newRow("40 characters") << QString(40, 'X') << 0;
    QTest::newRow("41 characters") << QString(41, 'X') << 2;
    QTest::newRow("empty") << QString() << 2;
}

void TestQv840ctl::charactersAndLength() {
    QFETCH(QString, text);
    QFETCH(int, status);
    Simulator sim;
    QCOMPARE(ctlRun({"-p", sim.path(), "write", "3", "OLD"}).status, 0);
    const Run w = ctlRun({"-p", sim.path(), "write", "3", text});
    QCOMPARE(w.status, status);
    const Run r = ctlRun({"-p", sim.path(), "read", "3"});
    if (status == 0) {
        QCOMPARE(r.out, text + "\n");
    } else {
        QVERIFY(!w.err.isEmpty());
        QCOMPARE(r.out, QString("OLD\n")); // nothing was sent
    }
    if (text.contains(QChar(0x3A9)))
        QVERIFY2(w.err.contains(QChar(0x3A9)), qPrintable(w.err));
}

void TestQv840ctl::readAllPrintsAndSaves() {
    QTemporaryDir dir;
    // Slot 2 empty (the table keeps its default), slot 7 with a 1252 byte.
    QByteArray sav;
    QStringList messages;
    for (int k = 0; k < 20; ++k)
        messages << QString("MESSAGE %1").arg(k);
    messages[2].clear();
    messages[7] = "CHAUDIÈRE";
    for (const QString& m : messages)
        sav += '"' + CodePage::encode(m).bytes + "\"\r\n";
    writeFile(dir.filePath("unit.sav"), sav);

    // Both read-alls at once: each takes twenty bulk passes at real timing.
    Simulator simA({"--messages", dir.filePath("unit.sav")});
    Simulator simB({"--messages", dir.filePath("unit.sav")});
    const QString saved = dir.filePath("read.sav");
    QProcess* printing = startCtl({"-p", simA.path(), "read-all"});
    QProcess* saving = startCtl({"-p", simB.path(), "read-all", "-o", saved});
    const Run printed = finish(printing);
    const Run savedRun = finish(saving);

    TextTable expected = defaults_;
    QStringList lines;
    for (int k = 0; k < 20; ++k) {
        if (!messages[k].isEmpty())
            expected[size_t(k)] = messages[k];
        lines << QString::number(k) + '\t' + expected[size_t(k)];
    }
    QCOMPARE(printed.status, 0);
    QStringList got = printed.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(got.size(), 20);
    QCOMPARE(got[0], QString("0\tL1-40\tMESSAGE 0"));
    QCOMPARE(got[19], QString("19\t60-P\tMESSAGE 19"));
    for (QString& line : got)
        line.remove(QRegularExpression("\t[^\t]*(?=\t)")); // drop the caption
    QCOMPARE(got, lines);

    QCOMPARE(savedRun.status, 0);
    QVERIFY(savedRun.out.isEmpty());
    QVERIFY(saveTable(dir.filePath("expected.sav"), expected).ok);
    QCOMPARE(fileBytes(saved), fileBytes(dir.filePath("expected.sav")));
}

void TestQv840ctl::writeAll() {
    QTemporaryDir dir;
    Simulator sim;
    QCOMPARE(ctlRun({"-p", sim.path(), "write-all", dir.filePath("missing.sav")}).status, 2);

    // One entry too long: refused before anything is sent.
    QByteArray sav;
    for (int k = 0; k < 20; ++k)
        sav += '"' + CodePage::encode(defaults_[size_t(k)]).bytes + "\"\r\n";
    QByteArray tooLong = sav;
    tooLong.replace(CodePage::encode(defaults_[4]).bytes, QByteArray(41, 'L'));
    writeFile(dir.filePath("long.sav"), tooLong);
    const Run refused = ctlRun({"-p", sim.path(), "write-all", dir.filePath("long.sav")});
    QCOMPARE(refused.status, 2);
    QVERIFY2(refused.err.contains("41"), qPrintable(refused.err));
    QVERIFY(!sim.trace().contains("RX"));

    // Only the entry that differs from its default goes out.
    QByteArray one = sav;
    one.replace(CodePage::encode(defaults_[5]).bytes, "CHANGED FIVE");
    writeFile(dir.filePath("one.sav"), one);
    QCOMPARE(ctlRun({"-p", sim.path(), "write-all", dir.filePath("one.sav")}).status, 0);
    QCOMPARE(ctlRun({"-p", sim.path(), "read", "5"}).out, QString("CHANGED FIVE\n"));
    QCOMPARE(sim.trace().count("RX"), 2); // the write and the read
}

void TestQv840ctl::silentUnit() {
    Simulator sim({"--never-answer"});
    Run r = ctlRun({"-p", sim.path(), "read", "0"});
    QCOMPARE(r.status, 1);
    QVERIFY(r.out.isEmpty());
    QVERIFY2(r.err.contains("did not answer"), qPrintable(r.err));
    r = ctlRun({"-p", sim.path(), "write", "0", "LOST"});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.contains("Message Not Delivered"), qPrintable(r.err));
    QCOMPARE(ctlRun({"-p", sim.path(), "erase", "0"}).status, 1);
}

void TestQv840ctl::missingPort() {
    const Run r = ctlRun({"-p", "/dev/qv840-no-such-port", "read", "0"});
    QCOMPARE(r.status, 3);
    QVERIFY2(r.err.contains("/dev/qv840-no-such-port"), qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
}

void TestQv840ctl::badUsage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no command") << QStringList{};
    QTest::newRow("unknown command") << QStringList{"-p", "/dev/null", "fetch"};
    QTest::newRow("unknown option") << QStringList{"--speed", "9600", "ports"};
    QTest::newRow("read without slot") << QStringList{"-p", "/dev/null", "read"};
    QTest::newRow("slot 20") << QStringList{"-p", "/dev/null", "read", "20"};
    QTest::newRow("slot not a number") << QStringList{"-p", "/dev/null", "erase", "one"};
    QTest::newRow("write without text") << QStringList{"-p", "/dev/null", "write", "1"};
    QTest::newRow("baud 300") << QStringList{"-b", "300", "-p", "/dev/null", "read", "0"};
    QTest::newRow("unit 32") << QStringList{"-a", "32", "-p", "/dev/null", "read", "0"};
    QTest::newRow("no port") << QStringList{"read", "0"};
    QTest::newRow("read-all stray argument") << QStringList{"-p", "/dev/null", "read-all", "x"};
    QTest::newRow("simulate bad unit") << QStringList{"simulate", "--unit", "x"};
    QTest::newRow("simulate bad file") << QStringList{"simulate", "--messages", "/nonexistent.sav"};
}

void TestQv840ctl::badUsage() {
    QFETCH(QStringList, args);
    const Run r = ctlRun(args);
    QCOMPARE(r.status, 2);
    QVERIFY(r.out.isEmpty());
    QVERIFY(r.err.startsWith("qv840ctl: "));
}

void TestQv840ctl::badConfiguration() {
    QTemporaryDir dir;
    QFile::copy(QDir(appDir()).filePath("Defaults.txt"), dir.filePath("Defaults.txt"));
    writeFile(dir.filePath("CRC-16.TBL"), "\r\n&H00\r\n&HC0\r\n");
    const Run r = ctlRun({"--config", dir.path(), "-p", "/dev/null", "read", "0"});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains("CRC-16.TBL"), qPrintable(r.err));
}

void TestQv840ctl::traceAndUnitAddress() {
    Simulator sim({"--unit", "5"});
    const Run wrong = ctlRun({"-p", sim.path(), "read", "0"});
    QCOMPARE(wrong.status, 1); // unit 1 is not there
    const Run r = ctlRun({"--trace", "-a", "5", "-p", sim.path(), "erase", "19"});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.contains("TX 05 10 03 0C 00 01 02 00 00 A7 5C\n"), qPrintable(r.err));
    QVERIFY2(r.err.contains("RX 05 10 03 0C 00 01"), qPrintable(r.err));
}

void TestQv840ctl::simulateEndsCleanly() {
    QTemporaryDir dir;
    const QString link = dir.filePath("qv840");
    Simulator sim({"--link", link});
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
    QCOMPARE(ctlRun({"-p", link, "write", "1", "VIA LINK"}).status, 0);
    QCOMPARE(sim.stop(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestQv840ctl)
#include "test_qv840ctl.moc"
