// Every text the tool writes ends on the unit: random texts written over random older ones read
// back exact, on the simulated unit (as documented, and with its slot-clearing option) and on
// an independent slave (libmodbus, a plain register map); a restore of a random table onto a
// unit holding random other texts ends with the unit holding the table.

#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "sim/SimModel.h"
#include "support/ModbusSlave.h"
#include "support/TableRig.h"
#include "table/UnitSync.h"

#include <QRandomGenerator>
#include <QtTest>
#include <functional>

namespace {

// Characters a slot can hold: printable ASCII and a few Windows-1252 letters.
QByteArray randomText(QRandomGenerator& random, int minLength = 1) {
    static const QByteArray kChars =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcxyz0123456789-!.,/#\xC9\xE9\xD6";
    QByteArray text;
    const int length = int(random.bounded(minLength, kMessageMaxLength + 1));
    while (text.size() < length)
        text.append(kChars.at(int(random.bounded(int(kChars.size())))));
    return text;
}

QString fromCodePage(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}

// Writes random texts into random slots (from the first slotCount) through write, reads each
// back through read, and fails on the first that does not hold what was written.
void writeOverOlderTexts(int writes, int slotCount,
                         const std::function<bool(const QByteArray& request)>& write,
                         const std::function<QString(const QByteArray& request)>& read) {
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    for (int i = 0; i < writes; ++i) {
        const int reg = messageRegister(int(random.bounded(slotCount)));
        const QByteArray text = randomText(random);
        QVERIFY(write(Pdu::writeMessage(reg, text)));
        const QString held = read(Pdu::readMessage(reg));
        QVERIFY2(held == fromCodePage(text),
                 qPrintable(QString("seed %1, write %2: wrote \"%3\", the unit holds \"%4\"")
                                .arg(seed)
                                .arg(i)
                                .arg(fromCodePage(text), held)));
    }
}

} // namespace

class TestTextEnds : public QObject {
    Q_OBJECT
private slots:
    // The frames the tool builds, handed to the simulated unit's own parser.
    void simulatedUnit_data() {
        QTest::addColumn<bool>("clearSlot");
        QTest::newRow("writes set their registers") << false;
        QTest::newRow("writes clear the slot first") << true;
    }
    void simulatedUnit() {
        QFETCH(bool, clearSlot);
        SimModel unit(1, clearSlot);
        const CrcTableArray crc = standardCrcTable();
        writeOverOlderTexts(
            400, kInterlockCount,
            [&](const QByteArray& request) {
                return !unit.reply(rtuFrame(crc, 1, request)).isEmpty();
            },
            [&](const QByteArray& request) {
                const QByteArray reply = unit.reply(rtuFrame(crc, 1, request));
                return reply.size() == 45 ? Pdu::decodeReadReply(reply.mid(1, 42)).text
                                          : QStringLiteral("(no reply)");
            });
    }

    // Through the link and the pseudo-terminal to libmodbus, whose map only ever holds what
    // the frames carried.
    void independentSlave() {
        ModbusSlave unit(1);
        QVERIFY2(unit.ok(), qPrintable(unit.error()));
        LineRig<QtSerialPortDevice> rig(LinkTiming{500, 80, 30, 0, 1, 5});
        rig.port.setPortName(unit.path());
        QVERIFY(rig.port.open().ok);
        // Few slots, so that texts land on older ones.
        writeOverOlderTexts(
            60, 4,
            [&](const QByteArray& request) {
                return checkReply(rig.transport.transact(1, request), request).confirmed();
            },
            [&](const QByteArray& request) {
                const Transaction t = rig.transport.transact(1, request);
                return checkReply(t, request).confirmed() ? Pdu::decodeReadReply(t.replyPdu).text
                                                          : QStringLiteral("(no reply)");
            });
    }

    // A random table restored onto the slave holding random other texts (some slots empty,
    // some entries at their default): the restore says so, and a compare agrees.
    void restoreRandomTables() {
        ModbusSlave unit(2);
        QVERIFY2(unit.ok(), qPrintable(unit.error()));
        LineRig<QtSerialPortDevice> rig(LinkTiming{500, 80, 30, 0, 1, 5});
        rig.port.setPortName(unit.path());
        QVERIFY(rig.port.open().ok);
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        for (int round = 0; round < 8; ++round) {
            for (int k = 0; k < kInterlockCount; ++k) { // the unit: random texts, a few empty
                const QByteArray old = random.bounded(5) == 0 ? QByteArray() : randomText(random);
                uint16_t* r = unit.registers(messageRegister(k));
                const QByteArray cells = old.leftJustified(2 * kRegistersPerMessage, '\0');
                for (int i = 0; i < kRegistersPerMessage; ++i)
                    r[i] = uint16_t((quint8(cells[2 * i]) << 8) | quint8(cells[2 * i + 1]));
            }
            TextTable table;
            for (int k = 0; k < kInterlockCount; ++k)
                table[size_t(k)] = random.bounded(6) == 0 ? rig.defaults[size_t(k)]
                                                          : fromCodePage(randomText(random));
            UnitSync sync(rig.transport, rig.view, rig.op);
            const RestoreResult r = sync.restore(2, table, rig.defaults);
            QVERIFY2(
                r.restored(),
                qPrintable(
                    QString("seed %1, round %2: %3").arg(seed).arg(round).arg(restoreSummary(r))));
            QVERIFY2(sync.compare(2, table, rig.defaults).matches(),
                     qPrintable(QString("seed %1, round %2").arg(seed).arg(round)));
        }
    }
};

QTEST_GUILESS_MAIN(TestTextEnds)
#include "test_text_ends.moc"
