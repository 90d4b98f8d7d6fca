// Units on This Line against a simulated line of units 3 to 5: Scan lists
// them, a double-click makes one the unit of every window, Back Up All saves
// them, and Restore All asks first, naming only the unit it will change.

#include "connect/Connection.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "startup/ConfigFiles.h"
#include "support/RecordingOperator.h"
#include "support/WidgetLookup.h"
#include "transport/RtuTransport.h"
#include "ui/LineUnitsWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

class TestLineUnitsWindow : public QObject {
    Q_OBJECT
private slots:
    void scanChooseBackUpRestore() {
        SimThread sim;
        sim.line().setUnits(3, 5);
        for (int unit : {3, 4, 5})
            sim.line().unit(unit)->setMessage(0, QByteArray("UNIT ") + QByteArray::number(unit));
        SimConfig fast;
        fast.baud = 115200;
        QVERIFY(sim.start(fast));
        QtSerialPortDevice port;
        port.setPortName(sim.devicePath());
        QVERIFY(port.open().ok && port.setSettings("115200,N,8,1").ok);
        const CrcTableArray crc = standardCrcTable();
        RtuTransport transport(port, crc, LinkTiming{100, 20, 30, 2, 1, 5});
        TextTable defaults;
        QVERIFY(!readDefaults(qEnvironmentVariable("QV_APP_DIR"), defaults));
        MessageTable startup;
        startup.reset(defaults, defaults);
        RecordingOperator op;
        Connection connection;
        QTemporaryDir dir;
        LineUnitsWindow window(transport, op, startup, connection);
        window.setFolderChooser([&](const QString&, const QString&) { return dir.path(); });
        window.show();

        // Back Up All waits for a list; Scan makes it.
        QVERIFY(!child<QPushButton>(window, "backUpAllButton")->isEnabled());
        child<QPushButton>(window, "scanButton")->click();
        QCOMPARE(window.units(), (QVector<int>{3, 4, 5}));
        auto* list = child<QTreeWidget>(window, "unitList");
        QCOMPARE(list->topLevelItem(1)->text(1), "UNIT 4");
        QSignalSpy chosen(&window, &LineUnitsWindow::unitChosen);
        emit list->itemDoubleClicked(list->topLevelItem(1), 0);
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(chosen.first().first().toInt(), 4);

        child<QPushButton>(window, "backUpAllButton")->click();
        QCOMPARE(op.last().text, "Back Up All: 3 of 3 units saved.");
        QCOMPARE(list->topLevelItem(2)->text(3), "saved");
        QVERIFY(QFile::exists(dir.filePath("unit-05.sav")));

        // Unit 5 changed: Restore All reads first and names only unit 5.
        sim.line().unit(5)->setMessage(0, "CHANGED");
        op.clear();
        op.script({MsgAnswer::Cancel}); // No
        child<QPushButton>(window, "restoreAllButton")->click();
        QCOMPARE(op.count(), 1);
        QVERIFY2(op.last().text.startsWith("Restore unit 5 from ") &&
                     op.last().buttons == MsgButtons::YesNo,
                 qPrintable(op.last().text));
        QCOMPARE(sim.line().unit(5)->message(0), QByteArray("CHANGED"));
        QCOMPARE(list->topLevelItem(2)->childCount(), 1); // the slot that differs, in the row
        QVERIFY(
            list->topLevelItem(2)->child(0)->text(0).startsWith("interlock L1-40: on the unit"));
        child<QPushButton>(window, "restoreAllButton")->click(); // Yes
        QCOMPARE(sim.line().unit(5)->message(0), QByteArray("UNIT 5"));
        QCOMPARE(list->topLevelItem(2)->text(3), "1 written, 0 erased, 19 unchanged");
        QVERIFY(child<QPushButton>(window, "closeButton")->isEnabled());
    }
};

QTEST_MAIN(TestLineUnitsWindow)
#include "test_lineunitswindow.moc"
