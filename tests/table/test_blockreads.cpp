// Block reads: read all and the first read of compare and restore asking for six messages per
// request, against a scripted line of simulated units with short waits. Off sends today's frames;
// auto falls back, for the session, on a unit that refuses; on fails clearly.
#include "sim/SimLine.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "table/UnitSync.h"

#include <QtTest>

Q_DECLARE_METATYPE(BlockReads)

namespace {

using Mode = BlockReads;
using O = BulkResult::Outcome;

// A read of count registers from slot first, as the unit expects it: worked out here with the
// simulated unit's own CRC, not the tool's builders.
QByteArray readFrame(int unit, int first, int registers) {
    const int reg = 400 + 20 * first;
    QByteArray pdu = QByteArray(1, char(unit)) + '\x03';
    pdu.append(char(reg >> 8)).append(char(reg & 0xFF)).append('\0').append(char(registers));
    return SimModel::withCrc(pdu);
}

// Units 1 and 2 on one scripted line; slot k of unit u holds "U<u> SLOT k", slot 3 of unit 1 is
// empty. What the line answers may be changed per request (answer).
struct Rig : ScriptedRig {
    BulkOperations bulk{messages, transport, view, op};
    UnitSync sync{transport, view, op};
    BlockReadMemory memory; // the window's, which read all and compare share
    SimLine line;
    // The reply to a request that is not the line's own; nothing: the line answers.
    std::function<std::optional<QByteArray>(const QByteArray& request)> answer;

    Rig() {
        line.setUnits(1, 2);
        for (int u = 1; u <= 2; ++u)
            for (int k = 0; k < 20; ++k)
                line.unit(u)->setMessage(k, QString("U%1 SLOT %2").arg(u).arg(k).toLatin1());
        line.unit(1)->setMessage(3, "");
        port.setResponder([this](const QByteArray& request) {
            const auto own = answer ? answer(request) : std::nullopt;
            const QByteArray reply = own ? *own : line.reply(request);
            return reply.isEmpty() ? QVector<Chunk>{} : QVector<Chunk>{{1, reply}};
        });
    }
    void setMode(Mode mode) {
        bulk.setBlockReadMemory(memory);
        sync.setBlockReadMemory(memory);
        bulk.setBlockReads(mode);
        sync.setBlockReads(mode);
    }
};

const QString kBlocks = "B0 B6 B12 B18";

} // namespace

class TestBlockReads : public QObject {
    Q_OBJECT
private slots:
    // Off sends today's frames, byte for byte; auto and on ask for six messages at a time and
    // leave the same table, labels, progress and outcome.
    void eachModeReadsTheSame_data() {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("requests");
        QTest::newRow("off") << Mode::Off << singleReads(0, 19);
        QTest::newRow("auto") << Mode::Auto << kBlocks;
        QTest::newRow("on") << Mode::On << kBlocks;
    }
    void eachModeReadsTheSame() {
        QFETCH(Mode, mode);
        Rig rig;
        rig.setMode(mode);
        rig.transport.setTiming(LinkTiming{30, 5, 30, 25, 0, 0});
        QElapsedTimer clock;
        QVector<qint64> sentAt;
        QObject::connect(&rig.transport, &Transport::frameSent, [&] { sentAt << clock.elapsed(); });
        clock.start();
        const BulkResult r = rig.bulk.readAll(1);
        QTEST(rig.requests(), "requests");
        QCOMPARE(r.outcome, O::Completed);
        QCOMPARE(r.done.size(), 20);
        QVERIFY(r.silent.isEmpty() && r.rejected.isEmpty() && rig.op.count() == 0);
        QStringList expected;
        for (int k = 0; k < 20; ++k)
            expected << (k == 3 ? "DEFAULT 3" : QString("U1 SLOT %1").arg(k));
        QCOMPARE(rig.entries(), expected);
        QCOMPARE(QStringList(rig.view.labels.begin(), rig.view.labels.end()), expected);
        // Each slot's progress in turn, as when every slot is read alone.
        QVector<int> progress;
        for (int k = 0; k < 20; ++k)
            progress << 5 * (k + 1);
        QCOMPARE(rig.view.progressHistory, progress + QVector<int>{0});
        // The pause goes before every request, a block read's too (the first one after the
        // prepare's own wait).
        for (qsizetype i = 1; i < sentAt.size(); ++i)
            QVERIFY2(sentAt[i] - sentAt[i - 1] >= 25, qPrintable(QString::number(i)));
        if (mode == Mode::Off) {
            for (int k = 0; k < 20; ++k)
                QCOMPARE(rig.port.requests()[k], readFrame(1, k, 20));
        } else {
            QCOMPARE(rig.port.requests()[0], readFrame(1, 0, 120));
            QCOMPARE(rig.port.requests()[3], readFrame(1, 18, 40));
        }
    }

