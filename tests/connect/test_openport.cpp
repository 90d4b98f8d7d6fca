// Opening a serial port (the order of its steps and the box each failing one shows), and the
// connection switch: all or nothing, the line in use back whenever the choice is not taken.
#include "connect/Connection.h"
#include "connect/ConnectionSwitch.h"
#include "connect/OpenPort.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "support/Gateway.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedPort.h"
#include "transport/Transports.h"

#include <QTcpServer>
#include <QtTest>
#include <cstring>
#include <functional>

namespace {
// A port, with the speed dialog, that logs what is done to it and fails where told.
struct StepPort : ScriptedPort, SpeedDialog {
    Connection state;
    QStringList steps;
    QString choice;  // the speed dialog's Select; empty: it is backed out of
    QString failing; // the device that does not open
    PortStatus settingsResult;
    StepPort() { state.setPort(QStringLiteral("/dev/ttyUSB1")); }
    bool showModal() override {
        steps << "speed dialog";
        if (choice.isEmpty())
            return false;
        state.portSettings = parseLineSettings(choice);
        state.line.pauseMs = 100;
        return true;
    }
    void setPortName(const QString& n) override {
        steps << "name " + n, ScriptedPort::setPortName(n);
    }
    PortStatus open() override {
        steps << "open";
        if (!failing.isEmpty() && portName() == failing)
            return PortStatus::failure(QString::fromLocal8Bit(strerror(ENOENT)));
        return ScriptedPort::open();
    }
    void close() override { steps << "close", ScriptedPort::close(); }
    PortStatus setSettings(const LineSettings& s) override {
        steps << "settings " + s.text();
        return settingsResult.ok ? ScriptedPort::setSettings(s) : settingsResult;
    }
};

QString boxes(const RecordingOperator& op) { // each box: the error line, then the reason
    QStringList firsts;
    for (const auto& b : op.boxes())
        firsts << b.text.section('\n', 0, 0) + (b.text.count('\n') == 1 ? "" : " (no reason)");
    return firsts.join(',');
}

// A switch over a scripted port that is open on /dev/ttyUSB0 at 9600 baud, unit 5.
struct SwitchRig {
    StepPort port;
    RecordingOperator op;
    const CrcTableArray crc = standardCrcTable(); // outlives the transport
    std::unique_ptr<LineTransport> transport = makeTransport(port, crc);
    ConnectionSwitch change{port.state, port, *transport, port, op};
    SwitchRig() {
        port.state.setPort("/dev/ttyUSB0");
        port.state.portSettings = LineSettings{9600};
        port.state.unitAddress = 5;
        port.setPortName("/dev/ttyUSB0");
        port.setSettings({9600});
        port.steps.clear();
    }
    // The port, its settings, open or not; the connection's port, settings, unit and pause.
    QString inUse() const {
        const Connection& c = port.state;
        return QStringList({port.portName(), port.settings().text(),
                            port.isOpen() ? "open" : "closed", c.portName(),
                            c.portSettings ? c.portSettings->text() : "-",
                            QString::number(c.unitAddress), QString::number(c.line.pauseMs)})
            .join(' ');
    }
};
const QString kInUse = "/dev/ttyUSB0 9600,N,8,1 open /dev/ttyUSB0 9600,N,8,1 5 300";

// A free loopback port: nothing listens there.
quint16 deadPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return s.serverPort();
}
} // namespace

class TestOpenPort : public QObject {
    Q_OBJECT
private slots:
    void steps() {
        auto sys = [](int e) { return PortStatus::failure(QString::fromLocal8Bit(strerror(e))); };
        const PortStatus fine, perm = PortStatus::failure("Permission error while locking", true);
        // Settings the port refuses still lead to the open; none chosen: the port's are kept.
        const std::tuple<QString, PortStatus, PortStatus, QString> rows[] = {
            {"", fine, fine, ""},
            {"1200,N,8,1", fine, sys(ENOENT), "Error  2 detected 0"},
            {"19200,N,8,1", fine, perm, "Error  13 detected 0"},
            {"1200,N,8,1", PortStatus::failure("bad"), sys(EBUSY),
             "Error  4 detected 0,Error  16 detected 0"},
            {"1200,N,8,1", sys(EINVAL), PortStatus::failure("?"),
             "Error  22 detected 0,Error  5 detected 0"},
            {"4800,N,8,1", fine, PortStatus::failure("in use by another program"),
             "Error  16 detected 0"}};
        for (const auto& [choice, settingsResult, openResult, expected] : rows) {
            StepPort port;
            port.close();
            port.steps.clear();
            port.settingsResult = settingsResult;
            port.setOpenResult(openResult);
            port.state.portSettings = parseLineSettings(choice);
            RecordingOperator op;
            QCOMPARE(openSerialPort(port.state, port, op), openResult.ok);
            QCOMPARE(port.steps.join(", "),
                     choice.isEmpty() ? "name /dev/ttyUSB1, open"
                                      : "name /dev/ttyUSB1, settings " + choice + ", open");
            QCOMPARE(port.isOpen(), openResult.ok);
            QCOMPARE(boxes(op), expected);
            QCOMPARE(op.last().text.contains("may not open it"), openResult.permissionDenied);
        }
    }

