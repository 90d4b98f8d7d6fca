// The connection, network unit and speed dialogs, message boxes, loaded windows and history.
#include "connect/Connection.h"
#include "startup/Configuration.h"
#include "support/Files.h"
#include "support/PtyPeer.h"
#include "support/RecordingOperator.h"
#include "support/WidgetLookup.h"
#include "support/WindowSteps.h"
#include "ui/ConnectionDialog.h"
#include "ui/HistoryDialog.h"
#include "ui/LineSpeedDialog.h"
#include "ui/LoadedWindows.h"
#include "ui/MessageBoxOperator.h"
#include "ui/NetworkUnitDialog.h"

#include <QtTest>
#include <QtWidgets>
#include <unistd.h>

static bool shownCentredAndFocused(QWidget& w, QWidget* focus) {
    const QPoint off = w.frameGeometry().center() - w.screen()->availableGeometry().center();
    return QTest::qWaitForWindowExposed(&w) && focus->hasFocus() && off.manhattanLength() <= 2;
}

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void connectionDialog() {
        // Actions (rows clicked, keys, buttons, typing), the choice after each, the port handed
        // to the opener ("-": none, the dialog stays; "": Cancel), the port preferred.
        const std::array<QString, 4> cases[] = {
            {"3 0 2 Select", "Item4 Item1 Item3 Item3", "ttyS1", ""},
            {"Right Right End Home Right Return", "Item2 Item3 Network Item1 Item2 Item2", "ttyS0",
             ""},
            {"/x Backspace Backspace Select", "Other Other Other Other", "-", ""}, // it stays
            {"Return", "Item1", "/dev/pts/9", ""},
            {"Return", "Item3", "ttyS1", "ttyS1"},
            {"Return", "Item1", "/dev/pts/9", "ttyS7"},    // not listed: the first entry
            {"Return", "Other", "/dev/null", "/dev/null"}, // typed last time, still there
            {"1 Cancel", "Item2 Item2", ""},
            {"0 Shift+Right Select", "Item1 Item2 Item2", "ttyS0"}, // what is highlighted counts
            {"1 /dev/ttyACM3 Return", "Item2 Other Other", "/dev/ttyACM3"}};
        for (const auto& [actions, expected, port, preferred] : cases) {
            QString opened = "-";
            RecordingOperator op;
            LoadedWindows windows;
            ConnectionDialog dialog([&opened](const QString& p) { return opened = p, true; }, op,
                                    windows, "/dev/pts/9");
            dialog.setPortLister([](Operator&) { return QStringList{"ttyS0", "ttyS1", "ttyS2"}; });
            dialog.setPreferredPort(preferred);
            dialog.show();
            QListWidget* list = child<QListWidget>(dialog, "deviceList");
            QWidget* target = preferred.startsWith('/') ? child<QLineEdit>(dialog, "otherEdit")
                                                        : static_cast<QWidget*>(list);
            QVERIFY(shownCentredAndFocused(dialog, target) && windows.last() == &dialog);
            QStringList items;
            for (const QString& a : actions.split(' ')) {
                if (a.at(0).isDigit())
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                      list->visualItemRect(list->item(a.toInt())).center());
                else if (a == "Select" || a == "Cancel")
                    child<QPushButton>(dialog, a == "Select" ? "selectButton" : "cancelButton")
                        ->click();
                else if (a.startsWith('/'))
                    QTest::keyClicks(target = child<QLineEdit>(dialog, "otherEdit"), a);
                else
                    QTest::keySequence(target, QKeySequence(a));
                items << dialog.choice().SelectedKey;
            }
            QCOMPARE(items.join(' '), expected);
            const bool up = port == "-";
            QCOMPARE(opened, port.isEmpty() ? "-" : port);
            QVERIFY(dialog.isVisible() == up && windows.contains(&dialog) == up);
        }
    }

    // The pseudo-terminal used last time (now another program's) is offered in the "Other
    // device" line but not chosen: Return takes the simulated unit listed first.
    void lastPseudoTerminalOnlyOffered() {
        int master = -1, slave = -1;
        QString pty, error;
        QVERIFY2(openRawPty(master, slave, pty, error), qPrintable(error));
        QString opened = "-";
        RecordingOperator op;
        LoadedWindows windows;
        ConnectionDialog dialog([&opened](const QString& p) { return opened = p, true; }, op,
                                windows, "/dev/pts/9999");
        dialog.setPortLister([](Operator&) { return QStringList{"ttyS0"}; });
        dialog.setPreferredPort(pty);
        dialog.show();
        QListWidget* list = child<QListWidget>(dialog, "deviceList");
        QVERIFY(shownCentredAndFocused(dialog, list));
        QCOMPARE(child<QLineEdit>(dialog, "otherEdit")->text(), pty);
        QTest::keyClick(list, Qt::Key_Return);
        ::close(master);
        ::close(slave);
        QCOMPARE(opened, "/dev/pts/9999");
    }

    // The "Network unit…" entry: its address goes where a port's name goes, with no speed.
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
        child<QListWidget>(dialog, "deviceList")->setCurrentRow(1);
        QString problem;
        whenModal<NetworkUnitDialog>([&](NetworkUnitDialog* net) {
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

    void speedDialog() {
        Configuration config;
        Connection connection;
        config.baudRates = {"", "4800,N,8,1", "9600,N,8,1", "19200,N,8,1", ""};
        LoadedWindows windows;
        LineSpeedDialog dialog(connection, config, windows);
        dialog.fillSpeedList({"4800,N,8,1", "9600,N,8,1", "19200,N,8,1"});
        auto* speedList = child<QListWidget>(dialog, "speedList");
        auto* directionBox = child<QComboBox>(dialog, "directionBox");
        auto* echoBox = child<QComboBox>(dialog, "echoBox");
        auto* pauseSpin = child<QSpinBox>(dialog, "pauseSpin");
        auto* retriesSpin = child<QSpinBox>(dialog, "retriesSpin");
        dialog.show();
        QVERIFY(shownCentredAndFocused(dialog, speedList) && windows.last() == &dialog);
        QTest::keySequence(speedList, QKeySequence("Down, Down"));
        retriesSpin->setValue(2);
        dialog.close(); // through the frame: the settings and the line stay as they were
        QVERIFY(!connection.portSettings && !windows.contains(&dialog));
        QCOMPARE(connection.line.retries, 0);
        // Escape and Cancel back out as the frame does; showModal says so.
        for (const QString how : {"Escape", "Cancel"}) {
            QTimer::singleShot(0, &dialog, [&, how] {
                QTest::keySequence(speedList, QKeySequence("Down"));
                pauseSpin->setValue(10);
                if (how == "Escape")
                    QTest::keyClick(speedList, Qt::Key_Escape);
                else
                    child<QPushButton>(dialog, "cancelButton")->click();
            });
            QVERIFY(!dialog.showModal() && !dialog.isVisible());
            QVERIFY(!connection.portSettings &&
                    connection.line.pauseMs == LineOptions::kDefaultPauseMs);
        }
        QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(speedList, Qt::Key_Return); });
        QVERIFY(dialog.showModal());
        connection.portSettings.reset();
        dialog.show();
        QCOMPARE(retriesSpin->value(), 0);
        // The line settings go with the speed, and come back the next time.
        directionBox->setCurrentIndex(directionBox->findData(int(Direction::Adapter)));
        echoBox->setCurrentIndex(echoBox->findData(int(EchoMode::On)));
        pauseSpin->setValue(120);
        retriesSpin->setValue(3);
        child<QCheckBox>(dialog, "verifyCheck")->setChecked(true);
        auto* blockReadsBox = child<QComboBox>(dialog, "blockReadsBox");
        blockReadsBox->setCurrentIndex(blockReadsBox->findData(int(BlockReads::Auto)));
        QTest::keyClick(speedList, Qt::Key_Return); // 9600 comes preselected
        QVERIFY(connection.portSettings->text() == "9600,N,8,1" && !dialog.isVisible());
        QVERIFY(connection.line.direction == Direction::Adapter &&
                connection.line.echo == EchoMode::On && connection.line.pauseMs == 120 &&
                connection.line.retries == 3 && connection.line.verify &&
                connection.line.blockReads == BlockReads::Auto);
        connection.portSettings = LineSettings{19200};
        dialog.show(); // then the speed chosen last, and the line as it was taken
        QCOMPARE(speedList->currentItem()->text(), "19200,N,8,1");
        QCOMPARE(pauseSpin->value() + retriesSpin->value(), 123);
    }

    void loadedWindows() {
        LoadedWindows windows;
        QWidget first, second, *third = new QWidget;
        for (QWidget* w : {&first, &second, third})
            windows.loaded(w);
        delete third;           // destroyed windows leave the collection
        windows.loaded(&first); // loaded again: now the last one
        QCOMPARE(windows.windows(), QList<QWidget*>({&second, &first}));
    }

    void messageBoxes() {
        // Icon, title, buttons, the key or button to press, the box's icon and buttons, the answer;
        // no title: the program's. Yes/No defaults to No; Ignore All is the third button.
        using A = MsgAnswer;
        using B = MsgButtons;
        using I = MsgIcon;
        using Q = QMessageBox;
        const std::tuple<MsgIcon, QString, MsgButtons, QString, Q::Icon, int, A> cases[] = {
            {I::None, "", B::Ok, "Return", Q::NoIcon, 1, A::Ok},
            {I::Exclamation, "Warn", B::OkCancel, "Return", Q::Warning, 2, A::Ok},
            {I::Question, "Ask", B::OkCancel, "Esc", Q::Question, 2, A::Cancel},
            {I::Question, "Ask", B::YesNo, "Return", Q::Question, 2, A::Cancel},
            {I::Question, "Ask", B::YesNo, "Yes", Q::Question, 2, A::Ok},
            // The Communication Fault box bears the warning icon.
            {I::Exclamation, "Communication Fault", B::OkCancelIgnoreAll, "Ignore All", Q::Warning,
             3, A::IgnoreAll},
            {I::Critical, "Failure", B::OkReconnect, "Reconnect", Q::Critical, 2, A::Reconnect},
            // Return and Escape on a failure box are the harmless Ok, never Reconnect.
            {I::Critical, "Failure", B::OkReconnect, "Return", Q::Critical, 2, A::Ok},
            {I::Critical, "Failure", B::OkReconnect, "Esc", Q::Critical, 2, A::Ok}};
        const QString text = QStringLiteral("Error  5 detected 0\n<b>/dev/ttyS0</b>");
        for (const auto& [icon, title, buttons, key, boxIcon, count, answer] : cases) {
            QVariantList seen;
            whenModal<QMessageBox>([&, k = key](QMessageBox* b) {
                seen << b->text() << b->windowTitle() << b->icon() << b->buttons().size();
                for (QAbstractButton* button : b->buttons())
                    if (button->text().remove('&') == k)
                        return button->click();
                QTest::keySequence(b, QKeySequence(k));
            });
            seen << int(MessageBoxOperator().message(text, title, icon, buttons));
            QCOMPARE(seen, QVariantList({text, title.isEmpty() ? kProgramTitle : title, boxIcon,
                                         count, int(answer)}));
        }
    }

    // History...: the file's rows as a table, by unit, copied tab-separated.
    void historyDialog() {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.csv");
        HistoryFile file(path);
        for (int i = 0; i < 3; ++i) { // the last sent, killed while the unit answered
            const int unit = i == 1 ? 1 : 3;
            file.record({QDateTime(QDate(2024, 5, 1), QTime(9, unit), Qt::UTC), "/dev/ttyS0",
                         QString(), unit, unit + 1, "42-3", QString(),
                         QString("TEXT\x1B %1").arg(unit), i < 2 ? "written" : "sent"});
        }
        QVERIFY(putFile(path, fileBytes(path) + "2024-05-01T09:09:00Z,/dev/ttyS0")); // cut short
        HistoryDialog dialog(path);
        auto* table = child<QTableWidget>(dialog, "historyTable");
        auto* units = child<QComboBox>(dialog, "unitChoice");
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(units->count(), 3); // all units, 1, 3
        QCOMPARE(units->itemText(1), QStringLiteral("Unit 1"));
        dialog.showUnit(3);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(1, 7)->text() + "|" + table->item(1, 8)->text(),
                 "TEXT\\x1B 3|sent, no outcome recorded");
        QVERIFY(table->item(1, 8)->toolTip().contains("may hold the text before or"));
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

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