    // A strict unit answers a block read with exception 2. Auto reads it one message per request
    // from then on, carrying on without a word; it remembers that unit for the connection, but
    // not another unit nor another connection. Compare and restore share the memory.
    void autoFallsBackAndRemembers() {
        Rig rig;
        rig.setMode(Mode::Auto);
        rig.line.unit(1)->setSingleMessageReads(true);
        BulkResult r = rig.bulk.readAll(1);
        QCOMPARE(rig.requests(), "B0 " + singleReads(0, 19));
        QVERIFY(r.outcome == O::Completed && r.done.size() == 20 && r.rejected.isEmpty());
        QCOMPARE(rig.op.count(), 0);
        QCOMPARE(rig.messages.texts()[7], "U1 SLOT 7");
        QCOMPARE(rig.bulk.readAll(1).done.size(), 20);
        QCOMPARE(rig.requests(), singleReads(0, 19));
        const CompareResult compared = rig.sync.compare(1, rig.messages.texts(), rig.defaults);
        QVERIFY(compared.matches());
        QCOMPARE(rig.requests(), singleReads(0, 19));
        // Unit 2 takes block reads; so does unit 1 seen over another connection.
        QCOMPARE(rig.bulk.readAll(2).done.size(), 20);
        QCOMPARE(rig.requests(), kBlocks);
        QCOMPARE(rig.messages.texts()[3], "U2 SLOT 3");
        rig.port.setPortName("another line");
        rig.bulk.readAll(1);
        QCOMPARE(rig.requests(), "B0 " + singleReads(0, 19));
        QCOMPARE(rig.memory.answer("another line", 1), BlockReadMemory::Answer::Refuses);
    }

    // A unit that says nothing to a block read but answers a read of one message: auto reads
    // it one message per request from the first block on, without a word, and from then on costs
    // no silent block per Read All.
    void autoRemembersASilentRefusal() {
        Rig rig;
        rig.setMode(Mode::Auto);
        rig.answer = [](const QByteArray& request) -> std::optional<QByteArray> {
            if (quint8(request.at(5)) > 20)
                return QByteArray();
            return std::nullopt;
        };
        BulkResult r = rig.bulk.readAll(1);
        QCOMPARE(rig.requests(), "B0 " + singleReads(0, 19));
        QVERIFY(r.outcome == O::Completed && r.done.size() == 20 && r.silent.isEmpty());
        QCOMPARE(rig.op.count(), 0);
        r = rig.bulk.readAll(1);
        QCOMPARE(rig.requests(), singleReads(0, 19));
        QCOMPARE(r.done.size(), 20);
        QCOMPARE(rig.messages.texts()[19], "U1 SLOT 19");
    }

