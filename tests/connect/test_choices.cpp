// The port and the line settings the connection dialogs make of the operator's picks, what
// is remembered of them, and getting the port back by its stable name.
#include "connect/ConnectionSettings.h"
#include "connect/ConnectionStatus.h"
#include "connect/PortChoice.h"
#include "connect/Reconnect.h"
#include "connect/SpeedChoice.h"
#include "link/QtSerialPortDevice.h"
#include "support/PtyPeer.h"
#include "support/RecordingOperator.h"

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
            QVERIFY2(settingsForChoice(BaudRates, index).text() == settings, entry);
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

    // What was used last comes back; a value spoilt in the file is not offered.
    void remembered() {
        QTemporaryDir dir;
        QSettings s(dir.filePath("qv840n.conf"), QSettings::IniFormat);
        RememberedConnection used = ConnectionSettings::fromPortSettings(
            "/dev/serial/by-id/usb-X", parseLineSettings("19200,E,8,1"), 7);
        used.line = LineOptions{EchoMode::On, Direction::Adapter, 120, 2, true, BlockReads::Auto};
        ConnectionSettings(s).save(used);
        ConnectionSettings(s).save({}); // nothing given: nothing forgotten
        QSettings again(dir.filePath("qv840n.conf"), QSettings::IniFormat);
        RememberedConnection c = ConnectionSettings(again).load();
        QCOMPARE(QStringList({c.port, c.portSettings().value_or(LineSettings{0}).text(),
                              QString::number(c.unit)}),
                 QStringList({"/dev/serial/by-id/usb-X", "19200,E,8,1", "7"}));
        QVERIFY(c.line && c.line->echo == EchoMode::On && c.line->direction == Direction::Adapter &&
                c.line->pauseMs == 120 && c.line->retries == 2 && c.line->verify &&
                c.line->blockReads == BlockReads::Auto);
        again.remove("line/verify"); // a file from before they were kept: their defaults
        again.setValue("line/block-reads", "sometimes");
        c = ConnectionSettings(again).load();
        QVERIFY(c.line && !c.line->verify && c.line->blockReads == BlockReads::Off);
        again.setValue("connection/speed", "300");
        again.setValue("connection/unit", 32);
        again.setValue("connection/framing", "N,8,1;");
        again.setValue("line/pause-ms", 1001);
        c = ConnectionSettings(again).load();
        QVERIFY(c.speed == 0 && c.unit == 0 && c.framing.isEmpty() && !c.portSettings() && !c.line);
    }

    // The adapter is found by the by-id link that points to it now, and reopened by that link
    // with its settings once the link is back.
    void reconnectsByStableName() {
        QTemporaryDir dir;
        PtyPeer line;
        const QString byId = dir.filePath("by-id"), link = byId + "/usb-Maker_Adapter-if00";
        QVERIFY(QDir().mkpath(byId) && QFile::link("/dev/null", byId + "/usb-Other") &&
                QFile::link(line.slavePath(), link));
        QCOMPARE(stableNameFor(line.slavePath(), byId), link);
        QCOMPARE(stableNameFor("/dev/zero", byId), QString());
        QCOMPARE(stableNameFor(line.slavePath(), dir.filePath("none")), QString());

        QtSerialPortDevice port;
        port.setPortName(line.slavePath());
        QVERIFY(port.setSettings({19200}).ok && port.open().ok);
        Reconnector again(port);
        again.remember(byId);
        QCOMPARE(again.name(), link);
        port.close();
        QFile::remove(link); // unplugged; back 300 ms later
        QTimer::singleShot(300, [&] { QFile::link(line.slavePath(), link); });
        QVERIFY(!again.reconnect(100, 50).ok && again.reconnect(3000, 50).ok);
        QVERIFY(port.isOpen() && port.portName() == link &&
                port.settings().text() == "19200,N,8,1");
    }

    // Without a by-id link the adapter is found by its serial number, wherever it is now; a
    // port without either is reopened only when the operator, told what is there, agrees.
    void reconnectsTheSameAdapterOnly() {
        PtyPeer first, second;
        QTemporaryDir noLinks;
        QList<AdapterIdentity> plugged{{first.slavePath(), "A123", 0x0403, 0x6001}};
        QtSerialPortDevice port;
        Reconnector again(port);
        again.setAdapterLister([&] { return plugged; });
        RecordingOperator op;
        again.setOperator(&op);
        port.setPortName(first.slavePath());
        QVERIFY(port.setSettings({19200}).ok && port.open().ok);
        again.remember(noLinks.path());
        port.close();
        // Another adapter under the old name, the one that failed under another.
        plugged = {{first.slavePath(), "B999", 0x0403, 0x6001},
                   {second.slavePath(), "A123", 0x0403, 0x6001}};
        QVERIFY(again.reconnect(1000, 50).ok && port.isOpen());
        QCOMPARE(QStringList({port.portName(), again.name(), port.settings().text()}),
                 QStringList({second.slavePath(), second.slavePath(), "19200,N,8,1"}));
        port.close();
        plugged = {{second.slavePath(), "A123", 0x1A86, 0x7523}}; // same number, other maker
        const PortStatus gone = again.reconnect(120, 50);
        QVERIFY(!gone.ok && !port.isOpen() && !again.cancelled());
        QCOMPARE(gone.reason, "the adapter with serial number A123 is not plugged in");
        plugged = {{second.slavePath(), "A123", 0x0403, 0x6015}}; // same maker, another product
        QVERIFY(!again.reconnect(120, 50).ok && !port.isOpen());
        QCOMPARE(op.count(), 0);

        // No serial number: the operator is asked, once, and decides.
        plugged = {};
        port.setPortName(first.slavePath());
        QVERIFY(port.open().ok);
        again.remember(noLinks.path());
        port.close();
        op.script({MsgAnswer::Cancel, MsgAnswer::Ok});
        QVERIFY(!again.reconnect(1000, 50).ok && again.cancelled() && !port.isOpen());
        QVERIFY(again.reconnect(1000, 50).ok && port.isOpen());
        QCOMPARE(op.count(), 2);
        QCOMPARE(op.last().title, "Reconnect");
        QVERIFY(op.last().text.startsWith(first.slavePath() + " is there again, now " +
                                          QFileInfo(first.slavePath()).canonicalFilePath()));
        QVERIFY(op.last().text.contains("no serial number"));
        port.close();
        again.setOperator(nullptr); // nobody to ask: never reopened
        QVERIFY(!again.reconnect(1000, 50).ok && again.cancelled() && !port.isOpen());
    }
    // The connection in words: the line settings that differ from the defaults come after the
    // unit; echo and direction are a serial line's only.
    void summary() {
        Connection serial, gateway;
        serial.setPort("ttyUSB0");
        serial.portSettings = LineSettings{9600};
        serial.unitAddress = 1;
        gateway.setPort("tcp://gw:502");
        gateway.unitAddress = 3;
        const ConnectionState open{true, {}, {}};
        QCOMPARE(connectionSummary(serial, open), "ttyUSB0, 9600 baud, unit 1: connected");
        for (Connection* c : {&serial, &gateway})
            c->line = LineOptions{EchoMode::On, Direction::Kernel, 100, 2, true};
        QCOMPARE(connectionSummary(serial, open),
                 "ttyUSB0, 9600 baud, unit 1, echo on, direction kernel, pause 100 ms, retries 2, "
                 "verify on: connected");
        QCOMPARE(connectionSummary(gateway, {true, "refused", {}}),
                 "Network unit tcp://gw:502, unit 3, pause 100 ms, retries 2, verify on: failed: "
                 "refused");
        QCOMPARE(connectionSummary(Connection{}, {}), "No port, unit 0: not connected");
    }
};

QTEST_GUILESS_MAIN(TestChoices)
#include "test_choices.moc"
