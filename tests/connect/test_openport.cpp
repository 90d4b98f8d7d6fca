// OpenPort: the order of its steps and the box for each failing one.

#include "connect/OpenPort.h"
#include "link/QtSerialPortDevice.h"
#include "startup/SharedState.h"
#include "support/RecordingOperator.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <cstring>

namespace {
// A port that logs what OpenPort does to it and fails where told.
class StepPort : public SerialPort {
public:
    QStringList log;
    bool open_ = false;
    QString name_;
    QString settings_ = QStringLiteral("9600,N,8,1");
    PortStatus settingsResult;
    PortStatus openResult;

    QString portName() const override { return name_; }
    void setPortName(const QString& name) override {
        log << "name " + name;
        name_ = name;
    }
    PortStatus open() override {
        log << QStringLiteral("open");
        if (openResult.ok)
            open_ = true;
        return openResult;
    }
    void close() override {
        log << QStringLiteral("close");
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    PortStatus setSettings(const QString& s) override {
        log << "settings " + s;
        if (settingsResult.ok && !s.isEmpty())
            settings_ = s;
        return settingsResult;
    }
    QString settings() const override { return settings_; }
    bool setRts(bool) override { return false; }
    bool drainOutput() override { return true; }
    qint64 inputCount() const override { return 0; }
    void discardInput() override {}
    int readByte() override { return -1; }
    bool write(const QByteArray&) override { return false; }
};

// The speed dialog: sets CommSettings as Select would, or leaves it as
// closing through the frame does.
class FakeSpeedDialog : public SpeedDialog {
public:
    FakeSpeedDialog(SharedState& s, StepPort* log) : state(s), port(log) {}
    void showModal() override {
        if (port != nullptr)
            port->log << QStringLiteral("speed dialog");
        if (!choice.isNull())
            state.CommSettings = choice;
    }
    SharedState& state;
    StepPort* port;
    QString choice; // null: closed through the frame
};

QString sysText(int e) {
    return QString::fromLocal8Bit(std::strerror(e));
}
} // namespace

class TestOpenPort : public QObject {
    Q_OBJECT
private slots:
    void errorText_data();
    void errorText();
    void stepsInOrder_data();
    void stepsInOrder();
    void failingStepsBoxAndGoOn_data();
    void failingStepsBoxAndGoOn();
    void realPorts_data();
    void realPorts();
};

void TestOpenPort::errorText_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("text");
    QTest::newRow("5") << 5 << QString() << "Error  5 detected 0";
    QTest::newRow("0") << 0 << QString() << "Error  0 detected 0";
    QTest::newRow("two digits, reason") << 13 << "why"
                                        << "Error  13 detected 0\nwhy";
    QTest::newRow("negative") << -7 << QString() << "Error -7 detected 0";
}

void TestOpenPort::errorText() {
    QFETCH(int, number);
    QFETCH(QString, reason);
    QFETCH(QString, text);
    QCOMPARE(openPortErrorText(number, reason), text);
}

void TestOpenPort::stepsInOrder_data() {
    QTest::addColumn<bool>("wasOpen");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("settings");
    QTest::newRow("closed port") << false << "19200,N,8,1"
                                 << QStringList{"speed dialog", "name /dev/ttyUSB1",
                                                "settings 19200,N,8,1", "open"}
                                 << "19200,N,8,1";
    QTest::newRow("open port is closed first")
        << true << "1200,N,8,1"
        << QStringList{"close", "speed dialog", "name /dev/ttyUSB1", "settings 1200,N,8,1", "open"}
        << "1200,N,8,1";
    // Closed through the frame on the first opening: the empty settings keep
    // those in force.
    QTest::newRow("speed dialog closed")
        << false << QString()
        << QStringList{"speed dialog", "name /dev/ttyUSB1", "settings ", "open"} << "9600,N,8,1";
}

void TestOpenPort::stepsInOrder() {
    QFETCH(bool, wasOpen);
    QFETCH(QString, choice);
    QFETCH(QStringList, log);
    QFETCH(QString, settings);
    SharedState state;
    state.PortName = QStringLiteral("/dev/ttyUSB1");
    StepPort port;
    port.open_ = wasOpen;
    FakeSpeedDialog speed(state, &port);
    speed.choice = choice;
    RecordingOperator op;

    OpenPort(state, port, speed, op);
    QCOMPARE(port.log, log);
    QVERIFY(port.isOpen());
    QCOMPARE(port.settings(), settings);
    QCOMPARE(op.count(), 0);
}