    void realPorts() {
        QTemporaryFile plain; // no terminal: the port cannot be set up on it
        QVERIFY(plain.open());
        for (const QString& device : {plain.fileName(), plain.fileName() + "-none"}) {
            Connection connection;
            connection.setPort(device);
            QtSerialPortDevice port;
            RecordingOperator op;
            QVERIFY(!openSerialPort(connection, port, op));
            QCOMPARE(boxes(op),
                     device == plain.fileName() ? "Error  25 detected 0" : "Error  2 detected 0");
            QVERIFY2(op.last().text.contains(device), qPrintable(op.last().text));
        }
    }

    // Backing out of the speed changes nothing, not even for a moment; a port that does not
    // open, or an address that cannot be used, leaves the line in use as it was, open.
    void switchKeepsTheLineInUse() {
        const auto keeps = [](const std::function<void(SwitchRig&)>& scenario) {
            SwitchRig rig;
            scenario(rig);
            QCOMPARE(rig.inUse(), kInUse);
        };
        keeps([](SwitchRig& rig) { // the speed dialog backed out of
            QCOMPARE(rig.change.switchTo("/dev/ttyUSB1").outcome, SwitchOutcome::BackedOut);
            QCOMPARE(rig.port.steps, QStringList({"speed dialog"}));
        });
        keeps([](SwitchRig& rig) { // a port that does not open: the one in use is opened again
            rig.port.choice = "19200,N,8,1";
            rig.port.failing = "/dev/ttyUSB1";
            const SwitchResult r = rig.change.switchTo("/dev/ttyUSB1");
            QVERIFY(r.outcome == SwitchOutcome::Refused && r.tried && r.restoreFailure.isEmpty());
            QCOMPARE(rig.port.steps.join(", "),
                     "speed dialog, close, name /dev/ttyUSB1, settings 19200,N,8,1, open, "
                     "name /dev/ttyUSB0, settings 9600,N,8,1, open");
            QCOMPARE(boxes(rig.op), "Error  2 detected 0");
        });
        keeps([](SwitchRig& rig) { // a network address that cannot be used: told, nothing touched
            QCOMPARE(rig.change.switchTo("tcp://gw:99999").outcome, SwitchOutcome::Refused);
            QVERIFY(rig.port.steps.isEmpty() && rig.op.count() == 1);
        });
        keeps([](SwitchRig& rig) { // a gateway where nothing listens: the serial port stays open
            const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(deadPort());
            QCOMPARE(rig.change.switchTo(address).outcome, SwitchOutcome::Refused);
            QVERIFY(!rig.port.steps.contains("close") && !rig.port.steps.contains("speed dialog"));
            QCOMPARE(rig.op.last().title, "Connection Failure");
            QVERIFY2(rig.op.last().text.contains("Connection refused"),
                     qPrintable(rig.op.last().text));
        });
    }

    // A port that opens, or a gateway that takes the connection, becomes the connection, and
    // the transport goes to the line its endpoint names, whatever the port's name says; a
    // gateway is asked for no speed, and the port is never given a gateway's address.
    void switchTakesWhatOpens() {
        SwitchRig rig;
        rig.port.choice = "19200,N,8,1";
        QCOMPARE(rig.change.switchTo("/dev/ttyUSB1").outcome, SwitchOutcome::Switched);
        QCOMPARE(rig.inUse(), "/dev/ttyUSB1 19200,N,8,1 open /dev/ttyUSB1 19200,N,8,1 5 100");
        Gateway gw([](QTcpSocket&, const QByteArray&, int) {});
        const QString address = gw.address(Endpoint::Kind::ModbusTcp);
        rig.port.steps.clear();
        QCOMPARE(rig.change.switchTo(address).outcome, SwitchOutcome::Switched);
        QVERIFY(!rig.port.steps.contains("speed dialog") && !rig.port.isOpen());
        QCOMPARE(rig.port.state.portName(), address);
        QTRY_COMPARE(gw.connections, 1);
        // A port that does not open: the transport is back on the gateway, connected again,
        // though the port is named after the port that failed.
        rig.port.failing = "/dev/ttyUSB2";
        const SwitchResult r = rig.change.switchTo("/dev/ttyUSB2");
        QVERIFY(r.outcome == SwitchOutcome::Refused && r.restoreFailure.isEmpty());
        QCOMPARE(rig.port.portName() + " " + rig.transport->endpointName(),
                 "/dev/ttyUSB2 " + address);
        QTRY_COMPARE(gw.connections, 2);
        QCOMPARE(rig.change.switchTo("/dev/ttyUSB0").outcome, SwitchOutcome::Switched);
        QCOMPARE(rig.transport->endpointName(), "/dev/ttyUSB0");
        QCOMPARE(rig.change.switchTo(address).outcome, SwitchOutcome::Switched);
        QCOMPARE(rig.transport->endpointName(), address);
        QTRY_COMPARE(gw.connections, 3);
        QVERIFY2(!rig.port.steps.join(' ').contains("tcp:"), qPrintable(rig.port.steps.join(',')));
        QCOMPARE(boxes(rig.op), "Error  2 detected 0");
    }
};

QTEST_GUILESS_MAIN(TestOpenPort)
#include "test_openport.moc"
