// The simulated unit's answers, byte for byte, against frames worked out by
// hand; a model that agreed with the tool's mistakes would be worthless.

#include "sim/SimModel.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray read(int unit, int start, int count) {
    QByteArray f;
    f.append(char(unit)).append(char(3));
    f.append(char(start >> 8)).append(char(start & 0xFF));
    f.append(char(count >> 8)).append(char(count & 0xFF));
    return SimModel::withCrc(f);
}

QByteArray write(int unit, int start, const QByteArray& data) {
    const int count = int(data.size() + 1) / 2;
    QByteArray f;
    f.append(char(unit)).append(char(16));
    f.append(char(start >> 8)).append(char(start & 0xFF));
    f.append(char(0)).append(char(count)).append(char(2 * count));
    f.append(data);
    if (data.size() % 2)
        f.append('\0');
    return SimModel::withCrc(f);
}

} // namespace

class TestSimModel : public QObject {
    Q_OBJECT
private slots:
    void crcMatchesKnownFrames();
    void readRepliesWithTheSlotText();
    void writeRepliesWithStartAndCount();
    void exceptions_data();
    void exceptions();
    void silence_data();
    void silence();
    void broadcastWriteIsCarriedOutUnanswered();
    void slotRule_data();
    void slotRule();
    void loadSavRecords();
};

void TestSimModel::crcMatchesKnownFrames() {
    QCOMPARE(SimModel::withCrc(hex("01 03 01 90 00 14")), hex("01 03 01 90 00 14 44 14"));
    QCOMPARE(SimModel::withCrc(hex("01 03 03 0C 00 14")), hex("01 03 03 0C 00 14 85 82"));
    QCOMPARE(SimModel::withCrc(hex("05 10 03 0C 00 01 02 00 00")),
             hex("05 10 03 0C 00 01 02 00 00 A7 5C"));
    QVERIFY(SimModel::crcValid(hex("01 10 01 90 00 01 02 41 42 1B A1")));
    QVERIFY(!SimModel::crcValid(hex("01 10 01 90 00 01 02 41 42 A1 1B")));
}

void TestSimModel::readRepliesWithTheSlotText() {
    SimModel m;
    m.setMessage(0, "ABC");
    QCOMPARE(m.reply(read(1, 400, 2)), hex("01 03 04 41 42 43 00 7F 2B"));

    // A whole slot: 45 bytes, the text then zeros.
    m.setMessage(19, QByteArray(40, 'Z'));
    const QByteArray full = m.reply(hex("01 03 03 0C 00 14 85 82"));
    QCOMPARE(full.size(), 45);
    QCOMPARE(full.left(3), hex("01 03 28"));
    QCOMPARE(full.mid(3, 40), QByteArray(40, 'Z'));
    QVERIFY(SimModel::crcValid(full));
    QCOMPARE(m.registerValue(780), 0x5A5A);

    // The last register of the map is readable; the one after is not.
    QCOMPARE(m.reply(read(1, 799, 1)).size(), 7);
}

void TestSimModel::writeRepliesWithStartAndCount() {
    SimModel m;
    QCOMPARE(m.reply(hex("01 10 01 90 00 01 02 41 00 9B 90")), hex("01 10 01 90 00 01 00 18"));
    QCOMPARE(m.message(0), QByteArray("A"));
    QCOMPARE(m.registerValue(400), 0x4100);
    QCOMPARE(m.reply(write(1, 780, "Q")), hex("01 10 03 0C 00 01 C1 8E"));
}

void TestSimModel::exceptions_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("function 4") << SimModel::withCrc(hex("01 04 01 90 00 14"))
                                << hex("01 84 01 82 C0");
    QTest::newRow("read below the map") << read(1, 399, 1) << hex("01 83 02 C0 F1");
    QTest::newRow("read past the map") << read(1, 780, 21) << hex("01 83 02 C0 F1");
    QTest::newRow("read count 0") << read(1, 400, 0) << hex("01 83 03 01 31");
    QTest::newRow("read count 126") << read(1, 400, 126) << hex("01 83 03 01 31");
    QTest::newRow("write past the map") << write(1, 798, "ABCDEF") << hex("01 90 02 CD C1");
    QTest::newRow("write byte count wrong")
        << SimModel::withCrc(hex("01 10 01 90 00 02 02 41 42")) << hex("01 90 03 0C 01");
    QTest::newRow("write count 0")
        << SimModel::withCrc(hex("01 10 01 90 00 00 00")) << hex("01 90 03 0C 01");
}

