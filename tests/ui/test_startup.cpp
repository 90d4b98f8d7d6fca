// Start-up with the real windows, and its end on a bad configuration file.
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "support/RecordingOperator.h"
#include "support/WidgetLookup.h"
#include "transport/RtuTransport.h"
#include "ui/CommsTestWindow.h"
#include "ui/LineSpeedDialog.h"
#include "ui/LoadedWindows.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"
#include "ui/StartupWindows.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const auto shown = [](const QWidget* w) { return QString(w && w->isVisible() ? "shown" : "gone"); };

struct Program {
    Configuration config;
    Connection connection;
    MessageTable messages;
    QtSerialPortDevice port;
    RtuTransport transport{port, config.crcTable, LinkTiming{500, 80, 30, 2}}; // short bulk pauses
    RecordingOperator op;
    LoadedWindows windows;
    StartupWindows startup;
    QString folder = qEnvironmentVariable("QV_APP_DIR", qApp->applicationDirPath() + "/..");
    explicit Program(const QString& sim = {})
        : startup(config, connection, messages, port, transport, op, windows, sim) {}
};
} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void badFileEndsStartup() {
        QTemporaryDir empty;
        Program p;
        const auto err = runStartup(p.config, p.startup, &LoadCrcTable, empty.path(), 0);
        QVERIFY(err && p.op.count() == 1 && p.op.last().text == err->text());
        QVERIFY(!p.startup.splash() && !p.startup.commsTest() && !p.startup.mainWindow());
    }

    void simulatedUnitChosenAndOpened() {
        SimThread sim;
        SimConfig config;
        config.pacing = false;
        QVERIFY(sim.start(config));
        Program p(sim.devicePath());
        QStringList seen;
        // The splash and its second picture stay up through the pause.
        QTimer::singleShot(100, [&] {
            SplashWindow* splash = p.startup.splash();
            seen << shown(splash) + ", " +
                        shown(splash ? child<QLabel>(splash, "picture_1") : nullptr);
        });
        p.startup.setOnConnectionDialog([&](ConnectionDialog& dialog) {
            seen << shown(p.startup.splash()) << shown(p.startup.commsTest())
                 << QString::number(p.connection.unitAddress);
            QTimer::singleShot(0, &dialog, [&] {
                auto* deviceList = child<QListWidget>(dialog, "deviceList");
                seen << deviceList->item(0)->text();
                emit deviceList->itemClicked(deviceList->item(0));
                QTimer::singleShot(0, p.startup.bauds(), [&] { // modal from Select
                    child<QListWidget>(p.startup.bauds(), "speedList")->setCurrentRow(1);
                    p.startup.bauds()->selectClicked();
                });
                dialog.selectClicked();
            });
        });
        QVERIFY(!runStartup(p.config, p.startup, &LoadCrcTable, p.folder, 150));
        QCOMPARE(seen, QStringList({"shown, shown", "gone", "gone", "1",
                                    sim.devicePath() + " (simulated unit)"}));
        QCOMPARE(p.connection.portName(), sim.devicePath());
        QCOMPARE(p.connection.commSettings, "9600,N,8,1");
        QCOMPARE(p.op.count(), 0);
        // The main window talks to the unit through the port start-up opened.
        MainWindow* main = p.startup.mainWindow();
        sim.model().setMessage(0, "FROM THE UNIT");
        QTest::mouseClick(child<QPushButton>(main, "readAllButton"), Qt::LeftButton);
        QCOMPARE(child<QLabel>(main, "messageLabel_0")->text(), "FROM THE UNIT");
        // The comms test's "Load message form" brings it forward rather than loading another.
        main->hide();
        QTest::mouseClick(child<QPushButton>(p.startup.commsTest(), "loadMessageFormButton"),
                          Qt::LeftButton);
        QVERIFY(p.startup.mainWindow() == main && main->isVisible());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
