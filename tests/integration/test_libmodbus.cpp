// libmodbus on the far side, apart from the tool. As an RTU slave behind the tool's
// pseudo-terminal it drops any frame with a wrong CRC or layout, so every answer also checks the
// tool's framing, and its plain register map holds only what the frames carried: every text the
// tool writes ends there, a restore of a random table onto random other texts leaves the table,
// block reads read the same as single ones. As a master against the simulated unit, a wrong CRC,
// byte count or exception frame cannot pass both there and in the model's own tests (which show
// byte for byte how the simulated unit takes each write).

#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "sim/SimThread.h"
#include "support/ModbusSlave.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "table/UnitSync.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cerrno>
#include <modbus.h>

namespace {

// Characters a slot can hold: printable ASCII and a few Windows-1252 letters Latin-1 shares.
QByteArray randomText(QRandomGenerator& random) {
    static const QByteArray kChars =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcxyz0123456789-!.,/#\xC9\xE9\xD6";
    QByteArray text;
    const int length = int(random.bounded(1, kMessageMaxLength + 1));
    while (text.size() < length)
        text.append(kChars.at(int(random.bounded(int(kChars.size())))));
    return text;
}

// The slave at an address behind the tool's port, with short waits.
struct SlaveLine : LineRig<QtSerialPortDevice> {
    ModbusSlave unit;
    explicit SlaveLine(int address) : LineRig(LinkTiming{500, 80, 30, 0, 1, 5}), unit(address) {
        port.setPortName(unit.path());
    }
    bool open() { return unit.ok() && port.open().ok; }
};

} // namespace

class TestLibmodbus : public QObject {
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

    // As a slave to the tool: random texts into few slots, so that each lands on older ones, read
    // back exact; an erase clears the slot's first register and nothing else.
    void textsEndOnTheUnit() {
        SlaveLine line(1);
        QVERIFY2(line.open(), qPrintable(line.unit.error()));
        Transaction t;
        const auto confirmed = [&](const QByteArray& request) {
            t = line.transport.transact(1, request);
            return checkReply(t, request).confirmed();
        };
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        for (int i = 0; i < 60; ++i) {
            const int reg = messageRegister(int(random.bounded(4)));
            const QByteArray text = randomText(random);
            QVERIFY(confirmed(Pdu::writeMessage(reg, text)));
            const QString held = confirmed(Pdu::readMessage(reg))
                                     ? Pdu::decodeReadReply(t.replyPdu).text
                                     : QStringLiteral("(no reply)");
            QVERIFY2(held == QString::fromLatin1(text),
                     qPrintable(QString("seed %1, write %2: wrote \"%3\", the unit holds \"%4\"")
                                    .arg(seed)
                                    .arg(i)
                                    .arg(QString::fromLatin1(text), held)));
        }
        const QByteArray before = line.unit.text(3);
        QVERIFY(confirmed(Pdu::eraseMessage(messageRegister(3))));
        QCOMPARE(line.unit.text(3), QByteArray(2, '\0') + before.mid(2));
    }

    // A random table restored onto the slave holding random other texts (some slots empty,
    // some entries at their default): the restore says so, and a compare agrees.
    void restoreRandomTables() {
        SlaveLine line(2);
        QVERIFY2(line.open(), qPrintable(line.unit.error()));
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        for (int round = 0; round < 8; ++round) {
            for (int k = 0; k < kInterlockCount; ++k) // the unit: random texts, a few empty
                line.unit.setText(k, random.bounded(5) == 0 ? QByteArray() : randomText(random));
            TextTable table;
            for (int k = 0; k < kInterlockCount; ++k)
                table[size_t(k)] = random.bounded(6) == 0 ? line.defaults[size_t(k)]
                                                          : QString::fromLatin1(randomText(random));
            UnitSync sync(line.transport, line.view, line.op);
            const RestoreResult r = sync.restore(2, table, line.defaults);
            const QString where = QString("seed %1, round %2: ").arg(seed).arg(round);
            QVERIFY2(r.restored(), qPrintable(where + restoreSummary(r)));
            QVERIFY2(sync.compare(2, table, line.defaults).matches(), qPrintable(where));
        }
    }

    // Read all and compare with six messages per request, whose map holds the messages: the
    // same table as one message per request. Then a slave whose map ends inside the second
    // block refuses it (exception 2): auto reads on one message per request, on fails saying so.
    void blockReads() {
        SlaveLine line(3);
        QVERIFY2(line.open(), qPrintable(line.unit.error()));
        for (int k = 0; k < 20; ++k)
            line.unit.setText(k, "SLOT " + QByteArray::number(k));
        BulkOperations bulk(line.messages, line.transport, line.view, line.op);
        const auto readAll = [&](BlockReads mode) {
            line.unit.requests = 0;
            bulk.setBlockReads(mode);
            const BulkResult r = bulk.readAll(3);
            return QString("%1 requests, %2 read, %3")
                .arg(line.unit.requests)
                .arg(r.done.size())
                .arg(line.messages.texts()[13]);
        };
        QCOMPARE(readAll(BlockReads::On), "4 requests, 20 read, SLOT 13");
        QCOMPARE(readAll(BlockReads::Off), "20 requests, 20 read, SLOT 13");
        UnitSync sync(line.transport, line.view, line.op);
        sync.setBlockReads(BlockReads::On);
        QVERIFY(sync.compare(3, line.messages.texts(), line.defaults).matches());

        // Registers 400..639 only: slots 0 to 11, so the third block (slots 12..17) is refused.
        line.unit.setRegisterCount(240);
        line.messages.reset(line.defaults, {});
        QCOMPARE(readAll(BlockReads::On), "3 requests, 12 read, DEFAULT 13");
        QVERIFY(line.op.last().text.contains("Unit 3 refused a read of several messages at once "
                                             "(exception 2, illegal data address)"));
        QCOMPARE(readAll(BlockReads::Auto), "11 requests, 12 read, DEFAULT 13");
    }
};

QTEST_GUILESS_MAIN(TestLibmodbus)
#include "test_libmodbus.moc"
