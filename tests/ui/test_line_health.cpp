// The Line Health window over a simulated unit that answers with another address: the counters
// of any operation show live, Check names the fault, Save Report writes it, Reset clears them.

#include "diag/LineCounters.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "sim/SimUnit.h"
#include "support/Files.h"
#include "support/WidgetLookup.h"
#include "transport/Transports.h"
#include "ui/LineHealthWindow.h"

#include <QtTest>
#include <QtWidgets>

class TestLineHealth : public QObject {
    Q_OBJECT
private slots:
    void window() {
        SimConfig cfg;
        cfg.faults.replyAs = 9;
        SimUnit sim;
        QVERIFY(sim.start(cfg));
        QtSerialPortDevice port;
        port.setPortName(sim.devicePath());
        QVERIFY(port.open().ok);
        const CrcTableArray crc = standardCrcTable();
        LineOptions line;
        line.pauseMs = 50;
        const auto transport = makeTransport(port, crc, {0, &line});
        LineCounters counters;
        transport->setObserver(&counters);
        LineHealthWindow w(*transport, &port, counters, line, 1);
        QTemporaryDir dir;
        const QString report = dir.filePath("report.txt");
        w.setFileChooser([&report](const QString&) { return report; });
        w.show();
        auto* table = child<QTableWidget>(w, "countersTable");
        QCOMPARE(table->rowCount(), 0);

        // Another operation's request counts at once.
        transport->transact(1, Pdu::readMessage(400));
        w.refresh();
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, 7)->text(), QString("1")); // from another unit

        child<QSpinBox>(w, "countSpinner")->setValue(3);
        child<QPushButton>(w, "checkButton")->click();
        const QString findings = child<QPlainTextEdit>(w, "findingsText")->toPlainText();
        QVERIFY2(findings.contains("other-unit\tunit 1\t3 of 3 replies carried address 9"),
                 qPrintable(findings));
        QCOMPARE(table->item(0, 1)->text(), QString("4")); // the check's reads count too

        child<QPushButton>(w, "saveReportButton")->click();
        const QString text = QString::fromUtf8(fileBytes(report));
        QVERIFY(text.contains("== findings\nother-unit\tunit 1"));
        QVERIFY(text.contains("TX 01 03 01 90 00 14 44 14  | unit 1, read 20 registers from 400"));
        if (const QString shot = qEnvironmentVariable("QV_SCREENSHOT"); !shot.isEmpty())
            w.grab().save(shot);

        child<QPushButton>(w, "resetButton")->click();
        QCOMPARE(table->rowCount(), 0);
        transport->setObserver(nullptr);
    }
};

QTEST_MAIN(TestLineHealth)
#include "test_line_health.moc"