    // Write Selected of slots that are not neighbours, with block reads on and on auto: each run
    // of neighbours is read in one request, and every chosen slot that differs is written.
    void restoreChosenSlots_data() {
        QTest::addColumn<Mode>("mode");
        QTest::newRow("on") << Mode::On;
        QTest::newRow("auto") << Mode::Auto;
    }
    void restoreChosenSlots() {
        QFETCH(Mode, mode);
        Rig rig;
        rig.setMode(mode);
        TextTable table = rig.defaults;
        for (int k = 0; k < 20; ++k)
            table[size_t(k)] = QString("NEW %1").arg(k);
        table[6] = "U1 SLOT 6"; // as on the unit
        const RestoreResult r = rig.sync.restore(1, table, rig.defaults, {2, 5, 6, 9, 10, 11});
        QCOMPARE(rig.requests(), "R2 B5 B9 W2 R2 W5 R5 W9 R9 W10 R10 W11 R11");
        QCOMPARE(restoreSummary(r), "5 written, 0 erased, 1 unchanged, 14 not chosen");
        QVERIFY(r.restored());
        for (int k : {2, 5, 9, 10, 11})
            QCOMPARE(rig.line.unit(1)->message(k), QString("NEW %1").arg(k).toLatin1());
        QCOMPARE(rig.line.unit(1)->message(4), QByteArray("U1 SLOT 4"));
    }

    // What a block read may meet instead of its answer, at slots 6 to 11 (the second block,
    // after the first was answered).
    void refusals_data() {
        QTest::addColumn<Mode>("mode");
        // 0 exception 2, 1 too few registers, 2 garbled, 3 silent, 4 exception 4, 5 exception 1
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("done");
        QTest::addColumn<QString>("box"); // the first box, or empty for none
        const QString refused = "Unit 1 refused a read of several messages at once (";
        const QString fallback = "B0 B6 " + singleReads(6, 19);
        const QString silent = "No answer for interlocks 44-46 to 51-52";
        const int completed = int(O::Completed);
        QTest::newRow("auto, exception") << Mode::Auto << 0 << fallback << completed << 20 << "";
        // Illegal function: a unit that knows no such request.
        QTest::newRow("auto, exception 1") << Mode::Auto << 5 << fallback << completed << 20 << "";
        QTest::newRow("auto, too few") << Mode::Auto << 1 << fallback << completed << 20 << "";
        QTest::newRow("auto, garbled") << Mode::Auto << 2 << fallback << completed << 20 << "";
        // A unit known to take block reads is silent for the block, as for one slot.
        QTest::newRow("auto, silent") << Mode::Auto << 3 << kBlocks << completed << 14 << silent;
        QTest::newRow("on, exception")
            << Mode::On << 0 << "B0 B6" << int(O::Refused) << 6
            << refused + "exception 2, illegal data address); turn block reads off "
                         "(--block-reads off) to read it one message per request.";
        QTest::newRow("on, too few")
            << Mode::On << 1 << "B0 B6" << int(O::Refused) << 6
            << refused + "a reply of 45 bytes that does not answer the request)";
        QTest::newRow("on, garbled") << Mode::On << 2 << kBlocks << completed << 14
                                     << "The unit's reply could not be used for 6 interlocks";
        // A device failure is no refusal of block reads: those slots failed, the rest is read.
        QTest::newRow("on, exception 4") << Mode::On << 4 << kBlocks << completed << 14
                                         << "The unit's reply could not be used for 6 interlocks";
        QTest::newRow("on, silent") << Mode::On << 3 << kBlocks << completed << 14 << silent;
    }
    void refusals() {
        QFETCH(Mode, mode);
        QFETCH(int, kind);
        QFETCH(int, outcome);
        QFETCH(int, done);
        QFETCH(QString, box);
        Rig rig;
        rig.setMode(mode);
        rig.answer = [&](const QByteArray& request) -> std::optional<QByteArray> {
            if (quint8(request.at(5)) <= 20 || quint8(request.at(3)) != 0x08) // 400 + 120
                return std::nullopt;
            const QByteArray single = rig.line.reply(readFrame(1, 6, 20));
            const QByteArray replies[] = {SimModel::withCrc(QByteArray::fromHex("018302")),
                                          single,
                                          single + single,
                                          QByteArray(),
                                          SimModel::withCrc(QByteArray::fromHex("018304")),
                                          SimModel::withCrc(QByteArray::fromHex("018301"))};
            return replies[kind];
        };
        const BulkResult r = rig.bulk.readAll(1);
        QTEST(rig.requests(), "requests");
        QCOMPARE(int(r.outcome), outcome);
        QCOMPARE(r.blockReadsRefused, outcome == int(O::Refused));
        QCOMPARE(r.done.size(), done);
        QCOMPARE(rig.messages.texts()[5], "U1 SLOT 5");
        QCOMPARE(rig.messages.texts()[8], done == 20 ? "U1 SLOT 8" : "DEFAULT 8");
        QCOMPARE(rig.messages.texts()[12], done > 6 ? "U1 SLOT 12" : "DEFAULT 12");
        QCOMPARE(rig.op.count() > 0, !box.isEmpty());
        if (!box.isEmpty())
            QVERIFY2(rig.op.boxes().first().text.contains(box), qPrintable(rig.op.last().text));
        if (done == 14) // each slot of the block is reported, as when read alone
            QCOMPARE(r.silent.size() + r.rejected.size(), 6);
    }