void TestOpenPort::failingStepsBoxAndGoOn_data() {
    QTest::addColumn<PortStatus>("settingsResult");
    QTest::addColumn<PortStatus>("openResult");
    QTest::addColumn<QStringList>("firstLines");
    const PortStatus fine;
    QTest::newRow("no such port") << fine << PortStatus::failure(sysText(ENOENT))
                                  << QStringList{"Error  2 detected 0"};
    QTest::newRow("busy") << fine << PortStatus::failure(sysText(EBUSY))
                          << QStringList{"Error  16 detected 0"};
    QTest::newRow("permission") << fine
                                << PortStatus::failure("Permission error while locking the device",
                                                       true)
                                << QStringList{"Error  13 detected 0"};
    QTest::newRow("unknown open failure")
        << fine << PortStatus::failure("the adapter said no") << QStringList{"Error  5 detected 0"};
    // A refused settings string still leads to the open.
    QTest::newRow("bad settings, then open fine") << PortStatus::failure("invalid port settings")
                                                  << fine << QStringList{"Error  4 detected 0"};
    QTest::newRow("both fail") << PortStatus::failure(sysText(EINVAL))
                               << PortStatus::failure(sysText(EIO))
                               << QStringList{"Error  22 detected 0", "Error  5 detected 0"};
}

void TestOpenPort::failingStepsBoxAndGoOn() {
    QFETCH(PortStatus, settingsResult);
    QFETCH(PortStatus, openResult);
    QFETCH(QStringList, firstLines);
    SharedState state;
    state.PortName = QStringLiteral("ttyS3");
    StepPort port;
    port.settingsResult = settingsResult;
    port.openResult = openResult;
    FakeSpeedDialog speed(state, nullptr);
    speed.choice = QStringLiteral("9600,N,8,1");
    RecordingOperator op;

    OpenPort(state, port, speed, op);
    QCOMPARE(port.log, QStringList({"name ttyS3", "settings 9600,N,8,1", "open"}));
    QCOMPARE(op.count(), firstLines.size());
    for (int i = 0; i < firstLines.size(); ++i) {
        const RecordingOperator::Box& box = op.boxes()[i];
        const QStringList lines = box.text.split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], firstLines[i]);
        QVERIFY2(!lines[1].trimmed().isEmpty(), qPrintable(box.text));
        QCOMPARE(box.title, QString());
        QCOMPARE(box.icon, MsgIcon::None);
        QCOMPARE(box.buttons, MsgButtons::Ok);
    }
    QCOMPARE(port.isOpen(), openResult.ok);
    if (openResult.permissionDenied)
        QVERIFY(op.last().text.contains("dialout"));
}

void TestOpenPort::realPorts_data() {
    QTest::addColumn<QString>("device"); // relative to a scratch folder
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("missing device") << "ttyNothing"
                                    << "Error  2 detected 0";
    // A plain file is no terminal: the port cannot be set up on it.
    QTest::newRow("not a terminal") << "plain"
                                    << "Error  25 detected 0";
}

void TestOpenPort::realPorts() {
    QFETCH(QString, device);
    QFETCH(QString, firstLine);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile plain(dir.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();

    SharedState state;
    state.PortName = dir.filePath(device);
    QtSerialPortDevice port;
    FakeSpeedDialog speed(state, nullptr);
    speed.choice = QStringLiteral("4800,N,8,1");
    RecordingOperator op;

    OpenPort(state, port, speed, op);
    QVERIFY(!port.isOpen());
    QCOMPARE(op.count(), 1);
    const QStringList lines = op.last().text.split('\n');
    QCOMPARE(lines.value(0), firstLine);
    QVERIFY2(lines.value(1).contains(state.PortName), qPrintable(op.last().text));
    QCOMPARE(port.portName(), state.PortName);
}

QTEST_GUILESS_MAIN(TestOpenPort)
#include "test_openport.moc"
