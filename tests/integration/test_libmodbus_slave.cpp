// Conformance: an independent Modbus RTU slave (libmodbus) on a pseudo-terminal
// answers the tool's read, write and erase requests, and its registers hold
// what the tool wrote. The slave drops any frame with a wrong CRC or layout,
// so every answer is also a check of the tool's framing.

#include "link/CommsTest.h"
#include "link/Crc.h"
#include "link/Link.h"
#include "link/QtSerialPortDevice.h"
#include "support/PtyPeer.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <modbus/modbus.h>
#include <mutex>
#include <thread>

namespace {

// The unit: registers 400..799 on a libmodbus RTU slave, served on a thread.
class LibmodbusUnit {
public:
    LibmodbusUnit(const QString& path, int unit) {
        ctx_ = modbus_new_rtu(path.toLocal8Bit().constData(), 9600, 'N', 8, 1);
        if (!ctx_)
            return;
        modbus_set_slave(ctx_, unit);
        // Without a short response time-out the slave sleeps after a frame for
        // another unit and then flushes, swallowing the frame that follows.
        modbus_set_response_timeout(ctx_, 0, 5000);
        // Wakes the thread now and then to see whether it should stop.
        modbus_set_indication_timeout(ctx_, 0, 50000);
        map_ = modbus_mapping_new_start_address(0, 0, 0, 0, 400, 400, 0, 0);
        if (!map_ || modbus_connect(ctx_) != 0) {
            error_ = QString::fromLocal8Bit(modbus_strerror(errno));
            return;
        }
        connected_ = true;
        thread_ = std::thread([this] { serve(); });
    }
    ~LibmodbusUnit() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (connected_)
            modbus_close(ctx_);
        if (map_)
            modbus_mapping_free(map_);
        if (ctx_)
            modbus_free(ctx_);
    }
    LibmodbusUnit(const LibmodbusUnit&) = delete;
    LibmodbusUnit& operator=(const LibmodbusUnit&) = delete;

    bool ok() const { return connected_; }
    QString error() const { return error_; }
    int answered() const { return answered_; }

    quint16 reg(int address) {
        std::lock_guard<std::mutex> lock(mutex_);
        return map_->tab_registers[address - 400];
    }
    void setReg(int address, quint16 value) {
        std::lock_guard<std::mutex> lock(mutex_);
        map_->tab_registers[address - 400] = value;
    }
    // The characters held from address on, two per register, high byte first.
    QByteArray text(int address, int registers) {
        QByteArray out;
        for (int i = 0; i < registers; ++i) {
            const quint16 v = reg(address + i);
            out.append(static_cast<char>(v >> 8));
            out.append(static_cast<char>(v & 0xFF));
        }
        return out;
    }

private:
    void serve() {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop_) {
            const int rc = modbus_receive(ctx_, query);
            if (rc <= 0)
                continue; // time-out, another unit's frame, or a frame it rejected
            std::lock_guard<std::mutex> lock(mutex_);
            if (modbus_reply(ctx_, query, rc, map_) > 0)
                ++answered_;
        }
    }

    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    bool connected_ = false;
    QString error_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

class View : public CommsTestView {
public:
    void setUnitAddressText(const QString&) override {}
    void setTransmitted(const QString&) override {}
    void setReceived(const QString& d) override { received = d; }
    void setStoredText(const QString& t) override { stored = t; }
    void setByteCount(const QString& t) override { count = t; }
    void setSending(bool) override {}
    void setReceiving(bool) override {}
    QString messageText() const override { return text; }
    void clearMessageText() override { text.clear(); }
    void showProblem(const QString& t) override { problems << t; }
    QString received, stored, count, text;
    QStringList problems;
};

} // namespace

class TestLibmodbusSlave : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writeThenReadBack_data();
    void writeThenReadBack();
    void eraseClearsTheSlot();
    void otherUnitsStaySilent();

