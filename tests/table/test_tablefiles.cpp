// The one way in and out for tables: a file is taken by what it holds, whatever its name; a
// save target is checked before any work; .SAV and .CSV count as well as .sav and .csv.
#include "table/TableFiles.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

static bool put(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

static QByteArray csvTable(char separator = ',') {
    QByteArray text = "slot,terminal,group,message\r\n";
    for (int k = 0; k < 20; ++k)
        text += QByteArray::number(k) + ",,,CSV " + QByteArray::number(k) + "\r\n";
    return text.replace(',', separator);
}

static QByteArray savTable() {
    QByteArray text;
    for (int k = 0; k < 20; ++k)
        text += "\"SAV " + QByteArray::number(k) + "\"\r\n";
    return text;
}

class TestTableFiles : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    TextTable defaults_;

private slots:
    void initTestCase() {
        for (int k = 0; k < 20; ++k)
            defaults_[size_t(k)] = QString("DEFAULT %1").arg(k);
    }

    // The name says nothing: what the file holds decides, and a file that is neither kind is
    // refused, naming why, with every entry as it was.
    void byContent_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("first"); // slot 0 afterwards
        QTest::addColumn<QString>("why");   // part of the refusal; empty when taken
        const auto row = [](const char* tag, const char* name, const QByteArray& data,
                            const char* first, const char* why = "") {
            QTest::newRow(tag) << QString(name) << data << QString(first) << QString(why);
        };
        row("CSV named .txt", "site.txt", csvTable(), "CSV 0");
        row("CSV named .csv.bak", "site.csv.bak", csvTable(), "CSV 0");
        row("CSV with semicolons, .sav", "site.sav", csvTable(';'), "CSV 0");
        row("CSV with a mark, no suffix", "site", "\xEF\xBB\xBF" + csvTable(), "CSV 0");
        row(".sav named .csv", "site.csv", savTable(), "SAV 0");
        row(".sav named .SAV.old", "site.SAV.old", savTable(), "SAV 0");
        row(".sav whose first message is the header words", "odd.sav",
            "\"slot,terminal,group,message\"\r\n" + savTable().mid(9),
            "slot,terminal,group,message");
        row("plain text", "notes.sav", "Site visit 3 May\r\n\"X\"\r\n", "KEEP",
            "line 1 is not a message in double quotes");
        row("a later line unquoted", "site.sav", savTable() + "LOOSE\r\n", "KEEP",
            "line 21 is not a message");
        row("a CSV without its header", "site.csv", csvTable().mid(29), "KEEP",
            "line 1 is not the header row");
        row("empty", "empty.sav", "\r\n  \r\n", "KEEP", "it is empty");
        row("UTF-16 text", "site.txt", QByteArray("\xFF\xFEs\0l\0o\0t\0", 10), "KEEP", "UTF-16");
        row("CSV, a bad row", "site.txt", csvTable().replace("3,,,", "33,,,"), "KEEP",
            "is not a CSV message table: line 5");
    }
    void byContent() {
        QFETCH(QString, name);
        QFETCH(QByteArray, data);
        QFETCH(QString, first);
        QFETCH(QString, why);
        const QString path = dir_.filePath(name);
        QVERIFY(put(path, data));
        TextTable table;
        table.fill("KEEP");
        const TableFileOutcome out = loadTableFile(path, defaults_, table);
        QVERIFY2(out.ok == why.isEmpty() && out.message.contains(why), qPrintable(out.message));
        QCOMPARE(table[0], first);
        QCOMPARE(table[19], why.isEmpty() ? table[19] : QString("KEEP"));
        QString sniffed;
        const auto format = tableFormatOf(path, &sniffed);
        QCOMPARE(format.has_value(), why.isEmpty() || why.contains("CSV message table"));
        if (out.ok)
            QCOMPARE(*format, first.startsWith("CSV") ? TableFormat::Csv : TableFormat::Sav);
        QVERIFY(QFile::remove(path));
    }

    // Checked before a read-all: the folder, the name's suffix (any case), the node there.
    void saveTarget_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("why"); // part of the problem; empty: none
        // Each name is its row's tag; saveTarget makes what the name says.
        const std::pair<const char*, const char*> rows[] = {
            {"BACKUP.SAV", ""},
            {"b.Csv", ""},
            {"existing.sav", ""},
            {"backup", "must end in .sav or .csv"},
            {"backup.txt", "must end in .sav or .csv"},
            {"folder.sav", "it is a folder"},
            {"missing/b.sav", "no such folder, or not writable"},
            {"fifo.sav", "not a regular file"},
            {"dangling.sav", "a link to nothing"},
            {"ro/b.sav", "no such folder, or not writable"},
            {"ro.csv", "not writable"}};
        for (const auto& [name, why] : rows)
            QTest::newRow(name) << QString(name) << QString(why);
    }
    void saveTarget() {
        QFETCH(QString, name);
        QFETCH(QString, why);
        QTemporaryDir dir;
        QVERIFY(put(dir.filePath("existing.sav"), "\"OLD\"\r\n") && QDir(dir.path()).mkdir("ro") &&
                QDir(dir.path()).mkdir("folder.sav") && put(dir.filePath("ro.csv"), "x") &&
                ::mkfifo(QFile::encodeName(dir.filePath("fifo.sav")).constData(), 0600) == 0 &&
                QFile::link(dir.filePath("none"), dir.filePath("dangling.sav")));
        QVERIFY(QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner) &&
                QFile::setPermissions(dir.filePath("ro.csv"), QFile::ReadOwner));
        if (name.startsWith("ro") && geteuid() == 0)
            QSKIP("root writes anywhere");
        const auto problem = tableSaveTargetProblem(dir.filePath(name));
        QVERIFY2(problem.has_value() != why.isEmpty() && problem.value_or("").contains(why),
                 qPrintable(problem.value_or("none")));
        QFile::setPermissions(dir.filePath("ro"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Saved in the format of the suffix, whatever its case, and opened back by content.
    void saveBySuffix() {
        TextTable table = defaults_, back;
        table[4] = "FOUR, \"4\"";
        for (const QString name : {"BACKUP.SAV", "BACKUP.CSV"}) {
            const QString path = dir_.filePath(name);
            const TableFileOutcome saved = saveTableFile(path, table);
            QVERIFY2(saved.ok && saved.written && saved.message.isEmpty(),
                     qPrintable(saved.message));
            QCOMPARE(saved.format, name.endsWith("SAV") ? TableFormat::Sav : TableFormat::Csv);
            back.fill("KEEP");
            const TableFileOutcome loaded = loadTableFile(path, defaults_, back);
            QVERIFY2(loaded.ok && loaded.entriesRead == 20, qPrintable(loaded.message));
            QCOMPARE(loaded.format, saved.format);
            QCOMPARE(back, table);
        }
        const TableFileOutcome refused = saveTableFile(dir_.filePath("backup.txt"), table);
        QVERIFY(!refused.ok && !refused.written && !QFile::exists(dir_.filePath("backup.txt")));
        QCOMPARE(refused.message, "Nothing was saved: the file name must end in .sav or .csv");
    }
};

QTEST_GUILESS_MAIN(TestTableFiles)
#include "test_tablefiles.moc"
