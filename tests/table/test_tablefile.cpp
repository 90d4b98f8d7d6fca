// Message-table files: the exact format, other layouts, failures that leave disk and table alone.
#include "table/TableFile.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

QByteArray contents(const QString& path, const QByteArray& write = {}) {
    QFile f(path);
    if (!write.isNull())
        return f.open(QIODevice::WriteOnly) && f.write(write) == write.size() ? write : "<failed>";
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class TestTableFile : public QObject {
    Q_OBJECT
private slots:
    void save_data() {
        QTest::addColumn<QString>("entry"); // interlock 13
        QTest::addColumn<int>("sizeLimit");
        QTest::addColumn<QString>("why"); // part of the message
        QTest::newRow("saved") << QString("X") << 0 << QString("44-46");
        QTest::newRow("no Windows-1252 code") << QString("Ωhm") << 0 << QString("54-55");
        QTest::newRow("file-size limit") << QString("X") << 64 << QString("Cannot save ");
    }
    void save() {
        QFETCH(QString, entry);
        QFETCH(int, sizeLimit);
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("t.sav"));
        QCOMPARE(contents(file, "OLD"), QByteArray("OLD")); // only a whole new file replaces it
        TextTable t;
        std::fill_n(t.begin(), 20, QStringLiteral("MSG")); // entry 20 is unused
        t[0] = QString();
        t[3] = QString(45, QLatin1Char('L')); // not limited in the file
        t[4] = QStringLiteral("€ café");
        t[6] = QStringLiteral("SAY \"HI\""); // saved with a warning: it reads back cut
        t[13] = entry;
        // A file-size limit makes the write fail even for root.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit tight{sizeLimit ? rlim_t(sizeLimit) : saved.rlim_cur, saved.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const TableFileResult r = saveTable(file, t);
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY2(r.message.contains(why), qPrintable(r.message));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no temporary left
        const bool saves = QTest::currentDataTag() == QByteArray("saved");
        QVERIFY(r.ok == saves && r.written == saves);
        QCOMPARE(contents(file) == "OLD", !saves);
        if (!saves)
            return;
        const QList<QByteArray> lines = contents(file).split('\n');
        QCOMPARE(lines.size(), 21); // nothing after the last CR LF
        QCOMPARE(lines[0] + lines[4] + lines[6] + lines[19],
                 QByteArray("\"\"\r\"\x80 caf\xE9\"\r\"SAY \"HI\"\"\r\"MSG\"\r"));
        TextTable back;
        const TableFileResult opened = openTable(file, back);
        QVERIFY(opened.ok && opened.message.isEmpty() && opened.entriesRead == 20);
        t[6] = QStringLiteral("SAY ");
        QVERIFY(back == t);
    }

    // Items, not lines; a short file keeps the other entries, an unreadable one all.
    void open_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("expected");
        const QStringList f12 = QString("F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11").split(' ');
        QTest::newRow("twelve records") << "\"" + f12.join("\"\r\n\"").toLatin1() + "\"\r\n" << f12;
        QTest::newRow("unquoted lines")
            << QByteArray("ONE\r\nTWO,THREE\r\n\"FOUR, WITH COMMA\"\r\nFIVE")
            << QStringList{"ONE", "TWO", "THREE", "FOUR, WITH COMMA", "FIVE"};
        QTest::newRow("missing file") << QByteArray() << QStringList();
    }
    void open() {
        QFETCH(QByteArray, data);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("in.sav"));
        QVERIFY(data.isNull() || contents(file, data) == data);
        TextTable t;
        t.fill(QStringLiteral("KEEP"));
        const TableFileResult r = openTable(file, t);
        QCOMPARE(r.ok, !data.isNull());
        QCOMPARE(r.entriesRead, expected.size());
        QVERIFY2(r.message.contains(file), qPrintable(r.message)); // short or unreadable: said
        for (int i = 0; i < 20; ++i)
            QCOMPARE(t[i], i < expected.size() ? expected[i] : QStringLiteral("KEEP"));
    }
};

QTEST_GUILESS_MAIN(TestTableFile)
#include "test_tablefile.moc"
