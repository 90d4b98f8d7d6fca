// Message-table files: the exact format, reading other layouts, and failures
// that must leave the disk and the table as they were.
#include "table/TableFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

TextTable numbered(const QString& stem) {
    TextTable t;
    for (int i = 0; i < 20; ++i)
        t[static_cast<size_t>(i)] = stem + QString::number(i);
    return t;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

bool sameEntries(const TextTable& a, const TextTable& b) {
    return std::equal(a.begin(), a.begin() + 20, b.begin());
}

} // namespace

class TestTableFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void savesExactFormatAndReadsItBack() {
        TextTable t = numbered(QStringLiteral("MSG "));
        t[0] = QString();
        t[1] = QStringLiteral("LOW GAS PRESSURE, CHECK MAIN VALVE");
        t[2] = QStringLiteral("  leading and trailing  ");
        t[3] = QString(45, QLatin1Char('L')); // not limited in the file
        t[4] = QStringLiteral("€ café");
        const QString file = path(QStringLiteral("round.sav"));
        const TableFileResult saved = saveTable(file, t);
        QVERIFY2(saved.ok && saved.written, qPrintable(saved.message));
        QVERIFY(saved.message.isEmpty());

        const QByteArray bytes = readFile(file);
        const QList<QByteArray> lines = bytes.split('\n');
        QCOMPARE(lines.size(), 21); // twenty lines and nothing after the last CR LF
        QVERIFY(lines.last().isEmpty());
        QCOMPARE(lines[0], QByteArray("\"\"\r"));
        QCOMPARE(lines[4], QByteArray("\"\x80 caf\xE9\"\r"));
        QCOMPARE(lines[19], QByteArray("\"MSG 19\"\r"));

