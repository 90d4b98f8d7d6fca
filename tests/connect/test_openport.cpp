// OpenPort: the order of its steps and the box each failing one shows.
#include "connect/Connection.h"
#include "connect/OpenPort.h"
#include "link/QtSerialPortDevice.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedPort.h"

#include <QtTest>
#include <cstring>

namespace {
// A port, with the speed dialog, that logs what OpenPort does and fails where told.
struct StepPort : ScriptedPort, SpeedDialog {
    Connection state;
    QStringList steps;
    QString choice; // empty: the speed dialog is closed through its frame
    PortStatus settingsResult;
    StepPort() { state.setPort(QStringLiteral("/dev/ttyUSB1")); }
    void showModal() override { steps << "speed dialog", state.commSettings = choice; }
    void setPortName(const QString& n) override {
        steps << "name " + n, ScriptedPort::setPortName(n);
    }
    PortStatus open() override { return steps << "open", ScriptedPort::open(); }
    void close() override { steps << "close", ScriptedPort::close(); }
    PortStatus setSettings(const QString& s) override {
        steps << "settings " + s;
        return settingsResult.ok ? ScriptedPort::setSettings(s) : settingsResult;
    }
};

QString boxes(const RecordingOperator& op) { // each box: the error line, then the reason
    QStringList firsts;
    for (const auto& b : op.boxes())
        firsts << b.text.section('\n', 0, 0) + (b.text.count('\n') == 1 ? "" : " (no reason)");
    return firsts.join(',');
}
} // namespace

class TestOpenPort : public QObject {
    Q_OBJECT
private slots:
    void steps() {
        auto sys = [](int e) { return PortStatus::failure(QString::fromLocal8Bit(strerror(e))); };
        const PortStatus fine, perm = PortStatus::failure("Permission error while locking", true);
        // A refused settings string still leads to the open.
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
            StepPort port; // open: it is closed first
            port.settingsResult = settingsResult;
            port.setOpenResult(openResult);
            port.choice = choice;
            RecordingOperator op;
            OpenPort(port.state, port, port, op);
            QCOMPARE(port.steps, QStringList({"close", "speed dialog", "name /dev/ttyUSB1",
                                              "settings " + choice, "open"}));
            QCOMPARE(port.isOpen(), openResult.ok);
            QCOMPARE(boxes(op), expected);
            QCOMPARE(op.last().text.contains("may not open it"), openResult.permissionDenied);
        }
    }

    void realPorts() {
        QTemporaryFile plain; // no terminal: the port cannot be set up on it
        QVERIFY(plain.open());
        for (const QString& device : {plain.fileName(), plain.fileName() + "-none"}) {
            StepPort speed;
            speed.state.setPort(device);
            QtSerialPortDevice port;
            RecordingOperator op;
            OpenPort(speed.state, port, speed, op);
            QCOMPARE(boxes(op),
                     device == plain.fileName() ? "Error  25 detected 0" : "Error  2 detected 0");
            QVERIFY2(op.last().text.contains(device), qPrintable(op.last().text));
        }
    }
};

QTEST_GUILESS_MAIN(TestOpenPort)
#include "test_openport.moc"
