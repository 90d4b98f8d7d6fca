// Compare and restore against a scripted unit with short waits: what is read, what is sent,
// what the unit holds afterwards, and what the operator is told.
#include "support/TableRig.h"
#include "table/UnitSync.h"

#include <QtTest>

// Unit 1, whose slot k holds "STORED k", and a table of the same; the defaults are "DEFAULT k".
struct Rig : ScriptedRig {
    UnitSync sync{transport, view, op};
    TextTable table = numberedTexts("STORED %1");
};

class TestUnitSync : public QObject {
    Q_OBJECT
private slots:
    // An empty slot equals its default, and so does the default written as a text. A slot that
    // does not answer is listed apart. Compare sends reads only.
    void compare() {
        Rig rig;
        rig.unit.model.setMessage(4, "");
        rig.unit.model.setMessage(5, "DEFAULT 5");
        rig.unit.model.setMessage(6, "A\x1B\"B\"");
        rig.unit.silent = {11};
        rig.table[3] = "THREE";         // differs
        rig.table[4] = rig.defaults[4]; // unit empty: the same
        rig.table[5] = rig.defaults[5]; // unit holds the default as text: the same
        rig.table[6] = rig.defaults[6]; // unit holds a text: differs
        rig.table[7] = QString();       // an empty entry is the empty slot: differs
        rig.table[11] = "ELEVEN";       // not read: not a difference
        const CompareResult r = rig.sync.compare(1, rig.table, rig.defaults);
        QCOMPARE(rig.requests(), singleReads(0, 19));
        QCOMPARE(r.run.silent, QVector<int>{11});
        QCOMPARE(r.differences.size(), 3);
        QStringList lines;
        for (const SlotDifference& d : r.differences)
            lines << differenceText(d);
        QCOMPARE(
            lines,
            (QStringList{"interlock 42-3: on the unit \"STORED 3\", in the file \"THREE\"",
                         "interlock 44-46: on the unit \"A\\x1B\"B\"\", in the file nothing (the "
                         "default \"DEFAULT 6\")",
                         "interlock 46-47: on the unit \"STORED 7\", in the file nothing (the "
                         "default \"DEFAULT 7\")"}));
        QVERIFY(!r.matches());
        QCOMPARE(compareSummary(r), "3 of 20 slots differ, 1 not read");
        QCOMPARE(rig.op.count(), 1); // the silent slot, once
        QVERIFY(rig.op.last().text.contains(": 51-52.") &&
                rig.op.last().text.endsWith("compared."));
        QCOMPARE(rig.view.progress, 0);

        Rig first; // a silent slot 0 is a slot like any other where absence is not asked about
        first.unit.silent = {0};
        first.table[3] = "THREE";
        QCOMPARE(compareSummary(first.sync.compare(1, first.table, first.defaults)),
                 "1 of 20 slots differ, 1 not read");

        Rig same;
        const CompareResult m = same.sync.compare(1, same.table, same.defaults);
        QVERIFY(m.matches() && same.op.count() == 0);
        QCOMPARE(compareSummary(m), "20 of 20 slots as in the file");
        // The bar rises 5 a slot as they are read, and is empty once it is over.
        QCOMPARE(same.view.progressHistory.mid(0, 3) + same.view.progressHistory.mid(19),
                 (QVector<int>{5, 10, 15, 100, 0}));
    }

    // Only what differs is sent, each slot once, each read back at once; the unit then holds
    // the table. A unit that already matches is sent no write at all.
    void restore() {
        Rig rig;
        rig.unit.model.setMessage(4, "");
        rig.unit.model.setMessage(9, "DEFAULT 9");
        rig.table[2] = "TWO, \"2\"";
        rig.table[4] = rig.defaults[4];           // empty on the unit: unchanged
        rig.table[9] = rig.defaults[9];           // the default as text: unchanged
        rig.table[12] = rig.defaults[12];         // a text on the unit: erased
        rig.table[15] = QString("A\x1B") + "B";   // a unit's control character, put back
        rig.table[19] = QString(40, QChar(0xC9)); // forty bytes, no end mark
        const RestoreResult r = rig.sync.restore(1, rig.table, rig.defaults);
        QCOMPARE(rig.requests(), singleReads(0, 19) + " W2 R2 W12 R12 W15 R15 W19 R19");
        QCOMPARE(rig.view.progressHistory[19], 50); // the first read fills half the bar
        QCOMPARE(rig.port.requests()[22].chopped(2), QByteArray::fromHex("011002800001020000"));
        QVERIFY(r.restored());
        QCOMPARE(r.written, (QVector<int>{2, 15, 19}));
        QCOMPARE(r.erased, QVector<int>{12});
        QCOMPARE(restoreSummary(r), "3 written, 1 erased, 16 unchanged");
        QCOMPARE(rig.unit.model.message(2), QByteArray("TWO, \"2\""));
        QCOMPARE(rig.unit.model.message(12), QByteArray());
        QCOMPARE(rig.unit.model.message(15), QByteArray("A\x1B"
                                                        "B"));
        QCOMPARE(rig.unit.model.message(19), QByteArray(40, '\xC9'));
        QCOMPARE(rig.op.count(), 0);

        const RestoreResult again = rig.sync.restore(1, rig.table, rig.defaults);
        QVERIFY(again.restored() && again.unchanged.size() == 20);
        QCOMPARE(rig.requests(), singleReads(0, 19)); // reads only
    }

