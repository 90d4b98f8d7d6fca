// The history file: rows read back as written, appended whole by writers at
// once, a row cut short (a crash) skipped and counted, a file that is no
// regular file reported once.

#include "support/RecordingOperator.h"
#include "table/HistoryFile.h"

#include <QtTest>

#include <sys/stat.h>

#include <thread>

namespace {

SlotChange change(int unit, int slot, const QString& before, const QString& written,
                  const QString& result, const QDateTime& time) {
    SlotChange c;
    c.time = time;
    c.endpoint = QStringLiteral("/dev/ttyUSB0");
    c.speed = QStringLiteral("9600");
    c.unit = unit;
    c.slot = slot;
    c.terminal = QStringLiteral("42-%1").arg(slot);
    c.before = before;
    c.written = written;
    c.result = result;
    return c;
}

QDateTime at(int minute) {
    return QDateTime(QDate(2024, 5, 1), QTime(10, minute), Qt::OffsetFromUTC, 7200);
}

} // namespace

class TestHistoryFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

private slots:
    void roundTrip() {
        const QVector<SlotChange> changes{
            change(1, 3, {}, QStringLiteral("LOW GAS"), QStringLiteral("written"), at(0)),
            change(2, 0, QStringLiteral("A, \"B\""), QString(), QStringLiteral("erased"), at(1)),
            change(3, 19, QStringLiteral(" blank ends "), QStringLiteral("x\x1B]0;\a\\x41;\\x1By"),
                   QStringLiteral("read back differs: \"Q\", z"), at(2)),
            change(247, 7, QStringLiteral("ÄÖÜ €"), QStringLiteral("semi;colon"),
                   QStringLiteral("refused: exception 2, illegal data address"), at(3)),
        };
        HistoryFile file(path("round.csv"));
        for (const SlotChange& c : changes)
            file.record(c);
        const HistoryRead read = readHistory(file.path());
        QCOMPARE(read.damaged, 0);
        QCOMPARE(read.changes, changes);
        QFile raw(file.path());
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray bytes = raw.readAll();
        QVERIFY(
            bytes.startsWith("time,port,speed,unit,slot,terminal,before,written,result,check\n"));
        QVERIFY(bytes.contains("2024-05-01T10:00:00+02:00,/dev/ttyUSB0,9600,1,3,42-3,,LOW GAS,"));
        QVERIFY(bytes.contains(",\"A, \"\"B\"\"\",,erased,"));    // quoted as the CSV tables are
        QVERIFY(bytes.contains("x\\x1B]0;\\x07\\x41;\\x5Cx1By")); // no control character raw
        QCOMPARE(bytes.count('\n'), changes.size() + 1);
    }

    // Two writers at once (as two copies of the tool): every row whole, none lost.
    void twoWriters() {
        const QString p = path("two.csv");
        const auto writer = [p](int unit) {
            HistoryFile file(p);
            for (int i = 0; i < 400; ++i)
                file.record(change(unit, i % 20, QStringLiteral("OLD %1").arg(i),
                                   QStringLiteral("NEW %1 ").repeated(5), QStringLiteral("written"),
                                   at(i % 60)));
        };
        std::thread a(writer, 1), b(writer, 2);
        a.join();
        b.join();
        const HistoryRead read = readHistory(p);
        QCOMPARE(read.damaged, 0);
        QCOMPARE(read.changes.size(), 800);
        QCOMPARE(historyOf(read.changes, 2, {}).size(), 400);
    }

    // A crash mid-row leaves it cut short: skipped and counted, and the next
    // row starts on a line of its own. A row changed after has a wrong checksum.
    void damagedRows() {
        const QString p = path("cut.csv");
        HistoryFile file(p);
        file.record(change(1, 1, {}, QStringLiteral("ONE"), QStringLiteral("written"), at(1)));
        file.record(change(1, 2, {}, QStringLiteral("TWO"), QStringLiteral("written"), at(2)));
        QFile raw(p);
        QVERIFY(raw.resize(raw.size() - 3)); // the checksum's end and the line end
        QCOMPARE(readHistory(p).damaged, 1);
        QCOMPARE(readHistory(p).changes.size(), 1);
        file.record(change(1, 3, {}, QStringLiteral("THREE"), QStringLiteral("written"), at(3)));
        HistoryRead read = readHistory(p);
        QCOMPARE(read.damaged, 1);
        QCOMPARE(read.changes.size(), 2);
        QCOMPARE(read.changes.last().written, QStringLiteral("THREE"));

        QVERIFY(raw.open(QIODevice::ReadWrite));
        QByteArray bytes = raw.readAll();
        bytes.replace("ONE", "0NE");
        raw.seek(0);
        raw.write(bytes);
        raw.close();
        read = readHistory(p);
        QCOMPARE(read.damaged, 2);
        QCOMPARE(read.changes.size(), 1);
    }

    // A FIFO (which would block a writer) or a folder is told once; recording goes on.
    void notARegularFile() {
        QStringList entries{path("folder")};
        QDir().mkpath(entries.front());
#ifndef _WIN32 // Windows has no FIFOs
        entries << path("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(entries.back()).constData(), 0600), 0);
#endif
        for (const QString& p : entries) {
            RecordingOperator op;
            HistoryFile file(p, &op);
            for (int i = 0; i < 3; ++i)
                file.record(
                    change(1, i, {}, QStringLiteral("X"), QStringLiteral("written"), at(i)));
            QCOMPARE(op.count(), 1);
            QVERIFY(file.failed());
            QVERIFY(!readHistory(p).error.isEmpty());
        }
    }

    void filters() {
        const QVector<SlotChange> all{
            change(1, 0, {}, QStringLiteral("A"), QStringLiteral("written"), at(0)),
            change(2, 0, {}, QStringLiteral("B"), QStringLiteral("written"), at(10)),
            change(1, 1, {}, QStringLiteral("C"), QStringLiteral("written"), at(20)),
        };
        QCOMPARE(historyOf(all, std::nullopt, {}).size(), 3);
        QCOMPARE(historyOf(all, 1, {}).size(), 2);
        QCOMPARE(historyOf(all, 1, at(10)).size(), 1);
        QCOMPARE(historyOf(all, std::nullopt, at(10)).size(), 2);
        QCOMPARE(historyOf(all, 3, {}).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestHistoryFile)
#include "test_historyfile.moc"
