// CRC-16.TBL in its layouts, the Crc step, the request frames built on it, and what the
// tool makes of a reply: its text and the name of a refusal.
#include "link/Crc.h"
#include "link/Frames.h"
#include "support/UnitFrames.h"

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
        QCOMPARE(byteDump(hex("01030A")) + withLeadingBlank(45) + withLeadingBlank(0),
                 QStringLiteral(" 01 03 0A 45 0"));
    }

    // One decoder for every reader of a read reply.
    void replyText_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("empty");
        const auto row = [](const char* name, const QByteArray& data, const QString& text,
                            bool empty) {
            QTest::newRow(name) << hex("010328") + data.leftJustified(40, '\0') + hex("FFFF")
                                << text << empty;
        };
        row("40 characters", QByteArray(40, 'Z'), QString(40, 'Z'), false);
        row("0 ends the text", QByteArray("AB\0CD", 5), "AB", false);
        row("0 first, text after", QByteArray("\0LATER", 6), "", true);
        row("FF ends the text",
            "AB\xFF"
            "CD",
            "AB", false);
        row("FF first",
            "\xFF"
            "ES",
            "", true);
        row("1252 and control bytes kept", "\x80\x1B\x7F", "€\x1B\x7F", false);
        QTest::newRow("exception reply, no data") << hex("0183021234") << "" << false;
    }
    void replyText() {
        QFETCH(QByteArray, reply);
        const ReadText r = decodeReadReply(reply);
        QTEST(r.text, "text");
        QTEST(r.empty, "empty");
    }

    void exceptionNames_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        const char* names[] = {"illegal function",
                               "illegal data address",
                               "illegal data value",
                               "server device failure",
                               "acknowledge",
                               "server device busy",
                               "negative acknowledge",
                               "memory parity error",
                               "unknown",
                               "gateway path unavailable",
                               "gateway target device failed to respond",
                               "unknown"};
        for (int code = 1; code <= 12; ++code)
            QTest::addRow("%d", code) << code << QString(names[code - 1]);
    }
    void exceptionNames() {
        QFETCH(int, code);
        const CrcTableArray t = standardCrcTable();
        const ReplyCheck c =
            checkReply(t, buildReadRequest(t, 1, 400), withCrc(hex("0183") + char(code)));
        QFETCH(QString, name);
        QCOMPARE(
            c.reason(),
            QString("the unit refused the request (Modbus exception %1, %2)").arg(code).arg(name));
    }
};

QTEST_GUILESS_MAIN(TestCrc)
#include "test_crc.moc"
