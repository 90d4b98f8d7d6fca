// Start-up with the real windows, and its end on a bad configuration file.
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "support/RecordingOperator.h"
#include "transport/RtuTransport.h"
#include "ui/Frmtext.h"
#include "ui/LoadedWindows.h"
#include "ui/StartupWindows.h"
#include "ui/frmBauds.h"
#include "ui/frmMessages.h"
#include "ui/frmSplash.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const auto shown = [](const QWidget* w) { return QString(w && w->isVisible() ? "shown" : "gone"); };

struct Program {
    SharedState state;
    QtSerialPortDevice port;
    RtuTransport transport{port, state.CrcTable, LinkTiming{500, 80, 30, 2}}; // short bulk pauses
    RecordingOperator op;
    LoadedWindows windows;
    StartupWindows startup;
    QString folder = qEnvironmentVariable("QV_APP_DIR", qApp->applicationDirPath() + "/..");
    explicit Program(const QString& sim = {}) : startup(state, port, transport, op, windows, sim) {}
};
} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void badFileEndsStartup() {
        QTemporaryDir empty;
        Program p;
        const auto err = runStartup(p.state, p.startup, &LoadCrcTable, empty.path(), 0);
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
            frmSplash* splash = p.startup.splash();
            seen << shown(splash) + ", " + shown(splash ? splash->Picture1[1] : nullptr);
        });
        p.startup.setOnConnectionDialog([&](frmConnectionModems& dialog) {
            seen << shown(p.startup.splash()) << shown(p.startup.commsTest())
                 << QString::number(p.state.UnitAddress);
            QTimer::singleShot(0, &dialog, [&] {
                seen << dialog.ListView1->item(0)->text();
                emit dialog.ListView1->itemClicked(dialog.ListView1->item(0));
                QTimer::singleShot(0, p.startup.bauds(), [&] { // modal from Select
                    p.startup.bauds()->LstBaudRates->setCurrentRow(1);
                    p.startup.bauds()->cmdSelect_Click();
                });
                dialog.Command1_Click();
            });
        });
        QVERIFY(!runStartup(p.state, p.startup, &LoadCrcTable, p.folder, 150));
        QCOMPARE(seen, QStringList({"shown, shown", "gone", "gone", "1",
                                    sim.devicePath() + " (simulated unit)"}));
        QCOMPARE(p.state.PortName, sim.devicePath());
        QCOMPARE(p.state.CommSettings, "9600,N,8,1");
        QCOMPARE(p.op.count(), 0);
        // The main window talks to the unit through the port start-up opened.
        frmMessages* main = p.startup.mainWindow();
        sim.model().setMessage(0, "FROM THE UNIT");
        QTest::mouseClick(main->cmdReadAll, Qt::LeftButton);
        QCOMPARE(main->Label1[0]->text(), "FROM THE UNIT");
        // The comms test's "Load message form" brings it forward rather than loading another.
        main->hide();
        QTest::mouseClick(p.startup.commsTest()->SSCommand1, Qt::LeftButton);
        QVERIFY(p.startup.mainWindow() == main && main->isVisible());
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
