// An independent Modbus RTU master, libmodbus, against the simulated unit: a wrong
// CRC, byte count or exception frame cannot pass both here and in the model's tests.

#include "sim/SimThread.h"

#include <QTest>

#include <cerrno>
#include <modbus.h>

class TestSimLibmodbus : public QObject {
    Q_OBJECT
    SimThread sim_;
    modbus_t* m_ = nullptr;

    // A master on a new simulated line; the short reply wait keeps a silent unit cheap.
    bool connectTo(int baud, bool garbage = false) {
        SimConfig cfg;
        cfg.baud = baud;
        cfg.garbage = garbage;
        cleanupTestCase();
        if (sim_.start(cfg))
            m_ = modbus_new_rtu(qPrintable(sim_.devicePath()), cfg.baud, 'N', 8, 1);
        return m_ && modbus_set_slave(m_, 1) == 0 && modbus_connect(m_) == 0 &&
               modbus_set_response_timeout(m_, 0, 300000) == 0;
    }

private slots:
    void cleanupTestCase() {
        modbus_close(m_);
        modbus_free(m_);
        m_ = nullptr;
    }

    void initTestCase() {
        sim_.model().setMessage(2, "HELLO");
        sim_.model().setMessage(3, "A MUCH LONGER OLD MESSAGE");
        sim_.model().setMessage(19, QByteArray(40, 'Z'));
        QVERIFY(connectTo(19200));
    }

    void readsAndWritesMessages() {
        uint16_t regs[125] = {};
        QCOMPARE(modbus_read_registers(m_, 440, 20, regs), 20);
        QCOMPARE(QList<uint16_t>(regs, regs + 4), QList<uint16_t>({0x4845, 0x4C4C, 0x4F00, 0}));
        // The largest read allowed, to the map's end: registers 779 (slot 18's last), 780, 799.
        QCOMPARE(modbus_read_registers(m_, 675, 125, regs), 125);
        QCOMPARE(QList<uint16_t>({regs[104], regs[105], regs[124]}),
                 QList<uint16_t>({0, 0x5A5A, 0x5A5A}));

        const uint16_t text[] = {0x4142, 0x4344, 0x4500}; // "ABCDE"
        QCOMPARE(modbus_write_registers(m_, 460, 3, text), 3);
        QCOMPARE(modbus_read_registers(m_, 460, 20, regs), 20);
        // Only the registers written change: the old text's " L" stays behind the 0.
        QCOMPARE(QList<uint16_t>(regs, regs + 4),
                 QList<uint16_t>({0x4142, 0x4344, 0x4500, 0x204C}));
    }

    void refusals() {
        uint16_t regs[20] = {};
        const auto fails = [](int rc, int expectedErrno) {
            return rc == -1 && errno == expectedErrno;
        };
        QVERIFY(fails(modbus_read_registers(m_, 399, 1, regs), EMBXILADD));
        QVERIFY(fails(modbus_read_registers(m_, 790, 11, regs), EMBXILADD));
        QVERIFY(fails(modbus_write_registers(m_, 799, 2, regs), EMBXILADD));
        QVERIFY(fails(modbus_read_input_registers(m_, 400, 1, regs), EMBXILFUN));
        modbus_set_slave(m_, 2); // another unit's request: silence
        QVERIFY(fails(modbus_read_registers(m_, 400, 20, regs), ETIMEDOUT));
    }

    void garbageFailsTheCrc() {
        QVERIFY(connectTo(9600, true));
        uint16_t regs[20] = {};
        errno = 0;
        QCOMPARE(modbus_read_registers(m_, 400, 20, regs), -1);
        QVERIFY2(errno != 0, "libmodbus took random bytes for a reply");
    }
};

QTEST_GUILESS_MAIN(TestSimLibmodbus)
#include "test_sim_libmodbus.moc"