    // A unit that answers nothing: auto tries one slot alone after each silent block, and
    // reports every slot silent, asking once per request it sent.
    void silentUnit() {
        Rig rig;
        rig.setMode(Mode::Auto);
        rig.op.script({MsgAnswer::Ok, MsgAnswer::IgnoreAll});
        const BulkResult r = rig.bulk.readAll(5);
        QCOMPARE(rig.requests(), "B0 R0 B6 R6 B12 R12 B18 R18");
        QCOMPARE(r.outcome, O::Completed);
        QCOMPARE(r.silent.size(), 20);
        QCOMPARE(rig.op.count(), 3); // two asked, then the list of the silent ones
        QVERIFY(rig.op.boxes()[0].text.contains("No answer for interlocks L1-40 to 43-44 at "
                                                "unit address 5."));
        QVERIFY(rig.op.last().text.contains("did not answer for 20 interlocks"));
        QCOMPARE(rig.memory.answer("scripted", 5), BlockReadMemory::Answer::Unknown);
    }

    // Compare and restore read first with blocks; a strict unit fails them on "on", saying so,
    // and restore then writes nothing. Restore's read-backs go one slot at a time.
    void compareAndRestore() {
        Rig rig;
        rig.setMode(Mode::On);
        TextTable table = rig.defaults;
        for (int k = 0; k < 20; ++k)
            table[size_t(k)] = QString("U1 SLOT %1").arg(k);
        table[3] = rig.defaults[3];
        table[9] = "NINE";
        QCOMPARE(rig.sync.compare(1, table, rig.defaults).differences.size(), 1);
        QCOMPARE(rig.requests(), kBlocks);
        const RestoreResult restored = rig.sync.restore(1, table, rig.defaults);
        QVERIFY(restored.restored());
        QCOMPARE(rig.requests(), kBlocks + " W9 R9");
        rig.line.unit(1)->setSingleMessageReads(true);
        rig.line.unit(1)->setMessage(9, "OLD");
        const RestoreResult refused = rig.sync.restore(1, table, rig.defaults);
        QCOMPARE(rig.requests(), "B0");
        QVERIFY(refused.run.outcome == O::Refused && refused.run.blockReadsRefused &&
                !refused.restored() && refused.written.isEmpty());
        QCOMPARE(rig.line.unit(1)->message(9), QByteArray("OLD"));
        QVERIFY(rig.op.last().text.startsWith("Unit 1 refused a read of several messages"));
        const CompareResult compared = rig.sync.compare(1, table, rig.defaults);
        QVERIFY(compared.run.blockReadsRefused && !compared.matches());
    }

    // A stop while a block read waits: the slots of the blocks before it are done, no more.
    void stopDuringABlock() {
        Rig rig;
        rig.setMode(Mode::On);
        int sent = 0;
        QObject::connect(&rig.transport, &Transport::frameSent, [&] {
            if (++sent == 2)
                rig.bulk.requestStop();
        });
        const BulkResult r = rig.bulk.readAll(1);
        QCOMPARE(r.outcome, O::Stopped);
        QCOMPARE(r.done, (QVector<int>{0, 1, 2, 3, 4, 5}));
        QCOMPARE(rig.messages.texts()[6], "DEFAULT 6");
        QVERIFY(rig.op.last().text.startsWith("6 of 20 interlocks read"));
    }
};

QTEST_GUILESS_MAIN(TestBlockReads)
#include "test_blockreads.moc"
