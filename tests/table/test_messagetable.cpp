// What the table knows of where its texts came from and of what the unit holds.
#include "table/MessageTable.h"

#include <QtTest>

class TestMessageTable : public QObject {
    Q_OBJECT
private slots:
    // A slot is as on the unit, differs from it, or was not read: and only for the unit that
    // was read, on the port it was read through.
    void slotStatesFollowTheUnit() {
        MessageTable t;
        TextTable defaults;
        defaults.fill("DEF");
        t.reset(defaults, defaults);
        const UnitKey one{1, "/dev/ttyUSB0"}, two{2, "/dev/ttyUSB0"}, gateway{1, "tcp://gw:502"};
        QCOMPARE(tableSourceText(t, one), "The defaults");
        t.beginUnit(one, true);
        for (int k = 0; k < 6; ++k) { // a read stopped after six slots
            t.setText(k, QString("READ %1").arg(k));
            t.noteOnUnit(k);
        }
        t.setOrigin({TableOrigin::Kind::Unit, one, {}, QTime(14, 2)});
        t.setText(2, "EDITED");
        QCOMPARE(t.slotState(0, one), SlotState::AsOnUnit);
        QCOMPARE(t.slotState(2, one), SlotState::Edited);
        QCOMPARE(t.slotState(7, one), SlotState::NotRead);
        QCOMPARE(tableSourceText(t, one), "Read from unit 1 on /dev/ttyUSB0 at 14:02; 1 slot "
                                          "differs from the unit; 14 slots not read");
        // Another unit, or the same address through a gateway: nothing is known of it.
        for (const UnitKey& other : {two, gateway}) {
            QCOMPARE(t.countIn(SlotState::NotRead, other), 20);
            QVERIFY(tableSourceText(t, other).endsWith(", not from unit " +
                                                       QString::number(other.unit) + " on " +
                                                       other.port + " now chosen"));
        }
        t.beginUnit(one); // the same unit again keeps what is known
        QCOMPARE(t.countIn(SlotState::AsOnUnit, one), 5);
        t.beginUnit(two); // another forgets it
        t.beginUnit(one);
        QCOMPARE(t.countIn(SlotState::NotRead, one), 20);
        // A compare tells what the unit holds; an empty slot holds its default.
        t.noteUnitHolds(2, "EDITED");
        t.noteUnitHolds(3, "");
        QCOMPARE(t.slotState(2, one), SlotState::AsOnUnit);
        QCOMPARE(t.slotState(3, one), SlotState::Edited); // "READ 3" against the default
        t.noteWritten(one, QTime(14, 5));
        t.setOrigin({TableOrigin::Kind::File, {}, "/tmp/site/boiler2.sav", {}});
        QCOMPARE(tableSourceText(t, one),
                 "Opened from boiler2.sav; written to unit 1 on /dev/ttyUSB0 at 14:05; 1 slot "
                 "differs from the unit; 18 slots not read");
        QCOMPARE(tableSourceText(t, two), "Opened from boiler2.sav; written to unit 1 on "
                                          "/dev/ttyUSB0 at 14:05; not read from unit 2 on "
                                          "/dev/ttyUSB0 now chosen");
        // Another table in its place was written nowhere yet.
        t.noteOpened("/tmp/site/boiler3.sav");
        QCOMPARE(tableSourceText(t, one).section(";", 0, 1),
                 "Opened from boiler3.sav; 1 slot differs from the unit");
        t.noteWritten(one, QTime(14, 6));
        t.noteRead(two, QTime(14, 7));
        QCOMPARE(tableSourceText(t, two), "Read from unit 2 on /dev/ttyUSB0 at 14:07");
        t.noteWritten(two, QTime(14, 8));
        // A new table knows no unit, and was written nowhere: opened from a file, it is not
        // "not read from" any.
        t.reset(defaults, defaults);
        QCOMPARE(tableSourceText(t, two), "The defaults");
        t.noteOpened("/tmp/site/boiler4.sav");
        QCOMPARE(tableSourceText(t, two), "Opened from boiler4.sav");
    }

    // The table's file is kept once: opened, saved, forgotten by a read.
    void oneFile() {
        MessageTable t;
        t.reset({}, {});
        t.noteOpened("/site/a.sav");
        t.setText(0, "EDITED");
        QVERIFY(t.modified() && t.fileName() == "/site/a.sav");
        t.noteFile("/site/b.sav"); // saved under another name
        QVERIFY(!t.modified() && t.origin().kind == TableOrigin::Kind::File);
        QCOMPARE(tableSourceText(t, {}), "Opened from b.sav");
        t.forgetFile(); // a read that got nothing: the texts are the file's still
        QCOMPARE(tableSourceText(t, {}), "Opened from a file");
        t.noteRead({1, "/dev/ttyUSB0"}, QTime(9, 30));
        t.noteFile("/site/c.sav");
        QCOMPARE(t.fileName(), "/site/c.sav");
        QCOMPARE(tableSourceText(t, {1, "/dev/ttyUSB0"}),
                 "Read from unit 1 on /dev/ttyUSB0 at 09:30");
        t.reset({}, {});
        QVERIFY(t.fileName().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMessageTable)
#include "test_messagetable.moc"
