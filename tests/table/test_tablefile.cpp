// Message-table files: the exact format, other layouts, and failures that must
// leave the disk and the table as they were.
#include "table/TableFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

TextTable numbered(const QString& stem) {
    TextTable t;
    for (int i = 0; i < 20; ++i)
        t[i] = stem + QString::number(i);
    return t;
}

QByteArray contents(const QString& path, const QByteArray& write = {}) {
    QFile f(path);
    if (!write.isNull())
        return f.open(QIODevice::WriteOnly) && f.write(write) == write.size() ? write : "<failed>";
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestTableFile : public QObject {
    Q_OBJECT
private slots:
    void savesExactFormatAndReadsItBack() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("t.sav"));
        TextTable t = numbered(QStringLiteral("MSG "));
        t[0] = QString();
        t[3] = QString(45, QLatin1Char('L')); // not limited in the file
        t[4] = QStringLiteral("€ café");
        t[6] = QStringLiteral("SAY \"HI\""); // saved with a warning: it reads back cut
        const TableFileResult saved = saveTable(file, t);
        QVERIFY(saved.ok && saved.written);
        QVERIFY2(saved.message.contains(QLatin1String("44-46")), qPrintable(saved.message));
        const QList<QByteArray> lines = contents(file).split('\n');
        QCOMPARE(lines.size(), 21); // nothing after the last CR LF
        QCOMPARE(lines[0] + lines[4] + lines[6] + lines[19],
                 QByteArray("\"\"\r\"\x80 caf\xE9\"\r\"SAY \"HI\"\"\r\"MSG 19\"\r"));
        TextTable back = numbered(QStringLiteral("OTHER "));
        const TableFileResult opened = openTable(file, back);
        QVERIFY(opened.ok && opened.message.isEmpty());
        QCOMPARE(opened.entriesRead, 20);
        t[6] = QStringLiteral("SAY ");
        QVERIFY(back == t);
    }

    void refusedSaveKeepsOldFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("why");
        QTest::addColumn<QString>("entry");
        QTest::newRow("SAV") << "t.SAV" << QString("the file name must end in .sav") << "X";
        QTest::newRow("no Windows-1252 code") << "t.sav" << QString("54-55") << "Ωhm";
        QTest::newRow("file-size limit") << "limit.sav" << QString("Cannot save ") << "X";
    }
    void refusedSaveKeepsOldFile() {
        QFETCH(QString, name);
        QFETCH(QString, entry);
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QString file = dir.filePath(name);
        QCOMPARE(contents(file, "OLD"), QByteArray("OLD"));
        TextTable t = numbered(QStringLiteral("A LONGER NEW TEXT "));
        t[13] = entry;
        // A file-size limit makes the write fail even for root.
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit tight{name == QLatin1String("limit.sav") ? 64 : saved.rlim_cur, saved.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const TableFileResult r = saveTable(file, t);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!r.ok && !r.written);
        QVERIFY2(r.message.contains(why), qPrintable(r.message));
        QCOMPARE(contents(file), QByteArray("OLD"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{name}); // no temporary left
    }

    // Items, not lines; a short file keeps the other entries, an unreadable one all.
    void openReadsItems_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("expected");
        QStringList f12;
        for (int i = 0; i < 12; ++i)
            f12 << QStringLiteral("F%1").arg(i);
        QTest::newRow("twelve records") << "\"" + f12.join("\"\r\n\"").toLatin1() + "\"\r\n" << f12;
        QTest::newRow("unquoted lines")
            << QByteArray("ONE\r\nTWO,THREE\r\n\"FOUR, WITH COMMA\"\r\nFIVE")
            << QStringList{"ONE", "TWO", "THREE", "FOUR, WITH COMMA", "FIVE"};
        QTest::newRow("missing file") << QByteArray() << QStringList();
    }
    void openReadsItems() {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("in.sav"));
        if (!data.isNull())
            QCOMPARE(contents(file, data), data);
        TextTable t = numbered(QStringLiteral("KEEP "));
        const TableFileResult r = openTable(file, t);
        QCOMPARE(r.ok, !data.isNull());
        QCOMPARE(r.entriesRead, expected.size());
        QVERIFY2(r.message.contains(file), qPrintable(r.message)); // short or unreadable: said
        for (int i = 0; i < 20; ++i)
            QCOMPARE(t[i], i < expected.size() ? expected[i] : QStringLiteral("KEEP %1").arg(i));
    }
};

QTEST_GUILESS_MAIN(TestTableFile)
#include "test_tablefile.moc"