private:
    struct Rig {
        PtyBridge bridge;
        LibmodbusUnit unit{bridge.pathB(), 1};
        QtSerialPortDevice device;
        Link link{device};
        SharedState state;
        View view;
        CommsTest test{state, link, view};
    };
    std::unique_ptr<Rig> rig_;
    void select(int unit, int slot) {
        rig_->state.UnitAddress = static_cast<std::int16_t>(unit);
        rig_->state.MsgAddress = static_cast<std::int16_t>(messageRegister(slot));
    }
};

void TestLibmodbusSlave::init() {
    rig_ = std::make_unique<Rig>();
    QVERIFY2(rig_->bridge.isOpen(), qPrintable(rig_->bridge.error()));
    QVERIFY2(rig_->unit.ok(), qPrintable(rig_->unit.error()));
    rig_->state.CrcTable = standardCrcTable();
    rig_->device.setPortName(rig_->bridge.pathA());
    const PortStatus s = rig_->device.open();
    QVERIFY2(s.ok, qPrintable(s.reason));
}

void TestLibmodbusSlave::cleanup() {
    rig_.reset();
}

void TestLibmodbusSlave::writeThenReadBack_data() {
    QTest::addColumn<int>("slot");
    QTest::addColumn<QString>("text");
    QTest::newRow("odd length, slot 0") << 0 << "HELLO";
    QTest::newRow("even length, slot 7") << 7 << "Low gas";
    QTest::newRow("40 characters, slot 19") << 19 << "0123456789ABCDEFGHIJ0123456789abcdefghij";
    QTest::newRow("code page letters") << 3 << QString::fromUtf8("Pr\u00E9ssion \u00BD");
}

void TestLibmodbusSlave::writeThenReadBack() {
    QFETCH(int, slot);
    QFETCH(QString, text);
    Rig& r = *rig_;
    select(1, slot);
    r.view.text = text;
    r.test.writeMessage();
    QVERIFY2(r.view.problems.isEmpty(), qPrintable(r.view.problems.join('\n')));
    QCOMPARE(r.view.count, QString(" 8")); // the write reply: echo of address and count
    const int reg = messageRegister(slot);
    const int registers = int((text.size() + 1) / 2);
    QCOMPARE(r.view.received.left(18), QString(" 01 10 %1 %2 00 %3")
                                           .arg(reg >> 8, 2, 16, QChar('0'))
                                           .arg(reg & 0xFF, 2, 16, QChar('0'))
                                           .arg(registers, 2, 16, QChar('0'))
                                           .toUpper());
    QByteArray expected = text.toLatin1();
    if (expected.size() % 2)
        expected.append('\0');
    QCOMPARE(r.unit.text(reg, registers), expected);

    r.test.readMessage();
    QCOMPARE(r.view.count, QString(" 45"));
    QCOMPARE(r.view.stored, text);
    QCOMPARE(r.unit.answered(), 2);
}

void TestLibmodbusSlave::eraseClearsTheSlot() {
    Rig& r = *rig_;
    select(1, 12);
    const int reg = messageRegister(12);
    r.unit.setReg(reg, 0x4142);     // "AB"
    r.unit.setReg(reg + 1, 0x4344); // "CD"
    r.test.readMessage();
    QCOMPARE(r.view.stored, QString("ABCD"));

    r.view.text = "ignored";
    r.test.eraseMessage();
    QCOMPARE(r.view.count, QString(" 8"));
    QCOMPARE(r.unit.reg(reg), quint16(0));
    QCOMPARE(r.unit.reg(reg + 1), quint16(0x4344)); // only the first register is written
    QCOMPARE(r.view.text, QString());
    r.test.readMessage();
    QCOMPARE(r.view.stored, QString("NO MESSAGE STORED"));
}

void TestLibmodbusSlave::otherUnitsStaySilent() {
    Rig& r = *rig_;
    select(5, 0);
    r.test.readMessage();
    QCOMPARE(r.view.count, QString(" 0"));
    // The very next request, for the unit that is there, is answered.
    select(1, 0);
    r.test.readMessage();
    QCOMPARE(r.view.count, QString(" 45"));
    QCOMPARE(r.unit.answered(), 1);
}

QTEST_GUILESS_MAIN(TestLibmodbusSlave)
#include "test_libmodbus_slave.moc"
