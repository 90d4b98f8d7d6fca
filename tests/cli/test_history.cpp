// qv840ctl's history: a write all killed part way leaves whole rows only, and
// `qv840ctl history` filters them and counts the damaged.

#include "table/HistoryFile.h"
#include "table/TableFile.h"

#include <QtTest>

static const QString kCtl = QDir(qEnvironmentVariable("QV_APP_DIR")).filePath("qv840ctl");

class TestHistory : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();

    QString history() const { return dir_.filePath("history.csv"); }
    // Runs qv840ctl to its end: stdout, and stderr in err.
    QString ctl(const QStringList& args, int& status, QString* err = nullptr) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(kCtl, args);
        status = p.waitForFinished(20000) ? p.exitCode() : -1;
        if (err)
            *err = QString::fromUtf8(p.readAllStandardError());
        return QString::fromUtf8(p.readAllStandardOutput());
    }

private slots:
    void initTestCase() { env_.insert("QV840N_DATA_DIR", dir_.path()); }

    // SIGKILL in the middle of write all: each slot written is one whole row.
    void killedWriteAll() {
        TextTable table;
        for (int k = 0; k < 20; ++k)
            table[size_t(k)] = QStringLiteral("CHANGED %1, \"QUOTED\"").arg(k);
        const QString file = dir_.filePath("all.sav");
        QVERIFY(saveTable(file, table).ok);
        QProcess unit, writer;
        unit.start(kCtl, {"simulate"});
        QVERIFY(unit.waitForReadyRead(5000));
        const QString port = QString::fromUtf8(unit.readLine()).trimmed();
        writer.setProcessEnvironment(env_);
        writer.setProcessChannelMode(QProcess::MergedChannels);
        writer.start(kCtl, {"--trace", "--pause-ms", "100", "-p", port, "write-all", file});
        QByteArray said;
        while (said.count("TX") < 6 && writer.waitForReadyRead(5000))
            said += writer.readAll();
        QCOMPARE(writer.state(), QProcess::Running);
        writer.kill();
        QVERIFY(writer.waitForFinished(5000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        unit.kill();
        unit.waitForFinished(5000);

        const HistoryRead read = readHistory(history());
        QCOMPARE(read.damaged, 0);
        QVERIFY2(read.changes.size() >= 4 && read.changes.size() < 20, said.constData());
        for (int i = 0; i < read.changes.size(); ++i) {
            const SlotChange& c = read.changes[i];
            QCOMPARE(c.slot, i);
            QCOMPARE(c.unit, 1);
            QCOMPARE(c.endpoint, port);
            QCOMPARE(c.speed, QStringLiteral("9600"));
            QCOMPARE(c.result, QStringLiteral("written"));
            QCOMPARE(c.written, table[size_t(i)]);
        }
    }

    void filtersAndDamage() {
        const int rows = int(readHistory(history()).changes.size());
        QVERIFY(rows > 0);
        int status = -1;
        QString err;
        QStringList lines = ctl({"history"}, status, &err).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(status, 0);
        QCOMPARE(lines.size(), rows);
        QVERIFY2(lines.first().contains("  unit 1  slot 0 (") && lines.first().contains(" -> \"") &&
                     lines.first().endsWith("  written"),
                 qPrintable(lines.first()));
        QVERIFY(err.isEmpty());
        QCOMPARE(ctl({"history", "--unit", "1"}, status).count('\n'), rows);
        QCOMPARE(ctl({"history", "--unit", "2"}, status), QString());
        QCOMPARE(ctl({"-a", "2", "history"}, status), QString());
        QCOMPARE(ctl({"history", "--since", "2000-01-01"}, status).count('\n'), rows);
        QCOMPARE(ctl({"history", "--since", "2999-01-01T10:00"}, status), QString());
        ctl({"history", "--since", "yesterday"}, status, &err);
        QCOMPARE(status, 2);
        QVERIFY(err.contains("not a date"));

        // A row cut short, as a crash leaves it: skipped, counted on stderr.
        QFile file(history());
        QVERIFY(file.open(QIODevice::Append));
        file.write("2024-05-01T10:00:00Z,/dev/ttyS0,9600,1,3,42-3,,HALF");
        file.close();
        lines = ctl({"history"}, status, &err).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(status, 0);
        QCOMPARE(lines.size(), rows);
        QVERIFY2(err.contains("1 damaged line in "), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
