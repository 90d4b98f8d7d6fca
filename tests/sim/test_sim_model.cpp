// The simulated unit's answers, byte for byte, against frames worked out by
// hand; a model that agreed with the tool's mistakes would be worthless.

#include "sim/SimModel.h"

#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const char* const kBefore = "HELLO WORLD.......Z"; // slot 0 before every request

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
QByteArray crc(const char* text) {
    return SimModel::withCrc(hex(text));
}

// slot0 is the whole slot afterwards, '_' for a 0 byte, padded with zeros.
void row(const char* name, const QByteArray& request, const char* reply,
         const char* slot0 = kBefore, bool clearSlot = false) {
    const QByteArray slot = QByteArray(slot0).replace('_', '\0').leftJustified(40, '\0');
    QTest::newRow(name) << clearSlot << request << hex(reply) << slot;
}

} // namespace

class TestSimModel : public QObject {
    Q_OBJECT
private slots:
    void replies_data() {
        QTest::addColumn<bool>("clearSlot");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("slot0After");
        const QByteArray erase = hex("01 10 01 90 00 01 02 00 00 AB C0");
        const QByteArray writeA = hex("01 10 01 90 00 01 02 41 00 9B 90");
        const QByteArray inside = crc("01 10 01 92 00 01 02 78 79");
        const char* const written = "01 10 01 90 00 01 00 18";
        const char* const writtenInside = "01 10 01 92 00 01 A1 D8";
        row("read", crc("01 03 01 90 00 02"), "01 03 04 48 45 4C 4C C9 73");
        // A write sets its registers and nothing else: the text ends at its 0.
        row("write sets its registers", writeA, written, "A_LLO WORLD.......Z");
        row("write without an end", crc("01 10 01 90 00 01 02 41 42"), written,
            "ABLLO WORLD.......Z");
        row("erase", erase, written, "__LLO WORLD.......Z");
        row("write inside a slot sets registers", inside, writtenInside, "HELLxyWORLD.......Z");
        // --clear-slot: a write at a slot's start clears the slot first.
        row("clearing: write replaces the slot", writeA, written, "A", true);
        row("clearing: erase clears the slot", erase, written, "", true);
        row("clearing: write inside a slot", inside, writtenInside, "HELLxyWORLD.......Z", true);
        row("read past the map", crc("01 03 03 0C 00 15"), "01 83 02 C0 F1");
        row("read count 0", crc("01 03 01 90 00 00"), "01 83 03 01 31");
        row("read count 126", crc("01 03 01 90 00 7E"), "01 83 03 01 31");
        row("write past the map", crc("01 10 03 1E 00 03 06 41 42 43 44 45 46"), "01 90 02 CD C1");
        row("write byte count wrong", crc("01 10 01 90 00 02 02 41 42"), "01 90 03 0C 01");
        row("write count 0", crc("01 10 01 90 00 00 00"), "01 90 03 0C 01");
        row("bad CRC", hex("01 10 01 90 00 01 02 41 00 9B 91"), "");
        row("another unit", crc("02 10 01 90 00 01 02 48 49"), "");
        row("too short", hex("01 03 40"), "");
        row("broadcast read", crc("00 03 01 90 00 14"), "");
        row("broadcast write is carried out", crc("00 10 01 90 00 02 04 41 4C 4C 00"), "",
            "ALL_O WORLD.......Z");
    }

    void replies() {
        QFETCH(bool, clearSlot);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, slot0After);
        SimModel m(1, clearSlot);
        m.setMessage(0, kBefore);
        m.setMessage(1, "NEXT");
        QCOMPARE(m.reply(request), expected);
        QCOMPARE(m.reply(crc("01 03 01 90 00 14")).mid(3, 40), slot0After);
        QCOMPARE(m.message(1), QByteArray("NEXT")); // a write never spills into the next slot
    }

    void loadSavRecords() {
        SimModel m;
        m.setMessage(7, "UNTOUCHED");
        m.setMessage(2, "GONE");
        QCOMPARE(m.loadSavData("\"one, with comma\"\r\n  plain\r\n\"\"\r\na,b\n\"" +
                               QByteArray(45, 'L') + "\"\r\n\"\xE9t\xE9\"\r\n"),
                 7);
        // The file's bytes go to the wire as they are; slots after the last record keep theirs.
        const QByteArrayList expected = {"one, with comma",   "plain",     "",         "a", "b",
                                         QByteArray(40, 'L'), "\xE9t\xE9", "UNTOUCHED"};
        for (int k = 0; k < expected.size(); ++k)
            QCOMPARE(m.message(k), expected[k]);
        QCOMPARE(m.loadSavData(QByteArray(30, ',')), 20);
        // A quote left open would take the next line into the slot and shift the rest.
        m.setMessage(0, "KEEP");
        QCOMPARE(m.loadSavData("\"OPEN\r\n\"NEXT\"\r\n"), -1);
        // Only a regular file of a bounded size is read; nothing else blocks or fills memory.
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo.sav");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        for (const QString& path : {fifo, QStringLiteral("/dev/zero"), dir.path()}) {
            QString error;
            QVERIFY(!m.loadSav(path, &error));
            QVERIFY2(error.startsWith(path + ": a ") && error.endsWith(", not a file"),
                     qPrintable(error));
        }
        QFile big(dir.filePath("big.sav"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(SimModel::kMaxSavBytes + 1));
        QString error;
        QVERIFY(!m.loadSav(big.fileName(), &error) && error.contains("65537 bytes"));
        QCOMPARE(m.message(0), QByteArray("KEEP"));
    }
};

QTEST_GUILESS_MAIN(TestSimModel)
#include "test_sim_model.moc"