    // Only the chosen slots are read, written and checked; the others keep what they hold,
    // however the table differs, and an entry there that no slot could hold does not matter.
    void restoreChosen() {
        Rig rig;
        rig.table[2] = "TWO";
        rig.table[5] = rig.defaults[5];
        rig.table[7] = "SEVEN, NOT CHOSEN";
        rig.table[8] = QString(41, 'x');
        const RestoreResult r = rig.sync.restore(1, rig.table, rig.defaults, {5, 2, 5, 30, -1});
        QCOMPARE(rig.requests(), "R2 R5 W2 R2 W5 R5");
        QVERIFY(r.restored());
        QCOMPARE(r.skipped.size(), 18);
        QCOMPARE(restoreSummary(r), "1 written, 1 erased, 0 unchanged, 18 not chosen");
        QCOMPARE(rig.unit.model.message(7), QByteArray("STORED 7"));
        QCOMPARE(rig.unit.model.message(5), QByteArray());
        QCOMPARE(rig.op.count(), 0);
        // The invalid entry refuses the restore once it is chosen.
        const RestoreResult refused = rig.sync.restore(1, rig.table, rig.defaults, {7, 8});
        QVERIFY(!refused.restored() && refused.invalid == QVector<int>{8});
        QCOMPARE(rig.requests(), ""); // nothing sent
    }