        TextTable back = numbered(QStringLiteral("OTHER "));
        const TableFileResult opened = openTable(file, back);
        QVERIFY(opened.ok);
        QCOMPARE(opened.entriesRead, 20);
        QVERIFY(sameEntries(back, t));
    }

    void doubleQuoteSavedWithWarning() {
        TextTable t = numbered(QStringLiteral("M"));
        t[6] = QStringLiteral("SAY \"HI\"");
        const QString file = path(QStringLiteral("quote.sav"));
        const TableFileResult r = saveTable(file, t);
        QVERIFY(r.ok && r.written);
        QVERIFY2(r.message.contains(QLatin1String("44-46")), qPrintable(r.message));
        QVERIFY(readFile(file).contains("\"SAY \"HI\"\"\r\n"));
        TextTable back;
        openTable(file, back);
        QCOMPARE(back[6], QStringLiteral("SAY ")); // cut at the quote
        QCOMPARE(back[7], QStringLiteral("M7"));
    }

    void nameMustEndInSav_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("saved");
        QTest::newRow("capitals") << "table.SAV" << false;
        QTest::newRow("mixed case") << "table.Sav" << false;
        QTest::newRow("no extension") << "table" << false;
        QTest::newRow("sav then more") << "table.sav.txt" << false;
        QTest::newRow("no dot") << "tablesav" << true;
        QTest::newRow("plain") << "table.sav" << true;
    }
    void nameMustEndInSav() {
        QFETCH(QString, name);
        QFETCH(bool, saved);
        const QString file = path(name);
        QFile::remove(file);
        const TableFileResult r = saveTable(file, numbered(QStringLiteral("X")));
        QCOMPARE(r.written, saved);
        QCOMPARE(QFile::exists(file), saved);
        if (!saved)
            QCOMPARE(r.message,
                     QStringLiteral("Nothing was saved: the file name must end in .sav"));
    }

    void unencodableCharacterSavesNothing() {
        TextTable t = numbered(QStringLiteral("X"));
        t[13] = QStringLiteral("Ωhm");
        const QString file = path(QStringLiteral("omega.sav"));
        const TableFileResult r = saveTable(file, t);
        QVERIFY(!r.ok && !r.written);
        QVERIFY(r.message.contains(QLatin1String("54-55")));
        QVERIFY(!QFile::exists(file));
    }

    void failedSaveKeepsOldFile() {
        const QString file = path(QStringLiteral("keep.sav"));
        QVERIFY(saveTable(file, numbered(QStringLiteral("OLD "))).written);
        const QByteArray old = readFile(file);

        // A file-size limit makes the write fail even for root.
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit tight = saved;
        tight.rlim_cur = 64;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const TableFileResult r =
            saveTable(file, numbered(QStringLiteral("A MUCH LONGER NEW TEXT ")));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);

        QVERIFY(!r.ok && !r.written);
        QVERIFY2(r.message.contains(file), qPrintable(r.message));
        QCOMPARE(readFile(file), old);
        QCOMPARE(QDir(dir_.path()).entryList({QStringLiteral("keep*")}, QDir::Files),
                 QStringList{QStringLiteral("keep.sav")}); // no temporary left behind
    }

    void unwritableTargetsSayWhy_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("a folder") << "folder.sav";
        QTest::newRow("missing folder") << "nowhere/t.sav";
    }
    void unwritableTargetsSayWhy() {
        QFETCH(QString, name);
        QDir(dir_.path()).mkpath(QStringLiteral("folder.sav"));
        const TableFileResult r = saveTable(path(name), numbered(QStringLiteral("X")));
        QVERIFY(!r.ok && !r.written);
        QVERIFY2(r.message.startsWith(QStringLiteral("Cannot save ") + path(name) + ": "),
                 qPrintable(r.message));
        QVERIFY(r.message.size() > (QStringLiteral("Cannot save ") + path(name) + ": ").size());
    }

    void openReadsItemsNotLines_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("count");
        QByteArray twelve;
        for (int i = 0; i < 12; ++i)
            twelve += "\"F" + QByteArray::number(i) + "\"\r\n";
        QStringList f12;
        for (int i = 0; i < 12; ++i)
            f12 << QStringLiteral("F%1").arg(i);
        QTest::newRow("twelve records") << twelve << f12 << 12;
        QTest::newRow("unquoted lines")
            << QByteArray("ONE\r\nTWO,THREE\r\n\"FOUR, WITH COMMA\"\r\nFIVE")
            << QStringList{"ONE", "TWO", "THREE", "FOUR, WITH COMMA", "FIVE"} << 5;
        QTest::newRow("quoted items on one line")
            << QByteArray("\"A\",\"B\"\n\"C\"\n") << QStringList{"A", "B", "C"} << 3;
        QTest::newRow("empty file") << QByteArray() << QStringList{} << 0;
    }
    void openReadsItemsNotLines() {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, expected);
        QFETCH(int, count);
        const QString file = path(QStringLiteral("in.sav"));
        QVERIFY(writeFile(file, data));
        TextTable t = numbered(QStringLiteral("KEEP "));
        const TableFileResult r = openTable(file, t);
        QVERIFY(r.ok);
        QCOMPARE(r.entriesRead, count);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(t[i], i < count ? expected[i] : QStringLiteral("KEEP %1").arg(i));
        QCOMPARE(r.message.isEmpty(), count == 20);
    }

    void openFailureChangesNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "absent.sav";
        QTest::newRow("a folder") << "folder.sav";
    }
    void openFailureChangesNothing() {
        QFETCH(QString, name);
        QDir(dir_.path()).mkpath(QStringLiteral("folder.sav"));
        TextTable t = numbered(QStringLiteral("KEEP "));
        const TableFileResult r = openTable(path(name), t);
        QVERIFY(!r.ok);
        QCOMPARE(r.entriesRead, 0);
        QVERIFY2(r.message.contains(path(name)), qPrintable(r.message));
        QVERIFY(sameEntries(t, numbered(QStringLiteral("KEEP "))));
    }
};

QTEST_GUILESS_MAIN(TestTableFile)
#include "test_tablefile.moc"
