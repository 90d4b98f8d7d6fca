// CSV message tables: the cells as written and read back, what spreadsheets write, and a bad
// file refused whole, naming its line and slot.

#include "table/CsvTable.h"
#include "table/TableFile.h"

#include <QtTest>

#include <sys/stat.h>

// Twenty good rows, then row k replaced by replacement (or dropped if empty).
static QByteArray csv(int k = -1, const QByteArray& replacement = {}) {
    QByteArray text = "slot,terminal,group,message\r\n";
    for (int i = 0; i < 20; ++i)
        text += i == k ? replacement
                       : QByteArray::number(i) + ",,,MSG " + QByteArray::number(i) + "\r\n";
    return text;
}

class TestCsvTable : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    TextTable defaults_;

private slots:
    void initTestCase() {
        for (int k = 0; k < 20; ++k)
            defaults_[size_t(k)] = QString("DEFAULT %1").arg(k);
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

    void badFiles_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("why");
        QTest::newRow("not UTF-8") << csv(3, "3,,,CHAUDI\xC8RE\r\n") << "not UTF-8";
        QTest::newRow("header") << QByteArray("slot,message\r\n") + csv().mid(29) << "line 1:";
        QTest::newRow("19 rows") << csv(19) << "no row for slot 19";
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
        QTest::newRow("41 characters") << csv(5, "5,,," + QByteArray(41, 'L') + "\r\n")
                                       << "line 7 (slot 5): the message has 41 characters";
        QTest::newRow("not in 1252")
            << csv(6, "6,,,\xCE\xA9 LOAD\r\n") << "(slot 6): the message holds 'Ω'";
        QTest::newRow("NUL as \\x00")
            << csv(6, "6,,,A\\x00B\r\n") << "(slot 6): the message holds the character NUL";
        QTest::newRow("raw ESC") << csv(6, "6,,,A\x1B\r\n") << "line 8 holds the character ESC";
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
    void badFiles() {
        QFETCH(QByteArray, data);
        QFETCH(QString, why);
        TextTable table = defaults_;
        const CsvResult r = parseCsvTable(data, {}, table);
        QVERIFY(!r.ok);
        QVERIFY2(r.message.contains(why), qPrintable(r.message));
        QCOMPARE(table, defaults_);
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

    // What spreadsheets write: semicolons, blanks around every cell (the slot too), a quoted
    // header, empty lines and rows of separators after the last row.
    void spreadsheetFiles_data() {
        QTest::addColumn<QByteArray>("data");
        const QByteArray good = csv();
        QByteArray semicolons = good;
        semicolons.replace(',', ';');
        QTest::newRow("trailing empty line") << good + "\r\n";
        QTest::newRow("trailing empty lines, LF")
            << QByteArray(good).replace("\r\n", "\n") + "\n\n";
        QTest::newRow("trailing separators") << good + ",,,\r\n ,, ,";
        QTest::newRow("semicolons") << semicolons;
        QTest::newRow("semicolons, no last line end") << semicolons.chopped(2);
        QTest::newRow("blanks around cells")
            << QByteArray(good).replace(",", " ,\t").replace("\r\n", "  \r\n ");
        QTest::newRow("quoted header and slots")
            << QByteArray(good)
                   .replace("slot,terminal,group,message",
                            "\"Slot\",\"Terminal\",\"Group\",\"Message\"")
                   .replace("\n1,", "\n \"1\" ,");
    }
    void spreadsheetFiles() {
        QFETCH(QByteArray, data);
        TextTable table = defaults_;
        const CsvResult r = parseCsvTable(data, defaults_, table);
        QVERIFY2(r.ok, qPrintable(r.message));
        for (int k = 0; k < 20; ++k)
            QCOMPARE(table[size_t(k)], QString("MSG %1").arg(k));
    }

    void onlyRegularFiles() {
        TextTable table = defaults_;
        QFile big(dir_.filePath("big.csv"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(kMaxTableFileBytes + 1));
        big.close();
        QVERIFY(readCsvTable(big.fileName(), {}, table).message.contains("more than the"));
        QVERIFY(readCsvTable(dir_.path(), {}, table).message.contains("a folder, not a file"));
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

QTEST_GUILESS_MAIN(TestCsvTable)
#include "test_csvtable.moc"
