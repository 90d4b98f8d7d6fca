// What the two connection dialogs make of the operator's picks: the port to
// open and the line settings.

#include "connect/PortChoice.h"
#include "connect/SpeedChoice.h"

#include <QtTest>

class TestChoices : public QObject {
    Q_OBJECT
private slots:
    void speedSettings_data();
    void speedSettings();
    void lastPickCounts();
    void nothingPickedNamesNoPort();
};

void TestChoices::speedSettings_data() {
    QTest::addColumn<QStringList>("speeds"); // BaudRates 1..3
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("settings");
    const QStringList usual{"4800,N,8,1", "9600,N,8,1", "19200,N,8,1"};
    QTest::newRow("second entry") << usual << 1 << "9600,N,8,1";
    QTest::newRow("first entry") << usual << 0 << "4800,N,8,1";
    QTest::newRow("third entry") << usual << 2 << "19200,N,8,1";
    QTest::newRow("nothing selected") << usual << -1 << "4800,N,8,1";
    QTest::newRow("1200") << QStringList{"1200,N,8,1", "", ""} << 0 << "1200,N,8,1";
    QTest::newRow("trailing blank") << QStringList{"9600,N,8,1 ", "", ""} << 0 << "4800,N,8,1";
    QTest::newRow("leading blank") << QStringList{" 9600,N,8,1", "", ""} << 0 << "4800,N,8,1";
    QTest::newRow("2400 not accepted") << QStringList{"2400,N,8,1", "", ""} << 0 << "4800,N,8,1";
    QTest::newRow("other framing") << QStringList{"9600,E,8,1", "", ""} << 0 << "4800,N,8,1";
    QTest::newRow("lower case") << QStringList{"9600,n,8,1", "", ""} << 0 << "4800,N,8,1";
    QTest::newRow("empty entry") << QStringList{"", "", ""} << 0 << "4800,N,8,1";
    QTest::newRow("past the table") << usual << 7 << "4800,N,8,1";
}

void TestChoices::speedSettings() {
    QFETCH(QStringList, speeds);
    QFETCH(int, index);
    QFETCH(QString, settings);
    std::array<QString, 5> BaudRates;
    for (int i = 0; i < 3; ++i)
        BaudRates[std::size_t(i + 1)] = speeds.value(i);
    QCOMPARE(settingsForChoice(BaudRates, index), settings);
}

void TestChoices::lastPickCounts() {
    PortChoice choice;
    choice.setEntries(makePortEntries({"COM1", " COM12 "}, "/dev/pts/7"));
    choice.click("Item2");
    choice.click("Item3");
    // The full name, trimmed: COM12 is not port 2.
    QCOMPARE(choice.chosenPort(), std::optional<QString>("COM12"));

    choice.typeOther("  /dev/ttyACM0 ");
    QCOMPARE(choice.chosenPort(), std::optional<QString>("/dev/ttyACM0"));
    choice.click("Item1");
    QCOMPARE(choice.chosenPort(), std::optional<QString>("/dev/pts/7"));

    // Listing again keeps the pick; a pick whose entry is gone names nothing.
    choice.click("Item3");
    choice.setEntries(makePortEntries({"COM1", "COM12"}, "/dev/pts/7"));
    QCOMPARE(choice.chosenPort(), std::optional<QString>("COM12"));
    choice.setEntries(makePortEntries({"COM1"}));
    QCOMPARE(choice.SelectedKey, QStringLiteral("Item3"));
    QVERIFY(!choice.chosenPort());
}

void TestChoices::nothingPickedNamesNoPort() {
    PortChoice choice;
    choice.setEntries(makePortEntries({"COM1"}));
    QVERIFY(!choice.chosenPort());
    choice.typeOther("   ");
    QVERIFY(!choice.chosenPort());
    choice.click("Item9");
    QVERIFY(!choice.chosenPort());
}

QTEST_GUILESS_MAIN(TestChoices)
#include "test_choices.moc"
