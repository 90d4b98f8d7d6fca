// qv840ctl history, the history of a restore killed part way, and a stdout whose reader has gone.

#include "startup/CodePage.h"
#include "startup/MessageLayout.h"
#include "support/CtlRun.h"
#include "support/Files.h"
#include "table/HistoryFile.h"
#include "table/TableFile.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Runs qv840ctl with a stdout whose reader has gone, and SIGPIPE, as `| head -1` leaves it.
CtlRun runIntoClosedPipe(const QStringList& args, const QString& dataDir) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return {};
    ::close(ends[0]);
    const int writeEnd = ends[1];
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QV840N_DATA_DIR", dataDir);
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([writeEnd] {
        ::dup2(writeEnd, STDOUT_FILENO);
        ::signal(SIGPIPE, SIG_DFL);
    });
    p.start(ctlProgram(), args);
    CtlRun r;
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    ::close(writeEnd);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

SlotChange change(const QString& time, int unit, int slot, const QString& written,
                  const QString& result) {
    return {QDateTime::fromString(time, Qt::ISODate),
            "/dev/ttyUSB0",
            "9600",
            unit,
            slot,
            QString("42-%1").arg(slot),
            QString(),
            written,
            result};
}

// The writes a simulated unit's trace shows it received: "slot|text" each.
QStringList writesReceived(const QByteArray& trace) {
    QStringList writes;
    for (const QByteArray& line : trace.split('\n')) {
        if (!line.startsWith("RX 01 10 "))
            continue;
        const QByteArray frame = QByteArray::fromHex(line.mid(3).replace(' ', ""));
        const int reg = (quint8(frame[2]) << 8) | quint8(frame[3]);
        const QByteArray text = frame.mid(7, quint8(frame[6]));
        writes << QString("%1|%2")
                      .arg((reg - kFirstMessageRegister) / kRegistersPerMessage)
                      .arg(CodePage::decode(text.left(text.indexOf('\0'))));
    }
    return writes;
}

} // namespace