void TestSimModel::exceptions() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    SimModel m;
    m.setMessage(0, "KEEP");
    QCOMPARE(m.reply(request), expected);
    QCOMPARE(m.message(0), QByteArray("KEEP")); // a refused write changes nothing
}

void TestSimModel::silence_data() {
    QTest::addColumn<QByteArray>("request");
    QByteArray badCrc = write(1, 400, "HI");
    badCrc[badCrc.size() - 1] = char(badCrc.back() ^ 1);
    QTest::newRow("bad CRC") << badCrc;
    QTest::newRow("another unit") << write(2, 400, "HI");
    QTest::newRow("too short") << hex("01 03 40");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("broadcast read") << read(0, 400, 20);
}

void TestSimModel::silence() {
    QFETCH(QByteArray, request);
    SimModel m;
    QVERIFY(m.reply(request).isEmpty());
    QVERIFY(m.message(0).isEmpty());
}

void TestSimModel::broadcastWriteIsCarriedOutUnanswered() {
    SimModel m(7);
    QVERIFY(m.reply(write(0, 420, "ALL")).isEmpty());
    QCOMPARE(m.message(1), QByteArray("ALL"));
    QCOMPARE(m.reply(read(7, 420, 2)).mid(3, 3), QByteArray("ALL"));
}

void TestSimModel::slotRule_data() {
    QTest::addColumn<bool>("bare");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("slotAfter");
    QTest::addColumn<int>("lastRegister");

    const QByteArray erase = hex("01 10 01 90 00 01 02 00 00 AB C0");
    QTest::newRow("short text replaces the slot")
        << false << write(1, 400, "AB") << QByteArray("AB") << 0;
    QTest::newRow("erase clears the slot") << false << erase << QByteArray() << 0;
    QTest::newRow("write inside a slot sets registers")
        << false << write(1, 402, "xy") << QByteArray("HELLxyWORLD.......................Z")
        << (int('Z') << 8);
    QTest::newRow("bare map keeps the rest")
        << true << write(1, 400, "AB") << QByteArray("ABLLO WORLD.......................Z")
        << (int('Z') << 8);
    QTest::newRow("bare erase keeps the rest") << true << erase << QByteArray() << (int('Z') << 8);
}

void TestSimModel::slotRule() {
    QFETCH(bool, bare);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, slotAfter);
    QFETCH(int, lastRegister);
    SimModel m(1, bare);
    const QByteArray before = "HELLO WORLD.......................Z";
    m.setMessage(0, before);
    m.setMessage(1, "NEXT");
    QVERIFY(!m.reply(request).isEmpty());
    QCOMPARE(m.message(0), slotAfter);
    QCOMPARE(m.registerValue(400 + before.size() / 2), lastRegister);
    QCOMPARE(m.message(1), QByteArray("NEXT")); // the next slot is never touched
}

void TestSimModel::loadSavRecords() {
    QTemporaryDir dir;
    const QString path = dir.filePath("t.sav");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("\"one, with comma\"\r\n"
            "  plain\r\n"
            "\"\"\r\n"
            "a,b\n"
            "\"" +
            QByteArray(45, 'L') +
            "\"\r\n"
            "\"\xE9t\xE9\"\r\n");
    f.close();

    SimModel m;
    m.setMessage(7, "UNTOUCHED");
    m.setMessage(2, "GONE");
    QVERIFY(m.loadSav(path));
    QCOMPARE(m.message(0), QByteArray("one, with comma"));
    QCOMPARE(m.message(1), QByteArray("plain"));
    QCOMPARE(m.message(2), QByteArray());
    QCOMPARE(m.message(3), QByteArray("a"));
    QCOMPARE(m.message(4), QByteArray("b"));
    QCOMPARE(m.message(5), QByteArray(40, 'L'));
    QCOMPARE(m.message(6), QByteArray("\xE9t\xE9")); // the file's bytes go to the wire as they are
    QCOMPARE(m.message(7), QByteArray("UNTOUCHED"));
    QCOMPARE(m.loadSavData(QByteArray(30, ',')), 20);

    QString error;
    QVERIFY(!m.loadSav(dir.filePath("missing.sav"), &error));
    QVERIFY(error.contains("missing.sav"));
}

QTEST_GUILESS_MAIN(TestSimModel)
#include "test_sim_model.moc"
