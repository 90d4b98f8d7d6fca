// CRC-16.TBL in its layouts and the Crc step.
#include "link/Crc.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The table rewritten with another separator or field form.
QByteArray tableText(const QByteArray& separator, const std::function<QByteArray(int)>& field) {
    const CrcTableArray t = standardCrcTable();
    QByteArray out;
    for (int v = 0; v < 256; ++v) {
        const std::int32_t value = t[static_cast<size_t>(v + 1)];
        out += separator + field((value >> 8) & 0xFF);
        out += separator + field(value & 0xFF);
    }
    return out;
}

} // namespace

class TestCrc : public QObject {
    Q_OBJECT
private slots:
    void shippedFileIsThePolynomialTable() {
        const CrcTableArray standard = standardCrcTable();
        QVERIFY(standard[1] == 0 && standard[2] == 0xC0C1 && standard[129] == 0xA001 &&
                standard[256] == 0x4040);
        const QString dir = QString::fromLocal8Bit(qgetenv("QV_APP_DIR"));
        CrcTableArray t{};
        const auto err = LoadCrcTable(dir, t);
        QVERIFY2(!err, err ? qPrintable(err->text()) : "");
        QVERIFY(t == standardCrcTable());
        QFile f(dir + QStringLiteral("/CRC-16.TBL"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), formatCrcTable(standardCrcTable())); // the layout we write
    }

    void layouts_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("CR LF, &H") << formatCrcTable(standardCrcTable());
        QTest::newRow("LF") << formatCrcTable(standardCrcTable()).replace('\r', "");
        QTest::newRow("CR") << formatCrcTable(standardCrcTable()).replace('\n', "");
        QTest::newRow("comma CR LF") << tableText(",\r\n", [](int b) {
            return "&H" + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
        });
        QTest::newRow("decimal padded with blanks") << tableText(
            "\r\n", [](int b) { return QByteArray::number(b).rightJustified(4, ' '); });
        QTest::newRow("lower-case &h") << tableText(
            "\r\n", [](int b) { return "&h" + QByteArray::number(b, 16).rightJustified(2, '0'); });
        QTest::newRow("tab before decimal") << tableText(
            "\r\n", [](int b) { return "\t" + QByteArray::number(b).rightJustified(3, ' '); });
    }
    void layouts() {
        QFETCH(QByteArray, text);
        CrcTableArray t{};
        const auto err = parseCrcTable(text, t);
        QVERIFY2(!err, err ? qPrintable(err->text()) : "");
        QVERIFY(t == standardCrcTable());
    }

    void numericPrefixRule_data() {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<double>("value");
        QTest::newRow("&HC1") << QByteArray("&HC1") << 193.0;
        QTest::newRow("blank 193") << QByteArray(" 193") << 193.0;
        QTest::newRow("0xC1 gives 0") << QByteArray("0xC1") << 0.0;
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
        QVERIFY(
            parseCrcTable(text.left(text.size() / 2), t)->text().startsWith("CRC-16.TBL: ends"));
        text.replace(text.indexOf("&HC1"), 4, "&HC2");
        QVERIFY(parseCrcTable(text, t)->text().contains("not the Modbus CRC-16 table"));
        QTemporaryDir empty;
        QVERIFY(LoadCrcTable(empty.path(), t)->text().startsWith("CRC-16.TBL: not found"));
        QCOMPARE(t[2], 7); // a refused file changes nothing
    }
};

QTEST_GUILESS_MAIN(TestCrc)
#include "test_crc.moc"
