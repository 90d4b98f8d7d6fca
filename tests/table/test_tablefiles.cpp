// Table files. The one way in and out: a file is taken by what it holds, whatever its name; a
// save target is checked before any work; .SAV and .CSV count as well as .sav and .csv. CSV
// tables: the cells as written and read back, what spreadsheets write, and a bad file refused
// whole, naming its line and slot.
#include "table/CsvTable.h"
#include "table/TableFile.h"
#include "table/TableFiles.h"

#include "support/AsNobody.h"
#include "support/Files.h"

#include <QtTest>

#include <sys/stat.h>

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

// Twenty good rows, then row k replaced by replacement (or dropped if empty).
static QByteArray csv(int k = -1, const QByteArray& replacement = {}) {
    QByteArray text = "slot,terminal,group,message\r\n";
    for (int i = 0; i < 20; ++i)
        text += i == k ? replacement
                       : QByteArray::number(i) + ",,,MSG " + QByteArray::number(i) + "\r\n";
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
        QTest::addColumn<QString>("last");  // slot 19 afterwards
        QTest::addColumn<QString>("why");   // part of the refusal; empty when taken
        const auto row = [](const char* tag, const char* name, const QByteArray& data,
                            const char* first, const char* why = "", const char* last = "KEEP") {
            QTest::newRow(tag) << QString(name) << data << QString(first) << QString(last)
                               << QString(why);
        };
        row("CSV named .txt", "site.txt", csvTable(), "CSV 0", "", "CSV 19");
        row("CSV named .csv.bak", "site.csv.bak", csvTable(), "CSV 0", "", "CSV 19");
        row("CSV with semicolons, .sav", "site.sav", csvTable(';'), "CSV 0", "", "CSV 19");
        row("CSV with a mark, no suffix", "site", "\xEF\xBB\xBF" + csvTable(), "CSV 0", "",
            "CSV 19");
        row(".sav named .csv", "site.csv", savTable(), "SAV 0", "", "SAV 19");
        row(".sav named .SAV.old", "site.SAV.old", savTable(), "SAV 0", "", "SAV 19");
        row(".sav, an empty message: its default", "site.sav", "\"\"\r\n" + savTable().mid(9),
            "DEFAULT 0", "", "SAV 19");
        row(".sav whose first message is the header words", "odd.sav",
            "\"slot,terminal,group,message\"\r\n" + savTable().mid(9),
            "slot,terminal,group,message", "", "SAV 19");
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
        QFETCH(QString, last);
        QFETCH(QString, why);
        const QString path = dir_.filePath(name);
        QVERIFY(putFile(path, data));
        TextTable table;
        table.fill("KEEP");
        const TableFileOutcome out = loadTableFile(path, defaults_, table);
        QVERIFY2(out.ok == why.isEmpty() && out.message.contains(why), qPrintable(out.message));
        QCOMPARE(table[0], first);
        QCOMPARE(table[19], last);
        QString sniffed;
        const auto format = tableFormatOfData(data, &sniffed);
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
        QVERIFY(putFile(dir.filePath("existing.sav"), "\"OLD\"\r\n") &&
                QDir(dir.path()).mkdir("ro") && QDir(dir.path()).mkdir("folder.sav") &&
                putFile(dir.filePath("ro.csv"), "x") &&
                ::mkfifo(QFile::encodeName(dir.filePath("fifo.sav")).constData(), 0600) == 0 &&
                QFile::link(dir.filePath("none"), dir.filePath("dangling.sav")));
        QVERIFY(QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner) &&
                QFile::setPermissions(dir.filePath("ro.csv"), QFile::ReadOwner));
        const AsNobody nobody(dir.path()); // root would write anywhere
        QVERIFY(nobody.ok());
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
    // Rows in any order, LF line ends, a byte-order mark, an empty cell for the default. (What a
    // round trip keeps, the round-trip test shows.)
    void rowsInAnyOrder() {
        TextTable back;
        QByteArray shuffled = "\xEF\xBB\xBFslot,terminal,group,message\n";
        for (int i = 19; i >= 0; --i)
            shuffled += QByteArray::number(i) + (i == 3 ? ",42-3,\"Recycle, L1-3\",\n" : ",,,X\n");
        QVERIFY(parseCsvTable(shuffled, defaults_, back).ok);
        QCOMPARE(back[3], defaults_[3]);
        QCOMPARE(back[4], QString("X"));
    }

    // What spreadsheets write is taken: semicolons, blanks around every cell (the slot too), a
    // quoted header, empty lines and rows of separators after the last row. A bad file is
    // refused whole, naming its line and slot, and changes no entry.
    void csvFiles_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("why"); // empty: taken
        const QByteArray good = csv();
        QByteArray semicolons = good;
        semicolons.replace(',', ';');
        QTest::newRow("trailing empty line") << good + "\r\n" << QString();
        QTest::newRow("trailing empty lines, LF") << QByteArray(good).replace("\r\n", "\n") + "\n\n"
                                                  << QString();
        QTest::newRow("trailing separators") << good + ",,,\r\n ,, ," << QString();
        QTest::newRow("semicolons") << semicolons << QString();
        QTest::newRow("semicolons, no last line end") << semicolons.chopped(2) << QString();
        QTest::newRow("blanks around cells")
            << QByteArray(good).replace(",", " ,\t").replace("\r\n", "  \r\n ") << QString();
        QTest::newRow("quoted header and slots")
            << QByteArray(good)
                   .replace("slot,terminal,group,message",
                            "\"Slot\",\"Terminal\",\"Group\",\"Message\"")
                   .replace("\n1,", "\n \"1\" ,")
            << QString();
        QTest::newRow("not UTF-8") << csv(3, "3,,,CHAUDI\xC8RE\r\n") << "not UTF-8";
        QTest::newRow("header") << QByteArray("slot,message\r\n") + csv().mid(29) << "line 1:";
        QTest::newRow("19 rows") << csv(19)
                                 << "slot 19; a CSV table has exactly one row for each of the "
                                    "slots 0 to 19";
        QTest::newRow("a header, then a blank line") << csv().left(29) + "\r\n"
                                                     << "no row for slot 0, 1,";
        QTest::newRow("slot twice")
            << csv(4, "3,,,AGAIN\r\n") << "line 6: slot 3 is already on line 5";
        QTest::newRow("slot 20") << csv(4, "20,,,X\r\n") << "line 6: the slot \"20\"";
        QTest::newRow("slot 04") << csv(4, "+4,,,X\r\n") << "the slot \"+4\"";
        QTest::newRow("3 fields") << csv(4, "4,,X\r\n") << "line 6: 3 fields";
        QTest::newRow("a blank line") << csv(4, "\r\n") << "line 6: 1 fields";
        QTest::newRow("bare quote") << csv(4, "4,,,SAY \"HI\"\r\n") << "line 6: a double quote";
        QTest::newRow("after a quote") << csv(4, "4,,,\"A\"B\r\n") << "after the closing";
        QTest::newRow("unclosed") << csv(19, "19,,,\"OPEN\r\n") << "line 21: a quoted field is";
        QTest::newRow("lone CR") << csv(4, "4,,,A\rB\r\n") << "line 6: a carriage return";
        QTest::newRow("lone CR after a quote, at the end")
            << csv(19, "19,,,\"END\"\r") << "line 21: a carriage return that does not end a line";
        QTest::newRow("41 characters") << csv(5, "5,,," + QByteArray(41, 'L') + "\r\n")
                                       << "line 7 (slot 5): the message has 41 characters";
        QTest::newRow("raw ESC") << csv(6, "6,,,A\x1B\r\n") << "line 8 holds the character ESC";
        QTest::newRow("raw ESC first") << "\x1B" + csv() << "line 1 holds the character ESC";
        QTest::newRow("UTF-16, little-endian")
            << QByteArray("\xFF\xFEs\0l\0o\0t\0", 10) << "UTF-16 text (a spreadsheet's";
        QTest::newRow("UTF-16, big-endian, no mark")
            << QByteArray("\0s\0l\0o\0t", 8) << "UTF-16 text (a spreadsheet's";
        QTest::newRow("a blank line before the end")
            << csv(19, "\r\n19,,,X\r\n") << "line 21: 1 fields";
        QTest::newRow("a shifted row")
            << csv(6, "6,40-41,,X\r\n") << "(slot 6): the terminal \"40-41\"";
        QTest::newRow("another group")
            << csv(6, "6,,Gas Limits,X\r\n") << "the group \"Gas Limits\"";
        QTest::newRow("NUL") << csv(6, QByteArray("6,,,A\0B\r\n", 9)) << "NUL";
    }
    void csvFiles() {
        QFETCH(QByteArray, data);
        QFETCH(QString, why);
        TextTable table = defaults_;
        const CsvResult r = parseCsvTable(data, defaults_, table);
        QVERIFY2(r.ok == why.isEmpty() && r.message.contains(why), qPrintable(r.message));
        for (int k = 0; k < 20; ++k)
            QCOMPARE(table[size_t(k)], why.isEmpty() ? QString("MSG %1").arg(k) : defaults_[k]);
    }

    // A unit's control characters as \\xHH, and a message a spreadsheet would run as a formula
    // behind one apostrophe: the cells as written, and the same text read back.
    void backupCells_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("cell"); // as in the file
        QTest::newRow("ESC and LF") << "A\x1B\nB" << QByteArray("A\\x1B\\x0AB");
        QTest::newRow("equals") << "=1+2" << QByteArray("'=1+2");
        QTest::newRow("plus") << "+5 PSI" << QByteArray("'+5 PSI");
        QTest::newRow("minus") << "-- LOW FIRE --" << QByteArray("'-- LOW FIRE --");
        QTest::newRow("at") << "@SUM(A1)" << QByteArray("'@SUM(A1)");
        QTest::newRow("an apostrophe, then equals") << "'=X" << QByteArray("''=X");
        QTest::newRow("an apostrophe alone") << "'QUOTED" << QByteArray("'QUOTED");
        QTest::newRow("equals later") << "A=B" << QByteArray("A=B");
        QTest::newRow("blanks at both ends") << "  CENTRED  " << QByteArray("\"  CENTRED  \"");
        QTest::newRow("quotes and a comma")
            << "PRESS \"RESET\", THEN WAIT" << QByteArray("\"PRESS \"\"RESET\"\", THEN WAIT\"");
        QTest::newRow("a literal \\x22") << "\\x22" << QByteArray("\\x5Cx22");
        QTest::newRow("C1 and ÿ-free 1252")
            << QString(QChar(0x81)) + "€" << QByteArray("\\x81\xE2\x82\xAC");
    }
    void backupCells() {
        QFETCH(QString, message);
        QFETCH(QByteArray, cell);
        TextTable table = defaults_, back;
        table[8] = message;
        QString why;
        const QByteArray bytes = csvTableBytes(table, &why);
        QVERIFY2(bytes.contains("\r\n8,47-48,Oil Limits," + cell + "\r\n"), bytes.constData());
        QVERIFY2(parseCsvTable(bytes, defaults_, back).ok, qPrintable(why));
        QCOMPARE(back[8], message);
    }

    void onlyRegularFiles() {
        TextTable table = defaults_;
        // (What else the bounded reader refuses, table/test_tablefile's open rows show.)
        // A pipe of its own, never a system device: a faulty writer replaces it.
        const QString pipe = dir_.filePath("pipe.csv");
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        QVERIFY(writeCsvTable(pipe, table).message.contains("not a regular"));
        QVERIFY(readCsvTable(pipe, {}, table).message.contains("a FIFO, not a file"));
        QVERIFY(QDir(dir_.path()).mkdir("f.csv"));
        QVERIFY(writeCsvTable(dir_.filePath("f.csv"), table).message.contains("it is a folder"));
        table[2] = QString::fromUtf8("Ω");
        QVERIFY(
            writeCsvTable(dir_.filePath("omega.csv"), table).message.contains("slot 2 (41-42)"));
        QVERIFY(!QFile::exists(dir_.filePath("omega.csv")));
    }
};

QTEST_GUILESS_MAIN(TestTableFiles)
#include "test_tablefiles.moc"
