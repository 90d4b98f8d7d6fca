// History...: the file's rows as a table, by unit, copied tab-separated.

#include "ui/HistoryDialog.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QTableWidget>
#include <QtTest>

class TestHistoryDialog : public QObject {
    Q_OBJECT
private slots:
    void listsFiltersCopies() {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.csv");
        HistoryFile file(path);
        for (int unit : {3, 1, 3}) {
            SlotChange c;
            c.time = QDateTime(QDate(2024, 5, 1), QTime(9, unit), Qt::UTC);
            c.endpoint = "/dev/ttyS0";
            c.unit = unit;
            c.slot = unit + 1;
            c.terminal = "42-3";
            c.written = QString("TEXT\x1B %1").arg(unit);
            c.result = "written";
            file.record(c);
        }
        QFile cut(path);
        QVERIFY(cut.open(QIODevice::Append));
        cut.write("2024-05-01T09:09:00Z,/dev/ttyS0");
        cut.close();

        HistoryDialog dialog(path);
        auto* table = dialog.findChild<QTableWidget*>("historyTable");
        auto* units = dialog.findChild<QComboBox*>("unitChoice");
        QVERIFY(table && units);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(units->count(), 3); // all units, 1, 3
        QCOMPARE(units->itemText(1), QStringLiteral("Unit 1"));
        QVERIFY(dialog.findChild<QLabel*>() != nullptr);
        dialog.showUnit(3);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(1, 7)->text(), QStringLiteral("TEXT\\x1B 3"));
        table->selectAll();
        dialog.copySelection();
        const QStringList lines =
            QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("2024-05-01T09:03:00Z\t/dev/ttyS0\t\t3\t4\t42-3\t\t"
                                          "TEXT\\x1B 3\twritten"));
        dialog.showUnit(std::nullopt);
        QCOMPARE(table->rowCount(), 3);
        bool damagedSaid = false;
        for (QLabel* l : dialog.findChildren<QLabel*>())
            damagedSaid |= l->text() == QStringLiteral("1 damaged lines skipped");
        QVERIFY(damagedSaid);
    }
};

QTEST_MAIN(TestHistoryDialog)
#include "test_historydialog.moc"
