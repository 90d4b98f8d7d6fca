// The port and the line settings the connection dialogs make of the operator's picks.
#include "connect/PortChoice.h"
#include "connect/SpeedChoice.h"

#include <QtTest>

class TestChoices : public QObject {
    Q_OBJECT
private slots:
    void speedSettings() {
        // Entry 1 varies. Only accepted texts, character for character, pass; else the default.
        const std::tuple<const char*, int, const char*> cases[] = {
            {"4800,N,8,1", 2, "19200,N,8,1"},    {"9600,N,8,1", -1, "4800,N,8,1"},
            {"9600,N,8,1", 7, "4800,N,8,1"},     {"1200,N,8,1", 0, "1200,N,8,1"},
            {"9600,N,8,1 ", 0, "4800,N,8,1"},    {" 9600,N,8,1", 0, "4800,N,8,1"},
            {"2400,N,8,1", 0, "2400,N,8,1"},     {"9600,E,8,1", 0, "4800,N,8,1"},
            {"115200,N,8,1", 0, "115200,N,8,1"}, {"300,N,8,1", 0, "4800,N,8,1"},
            {"9600,n,8,1", 0, "4800,N,8,1"},     {"", 0, "4800,N,8,1"}};
        for (const auto& [entry, index, settings] : cases) {
            const std::array<QString, 5> BaudRates{"", entry, "9600,N,8,1", "19200,N,8,1", ""};
            QVERIFY2(settingsForChoice(BaudRates, index) == settings, entry);
        }
    }

    void lastPickCounts() {
        PortChoice choice;
        choice.setEntries(makePortEntries({"COM1", " COM12 "}, "/dev/pts/7"));
        choice.typeOther("   ");
        QVERIFY(!choice.chosenPort());
        choice.click("Item2");
        choice.click("Item3");
        QCOMPARE(choice.chosenPort(), std::optional<QString>("COM12")); // not port 2
        choice.typeOther("  /dev/ttyACM0 ");
        QCOMPARE(choice.chosenPort(), std::optional<QString>("/dev/ttyACM0"));
        choice.click("Item1");
        QCOMPARE(choice.chosenPort(), std::optional<QString>("/dev/pts/7"));
        // Listing again keeps the pick; a pick whose entry is gone names nothing.
        choice.click("Item3");
        choice.setEntries(makePortEntries({"COM1"}));
        QVERIFY(!choice.chosenPort());
    }
};

QTEST_GUILESS_MAIN(TestChoices)
#include "test_choices.moc"
