// Start-up with the real windows: the splash until the comms-test window
// loads, the connection dialog, the main window, and the end on a bad file.
#include "link/Crc.h"
#include "link/Link.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "startup/StartupSequence.h"
#include "support/RecordingOperator.h"
#include "ui/Frmtext.h"
#include "ui/LoadedWindows.h"
#include "ui/frmBauds.h"
#include "ui/frmMessages.h"
#include "ui/frmSplash.h"

#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString appDir() {
    const QString dir = qEnvironmentVariable("QV_APP_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : dir;
}

bool copyData(const QString& to) {
    for (const char* name : {kFileDataName, kDefaultsName, kCrcTableName}) {
        const QString n = QString::fromLatin1(name);
        if (!QFile::copy(QDir(appDir()).filePath(n), QDir(to).filePath(n)))
            return false;
    }
    return true;
}

void clickRow(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

// The real start-up windows, with a note of what was on screen at each step.
class ObservedStartup : public StartupWindows {
public:
    using StartupWindows::StartupWindows;
    QStringList notes;

    void fillSpeedList(const QStringList& speeds) override {
        notes << QStringLiteral("splash %1, picture 1 %2")
                     .arg(splash() && splash()->isVisible() ? "shown" : "gone",
                          splash() && splash()->Picture1[1]->isVisible() ? "shown" : "hidden");
        StartupWindows::fillSpeedList(speeds);
    }
    void pause(int ms) override {
        notes << QStringLiteral("pause, splash %1").arg(splash() ? "shown" : "gone");
        StartupWindows::pause(ms);
    }
    void loadCommsTest() override {
        StartupWindows::loadCommsTest();
        notes << QStringLiteral("comms test %1, splash %2")
                     .arg(commsTest()->isVisible() ? "shown" : "hidden",
                          splash() ? "shown" : "gone");
    }
};

struct Program {
    SharedState state;
    QtSerialPortDevice port;
    Link link{port};
    RecordingOperator op;
    LoadedWindows windows;
    ObservedStartup startup;
    int endCalls = 0;

    explicit Program(const QString& simulatedPath = {})
        : startup(state, link, op, windows, simulatedPath) {
        startup.setEndProgram([this] { ++endCalls; });
        // No real serial ports in the list: the test machine's are not ours.
        startup.setPortLister([](Operator&) { return QStringList(); });
    }
};

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void cancelInConnectionDialogLeadsToMainWindow() {
        QTemporaryDir dir;
        QVERIFY(copyData(dir.path()));
        Program p;
        QStringList atDialog;
        p.startup.setOnConnectionDialog([&](frmConnectionModems& dialog) {
            atDialog << (p.startup.splash() ? "splash shown" : "splash gone")
                     << (p.startup.commsTest()->isVisible() ? "comms test shown"
                                                            : "comms test hidden")
                     << QString::number(p.state.UnitAddress)
                     << QString::number(p.startup.bauds()->LstBaudRates->count());
            QTimer::singleShot(0, &dialog, [&dialog] { dialog.Command2_Click(); });
        });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!runStartup(p.state, p.startup, &LoadCrcTable, dir.path(), 150));
        QVERIFY(clock.elapsed() >= 150);
        QCOMPARE(p.startup.notes,
                 (QStringList{"splash shown, picture 1 shown", "pause, splash shown",
                              "comms test hidden, splash gone"}));
        QCOMPARE(atDialog, (QStringList{"splash gone", "comms test hidden", "1", "3"}));

        frmMessages* main = p.startup.mainWindow();
        QVERIFY(main);
        QVERIFY(main->isVisible());
        QVERIFY(p.state.PortName.isEmpty());
        QVERIFY(!p.port.isOpen());
        QCOMPARE(main->Label3->text(), QStringLiteral(" 1"));
        for (int k = 0; k < kInterlockCount; ++k)
            QCOMPARE(main->Label1[static_cast<size_t>(k)]->text(),
                     p.state.DefaultMessages[static_cast<size_t>(k)]);
        QCOMPARE(p.op.count(), 0);

        // The comms test's "Load message form" brings the loaded main window
        // forward rather than loading another.
        main->hide();
        QTest::mouseClick(p.startup.commsTest()->SSCommand1, Qt::LeftButton);
        QCOMPARE(p.startup.mainWindow(), main);
        QVERIFY(main->isVisible());
    }

    void missingDefaultsEndsStartup() {
        QTemporaryDir dir;
        QVERIFY(copyData(dir.path()));
        QVERIFY(QFile::remove(QDir(dir.path()).filePath(QString::fromLatin1(kDefaultsName))));
        Program p;
        bool dialogShown = false;
        p.startup.setOnConnectionDialog([&](frmConnectionModems&) { dialogShown = true; });
        const auto err = runStartup(p.state, p.startup, &LoadCrcTable, dir.path(), 0);
        QVERIFY(err);
        QCOMPARE(p.op.count(), 1);
        QVERIFY(p.op.last().text.startsWith(QStringLiteral("Defaults.txt: ")));
        QCOMPARE(p.op.last().text, err->text());
        QCOMPARE(p.op.last().buttons, MsgButtons::Ok);
        QVERIFY(!dialogShown);
        QVERIFY(!p.startup.splash());
        QVERIFY(!p.startup.commsTest());
        QVERIFY(!p.startup.mainWindow());
        QVERIFY(p.state.TerminalNames[0].isEmpty());
        QVERIFY(p.state.DefaultMessages[0].isEmpty());
    }

    void simulatedUnitIsListedFirstAndOpened() {
        SimThread sim;
        SimConfig config;
        config.pacing = false;
        QVERIFY(sim.start(config));
        Program p(sim.devicePath());
        QString firstEntry;
        p.startup.setOnConnectionDialog([&](frmConnectionModems& dialog) {
            QTimer::singleShot(0, &dialog, [&] {
                firstEntry = dialog.ListView1->item(0)->text();
                clickRow(dialog.ListView1, 0);
                // The speed dialog comes up modally from Select.
                QTimer::singleShot(0, p.startup.bauds(), [&] {
                    frmBauds* bauds = p.startup.bauds();
                    for (int row = 0; row < bauds->LstBaudRates->count(); ++row)
                        if (bauds->LstBaudRates->item(row)->text() == QLatin1String("9600,N,8,1"))
                            clickRow(bauds->LstBaudRates, row);
                    bauds->cmdSelect_Click();
                });
                dialog.Command1_Click();
            });
        });
        QVERIFY(!runStartup(p.state, p.startup, &LoadCrcTable, appDir(), 0));
        QVERIFY(firstEntry.contains(sim.devicePath()));
        QVERIFY(firstEntry.contains(QStringLiteral("simulated unit")));
        QCOMPARE(p.state.PortName, sim.devicePath());
        QCOMPARE(p.state.CommSettings, QStringLiteral("9600,N,8,1"));
        QVERIFY(p.port.isOpen());
        QCOMPARE(p.op.count(), 0);

        // The main window talks to the unit through the port start-up opened.
        sim.model().setMessage(0, QByteArrayLiteral("FROM THE UNIT"));
        LinkTiming t;
        t.bulkPauseMs = 2;
        p.link.setTiming(t);
        QTest::mouseClick(p.startup.mainWindow()->cmdReadAll, Qt::LeftButton);
        QCOMPARE(p.startup.mainWindow()->Label1[0]->text(), QStringLiteral("FROM THE UNIT"));
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
