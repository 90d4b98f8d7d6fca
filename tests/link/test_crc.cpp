// CRC-16.TBL in its layouts, the Crc step, and the request frames built on it.
#include "link/Crc.h"
#include "link/Frames.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray hex(const char* s) {
    return QByteArray::fromHex(s);
}

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

    void requestFrames() {
        const CrcTableArray t = standardCrcTable();
        const auto [first, second] = frameCrc(t, hex("1103006B0003"));
        QVERIFY(first == 0x76 && second == 0x87);
        QCOMPARE(buildReadRequest(t, 1, 400), hex("0103019000144414"));
        QCOMPARE(buildReadRequest(t, 1, messageRegister(19)), hex("0103030C00148582"));
        QCOMPARE(buildWriteRequest(t, 1, 400, "A"), hex("0110019000010241009B90"));
        QCOMPARE(buildWriteRequest(t, 1, 400, "AB"),
                 hex("01100190000102414 21BA1").replace(' ', ""));
        QCOMPARE(buildEraseRequest(t, 5, 780), hex("0510030C000102000 0A75C"));
        QCOMPARE(buildEraseRequest(t, 1, 400), hex("011001900001020000ABC0"));
        const QByteArray w39 = buildWriteRequest(t, 1, 400, QByteArray(39, 'x'));
        QCOMPARE(w39.size(), 49);
        QCOMPARE(int(w39.at(5)), 20);
        QCOMPARE(int(w39.at(6)), 40);
        QCOMPARE(int(w39.at(46)), 0); // the pad byte
        const QByteArray w7 = buildWriteRequest(t, 1, 400, "SEVENCH");
        QCOMPARE(w7.size(), 17);
        QCOMPARE(w7.mid(4, 3), hex("000408"));
    }

    void replyDecoding() {
        QCOMPARE(byteDump(hex("01030A")), QStringLiteral(" 01 03 0A"));
        QCOMPARE(withLeadingBlank(45), QStringLiteral(" 45"));
        QCOMPARE(withLeadingBlank(0), QStringLiteral(" 0"));

        QByteArray full = hex("010328") + "ABC" + QByteArray(37, '\0') + hex("FFFF");
        QCOMPARE(full.size(), 45);
        QCOMPARE(decodeSingleRead(full), QStringLiteral("ABC"));
        QByteArray forty = hex("010328") + QByteArray(40, 'Z') + hex("FFFF");
        QCOMPARE(decodeSingleRead(forty), QString(40, QLatin1Char('Z')));
        QCOMPARE(decodeSingleRead(hex("010328") + QByteArray(40, '\0') + hex("FFFF")),
                 QStringLiteral("NO MESSAGE STORED"));
        QCOMPARE(decodeSingleRead(hex("0183021234")), QString()); // exception reply, 5 bytes

        BulkReadText r =
            decodeBulkRead(hex("010328") + hex("FF") + "HI" + hex("00FF") + "!" + hex("1234"));
        QVERIFY(r.firstEmpty);
        QCOMPARE(r.text, QStringLiteral("HI!"));
        r = decodeBulkRead(hex("0103280000"));
        QVERIFY(!r.firstEmpty); // 5 bytes: no data positions at all
        QVERIFY(r.text.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCrc)
#include "test_crc.moc"
