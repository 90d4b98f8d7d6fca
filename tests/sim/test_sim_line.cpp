// A line of simulated units: each answers at its own address from its own
// registers, a broadcast reaches them all and none answers, an address no unit
// has stays silent; and the strict unit's refusal of a read of several
// messages, frames worked out by hand.

#include "sim/SimLine.h"

#include <QTest>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
QByteArray framed(const char* text) {
    return SimModel::withCrc(hex(text));
}
// A read of slot 0 (registers 400..419) from unit address.
QByteArray readSlot0(int address) {
    return SimModel::withCrc(char(address) + hex("03 01 90 00 14"));
}
// The text of a read reply's first slot.
QByteArray firstText(const QByteArray& reply) {
    const QByteArray data = reply.mid(3, 40);
    return data.left(data.indexOf('\0'));
}

} // namespace

class TestSimLine : public QObject {
    Q_OBJECT
private slots:
    void eachUnitAnswersAtItsAddress() {
        SimLine line;
        QCOMPARE(line.unitCount(), 1);
        SimModel& first = line.model();
        first.setMessage(0, "KEPT");
        line.setUnits(3, 5);
        QCOMPARE(line.unitCount(), 3);
        // The first unit is the same one, at the line's first address, with its messages.
        QVERIFY(line.unit(3) == &first && line.unit(2) == nullptr && line.unit(6) == nullptr);
        line.unit(5)->setMessage(0, "FIVE");
        QCOMPARE(firstText(line.reply(readSlot0(3))), QByteArray("KEPT"));
        QCOMPARE(line.reply(readSlot0(4)).left(3), hex("04 03 28")); // empty, and its own address
        QCOMPARE(firstText(line.reply(readSlot0(5))), QByteArray("FIVE"));
        for (int silent : {1, 2, 6, 247})
            QVERIFY(line.reply(readSlot0(silent)).isEmpty());
        // A write reaches only the unit addressed.
        QCOMPARE(line.reply(framed("04 10 01 90 00 01 02 41 42")), framed("04 10 01 90 00 01"));
        QCOMPARE(line.unit(4)->message(0), QByteArray("AB"));
        QCOMPARE(line.unit(5)->message(0), QByteArray("FIVE"));
        // The broadcast: every unit carries it out, none answers.
        QVERIFY(line.reply(framed("00 10 01 A4 00 02 04 41 4C 4C 00")).isEmpty());
        for (int address : {3, 4, 5})
            QCOMPARE(line.unit(address)->message(1), QByteArray("ALL"));
        QVERIFY(line.reply(readSlot0(5).chopped(1) + 'X').isEmpty());
        QVERIFY(line.reply(QByteArray()).isEmpty());
        line.setUnits(9, 9);
        QVERIFY(line.unitCount() == 1 && line.unit(9) == &first && line.unit(5) == nullptr);
        // A line lent its first unit answers from it, and can grow and shrink around it.
        SimModel lent(4);
        lent.setMessage(0, "LENT");
        SimLine around(lent);
        around.setUnits(4, 6);
        around.setUnits(4, 5);
        QVERIFY(around.unitCount() == 2 && &around.model() == &lent);
        QCOMPARE(firstText(around.reply(readSlot0(4))), QByteArray("LENT"));
        QCOMPARE(around.reply(readSlot0(5)).left(3), hex("05 03 28"));
        QVERIFY(around.reply(readSlot0(6)).isEmpty());
    }

    // A unit that takes block reads answers six messages in one reply, each slot's 40 bytes
    // in turn; a strict one refuses any read that reaches past one slot's registers.
    void readsOfSeveralMessages_data() {
        QTest::addColumn<bool>("strict");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("replyBytes"); // 5: exception 2
        const QByteArray six = framed("07 03 01 90 00 78");
        const QByteArray two = framed("07 03 02 F8 00 28");    // slots 18 and 19
        const QByteArray across = framed("07 03 01 9A 00 14"); // half of slot 0, half of 1
        const QByteArray inside = framed("07 03 01 95 00 0A");
        for (bool strict : {false, true}) {
            const char* kind = strict ? "strict" : "taking blocks";
            QTest::addRow("%s, six messages", kind) << strict << six << (strict ? 5 : 245);
            QTest::addRow("%s, the last two", kind) << strict << two << (strict ? 5 : 85);
            QTest::addRow("%s, across two slots", kind) << strict << across << (strict ? 5 : 45);
            QTest::addRow("%s, inside one slot", kind) << strict << inside << 25;
        }
    }
    void readsOfSeveralMessages() {
        QFETCH(bool, strict);
        QFETCH(QByteArray, request);
        QFETCH(int, replyBytes);
        SimLine line;
        line.setUnits(7, 8);
        for (int k = 0; k < 20; ++k)
            line.unit(7)->setMessage(k, "SLOT " + QByteArray::number(k));
        line.setSingleMessageReads(strict);
        const QByteArray reply = line.reply(request);
        QCOMPARE(reply.size(), replyBytes);
        if (replyBytes == 5) {
            QCOMPARE(reply, framed("07 83 02"));
            return;
        }
        QVERIFY(SimModel::crcValid(reply));
        if (replyBytes == 245)
            for (int k = 0; k < 6; ++k)
                QCOMPARE(reply.mid(3 + 40 * k, 40),
                         ("SLOT " + QByteArray::number(k)).leftJustified(40, '\0'));
        if (replyBytes == 85)
            QCOMPARE(reply.mid(43, 7), QByteArray("SLOT 19"));
        // The other unit on the line is not strict by itself: the setting is the line's.
        line.setSingleMessageReads(false);
        QCOMPARE(line.reply(framed("08 03 01 90 00 78")).size(), 245);
    }
};

QTEST_GUILESS_MAIN(TestSimLine)
#include "test_sim_line.moc"