    // A slot that confirms and keeps its old text is named, with both texts, and is not written
    // again; a slot that cannot be read first stops the restore before any write; an entry no
    // slot can hold refuses it before anything is sent.
    void restoreFailures_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("box");
        QTest::newRow("not stored") << 0 << singleReads(0, 19) + " W3 R3 W8 R8"
                                    << "1 written, 0 erased, 18 unchanged, 1 still differs"
                                    << "interlock 42-3: written \"THREE\", holds \"STORED 3\"";
        QTest::newRow("silent first")
            << 1 << singleReads(0, 19) << "nothing written: 1 slot could not be read"
            << "not read; nothing was written.";
        QTest::newRow("41 characters") << 2 << ""
                                       << "nothing written: 1 entry no slot can hold"
                                       << "interlock 47-48: the message has 41 characters";
    }
    void restoreFailures() {
        QFETCH(int, fault);
        QFETCH(QString, box);
        Rig rig;
        rig.table[3] = "THREE";
        rig.table[8] = "EIGHT";
        if (fault == 0)
            rig.unit.unstored = {3};
        if (fault == 1)
            rig.unit.silent = {17};
        if (fault == 2)
            rig.table[8] = QString(41, 'E');
        const RestoreResult r = rig.sync.restore(1, rig.table, rig.defaults);
        QTEST(rig.requests(), "requests");
        QTEST(restoreSummary(r), "summary");
        QVERIFY(!r.restored());
        QCOMPARE(rig.op.count(), 1);
        QVERIFY2(rig.op.last().text.contains(box), qPrintable(rig.op.last().text));
        if (fault == 0) {
            QCOMPARE(r.differences.size(), 1);
            QCOMPARE(differenceText(r.differences[0]),
                     "interlock 42-3: on the unit \"STORED 3\", in the file \"THREE\"");
        }
    }

    // The editor's read-back: one read after the line's pause.
    void singleReadBack() {
        Rig rig;
        rig.unit.silent = {9};
        RunStop stop(rig.transport);
        UnitRun run(rig.transport, stop, 1);
        const auto differs = readBackWritten(run, 3, "THREE");
        QVERIFY(differs && !differs->unread && differs->readBack == "STORED 3");
        QCOMPARE(mismatchText({*differs}),
                 "Read back after writing, 1 interlock does not hold what was written:\r\n"
                 "interlock 42-3: written \"THREE\", holds \"STORED 3\"");
        QVERIFY(!readBackWritten(run, 3, "STORED 3"));
        TransportStatus status = TransportStatus::Failed;
        const auto silent = readBackWritten(run, 9, "NINE", &status);
        QVERIFY(silent && silent->unread && status == TransportStatus::Ok);
        QCOMPARE(rig.requests(), "R3 R3 R9");
    }

    // A write whose confirmation is lost may have been stored: the slot is read again. One that
    // holds the entry is written; one that holds another text is named with that text, never
    // with the text it held before the write.
    void unconfirmedWrites() {
        Rig rig;
        rig.table[3] = "THREE";
        rig.table[8] = "EIGHT";
        rig.unit.spoil = [&](int slot, const QByteArray& reply, const QByteArray& request) {
            if (quint8(request.at(1)) != 0x10)
                return reply;
            if (slot == 8) // another tool got there first: the slot holds something else
                rig.unit.model.setMessage(8, "HALF");
            return reply.left(reply.size() - 1) + char(~reply.back()); // the CRC is wrong
        };
        const RestoreResult r = rig.sync.restore(1, rig.table, rig.defaults);
        QCOMPARE(rig.requests(), singleReads(0, 19) + " W3 R3 W8 R8");
        QCOMPARE(r.written, QVector<int>{3});
        QCOMPARE(restoreSummary(r), "1 written, 0 erased, 18 unchanged, 1 still differs");
        QCOMPARE(r.differences.size(), 1);
        QCOMPARE(differenceText(r.differences[0]),
                 "interlock 47-48: on the unit \"HALF\", in the file \"EIGHT\"");
        QVERIFY(!r.restored());
        QVERIFY2(rig.op.last().text.contains("47-48") && !rig.op.last().text.contains("42-3"),
                 qPrintable(rig.op.last().text));

        Rig stored; // every confirmation lost, every write stored: restored, and proven
        stored.table[3] = "THREE";
        stored.unit.spoil = [](int, const QByteArray& reply, const QByteArray& request) {
            return quint8(request.at(1)) == 0x10 ? reply.left(4) : reply;
        };
        const RestoreResult all = stored.sync.restore(1, stored.table, stored.defaults);
        QVERIFY2(all.restored(), qPrintable(restoreSummary(all)));
        QCOMPARE(restoreSummary(all), "1 written, 0 erased, 19 unchanged");
        QCOMPARE(stored.op.count(), 0);
    }

    // A line that fails in the middle of a restore: what was written before is said.
    void restoreLineFails() {
        Rig rig;
        rig.table[3] = "THREE";
        rig.table[8] = "EIGHT";
        rig.unit.onRequest = [&](const QByteArray& request) {
            if (FakeUnit::slotOf(request) == 8 && quint8(request.at(1)) == 0x10)
                QTimer::singleShot(0, &rig.port,
                                   [&] { rig.port.failNow("the adapter was pulled"); });
        };
        const RestoreResult r = rig.sync.restore(1, rig.table, rig.defaults);
        QCOMPARE(r.run.outcome, BulkResult::Outcome::PortFailed);
        QCOMPARE(r.written, QVector<int>{3});
        QVERIFY2(rig.op.last().text.contains("the adapter was pulled") &&
                     rig.op.last().text.contains("\r\nBefore it failed, 1 of 20 interlocks "
                                                 "restored (42-3); the others were not restored."),
                 qPrintable(rig.op.last().text));
    }

    // Stop ends the restore between two requests; what was written is said.
    void restoreStops() {
        Rig rig;
        for (int k = 0; k < 20; ++k)
            rig.table[size_t(k)] = "NEW " + QString::number(k);
        int sent = 0;
        QObject::connect(&rig.transport, &Transport::frameSent, [&] {
            if (++sent == 23)
                rig.sync.requestStop();
        });
        const RestoreResult r = rig.sync.restore(1, rig.table, rig.defaults);
        QCOMPARE(r.run.outcome, BulkResult::Outcome::Stopped);
        QCOMPARE(rig.requests(), singleReads(0, 19) + " W0 R0 W1");
        QCOMPARE(r.written, QVector<int>{0});
        // The stop abandons the reply to W1: sent whole, it reached the unit, but the unit did
        // not confirm it, so it is not counted.
        QVERIFY2(!r.restored() && rig.op.last().text.startsWith("1 of 20 interlocks restored"),
                 qPrintable(rig.op.last().text));
        QCOMPARE(rig.unit.model.message(1), QByteArray("NEW 1"));
        QCOMPARE(restoreSummary(r), "stopped, 1 written, 0 erased, 0 unchanged, 19 not written");

        // Stopped as the unit confirms a write: it counts as written, unread.
        Rig confirming;
        confirming.table = rig.table;
        QObject::connect(&confirming.transport, &Transport::frameReceived, [&] {
            if (confirming.unit.model.message(0) == "NEW 0")
                confirming.sync.requestStop();
        });
        const RestoreResult late =
            confirming.sync.restore(1, confirming.table, confirming.defaults);
        QCOMPARE(confirming.requests(), singleReads(0, 19) + " W0");
        QCOMPARE(restoreSummary(late), "stopped, 1 written, 0 erased, 0 unchanged, 19 not written");

        // Stopped while it reads: nothing is written, and the box says so.
        Rig reading;
        reading.table = rig.table;
        QObject::connect(&reading.transport, &Transport::frameSent, [&] {
            if (reading.port.requests().size() == 4)
                reading.sync.requestStop();
        });
        const RestoreResult early = reading.sync.restore(1, reading.table, reading.defaults);
        QCOMPARE(reading.requests(), singleReads(0, 4));
        QVERIFY(early.run.done.isEmpty() && early.written.isEmpty());
        QCOMPARE(restoreSummary(early),
                 "stopped, 0 written, 0 erased, 0 unchanged, 20 not written");
        QVERIFY2(reading.op.last().text.startsWith("0 of 20 interlocks restored; the others"),
                 qPrintable(reading.op.last().text));
    }
};

QTEST_GUILESS_MAIN(TestUnitSync)
#include "test_unitsync.moc"