class TestHistoryCli : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QProcess sim_;
    QByteArray simTrace_; // what the simulated unit received and sent, so far
    QString simPath_;
    QString shown_; // the history file of sinceAndUnit, as its messages name it

    QString data(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() {
        // A unit that answers 100 ms late: a request killed on its way is still awaited.
        simPath_ = startCtl(sim_, {"--trace", "simulate", "--baud", "115200", "--late-ms", "100"});
        QVERIFY(!simPath_.isEmpty());
        connect(&sim_, &QProcess::readyReadStandardError,
                [this] { simTrace_ += sim_.readAllStandardError(); });

        HistoryFile file(data("h/history.csv"));
        file.record(change("2026-12-06T12:00:00Z", 1, 4, "E", "written"));
        file.record(change("2026-12-07T22:59:00Z", 1, 0, "A", "written"));
        file.record(change("2026-12-07T23:00:00Z", 2, 1, "", "erased"));
        file.record(change("2026-12-07T23:30:00+02:00", 1, 2, "=C", "no answer"));
        file.record(change("2026-12-08T00:00:00Z", 1, 3, "D", "sent"));
        QVERIFY(
            putFile(file.path(), fileBytes(file.path()) +
                                     "2026-12-08T00:01:00Z,/dev/ttyUSB0,9600,1,3,42-3,,D,writ"));
        shown_ = file.path();
    }
    void cleanupTestCase() {
        sim_.terminate();
        sim_.waitForFinished(5000);
    }

    // --since honours the time (local unless given), refuses what no clock shows; --unit picks.
    void sinceAndUnit_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("tz");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("out"); // the rows shown, by their slot
        QTest::addColumn<QString>("err");     // none: "N of 5 changes shown", N the rows shown
        const auto row = [](const char* name, const QString& line, const QString& tz, int status,
                            const QStringList& out, const QString& err = {}) {
            QTest::newRow(name) << QProcess::splitCommand(line) << tz << status << out << err;
        };
        row("all", "history", "UTC", 0, {"4", "0", "1", "2", "3"},
            "qv840ctl: history of %1: 5 changes, 1 damaged line skipped\n");
        row("since a time", "history --since 2026-12-07T23:00", "UTC", 0, {"1", "3"});
        row("since a day", "history --since 2026-12-07", "UTC", 0, {"0", "1", "2", "3"});
        row("local time", "history --since 2026-12-07T23:00", "CET-1", 0, {"0", "1", "3"});
        row("an offset", "history --since 2026-12-07T23:00+01:00", "UTC", 0, {"0", "1", "3"});
        row("to the second", "history --since 2026-12-07T21:30:00Z", "UTC", 0,
            {"0", "1", "2", "3"});
        row("past that second", "history --since 2026-12-07T21:30:01Z", "UTC", 0, {"0", "1", "3"});
        row("one unit", "history --unit 2", "UTC", 0, {"1"});
        row("one unit, -a", "-a 2 history", "UTC", 0, {"1"});
        row("one unit since a time", "history --unit 1 --since 2026-12-07T23:00", "UTC", 0, {"3"});
        const QString forms = "give 2024-05-01 or 2024-05-01T14:30\n";
        row("hour 24", "history --since 2026-12-07T24:00", "UTC", 2, {},
            "qv840ctl: --since \"2026-12-07T24:00\": no such time of day (hours 00 to 23, "
            "minutes and seconds 00 to 59)\n");
        row("30 February", "history --since 2026-02-30", "UTC", 2, {},
            "qv840ctl: --since \"2026-02-30\": no such day in the calendar; " + forms);
        row("offset 15 h", "history --since 2026-12-07T23:00+15:00", "UTC", 2, {},
            "qv840ctl: --since \"2026-12-07T23:00+15:00\": no such offset from UTC (at most "
            "14:59 either way)\n");
        row("a blank for T", "history --since \"2026-12-07 23:00\"", "UTC", 2, {},
            "qv840ctl: --since \"2026-12-07 23:00\" is not a date: " + forms);
    }
    void sinceAndUnit() {
        QFETCH(QStringList, args);
        QFETCH(QString, tz);
        QFETCH(int, status);
        QFETCH(QStringList, out);
        QFETCH(QString, err);
        if (err.isEmpty())
            err = "qv840ctl: history of %1: " + QString::number(out.size()) +
                  " of 5 changes shown, 1 damaged line skipped\n";
        const QHash<QString, QString> lines{
            {"4", "2026-12-06T12:00:00Z  /dev/ttyUSB0 9600  unit 1  slot 4 (42-4)  - -> \"E\"  "
                  "written"},
            {"0", "2026-12-07T22:59:00Z  /dev/ttyUSB0 9600  unit 1  slot 0 (42-0)  - -> \"A\"  "
                  "written"},
            {"1", "2026-12-07T23:00:00Z  /dev/ttyUSB0 9600  unit 2  slot 1 (42-1)  - -> -  "
                  "erased"},
            {"2", "2026-12-07T23:30:00+02:00  /dev/ttyUSB0 9600  unit 1  slot 2 (42-2)  - -> "
                  "\"=C\"  no answer"},
            {"3", "2026-12-08T00:00:00Z  /dev/ttyUSB0 9600  unit 1  slot 3 (42-3)  - -> \"D\"  "
                  "sent, no outcome recorded"},
        };
        QString expected;
        for (const QString& slot : out)
            expected += lines.value(slot) + '\n';
        const CtlRun r = runCtl(args, {"QV840N_DATA_DIR=" + data("h"), "TZ=" + tz});
        QCOMPARE(r.out, expected);
        QCOMPARE(r.err, err.contains("%1") ? err.arg(shown_) : err);
        QCOMPARE(r.status, status);
    }

    void noHistoryYet() {
        const CtlRun r = runCtl({"history", "--unit", "3"}, {"QV840N_DATA_DIR=" + data("none")});
        QCOMPARE(QString::number(r.status) + "|" + r.out + "|" + r.err,
                 "0||qv840ctl: no history yet: " + data("none/history.csv") + " does not exist\n");
    }

    // A restore killed (SIGKILL) anywhere: every write that went out has its row; one whose
    // reply the program never saw reads as sent, with no outcome.
    void killedRestore_data() {
        QTest::addColumn<int>("requests"); // killed once this many went out
        // Four block reads, then for each slot a write and its read-back.
        QTest::newRow("a read") << 2;
        QTest::newRow("the first write") << 5;
        QTest::newRow("its read-back") << 6;
    }
    void killedRestore() {
        QFETCH(int, requests);
        TextTable table;
        for (int k = 0; k < kInterlockCount; ++k)
            table[size_t(k)] = QString("KILLED AFTER %1, SLOT %2").arg(requests).arg(k);
        const QString file = data(QString("kill-%1.sav").arg(requests));
        QVERIFY(saveTable(file, table).ok);
        const QString history = data(QString("kill-%1").arg(requests));
        const qsizetype traceFrom = simTrace_.size();

        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QV840N_DATA_DIR", history);
        ctl.setProcessEnvironment(env);
        ctl.setProcessChannelMode(QProcess::MergedChannels);
        ctl.start(ctlProgram(), {"--trace", "-p", simPath_, "-b", "115200", "--pause-ms", "0",
                                 "--block-reads", "on", "restore", file});
        QByteArray said = "\n"; // each request's line starts after a line end
        while (said.count("\nTX ") < requests && ctl.waitForReadyRead(5000))
            said += ctl.readAll();
        ::kill(ctl.processId(), SIGKILL);
        QVERIFY(ctl.waitForFinished(5000));
        said += ctl.readAll();
        QCOMPARE(said.count("\nTX "), requests);
        QTest::qWait(300); // for the unit to take what was on its way

        // Every write that went out has its row, the one on its way too, naming its terminals.
        QStringList sent;
        for (int k = 0; k < (requests < 5 ? 0 : (requests - 3) / 2); ++k)
            sent << QString("%1|%2").arg(k).arg(table[size_t(k)]);
        const QVector<SlotChange> changes = readHistory(history + "/history.csv").changes;
        QStringList recorded;
        for (const SlotChange& c : changes) // only slot 0 is ever reached: its terminals L1-40
            recorded << QString("%1|%2").arg(c.slot).arg(c.terminal == "L1-40" ? c.written : "?");
        QCOMPARE(recorded, sent);
        // The unit took each of them, but perhaps the write the kill cut short.
        const QStringList received = writesReceived(simTrace_.mid(traceFrom));
        const bool lastWasWrite = requests >= 5 && requests % 2 == 1;
        QVERIFY2(received == sent || (lastWasWrite && received == sent.mid(0, sent.size() - 1)),
                 qPrintable(received.join(", ")));
        const bool unanswered = !said.mid(said.lastIndexOf("\nTX ")).contains("\nRX ");
        if (requests >= 5 && unanswered) {
            QCOMPARE(changes.last().result, QString("sent, no outcome recorded"));
            const CtlRun r = runCtl({"history"}, {"QV840N_DATA_DIR=" + history});
            QVERIFY2(r.out.endsWith(QString("-> \"%1\"  sent, no outcome recorded\n")
                                        .arg(table[size_t(changes.last().slot)])),
                     qPrintable(r.out));
        }
    }

    // A command whose reader has gone ends with status 1, says so, and stops its work there.
    void closedOutput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("scan") << QProcess::splitCommand(
            u"--trace -p @sim scan --speeds 115200 --units 1-31 --timeout-ms 400");
        QTest::newRow("simulate") << QStringList{"simulate"};
    }
    void closedOutput() {
        QFETCH(QStringList, args);
        args.replaceInStrings("@sim", simPath_);
        const CtlRun r = runIntoClosedPipe(args, data("h"));
        QVERIFY2(r.err.endsWith("qv840ctl: cannot write the output: Broken pipe\n"),
                 qPrintable(r.err));
        QCOMPARE(r.status, 1);
        // The scan stops at the unit it found first, not after 31 addresses.
        QVERIFY2(r.err.count("TX ") < 4, qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestHistoryCli)
#include "test_history_cli.moc"
