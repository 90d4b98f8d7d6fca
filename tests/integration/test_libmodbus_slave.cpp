// Conformance: an independent Modbus RTU slave (libmodbus) on the far side of the
// tool's pseudo-terminal drops any frame with a wrong CRC or layout, so every
// answer also checks the tool's framing; its registers hold what the tool wrote.

#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "support/ModbusSlave.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "table/UnitSync.h"

#include <QtTest>

class TestLibmodbusSlave : public QObject {
    Q_OBJECT

private slots:
    void writeReadErase_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("text");
        QTest::newRow("odd length, slot 0") << 0 << "HELLO";
        QTest::newRow("even length, slot 7") << 7 << "Low gas!";
        QTest::newRow("40 characters, slot 19") << 19 << "0123456789ABCDEFGHIJ0123456789abcdefghij";
        QTest::newRow("bytes past 127") << 3 << QString::fromUtf8("Pr\u00E9ssion \u00BD");
    }
    void writeReadErase() {
        QFETCH(int, slot);
        QFETCH(QString, text);
        ModbusSlave unit(1);
        QVERIFY2(unit.ok(), qPrintable(unit.error()));
        // The slot's 20 registers as characters, two each, high byte first.
        const int reg = messageRegister(slot);
        const auto held = [&] {
            QByteArray out;
            for (const uint16_t* r = unit.registers(reg); out.size() < 40; ++r)
                out.append(char(*r >> 8)).append(char(*r & 0xFF));
            return out;
        };

        LineRig<QtSerialPortDevice> rig(LinkTiming{});
        rig.port.setPortName(unit.path());
        QVERIFY(rig.port.open().ok);
        const QByteArray bytes = text.toLatin1(), expected = bytes.leftJustified(40, '\0');
        // Each reply of the independent slave is one the tool takes as the unit's answer.
        Transaction x;
        const auto confirmed = [&](const QByteArray& request) {
            x = rig.transport.transact(1, request);
            return checkReply(x, request).confirmed() ? x.received : QByteArray();
        };
        QCOMPARE(confirmed(Pdu::writeMessage(reg, bytes)).size(), 8);
        QCOMPARE(held(), expected);
        const QByteArray read = confirmed(Pdu::readMessage(reg));
        QVERIFY(read.size() == 45 && Pdu::decodeReadReply(x.replyPdu).text == text);
        // An erase writes only the first register of the slot.
        QCOMPARE(confirmed(Pdu::eraseMessage(reg)).size(), 8);
        QCOMPARE(held(), QByteArray(2, '\0') + expected.mid(2));
    }

    // Read all and compare with six messages per request against the independent slave, whose
    // map holds the messages: the same table as one message per request. Then a slave whose map
    // ends inside the second block refuses it (exception 2): auto reads on one message per
    // request, on fails saying so.
    void blockReads() {
        ModbusSlave unit(3);
        QVERIFY2(unit.ok(), qPrintable(unit.error()));
        for (int k = 0; k < 20; ++k) { // "SLOT k", two characters a register, high byte first
            const QByteArray text = "SLOT " + QByteArray::number(k);
            for (int i = 0; i < text.size(); ++i)
                unit.registers(400)[20 * k + i / 2] |= uint16_t(quint8(text[i]) << (i % 2 ? 0 : 8));
        }

        LineRig<QtSerialPortDevice> rig(LinkTiming{500, 80, 30, 0, 1, 5});
        rig.port.setPortName(unit.path());
        QVERIFY(rig.port.open().ok);
        BulkOperations bulk(rig.messages, rig.transport, rig.view, rig.op);
        const auto readAll = [&](BlockReads mode) {
            unit.requests = 0;
            bulk.setBlockReads(mode);
            const BulkResult r = bulk.readAll(3);
            return QString("%1 requests, %2 read, %3")
                .arg(unit.requests)
                .arg(r.done.size())
                .arg(rig.messages.texts()[13]);
        };
        QCOMPARE(readAll(BlockReads::On), "4 requests, 20 read, SLOT 13");
        QCOMPARE(readAll(BlockReads::Off), "20 requests, 20 read, SLOT 13");
        UnitSync sync(rig.transport, rig.view, rig.op);
        sync.setBlockReads(BlockReads::On);
        QVERIFY(sync.compare(3, rig.messages.texts(), rig.defaults).matches());

        // Registers 400..639 only: slots 0 to 11, so the third block (slots 12..17) is refused.
        unit.setRegisterCount(240);
        rig.messages.reset(rig.defaults, {});
        QCOMPARE(readAll(BlockReads::On), "3 requests, 12 read, DEFAULT 13");
        QVERIFY(rig.op.last().text.contains("Unit 3 refused a read of several messages at once "
                                            "(exception 2, illegal data address)"));
        QCOMPARE(readAll(BlockReads::Auto), "11 requests, 12 read, DEFAULT 13");
    }
};

QTEST_GUILESS_MAIN(TestLibmodbusSlave)
#include "test_libmodbus_slave.moc"
