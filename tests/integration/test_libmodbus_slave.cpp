// Conformance: an independent Modbus RTU slave (libmodbus) on the far side of the
// tool's pseudo-terminal drops any frame with a wrong CRC or layout, so every
// answer also checks the tool's framing; its registers hold what the tool wrote.

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "support/PtyPeer.h"
#include "transport/RtuTransport.h"

#include <QtTest>

#include <modbus/modbus.h>
#include <unistd.h>

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
        // The unit: registers 400..799, served from the event loop the tool's waits run.
        int master = -1, keeper = -1;
        QString path, error;
        QVERIFY2(openRawPty(master, keeper, path, error), qPrintable(error));
        modbus_t* ctx = modbus_new_rtu("pty", 9600, 'N', 8, 1);
        modbus_mapping_t* map = modbus_mapping_new_start_address(0, 0, 0, 0, 400, 400, 0, 0);
        const auto release = qScopeGuard([&] {
            modbus_mapping_free(map);
            modbus_free(ctx);
            ::close(master);
            ::close(keeper);
        });
        modbus_set_slave(ctx, 1);
        modbus_set_socket(ctx, master);
        QSocketNotifier notifier(master, QSocketNotifier::Read);
        connect(&notifier, &QSocketNotifier::activated, this, [&] {
            uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            const int rc = modbus_receive(ctx, query);
            if (rc > 0)
                modbus_reply(ctx, query, rc, map);
        });
        // The slot's 20 registers as characters, two each, high byte first.
        const int reg = messageRegister(slot);
        const auto held = [&] {
            QByteArray out;
            for (const uint16_t* r = map->tab_registers + reg - 400; out.size() < 40; ++r)
                out.append(char(*r >> 8)).append(char(*r & 0xFF));
            return out;
        };

        QtSerialPortDevice device;
        device.setPortName(path);
        QVERIFY(device.open().ok);
        const CrcTableArray t = standardCrcTable();
        RtuTransport transport(device, t);
        const QByteArray bytes = text.toLatin1(), expected = bytes.leftJustified(40, '\0');
        // Each reply of the independent slave is one the tool takes as the unit's answer.
        Transaction x;
        const auto confirmed = [&](const QByteArray& request) {
            x = transport.transact(1, request);
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
};

QTEST_GUILESS_MAIN(TestLibmodbusSlave)
#include "test_libmodbus_slave.moc"
