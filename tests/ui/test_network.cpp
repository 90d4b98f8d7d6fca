// The connection dialog's "Network unit…" entry and its dialog: the address
// goes where a port's name goes, and no speed is asked for.
#include "connect/Connection.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimNetServer.h"
#include "startup/Configuration.h"
#include "support/RecordingOperator.h"
#include "support/WidgetLookup.h"
#include "transport/Transports.h"
#include "ui/ConnectionDialog.h"
#include "ui/FindUnitWindow.h"
#include "ui/LoadedWindows.h"
#include "ui/NetworkUnitDialog.h"

#include <QtTest>
#include <QtWidgets>

class TestNetwork : public QObject {
    Q_OBJECT
private slots:
    // Find Unit on a network unit probes each address through the gateway at its one speed,
    // and Use takes the address without touching the line's speed.
    void findUnitThroughAGateway() {
        SimModel model;
        model.setMessage(0, "SEVEN");
        SimNetServer server(model);
        SimConfig sim;
        sim.unit = 7;
        QVERIFY(server.listen(sim, QHostAddress::LocalHost, 0, false));
        Configuration config;
        config.crcTable = standardCrcTable();
        config.baudRates = {"", "4800,N,8,1", "9600,N,8,1", "19200,N,8,1", ""};
        Connection connection;
        QVERIFY(connection.setPort(server.address()));
        QtSerialPortDevice port;
        port.setPortName(server.address());
        const auto transport = makeTransport(port, config.crcTable, {300, &connection.line});
        RecordingOperator op;
        FindUnitWindow f(config, connection, port, *transport, op);
        child<QSpinBox>(f, "firstSpin")->setValue(6);
        child<QSpinBox>(f, "lastSpin")->setValue(8);
        f.start();
        auto* found = child<QTreeWidget>(f, "foundList");
        QCOMPARE(found->topLevelItemCount(), 1);
        QCOMPARE(found->topLevelItem(0)->text(0) + "|" + found->topLevelItem(0)->text(2),
                 "7|SEVEN");
        QCOMPARE(child<QLabel>(f, "timeLeftLabel")->text(), "done: 3 probes, 1 found");
        QCOMPARE(op.count(), 0);
        found->setCurrentItem(found->topLevelItem(0));
        f.use();
        QVERIFY(f.chosen() && f.chosen()->unit == 7 && f.chosenSettings().isEmpty());
    }

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
        QString opened;
        RecordingOperator op;
        LoadedWindows windows;
        ConnectionDialog dialog([&opened](const QString& p) { return opened = p, true; }, op,
                                windows);
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
            const QLabel* why = child<QLabel>(net, "problemLabel");
            problem = why->text();
            // The reason and the host's example are shown whole, not clipped.
            QCoreApplication::processEvents();
            const QLineEdit* edit = child<QLineEdit>(net, "hostEdit");
            QVERIFY(edit->fontMetrics().horizontalAdvance(edit->placeholderText()) <
                    edit->width() - 8);
            QVERIFY(problem.isEmpty() ||
                    (why->height() >= why->heightForWidth(why->width()) &&
                     net->rect().contains(QRect(why->mapTo(net, QPoint()), why->size()))));
            if (net->isVisible())
                net->reject();
        });
        child<QPushButton>(dialog, "selectButton")->click();
        QCOMPARE(problem.isEmpty(), !address.isEmpty());
        QCOMPARE(opened, address);
        QCOMPARE(dialog.isVisible(), address.isEmpty());
        QVERIFY(op.boxes().isEmpty());
    }
};

QTEST_MAIN(TestNetwork)
#include "test_network.moc"
