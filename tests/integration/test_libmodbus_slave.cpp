// Conformance: an independent Modbus RTU slave (libmodbus) on the far side of
// the tool's pseudo-terminal answers its write, read and erase, and its
// registers hold what the tool wrote. The slave drops any frame with a wrong
// CRC or layout, so every answer is also a check of the tool's framing.

#include "link/CommsTest.h"
#include "link/Crc.h"
#include "link/Frames.h"
#include "link/Link.h"
#include "link/QtSerialPortDevice.h"
#include "support/PtyPeer.h"

#include <QScopeGuard>
#include <QSocketNotifier>
#include <QtTest>

#include <modbus/modbus.h>
#include <unistd.h>

namespace {

class View : public CommsTestView {
public:
    void setUnitAddressText(const QString&) override {}
    void setTransmitted(const QString&) override {}
    void setReceived(const QString&) override {}
    void setStoredText(const QString& t) override { stored = t; }
    void setByteCount(const QString& t) override { count = t; }
    void setSending(bool) override {}
    void setReceiving(bool) override {}
    QString messageText() const override { return text; }
    void clearMessageText() override { text.clear(); }
    void showProblem(const QString& t) override { count = t; } // shows up where it fails
    QString stored, count, text;
};

} // namespace

class TestLibmodbusSlave : public QObject {
    Q_OBJECT

private slots:
    void writeReadErase_data() {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("text");
        QTest::newRow("odd length, slot 0") << 0 << "HELLO";
        QTest::newRow("even length, slot 7") << 7 << "Low gas!";
        QTest::newRow("40 characters, slot 19") << 19 << "0123456789ABCDEFGHIJ0123456789abcdefghij";
        QTest::newRow("code page letters") << 3 << QString::fromUtf8("Pr\u00E9ssion \u00BD");
    }
    void writeReadErase() {
        QFETCH(int, slot);
        QFETCH(QString, text);
        // The unit: registers 400..799 on the master side of the terminal,
        // served from the event loop the tool's waits run.
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
        int answered = 0;
        QSocketNotifier notifier(master, QSocketNotifier::Read);
        connect(&notifier, &QSocketNotifier::activated, this, [&] {
            uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            const int rc = modbus_receive(ctx, query);
            if (rc > 0 && modbus_reply(ctx, query, rc, map) > 0)
                ++answered;
        });
        // The characters held from the slot's register on, two per register,
        // high byte first.
        const int reg = messageRegister(slot);
        const auto held = [&] {
            QByteArray out;
            for (int i = 0; i < (text.size() + 1) / 2; ++i)
                out += QByteArray(1, char(map->tab_registers[reg - 400 + i] >> 8)) +
                       char(map->tab_registers[reg - 400 + i] & 0xFF);
            return out;
        };

        QtSerialPortDevice device;
        device.setPortName(path);
        Link link(device);
        SharedState state;
        state.CrcTable = standardCrcTable();
        state.UnitAddress = 1;
        state.MsgAddress = static_cast<std::int16_t>(reg);
        View view;
        CommsTest test(state, link, view);
        QVERIFY(device.open().ok);

        view.text = text;
        test.writeMessage();
        QCOMPARE(view.count, " 8"); // the write reply: echo of address and count
        QByteArray expected = text.toLatin1();
        expected.append(text.size() % 2, '\0');
        QCOMPARE(held(), expected);
        test.readMessage();
        QCOMPARE(view.count, " 45");
        QCOMPARE(view.stored, text);
        // An erase writes only the first register of the slot.
        test.eraseMessage();
        QCOMPARE(view.count, " 8");
        QCOMPARE(held(), QByteArray(2, '\0') + expected.mid(2));
        test.readMessage();
        QCOMPARE(view.stored, "NO MESSAGE STORED");
        QCOMPARE(answered, 4);
    }
};

QTEST_GUILESS_MAIN(TestLibmodbusSlave)
#include "test_libmodbus_slave.moc"
