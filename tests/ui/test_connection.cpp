// The connection within one run: remembered, changed, recovered, and a unit found.
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimNetServer.h"
#include "sim/SimThread.h"
#include "support/Gateway.h"
#include "support/RecordingOperator.h"
#include "support/WidgetLookup.h"
#include "support/WindowSteps.h"
#include "transport/PortTexts.h"
#include "transport/Transports.h"
#include "ui/CommsTestWindow.h"
#include "ui/FindUnitWindow.h"
#include "ui/LineSpeedDialog.h"
#include "ui/LineUnitsWindow.h"
#include "ui/LoadedWindows.h"
#include "ui/MainWindow.h"
#include "ui/MessageEditorWindow.h"
#include "ui/NetworkUnitDialog.h"
#include "ui/SplashWindow.h"
#include "ui/StartupWindows.h"
#include "ui/UpDown.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {
// Clicks Connect... and runs pick on the connection dialog. A dialog still up seconds later
// fails the test and is closed, with whatever stands over it, so that the test goes on.
void connectWith(QPushButton* connectButton, std::function<void(ConnectionDialog*)> pick) {
    whenModal<ConnectionDialog>([pick](ConnectionDialog* d) {
        QTimer::singleShot(5000, d, [] {
            QTest::qFail("a dialog of Connect... stayed up", __FILE__, __LINE__);
            for (int i = 0; i < 5; ++i)
                if (auto* m = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    m->reject();
        });
        pick(d);
    });
    connectButton->click();
}

// Clicks Cancel on the connection dialog the next time it is up.
void cancelConnection() {
    whenModal<ConnectionDialog>(
        [](ConnectionDialog* d) { child<QPushButton>(d, "cancelButton")->click(); });
}

// In the network unit dialog: host and port, then Ok (keep: the address it offers); no host:
// Cancel. An address it refuses fails the test.
void answerNetwork(const QString& host, int port, bool keep = false) {
    whenModal<NetworkUnitDialog>([host, port, keep](NetworkUnitDialog* n) {
        if (host.isEmpty() && !keep)
            return n->reject();
        if (!keep) {
            child<QLineEdit>(n, "hostEdit")->setText(host);
            child<QSpinBox>(n, "portSpin")->setValue(port);
        }
        child<QDialogButtonBox>(n, "buttons")->button(QDialogButtonBox::Ok)->click();
        if (n->isVisible()) {
            QTest::qFail("the network unit dialog refused its address", __FILE__, __LINE__);
            n->reject();
        }
    });
}

struct Program {
    QTemporaryDir tmp;
    QSettings settings{tmp.filePath("qv840n.ini"), QSettings::IniFormat};
    Configuration config;
    Connection connection;
    MessageTable messages;
    QtSerialPortDevice port;
    // The product's transport, on the connection's line settings (network) or quickLine's.
    LineOptions quickLine{EchoMode::Off, Direction::Rts, 2, 0};
    std::unique_ptr<LineTransport> chosen;
    LineTransport& transport;
    RecordingOperator op;
    LoadedWindows windows;
    StartupWindows startup;
    QStringList seen; // what the dialogs offered
    // simulated: the path of a simulated unit, which the connection dialog offers first.
    explicit Program(const QStringList& ports, bool network = false, const QString& simulated = {})
        : chosen(
              makeTransport(port, config.crcTable, {300, network ? &connection.line : &quickLine})),
          transport(*chosen),
          startup(config, connection, messages, port, transport, op, windows, simulated) {
        startup.setSettings(&settings);
        startup.connections().setByIdFolder(tmp.path());
        startup.connections().setPortLister([ports](Operator&) { return ports; });
    }
    // The next connection dialog: note its choice, click row (-1: keep it), then Select or
    // Cancel; the speed dialog: note its choice, pick speedRow (-1: keep it), then Enter.
    void answerDialogs(int row, bool select = true, int speedRow = -1) {
        // Opening closes the port first, and lets events run: the speed dialog comes later.
        answerSpeed = [this, speedRow] {
            LineSpeedDialog* b = startup.bauds();
            if (!b->isVisible())
                return QTimer::singleShot(5, [this] { answerSpeed(); });
            auto* speedList = child<QListWidget>(b, "speedList");
            seen << speedList->currentItem()->text();
            if (speedRow >= 0)
                speedList->setCurrentRow(speedRow);
            QTest::keyClick(speedList, Qt::Key_Return);
        };
        startup.connections().setOnConnectionDialog([this, row, select](ConnectionDialog& d) {
            QTimer::singleShot(0, &d, [this, row, select, &d] {
                seen << d.choice().SelectedKey;
                auto* deviceList = child<QListWidget>(d, "deviceList");
                if (row >= 0)
                    deviceList->setCurrentRow(row);
                if (!select)
                    return child<QPushButton>(d, "cancelButton")->click();
                QTimer::singleShot(0, [this] { answerSpeed(); });
                QTest::keyClick(deviceList, Qt::Key_Return);
            });
        });
    }
    std::function<void()> answerSpeed;
    // Every connection dialog from now on: path typed as "Other device", Select, speed offered.
    void typePath(const QString& path) {
        startup.connections().setOnConnectionDialog([path](ConnectionDialog& d) {
            QTimer::singleShot(0, &d, [&d, path] {
                QTest::keyClicks(child<QLineEdit>(d, "otherEdit"), path);
                whenModal<LineSpeedDialog>([](LineSpeedDialog* s) { s->selectClicked(); });
                d.selectClicked();
            });
        });
    }
    bool start() { return !runStartup(config, startup, &readCrcTableFile, appFolder(), 0); }
    MainWindow& main() { return *startup.mainWindow(); }
    QPushButton* button(const char* name) { return child<QPushButton>(main(), name); }
    QLabel* message(int k) {
        return child<QLabel>(main(), QStringLiteral("messageLabel_%1").arg(k));
    }
    int commsTestUnit() { return child<UpDown>(startup.commsTest(), "unitSpinner")->value(); }
    // The status line whole: its tooltip, as it may be cut short.
    QString status() { return child<QLabel>(main(), "statusLine")->toolTip(); }
};

SimConfig quick(int unit = 1, int baud = 9600) {
    SimConfig c;
    c.pacing = false;
    c.unit = unit;
    c.baud = baud;
    return c;
}
} // namespace

