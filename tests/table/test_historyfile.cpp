// The history file: rows read back as written, appended whole by writers at
// once, a row cut short (a crash) skipped and counted, a file that is no
// regular file reported once; a write's sent row joined to its outcome; a
// field that a spreadsheet would run as a formula guarded, and read back as
// it was.

#include "startup/CodePage.h"
#include "support/Files.h"
#include "support/RecordingOperator.h"
#include "table/CsvRecords.h"
#include "table/HistoryFile.h"

#include <QtTest>

#include <functional>

#include <sys/stat.h>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#ifndef _WIN32
namespace {

// Every write() of this program passes here (this definition comes before the C library's), so
// that a test can act between a writer's opening of the history file and its bytes going in.
QString gHistoryPath;
std::function<void()> gBeforeWrite;

bool isHistoryFile(int fd) {
    struct stat a {};
    struct stat b {};
    return ::fstat(fd, &a) == 0 && ::stat(QFile::encodeName(gHistoryPath).constData(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
    static thread_local bool inside = false;
    if (gBeforeWrite && !inside && isHistoryFile(fd)) {
        inside = true;
        gBeforeWrite();
        inside = false;
    }
    return ::syscall(SYS_write, fd, data, size);
}
#endif

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

// "minute|unit|slot|written|result" of a change.
QString shortly(const SlotChange& c) {
    return QStringLiteral("%1|%2|%3|%4|%5")
        .arg(c.time.time().minute())
        .arg(c.unit)
        .arg(c.slot)
        .arg(c.written, c.result);
}

// A text of up to 40 characters: Windows-1252 printable characters, control
// characters (the file holds them as \xHH), backslashes that look like such
// an escape, after a head that a spreadsheet reads as a formula or a mark.
QString randomText(QRandomGenerator& random) {
    static const QStringList heads{"", "=", "+", "-", "@", "'", "''", "'=", "''-", "'@x", " ="};
    static const QStringList pieces{"\\x41", "\\x1B", "\\", "\"", ",", ";"};
    QString text = heads.at(int(random.bounded(heads.size())));
    const int length = int(random.bounded(41));
    while (text.size() < length) {
        const quint32 pick = random.bounded(10);
        if (pick == 0)
            text += pieces.at(int(random.bounded(pieces.size())));
        else if (pick == 1)
            text += QChar(random.bounded(0x20) == 0 ? 0x7F : random.bounded(1, 0x20));
        else
            text += CodePage::decode(QByteArray(1, char(random.bounded(0x20, 0x100))));
    }
    return text.left(40);
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
        QCOMPARE(readHistory(file.path()).changes, changes);
        const QByteArray bytes = fileBytes(file.path());
        QVERIFY(
            bytes.startsWith("time,port,speed,unit,slot,terminal,before,written,result,check\n"));
        QVERIFY(bytes.contains("2024-05-01T10:00:00+02:00,/dev/ttyUSB0,9600,1,3,42-3,,LOW GAS,"));
        QVERIFY(bytes.contains(",\"A, \"\"B\"\"\",,erased,"));    // quoted as the CSV tables are
        QVERIFY(bytes.contains("x\\x1B]0;\\x07\\x41;\\x5Cx1By")); // no control character raw
        QCOMPARE(bytes.count('\n'), changes.size() + 1);
    }

    // The checksum covers the whole row, the result too: rows written out here, each checksum
    // (CRC-16/X-25, upper-case hex) worked out by hand.
    void checksums() {
        QCOMPARE(historyRow(change(1, 3, {}, "LOW GAS", "written", at(0))),
                 "2024-05-01T10:00:00+02:00,/dev/ttyUSB0,9600,1,3,42-3,,LOW GAS,written,5238\n");
        const QString p = path("literal.csv");
        QVERIFY(putFile(
            p, "time,port,speed,unit,slot,terminal,before,written,result,check\n"
               "2024-05-01T10:01:00+02:00,/dev/ttyUSB0,9600,2,0,42-0,,LOW GAS,not read back,FF0A\n"
               "2024-05-01T10:01:00+02:00,/dev/ttyUSB0,9600,2,0,42-0,,LOW GAS,written,FF0A\n"));
        const HistoryRead read = readHistory(p);
        QCOMPARE(read.damaged, 1); // the result changed after: its checksum is wrong
        QCOMPARE(read.changes.size(), 1);
        QCOMPARE(read.changes[0].result, "not read back");
        QCOMPARE(read.changes[0].unit, 2);
    }

    // Two writers at once (as two copies of the tool): every row whole, none lost. The second
    // writer's row goes in at the worst moment, by construction: whenever the first is about to
    // put bytes into the file, after it has opened it (and looked where its end is).
    void twoWriters() {
#ifdef _WIN32
        QSKIP("a write() of this program is taken in hand on Linux only");
#else
        const QString p = path("two.csv");
        HistoryFile first(p), second(p);
        first.record(change(1, 0, {}, QStringLiteral("FIRST"), QStringLiteral("written"), at(0)));
        int n = 0;
        gHistoryPath = p;
        gBeforeWrite = [&] {
            second.record(change(2, n % 20, QStringLiteral("OLD %1").arg(n),
                                 QStringLiteral("SECOND %1").arg(n), QStringLiteral("written"),
                                 at(n % 60)));
            ++n;
        };
        for (int i = 1; i <= 20; ++i)
            first.record(change(1, i % 20, {}, QStringLiteral("NEW %1 ").repeated(i % 4 + 1),
                                QStringLiteral("written"), at(i)));
        gBeforeWrite = nullptr;
        const HistoryRead read = readHistory(p);
        QVERIFY(n >= 20);
        QCOMPARE(read.damaged, 0);
        QCOMPARE(read.changes.size(), 21 + n);
        QCOMPARE(historyOf(read.changes, 2, {}).size(), n);
        QCOMPARE(historyOf(read.changes, 2, {}).last().written,
                 QStringLiteral("SECOND %1").arg(n - 1));
#endif
    }

    // A crash mid-row leaves it cut short: skipped and counted, and the next
    // row starts on a line of its own. A row changed after has a wrong checksum.
    void damagedRows() {
        const QString p = path("cut.csv");
        HistoryFile file(p);
        file.record(change(1, 1, {}, QStringLiteral("ONE"), QStringLiteral("written"), at(1)));
        file.record(change(1, 2, {}, QStringLiteral("TWO"), QStringLiteral("written"), at(2)));
        const QString whole = path("whole.csv"); // a row whole but for its line end: cut too
        QVERIFY(putFile(whole, historyRow(change(1, 1, {}, "ONE", "written", at(1))).chopped(1)));
        QCOMPARE(readHistory(whole).damaged, 1);
        QFile raw(p);
        QVERIFY(raw.resize(raw.size() - 3)); // the checksum's end and the line end
        QVERIFY(readHistory(p).damaged == 1 && readHistory(p).changes.size() == 1);
        file.record(change(1, 3, {}, QStringLiteral("THREE"), QStringLiteral("written"), at(3)));
        HistoryRead read = readHistory(p);
        QVERIFY(read.damaged == 1 && read.changes.size() == 2);
        QCOMPARE(read.changes.last().written, QStringLiteral("THREE"));

        QVERIFY(putFile(p, fileBytes(p).replace("ONE", "0NE")));
        read = readHistory(p);
        QVERIFY(read.damaged == 2 && read.changes.size() == 1);
    }

    // A FIFO (which would block a writer) or a folder is told once; recording goes on.
    void notARegularFile() {
        QStringList entries{path("folder")};
        QDir().mkpath(entries.front());
#ifndef _WIN32 // Windows has no FIFOs
        entries << path("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(entries.back()).constData(), 0600), 0);
#endif
#ifndef _WIN32
        const auto descriptors = [] { return QDir("/proc/self/fd").entryList(QDir::Files).size(); };
        const auto open = descriptors();
#endif
        for (const QString& p : entries) {
            RecordingOperator op;
            HistoryFile file(p, &op);
            for (int i = 0; i < 3; ++i)
                file.record(
                    change(1, i, {}, QStringLiteral("X"), QStringLiteral("written"), at(i)));
            QCOMPARE(op.count(), 1);
            QVERIFY(file.failed() && !readHistory(p).error.isEmpty());
        }
#ifndef _WIN32
        QCOMPARE(descriptors(), open); // what was opened to be refused is closed again
#endif
    }

#ifndef _WIN32
    // A disk that fills, played by a limit on the file's size: a row that went in only in part
    // is said to have found the disk full; one that could not go at all, in the system's words.
    // Every append closes its file, written or not.
    void fullDisk() {
        const QString p = path("full.csv");
        QString why;
        QVERIFY(appendHistoryRow(p, "a row", why));
        const auto size = rlim_t(QFileInfo(p).size());
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto signal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{size + 4, before.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const bool inPart = appendHistoryRow(p, "a row longer than four bytes", why);
        const QString partWhy = why;
        const bool none = appendHistoryRow(p, "another row", why);
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, signal);
        QVERIFY(!inPart && !none);
        QCOMPARE(partWhy, "the disk is full");
        QCOMPARE(why, "File too large");
        QCOMPARE(QFileInfo(p).size(), qint64(size + 4));
        // Each append closes what it opened: a long run leaves no descriptor behind.
        const auto open = [] { return QDir("/proc/self/fd").entryList(QDir::Files).size(); };
        const auto descriptors = open();
        for (int i = 0; i < 20; ++i)
            appendHistoryRow(path("many.csv"), "a row", why);
        QCOMPARE(open(), descriptors);
    }
#endif

    // A write is recorded as sent before it goes, then with its outcome; the
    // two read as one change, the outcome's. A sent row without one says so.
    void sentRowsJoined_data() {
        QTest::addColumn<QStringList>("rows"); // unit|slot|written|result, one minute apart
        QTest::addColumn<QStringList>("read");
        const QString none = QStringLiteral("sent, no outcome recorded");
        QTest::newRow("sent, then written")
            << QStringList{"1|0|A|sent", "1|0|A|written"} << QStringList{"1|1|0|A|written"};
        QTest::newRow("sent alone") << QStringList{"1|0|A|sent"} << QStringList{"0|1|0|A|" + none};
        QTest::newRow("erased") << QStringList{"1|3||sent", "1|3||erased"}
                                << QStringList{"1|1|3||erased"};
        QTest::newRow("older file, outcomes alone")
            << QStringList{"1|0|A|written", "1|1|B|no answer"}
            << QStringList{"0|1|0|A|written", "1|1|1|B|no answer"};
        QTest::newRow("sent twice, one outcome")
            << QStringList{"1|0|A|sent", "1|0|A|sent", "1|0|A|stopped"}
            << QStringList{"0|1|0|A|" + none, "2|1|0|A|stopped"};
        QTest::newRow("two units at once")
            << QStringList{"1|0|A|sent", "2|0|A|sent", "2|0|A|written", "1|0|A|no answer"}
            << QStringList{"3|1|0|A|no answer", "2|2|0|A|written"};
        QTest::newRow("another text is another write")
            << QStringList{"1|0|A|sent", "1|0|B|written"}
            << QStringList{"0|1|0|A|" + none, "1|1|0|B|written"};
        QTest::newRow("one sent row, two outcomes: none is lost")
            << QStringList{"1|0|A|sent", "1|0|A|no answer", "1|0|A|written"}
            << QStringList{"1|1|0|A|no answer", "2|1|0|A|written"};
        QTest::newRow("an outcome before its sent row")
            << QStringList{"1|0|A|written", "1|0|A|sent"}
            << QStringList{"0|1|0|A|written", "1|1|0|A|" + none};
    }
    void sentRowsJoined() {
        QFETCH(QStringList, rows);
        QFETCH(QStringList, read);
        HistoryFile file(path(QTest::currentDataTag()));
        for (int i = 0; i < rows.size(); ++i) {
            const QStringList f = rows[i].split('|');
            file.record(change(f[0].toInt(), f[1].toInt(), {}, f[2], f[3], at(i)));
        }
        QStringList got;
        for (const SlotChange& c : readHistory(file.path()).changes)
            got << shortly(c);
        QCOMPARE(got, read);
    }

    // What a spreadsheet would run (= + - @ first) gets an apostrophe, the
    // checksum covers the row as written, and rows of older files, which have
    // none, read as they were.
    void formulaGuard() {
        const QString p = path("guard.csv");
        HistoryFile file(p);
        file.record(change(1, 3, {}, "=HYPERLINK(\"h\")", "written", at(0)));
        SlotChange odd = change(1, 3, "''+x", "=1", "written", at(0));
        odd.endpoint = "-dev";
        odd.terminal = "@3";
        file.record(odd);
        QCOMPARE(fileBytes(p).split('\n').mid(1),
                 (QList<QByteArray>{"2024-05-01T10:00:00+02:00,/dev/ttyUSB0,9600,1,3,42-3,,"
                                    "\"'=HYPERLINK(\"\"h\"\")\",written,024E",
                                    "2024-05-01T10:00:00+02:00,'-dev,9600,1,3,'@3,'''+x,'=1,"
                                    "written,B9F2",
                                    ""}));
        QCOMPARE(readHistory(p).changes.last(), odd);

        const QString old = path("old.csv");
        QVERIFY(putFile(
            old, "time,port,speed,unit,slot,terminal,before,written,result,check\n"
                 "2024-05-01T10:00:00+02:00,/dev/ttyUSB0,9600,1,3,42-3,,=1+1,written,755F\n"
                 "2024-05-01T10:01:00+02:00,/dev/ttyUSB0,9600,1,4,42-4,,'quoted,written,604F\n"));
        const HistoryRead read = readHistory(old);
        QVERIFY(read.damaged == 0 && read.changes.size() == 2);
        QCOMPARE(read.changes[0].written, QStringLiteral("=1+1"));
        QCOMPARE(read.changes[1].written, QStringLiteral("'quoted"));
    }

    // Any text a slot may hold, or a unit may answer with, reads back exactly,
    // and no field of the file begins as a formula.
    void textsRoundTrip() {
        QRandomGenerator random(840);
        QVector<SlotChange> changes;
        for (int i = 0; i < 1500; ++i)
            changes << change(1 + i % 31, i % 20, randomText(random), randomText(random),
                              ChangeResult::differs(randomText(random), false), at(i % 60));
        const QString p = path("random.csv");
        HistoryFile file(p);
        for (const SlotChange& c : changes)
            file.record(c);
        const HistoryRead read = readHistory(p);
        QCOMPARE(read.damaged, 0);
        QCOMPARE(read.changes, changes);
        QString why;
        const auto records = scanCsvRecords(QString::fromUtf8(fileBytes(p)), ',', why);
        QVERIFY2(records, qPrintable(why));
        for (const CsvRecord& r : *records)
            for (const QString& field : r.fields)
                QVERIFY2(field.isEmpty() || !QStringLiteral("=+-@").contains(field.front()),
                         qPrintable(field));
    }
};

QTEST_GUILESS_MAIN(TestHistoryFile)
#include "test_historyfile.moc"
