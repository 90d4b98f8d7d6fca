// CRC-16.TBL in its layouts and the Crc step.
#include "link/Crc.h"
#include "support/Files.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// The 512 byte values of the shipped CRC-16.TBL (high byte, low byte per
// entry), read here line by line, without the parser under test.
QVector<int> shippedValues() {
    QVector<int> values;
    for (const QByteArray& line :
         fileBytes(qEnvironmentVariable("QV_APP_DIR") + "/CRC-16.TBL").split('\n'))
        if (line.startsWith("&H"))
            values << line.mid(2).trimmed().toInt(nullptr, 16);
    return values;
}

// Those values in another layout; wrongAt: that field one more (0: none).
QByteArray tableText(const QByteArray& separator, const std::function<QByteArray(int)>& field,
                     int wrongAt = -1) {
    const QVector<int> values = shippedValues();
    QByteArray out;
    for (int i = 0; i < values.size(); ++i)
        out += separator + field(values[i] + (i == wrongAt ? 1 : 0));
    return out;
}

// The unit's documented read of slot 0 at address 1 ends in 44 14.
const QByteArray kReadSlot0 = QByteArray::fromHex("010301900014");

} // namespace

class TestCrc : public QObject {
    Q_OBJECT
private slots:
    void shippedFileIsThePolynomialTable() {
        const CrcTableArray standard = standardCrcTable();
        QVERIFY(standard[1] == 0 && standard[2] == 0xC0C1 && standard[129] == 0xA001 &&
                standard[256] == 0x4040);
        QCOMPARE(shippedValues().size(), 512);
        const QString dir = QString::fromLocal8Bit(qgetenv("QV_APP_DIR"));
        CrcTableArray t{};
        const auto err = readCrcTableFile(dir, t);
        QVERIFY2(!err, err ? qPrintable(err->text()) : "");
        QCOMPARE(frameCrc(t, kReadSlot0), (std::pair<quint8, quint8>{0x44, 0x14}));
        QCOMPARE(fileBytes(dir + "/CRC-16.TBL"), formatCrcTable(standardCrcTable())); // as we write
        CrcTableArray last = standardCrcTable(); // the last entry is checked as the first is
        last[256] = 0x4041;
        const auto lastWrong = parseCrcTable(formatCrcTable(last), t);
        QVERIFY(lastWrong && lastWrong->text().contains("the value for byte 255 is 16449"));
    }

    // Each layout a file may come in, from the shipped values: taken, and
    // giving the documented CRC; the same text with one field wrong (the low
    // byte of the entry for byte 1, C1 made C2) refused, naming that entry.
    void layouts_data() {
        QTest::addColumn<QByteArray>("separator");
        QTest::addColumn<int>("form");
        QTest::newRow("CR LF, &H") << QByteArray("\r\n") << 0;
        QTest::newRow("LF") << QByteArray("\n") << 0;
        QTest::newRow("CR") << QByteArray("\r") << 0;
        QTest::newRow("comma CR LF") << QByteArray(",\r\n") << 0;
        QTest::newRow("decimal padded with blanks") << QByteArray("\r\n") << 1;
        QTest::newRow("lower-case &h") << QByteArray("\r\n") << 2;
        QTest::newRow("tab before decimal") << QByteArray("\r\n") << 3;
    }
    void layouts() {
        QFETCH(QByteArray, separator);
        QFETCH(int, form);
        const std::function<QByteArray(int)> field = [form](int b) -> QByteArray {
            switch (form) {
            case 1:
                return QByteArray::number(b).rightJustified(4, ' ');
            case 2:
                return "&h" + QByteArray::number(b, 16).rightJustified(2, '0');
            case 3:
                return "\t" + QByteArray::number(b).rightJustified(3, ' ');
            }
            return "&H" + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
        };
        CrcTableArray t{};
        const auto err = parseCrcTable(tableText(separator, field), t);
        QVERIFY2(!err, err ? qPrintable(err->text()) : "");
        QCOMPARE(frameCrc(t, kReadSlot0), (std::pair<quint8, quint8>{0x44, 0x14}));
        CrcTableArray untouched{};
        const auto wrong = parseCrcTable(tableText(separator, field, 3), untouched);
        QVERIFY(wrong);
        QVERIFY2(wrong->text().contains("the value for byte 1 is 49346, not 49345"),
                 qPrintable(wrong->text()));
        QCOMPARE(untouched, CrcTableArray{}); // a refused table changes nothing
    }

    void numericPrefixRule_data() {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<double>("value");
        QTest::newRow("&HC1") << QByteArray("&HC1") << 193.0;
        QTest::newRow("blank 193") << QByteArray(" 193") << 193.0;
        QTest::newRow("0xC1 gives 0") << QByteArray("0xC1") << 0.0;
        QTest::newRow("&B1 gives 0") << QByteArray("&B1") << 0.0;
        QTest::newRow("&O17") << QByteArray("&O17") << 15.0;
        QTest::newRow("blank between digits") << QByteArray("1 9 3") << 193.0;
        QTest::newRow("sign and point") << QByteArray("-1.5") << -1.5;
        QTest::newRow("stops at junk") << QByteArray("12x4") << 12.0;
    }
    void numericPrefixRule() {
        QFETCH(QByteArray, field);
        QFETCH(double, value);
        QCOMPARE(numericPrefix(field), value);
    }

    void halvesRoundToEven() {
        // The entry for byte 0 is 0: a low half of 0.5 rounds to 0 and is
        // right, 1.5 rounds to 2 and is refused.
        QByteArray text = formatCrcTable(standardCrcTable());
        CrcTableArray t{};
        QVERIFY(!parseCrcTable(text.replace(8, 4, " 0.5"), t));
        QVERIFY(parseCrcTable(text.replace(8, 4, " 1.5"), t)->text().contains("byte 0 is 2"));
    }

    void badTablesAreReportedByName() {
        CrcTableArray t{};
        t[2] = 7;
        QByteArray text = formatCrcTable(standardCrcTable());
        for (const qsizetype cut : {qsizetype(3), qsizetype(8)}) // in the last field, before it
            QVERIFY(parseCrcTable(text.chopped(cut), t)->text().startsWith("CRC-16.TBL: ends"));
        text.replace(text.indexOf("&HC1"), 4, "&HC2");
        QVERIFY(parseCrcTable(text, t)->text().contains("not the Modbus CRC-16 table"));
        QTemporaryDir empty;
        QVERIFY(readCrcTableFile(empty.path(), t)->text().startsWith("CRC-16.TBL: not found"));
        QCOMPARE(t[2], 7); // a refused file changes nothing
    }
};

QTEST_GUILESS_MAIN(TestCrc)
#include "support/Files.h"
#include "test_crc.moc"