class TestConnection : public QObject {
    Q_OBJECT
private slots:
    void rememberedThenConnect() {
        SimThread a, b;
        QVERIFY(a.start(quick()) && b.start(quick()));
        const QString pa = a.devicePath(), pb = b.devicePath();
        Program p({pa, pb});
        p.settings.setValue("connection/port", pb);
        p.settings.setValue("connection/speed", 19200);
        p.settings.setValue("connection/unit", 7);
        // Enter takes what each dialog offers first: the remembered port and speed.
        p.answerDialogs(-1);
        QVERIFY(p.start());
        QCOMPARE(p.seen, QStringList({"Item2", "19200,N,8,1"}));
        QVERIFY(p.port.isOpen() && p.port.portName() == pb);
        QCOMPARE(p.connection.unitAddress, 7);
        QCOMPARE(p.commsTestUnit(), 7);
        QCOMPARE(p.status(), pb + ", 19200 baud, unit 7: connected");
        QCOMPARE(child<QLabel>(p.startup.commsTest(), "connectionLine")->toolTip(), p.status());
        // Connect: the port in use is offered; another port and speed are taken.
        p.seen.clear();
        p.answerDialogs(0, true, 0);
        p.main().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&p.main()));
        QTest::keyClick(p.main().windowHandle(), Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(p.seen.size(), 2); // the mnemonic clicks after a moment
        QCOMPARE(p.seen, QStringList({"Item2", "19200,N,8,1"}));
        QVERIFY(p.port.isOpen() && p.port.portName() == pa);
        QCOMPARE(p.status(), pa + ", 4800 baud, unit 7: connected");
        QCOMPARE(p.settings.value("connection/port").toString(), pa);
        QCOMPARE(p.settings.value("connection/speed").toInt(), 4800);
        // A unit address set in either window is remembered at once.
        child<UpDown>(p.startup.commsTest(), "unitSpinner")->setValue(12);
        QCOMPARE(p.settings.value("connection/unit").toInt(), 12);
    }

    // Backing out of Connect..., or a choice that does not open, keeps the connection in use.
    void connectBackedOutOfKeepsTheConnection() {
        SimThread a, b;
        QVERIFY(a.start(quick()) && b.start(quick()));
        a.model().setMessage(0, "UNIT A");
        const QString pa = a.devicePath(), pb = b.devicePath();
        Program p({pa, pb}, true);
        p.connection.line.pauseMs = 20;
        p.answerDialogs(-1);
        QVERIFY(p.start());
        p.startup.connections().setOnConnectionDialog({});
        const QString inUse = pa + ", 9600 baud, unit 1, pause 20 ms: connected";
        QCOMPARE(p.status(), inUse);
        auto connectAndCheck = [&](std::function<void(ConnectionDialog*)> pick) {
            connectWith(p.button("connectButton"), pick);
            QVERIFY(p.port.isOpen() && p.port.portName() == pa);
            QCOMPARE(p.port.settings().text() + "|" + p.connection.portName() + "|" +
                         QString::number(p.connection.line.pauseMs) + "|" + p.status(),
                     "9600,N,8,1|" + pa + "|20|" + inUse);
        };
        // The speed dialog: another speed and pause, then Escape.
        connectAndCheck([](ConnectionDialog* d) {
            whenModal<LineSpeedDialog>([](LineSpeedDialog* s) {
                child<QListWidget>(s, "speedList")->setCurrentRow(2);
                child<QSpinBox>(s, "pauseSpin")->setValue(100);
                cancelConnection();
                QTest::keyClick(child<QListWidget>(s, "speedList"), Qt::Key_Escape);
            });
            child<QListWidget>(d, "deviceList")->setCurrentRow(1);
            child<QPushButton>(d, "selectButton")->click();
        });
        QCOMPARE(p.op.count(), 0);
        // A gateway where nothing listens; a typed path that does not open: each is told.
        QTcpServer s;
        QVERIFY(s.listen(QHostAddress::LocalHost));
        const quint16 dead = s.serverPort();
        s.close();
        connectAndCheck([dead](ConnectionDialog* d) {
            cancelConnection();
            answerNetwork(QStringLiteral("127.0.0.1"), dead);
            child<QListWidget>(d, "deviceList")->setCurrentRow(2);
            child<QPushButton>(d, "selectButton")->click();
        });
        QCOMPARE(QString::number(p.op.count()) + " " + p.op.last().title, "1 Connection Failure");
        connectAndCheck([](ConnectionDialog* d) {
            cancelConnection();
            whenModal<LineSpeedDialog>(
                [](LineSpeedDialog* s) { child<QPushButton>(s, "selectButton")->click(); });
            QTest::keyClicks(child<QLineEdit>(d, "otherEdit"), "/dev/qv840n-none");
            child<QPushButton>(d, "selectButton")->click();
        });
        QVERIFY(p.op.count() == 2 && p.op.last().text.startsWith("Error  2 detected 0"));
        p.button("readAllButton")->click();
        QCOMPARE(p.message(0)->text(), "UNIT A");
    }

    // Connect... offers the port in use, so that Return, Return keeps it; a click into the
    // "Other device" line selects what it holds, so that typing replaces it.
    void connectOffersThePortInUse() {
        SimThread a, b;
        QVERIFY(a.start(quick()) && b.start(quick()));
        const QString pa = a.devicePath(), pb = b.devicePath();
        Program p({pb}, true); // the port in use is typed: the list does not show it
        p.typePath(pa);
        QVERIFY(p.start());
        QCOMPARE(p.port.portName(), pa);
        p.startup.connections().setOnConnectionDialog({});
        auto returnKey = [](QWidget* w) { QTest::keyClick(w->focusWidget(), Qt::Key_Return); };
        QString offered;
        connectWith(p.button("connectButton"), [&](ConnectionDialog* d) {
            offered = d->choice().SelectedKey + " " + child<QLineEdit>(d, "otherEdit")->text();
            whenModal<LineSpeedDialog>(returnKey);
            returnKey(d);
        });
        QCOMPARE(offered, "Other " + pa);
        QVERIFY(p.port.isOpen() && p.port.portName() == pa && p.connection.portName() == pa);
        // A gateway in use: the Network entry is offered, the line is empty.
        Gateway gw([](QTcpSocket&, const QByteArray&, int) {});
        const QString address = gw.address(Endpoint::Kind::ModbusTcp);
        QVERIFY(p.connection.setPort(address));
        p.port.close();
        p.transport.choose(*p.connection.endpoint());
        QStringList typed;
        connectWith(p.button("connectButton"), [&](ConnectionDialog* d) {
            auto* otherEdit = child<QLineEdit>(d, "otherEdit");
            typed << d->choice().SelectedKey + " [" + otherEdit->text() + "]";
            d->activateWindow(); // the focus moves with the clicks
            QVERIFY(QTest::qWaitForWindowActive(d));
            for (int i = 0; i < 2; ++i) {
                QTest::mouseClick(child<QListWidget>(d, "deviceList"), Qt::LeftButton);
                QTest::mouseClick(otherEdit, Qt::LeftButton);
                QTest::keyClicks(otherEdit, "/dev/ttyUSB" + QString::number(i));
                typed << otherEdit->text();
            }
            d->reject();
        });
        QCOMPARE(typed, QStringList({"Network []", "/dev/ttyUSB0", "/dev/ttyUSB1"}));
    }

    // Leaving a network unit for a serial port closes its connection: a gateway may serve one.
    void leavingAGatewayClosesItsConnection() {
        SimThread sim;
        QVERIFY(sim.start(quick()));
        Gateway gw([](QTcpSocket&, const QByteArray&, int) {}); // serves nothing
        const QString address = gw.address(Endpoint::Kind::ModbusTcp);
        Program p({sim.devicePath()}, true);
        p.settings.setValue("connection/port", address);
        p.startup.connections().setOnConnectionDialog([](ConnectionDialog& d) {
            answerNetwork({}, 0, true);
            QTimer::singleShot(0, &d, [&d] { d.selectClicked(); });
        });
        QVERIFY(p.start());
        QCOMPARE(p.connection.portName(), address);
        QTRY_COMPARE(gw.clients, 1);
        p.startup.connections().setOnConnectionDialog({});
        connectWith(p.button("connectButton"), [](ConnectionDialog* d) {
            child<QListWidget>(d, "deviceList")->setCurrentRow(0);
            whenModal<LineSpeedDialog>([](LineSpeedDialog* s) { s->selectClicked(); });
            d->selectClicked();
        });
        QVERIFY(p.port.isOpen() && p.connection.portName() == sim.devicePath());
        QTRY_COMPARE(gw.clients, 0);
        QCOMPARE(p.op.count(), 0);
    }

    // The status says what the last exchange showed, never "connected" where none listens.
    void statusTellsWhatTheLineShowed() {
        SimModel model;
        model.setMessage(0, "GATEWAY");
        auto server = std::make_unique<SimNetServer>(model);
        QVERIFY(server->listen(quick(), QHostAddress::LocalHost, 0, false));
        const quint16 port = server->port();
        const QString address = server->address();
        server.reset(); // nothing listens there yet
        Program p({}, true);
        p.connection.line.pauseMs = 0;
        p.settings.setValue("connection/port", address);
        p.startup.connections().setOnConnectionDialog([&p](ConnectionDialog& d) {
            QTimer::singleShot(0, &d, [&p, &d] {
                answerNetwork({}, 0, true);
                d.selectClicked(); // refused: it stays
                const bool stays = d.isVisible() && p.op.count() == 1;
                d.reject();
                QVERIFY(stays);
            });
        });
        QVERIFY(p.start());
        QCOMPARE(p.op.last().title, "Connection Failure");
        QCOMPARE(p.status(), "No port, unit 1, pause 0 ms: not connected");
        // The gateway listens: connected. It goes: Read All fails.
        server = std::make_unique<SimNetServer>(model);
        QVERIFY(server->listen(quick(), QHostAddress::LocalHost, port, false));
        p.startup.connections().setOnConnectionDialog({});
        connectWith(p.button("connectButton"), [](ConnectionDialog* d) {
            answerNetwork({}, 0, true);
            d->selectClicked();
        });
        QCOMPARE(p.status(), "Network unit " + address + ", unit 1, pause 0 ms: connected");
        server.reset();
        p.button("readAllButton")->click();
        QVERIFY2(p.status().contains(": failed: cannot connect to 127.0.0.1"),
                 qPrintable(p.status()));
        // Reconnect tries the gateway, and says when it does not take the connection.
        p.startup.connections().setReconnectTimeout(300);
        p.startup.connections().reconnect();
        QCOMPARE(p.op.last().title, "Connection Failure");
        QVERIFY2(p.status().contains(": failed: cannot connect to 127.0.0.1"),
                 qPrintable(p.status()));
        server = std::make_unique<SimNetServer>(model);
        QVERIFY(server->listen(quick(), QHostAddress::LocalHost, port, false));
        p.button("readAllButton")->click();
        QCOMPARE(p.message(0)->text(), "GATEWAY");
        QVERIFY2(p.status().startsWith("Network unit " + address +
                                       ", unit 1, pause 0 ms: connected   |   "
                                       "Read All: 20 of 20 read"),
                 qPrintable(p.status()));
        // Find Unit asks each address once, at the gateway's one speed; Use sets no speed.
        FindUnitWindow f(p.config, p.connection, p.port, p.transport, p.op);
        child<QSpinBox>(f, "lastSpin")->setValue(2);
        f.start();
        QCOMPARE(child<QLabel>(f, "timeLeftLabel")->text(), "done: 2 probes, 1 found");
        auto* found = child<QTreeWidget>(f, "foundList");
        found->setCurrentItem(found->topLevelItem(0));
        f.use();
        QVERIFY(f.chosen() && f.chosen()->unit == 1 && !f.chosenSettings());
    }

    // A port without an identity: Reconnect opens what is now under its path only when told.
    void reconnectAsksAboutAPortWithoutIdentity() {
        QTemporaryDir elsewhere; // not the by-id folder
        SimThread first, second;
        Program p({});
        SimConfig c = quick();
        c.linkPath = elsewhere.filePath("ttyQV0");
        QVERIFY(first.start(c));
        p.typePath(c.linkPath);
        QVERIFY(p.start() && p.port.isOpen());
        first.stop();
        QVERIFY(second.start(c)); // another device under the same path
        second.model().setMessage(0, "SECOND");
        p.op.script({MsgAnswer::Cancel});
        p.startup.connections().reconnect();
        QCOMPARE(p.op.count(), 1); // the question, and no "did not come back"
        const RecordingOperator::Box asked = p.op.last();
        QCOMPARE(asked.title, "Reconnect");
        QVERIFY2(asked.text.startsWith(c.linkPath + " is there again, now " + second.devicePath()),
                 qPrintable(asked.text));
        QVERIFY(!p.port.isOpen());
        p.op.script({MsgAnswer::Ok});
        p.startup.connections().reconnect();
        QVERIFY(p.port.isOpen() && p.connection.portName() == c.linkPath);
    }

    // A status line longer than the window is cut short, whole in its tooltip.
    void statusStaysInTheWindow() {
        QTemporaryDir folder;
        SimThread shortName, longName;
        SimConfig c = quick();
        QVERIFY(shortName.start(c));
        c.linkPath = folder.filePath(QString(150, 'x'));
        QVERIFY(longName.start(c));
        Program p({shortName.devicePath()});
        p.answerDialogs(-1);
        QVERIFY(p.start());
        auto* statusLine = child<QLabel>(p.main(), "statusLine");
        QCOMPARE(statusLine->text(), p.status());
        const int width = p.main().width();
        p.typePath(c.linkPath);
        p.button("connectButton")->click();
        QCOMPARE(p.status(), c.linkPath + ", 9600 baud, unit 1: connected");
        QTest::qWait(20); // the layout follows
        QCOMPARE(p.main().width(), width);
        auto fits = [statusLine] {
            const QString shown = statusLine->text();
            return shown.endsWith(QChar(0x2026)) && statusLine->fontMetrics().horizontalAdvance(
                                                        shown) < statusLine->contentsRect().width();
        };
        QVERIFY2(fits(), qPrintable(statusLine->text()));
        const QString before = statusLine->text();
        p.main().resize(width - 200, p.main().height());
        QTRY_VERIFY(statusLine->text().size() < before.size());
        QVERIFY(fits());
    }

    // The adapter is pulled: Reconnect's wait shows the time left and ends on Escape; back
    // under another device, Reconnect takes it, and the table is kept.
    void reconnectAfterPortFailure() {
        SimThread first, second;
        Program p({});
        SimConfig c = quick();
        c.linkPath = p.tmp.filePath("usb-QV_adapter-port0");
        QVERIFY(first.start(c));
        first.model().setMessage(0, "BEFORE");
        p.typePath(first.devicePath());
        QVERIFY(p.start());
        p.button("readAllButton")->click();
        QCOMPARE(p.message(0)->text(), "BEFORE");
        const QString pulled = first.devicePath();
        first.stop();
        p.startup.connections().setReconnectTimeout(4000);
        QStringList shown;
        // The wait's own loop runs meanwhile: the label is looked at again by a timer.
        std::function<void(QProgressDialog*)> stopOnceItCounts = [&](QProgressDialog* wait) {
            const QString text = wait->findChild<QLabel*>()->text();
            if (shown.isEmpty() || text == shown.last()) {
                shown << text;
                shown.removeDuplicates();
                return QTimer::singleShot(50, wait, [&, wait] { stopOnceItCounts(wait); });
            }
            shown << text;
            QTest::keyClick(wait, Qt::Key_Escape);
        };
        whenModal<QProgressDialog>(stopOnceItCounts);
        QElapsedTimer clock;
        clock.start();
        p.op.script({MsgAnswer::Reconnect});
        p.button("readAllButton")->click();
        QVERIFY(clock.elapsed() < 3500);
        QCOMPARE(shown, QStringList({"Waiting for " + c.linkPath + " to come back: 4 s left",
                                     "Waiting for " + c.linkPath + " to come back: 3 s left"}));
        QCOMPARE(p.op.count(), 1); // the failure box, and no "did not come back"
        QVERIFY(p.op.last().buttons == MsgButtons::OkReconnect && !p.port.isOpen());
        QVERIFY2(p.status().startsWith(pulled + ", 9600 baud, unit 1: failed: "),
                 qPrintable(p.status()));
        QVERIFY(second.start(c));
        p.startup.connections().reconnect();
        QVERIFY(p.port.isOpen() && p.connection.portName() == c.linkPath);
        QCOMPARE(p.message(0)->text(), "BEFORE"); // the table is kept
        QVERIFY(p.status().startsWith(c.linkPath + ", 9600 baud, unit 1: connected"));
        second.model().setMessage(0, "AFTER");
        p.button("readAllButton")->click();
        QCOMPARE(p.message(0)->text(), "AFTER");
        QVERIFY(p.status().contains("Read All: 20 of 20 read"));
        // The editor's failure box offers it too; the entry keeps its text.
        SimThread third;
        const auto pull = QObject::connect(&p.transport, &Transport::frameSent, [&] {
            second.stop(); // pulled while the write awaits its reply
        });
        p.op.onBox([&](const RecordingOperator::Box& box) {
            if (box.title == PortTexts::failedTitle())
                QVERIFY(third.start(c));
        });
        p.op.script({MsgAnswer::Reconnect});
        QTest::mouseClick(p.message(0), Qt::LeftButton);
        MessageEditorWindow* editor = p.main().editorWindow();
        QVERIFY(editor);
        child<QLineEdit>(editor, "newTextEdit")->setText("LOST");
        child<QPushButton>(editor, "writeButton")->click();
        QObject::disconnect(pull);
        QCOMPARE(p.op.boxes().last().buttons, MsgButtons::OkReconnect);
        QVERIFY(p.port.isOpen() && p.messages.texts()[0] == "AFTER");
        child<QPushButton>(editor, "writeButton")->click(); // the same text, to the unit back
        QCOMPARE(third.model().message(0), QByteArray("LOST"));
        editor->close();

        // Pulled while idle: the next press, and Units on This Line, offer Reconnect.
        SimThread fourth;
        third.stop();
        QTRY_VERIFY(!p.port.isOpen());
        p.op.clear();
        p.op.onBox({});
        p.button("readAllButton")->click();
        QCOMPARE(p.op.last().title, PortTexts::failedTitle());
        QVERIFY2(p.op.last().text.startsWith("The serial port " + c.linkPath + " is not open"),
                 qPrintable(p.op.last().text));
        QCOMPARE(p.op.last().buttons, MsgButtons::OkReconnect);
        p.op.onBox([&](const RecordingOperator::Box& box) {
            if (box.buttons == MsgButtons::OkReconnect && !fourth.isRunning()) {
                QVERIFY(fourth.start(c));
                fourth.model().setMessage(0, "BACK AGAIN");
            }
        });
        p.op.script({MsgAnswer::Reconnect});
        whenModal<LineUnitsWindow>([&](LineUnitsWindow* w) {
            child<QPushButton>(w, "scanButton")->click();
            QVERIFY(p.op.last().title.startsWith("Units on This Line"));
            QVERIFY(p.port.isOpen()); // reconnected from within the window
            w->reject();
        });
        p.button("lineUnitsButton")->click();
        p.button("readAllButton")->click();
        QCOMPARE(p.message(0)->text(), "BACK AGAIN");
    }

    void findUnitUseAndStop() {
        SimThread sim;
        SimConfig c = quick(7, 4800);
        c.followLineSpeed = true;
        QVERIFY(sim.start(c));
        sim.model().setMessage(0, "FOUND ME");
        Program p({sim.devicePath()});
        p.answerDialogs(-1, true, 1); // 9600: neither the unit's address nor its speed
        QVERIFY(p.start());
        QStringList rows;
        int stoppedAt = -1;
        auto scan = [&](bool stopEarly) {
            whenModal<FindUnitWindow>([&, stopEarly](FindUnitWindow* f) {
                QCOMPARE(f->windowTitle(), "Find Unit on " + sim.devicePath());
                rows << child<QLabel>(f, "estimateLabel")->text();
                child<QSpinBox>(f, "firstSpin")->setValue(5);
                child<QSpinBox>(f, "lastSpin")->setValue(8);
                child<QLineEdit>(f, "speedsEdit")->setText("9600, 4800");
                child<QSpinBox>(f, "waitSpin")->setValue(60);
                auto* startButton = child<QPushButton>(f, "startButton");
                if (stopEarly)
                    connect(child<QProgressBar>(f, "progressBar"), &QProgressBar::valueChanged, f,
                            [&, startButton](int v) {
                                if (v == 3 && stoppedAt < 0) {
                                    stoppedAt = v;
                                    startButton->click();
                                }
                            });
                f->start();
                auto* foundList = child<QTreeWidget>(f, "foundList");
                for (int i = 0; i < foundList->topLevelItemCount(); ++i) {
                    const QTreeWidgetItem* it = foundList->topLevelItem(i);
                    rows << it->text(0) + " " + it->text(1) + " " + it->text(2);
                }
                rows << child<QLabel>(f, "timeLeftLabel")->text();
                if (stopEarly)
                    f->reject();
                else
                    f->use();
            });
            p.button("findUnitButton")->click();
        };
        scan(true);
        QCOMPARE(rows, QStringList({"A full scan of 31 addresses at 3 speeds (93 probes) takes "
                                    "up to 47 s.",
                                    "stopped: 3 probes, 0 found"}));
        QCOMPARE(p.connection.unitAddress, 1);
        rows.clear();
        scan(false);
        QCOMPARE(rows.mid(1), QStringList({"7 4800 FOUND ME", "done: 8 probes, 1 found"}));
        QCOMPARE(p.connection.unitAddress, 7);
        QCOMPARE(p.commsTestUnit(), 7);
        QCOMPARE(p.port.settings().text(), "4800,N,8,1");
        p.button("readAllButton")->click();
        QCOMPARE(p.message(0)->text(), "FOUND ME");
        QVERIFY(p.status().startsWith(sim.devicePath() + ", 4800 baud, unit 7: connected"));
    }

    // A start-up file that does not read ends start-up with its message, before any window.
    void badFileEndsStartup() {
        QTemporaryDir empty;
        Program p({});
        const auto err = runStartup(p.config, p.startup, &readCrcTableFile, empty.path(), 0);
        QVERIFY(err && p.op.count() == 1 && p.op.last().text == err->text());
        QVERIFY(!p.startup.splash() && !p.startup.commsTest() && !p.startup.mainWindow());
    }

    void simulatedUnitChosenAndOpened() {
        SimThread sim;
        QVERIFY(sim.start(quick()));
        Program p({}, false, sim.devicePath());
        const auto shown = [](const QWidget* w) {
            return QString(w && w->isVisible() ? "shown" : "gone");
        };
        // The splash and its second picture stay up through the pause.
        QTimer::singleShot(100, [&] {
            SplashWindow* splash = p.startup.splash();
            p.seen << shown(splash) + ", " +
                          shown(splash ? child<QLabel>(splash, "picture_1") : nullptr);
        });
        p.startup.connections().setOnConnectionDialog([&](ConnectionDialog& dialog) {
            p.seen << shown(p.startup.splash()) << shown(p.startup.commsTest())
                   << QString::number(p.connection.unitAddress);
            QTimer::singleShot(0, &dialog, [&] {
                auto* deviceList = child<QListWidget>(dialog, "deviceList");
                p.seen << deviceList->item(0)->text();
                emit deviceList->itemClicked(deviceList->item(0));
                QTimer::singleShot(0, p.startup.bauds(), [&] { // modal from Select
                    child<QListWidget>(p.startup.bauds(), "speedList")->setCurrentRow(1);
                    p.startup.bauds()->selectClicked();
                });
                dialog.selectClicked();
            });
        });
        QVERIFY(!runStartup(p.config, p.startup, &readCrcTableFile, appFolder(), 150));
        QCOMPARE(p.seen, QStringList({"shown, shown", "gone", "gone", "1",
                                      sim.devicePath() + " (simulated unit)"}));
        QCOMPARE(p.connection.portName(), sim.devicePath());
        QCOMPARE(p.connection.portSettings.value_or(LineSettings{0}).text(), "9600,N,8,1");
        QCOMPARE(p.op.count(), 0);
        // The main window talks to the unit through the port start-up opened.
        sim.model().setMessage(0, "FROM THE UNIT");
        p.button("readAllButton")->click();
        QCOMPARE(p.message(0)->text(), "FROM THE UNIT");
        // The comms test's "Load message form" brings it forward rather than loading another.
        MainWindow* main = p.startup.mainWindow();
        main->hide();
        QTest::mouseClick(child<QPushButton>(p.startup.commsTest(), "loadMessageFormButton"),
                          Qt::LeftButton);
        QVERIFY(p.startup.mainWindow() == main && main->isVisible());
    }
};

QTEST_MAIN(TestConnection)
#include "test_connection.moc"
