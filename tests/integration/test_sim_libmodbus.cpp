// An independent Modbus RTU master, libmodbus, against the simulated unit: a
// wrong CRC, byte count or exception frame in the simulator cannot pass here
// and in the model's own tests both.

#include "sim/SimThread.h"

#include <QTest>

#include <cerrno>
#include <memory>
#include <modbus.h>

namespace {

struct ModbusFree {
    void operator()(modbus_t* ctx) const {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Master = std::unique_ptr<modbus_t, ModbusFree>;

// A master on the simulator's line; the reply wait is kept short so that a
// silent unit costs little.
Master connectTo(const SimThread& sim, int unit, int baud = 9600) {
    Master m(modbus_new_rtu(qPrintable(sim.devicePath()), baud, 'N', 8, 1));
    if (!m)
        return m;
    modbus_set_slave(m.get(), unit);
    modbus_set_response_timeout(m.get(), 0, 300000);
    if (modbus_connect(m.get()) != 0)
        m.reset();
    return m;
}

SimConfig paced(int baud = 9600) {
    SimConfig c;
    c.baud = baud;
    return c;
}

} // namespace

class TestSimLibmodbus : public QObject {
    Q_OBJECT
private slots:
    void readsMessages();
    void writesMessages();
    void exceptions_data();
    void exceptions();
    void anotherUnitIsSilent();
    void garbageFailsTheCrc();
};

void TestSimLibmodbus::readsMessages() {
    SimThread sim;
    sim.model().setMessage(2, "HELLO");
    sim.model().setMessage(19, QByteArray(40, 'Z'));
    QVERIFY(sim.start(paced()));
    Master m = connectTo(sim, 1);
    QVERIFY(m);

    uint16_t regs[125] = {};
    QCOMPARE(modbus_read_registers(m.get(), 440, 20, regs), 20);
    QCOMPARE(regs[0], uint16_t(0x4845)); // "HE"
    QCOMPARE(regs[1], uint16_t(0x4C4C)); // "LL"
    QCOMPARE(regs[2], uint16_t(0x4F00)); // "O", then the end
    QCOMPARE(regs[19], uint16_t(0));

    // The largest read the protocol allows, ending at the map's last register.
    QCOMPARE(modbus_read_registers(m.get(), 675, 125, regs), 125);
    QCOMPARE(regs[124], uint16_t(0x5A5A));
    QCOMPARE(regs[104], uint16_t(0));      // register 779, slot 18's last
    QCOMPARE(regs[105], uint16_t(0x5A5A)); // register 780, slot 19's first
}

void TestSimLibmodbus::writesMessages() {
    SimThread sim;
    sim.model().setMessage(3, "A MUCH LONGER OLD MESSAGE");
    QVERIFY(sim.start(paced(19200)));
    Master m = connectTo(sim, 1, 19200);
    QVERIFY(m);

    const uint16_t text[] = {0x4142, 0x4344, 0x4500}; // "ABCDE"
    QCOMPARE(modbus_write_registers(m.get(), 460, 3, text), 3);
    QCOMPARE(sim.model().message(3), QByteArray("ABCDE"));

    // Read back through the same master.
    uint16_t regs[20] = {};
    QCOMPARE(modbus_read_registers(m.get(), 460, 20, regs), 20);
    QCOMPARE(regs[1], uint16_t(0x4344));
    QCOMPARE(regs[3], uint16_t(0)); // the old text's tail is gone
}

void TestSimLibmodbus::exceptions_data() {
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("addr");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("expectedErrno");
    QTest::newRow("below the map") << 3 << 399 << 1 << int(EMBXILADD);
    QTest::newRow("past the map") << 3 << 790 << 11 << int(EMBXILADD);
    QTest::newRow("write past the map") << 16 << 799 << 2 << int(EMBXILADD);
    QTest::newRow("input registers") << 4 << 400 << 1 << int(EMBXILFUN);
}

void TestSimLibmodbus::exceptions() {
    QFETCH(int, function);
    QFETCH(int, addr);
    QFETCH(int, count);
    QFETCH(int, expectedErrno);
    SimThread sim;
    QVERIFY(sim.start(paced()));
    Master m = connectTo(sim, 1);
    QVERIFY(m);
    uint16_t regs[4] = {};
    errno = 0;
    int rc = 0;
    if (function == 3)
        rc = modbus_read_registers(m.get(), addr, count, regs);
    else if (function == 4)
        rc = modbus_read_input_registers(m.get(), addr, count, regs);
    else
        rc = modbus_write_registers(m.get(), addr, count, regs);
    QCOMPARE(rc, -1);
    QCOMPARE(errno, expectedErrno);
}

void TestSimLibmodbus::anotherUnitIsSilent() {
    SimThread sim;
    QVERIFY(sim.start(paced()));
    Master m = connectTo(sim, 2);
    QVERIFY(m);
    uint16_t regs[20] = {};
    QCOMPARE(modbus_read_registers(m.get(), 400, 20, regs), -1);
    QCOMPARE(errno, ETIMEDOUT);
}

void TestSimLibmodbus::garbageFailsTheCrc() {
    SimThread sim;
    SimConfig c = paced();
    c.garbage = true;
    QVERIFY(sim.start(c));
    Master m = connectTo(sim, 1);
    QVERIFY(m);
    uint16_t regs[20] = {};
    QCOMPARE(modbus_read_registers(m.get(), 400, 20, regs), -1);
    QVERIFY2(errno != 0, "libmodbus took random bytes for a reply");
}

QTEST_GUILESS_MAIN(TestSimLibmodbus)
#include "test_sim_libmodbus.moc"
