// The connection dialog's "Network unit…" entry and its dialog: the address
// goes where a port's name goes, and no speed is asked for.
#include "connect/Connection.h"
#include "connect/OpenPort.h"
#include "startup/Configuration.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedPort.h"
#include "support/WidgetLookup.h"
#include "ui/ConnectionDialog.h"
#include "ui/LoadedWindows.h"
#include "ui/NetworkUnitDialog.h"

#include <QtTest>
#include <QtWidgets>

struct PortAndSpeed : ScriptedPort, SpeedDialog {
    void showModal() override { ++asked; }
    int asked = 0;
};

class TestNetwork : public QObject {
    Q_OBJECT
private slots:
    void networkEntry_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("address"); // empty: refused, the dialog stays
        QTest::newRow("Modbus TCP") << 0 << "gw.plant.local" << 502 << "tcp://gw.plant.local:502";
        QTest::newRow("RTU over TCP, IPv6") << 1 << "::1" << 4001 << "rtu+tcp://[::1]:4001";
        QTest::newRow("bracketed IPv6") << 1 << "[fe80::2]" << 8899 << "rtu+tcp://[fe80::2]:8899";
        QTest::newRow("no host") << 0 << " " << 502 << "";
        QTest::newRow("not a host") << 0 << "gw/1" << 502 << "";
    }
    void networkEntry() {
        QFETCH(int, mode);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, address);
        Connection connection;
        PortAndSpeed serial;
        RecordingOperator op;
        LoadedWindows windows;
        ConnectionDialog dialog(connection, serial, serial, op, windows);
        dialog.setPortLister([](Operator&) { return QStringList{"ttyS0"}; });
        dialog.show();
        QListWidget* list = child<QListWidget>(dialog, "deviceList");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(1)->text(), kNetworkEntryText);
        list->setCurrentRow(1);
        QString problem;
        QTimer::singleShot(0, this, [&] {
            auto* net = qobject_cast<NetworkUnitDialog*>(QApplication::activeModalWidget());
            QVERIFY(net);
            child<QComboBox>(net, "modeBox")->setCurrentIndex(mode);
            child<QLineEdit>(net, "hostEdit")->setText(host);
            child<QSpinBox>(net, "portSpin")->setValue(port);
            child<QDialogButtonBox>(net, "buttons")->button(QDialogButtonBox::Ok)->click();
            problem = child<QLabel>(net, "problemLabel")->text();
            if (net->isVisible())
                net->reject();
        });
        child<QPushButton>(dialog, "selectButton")->click();
        QCOMPARE(problem.isEmpty(), !address.isEmpty());
        QCOMPARE(connection.portName(), address);
        QCOMPARE(dialog.isVisible(), address.isEmpty());
        if (!address.isEmpty())
            QCOMPARE(serial.portName(), address);
        QCOMPARE(serial.asked, 0); // a network unit has no speed
        QVERIFY(op.boxes().isEmpty());
    }
};

QTEST_MAIN(TestNetwork)
#include "test_network.moc"
