// The connection and speed dialogs, the message boxes and the loaded windows.
#include "startup/SharedState.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedPort.h"
#include "ui/LoadedWindows.h"
#include "ui/MessageBoxOperator.h"
#include "ui/frmBauds.h"
#include "ui/frmConnectionModems.h"

#include <QtTest>
#include <QtWidgets>

static bool shownCentredAndFocused(QWidget& w, QWidget* focus) {
    const QPoint off = w.frameGeometry().center() - w.screen()->availableGeometry().center();
    return QTest::qWaitForWindowExposed(&w) && focus->hasFocus() && off.manhattanLength() <= 2;
}

struct PortAndSpeed : ScriptedPort, SpeedDialog {
    void showModal() override {}
};

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void connectionDialog() {
        // Actions (rows clicked, keys, buttons, typing), the choice after each, PortName after.
        const std::array<QString, 3> cases[] = {
            {"3 0 2 Select", "Item4 Item1 Item3 Item3", "ttyS1"},
            {"Right Right End Home Right Return", "Item1 Item2 Network Item1 Item2 Item2", "ttyS0"},
            {"Select Return", " ", "-"}, // nothing chosen: no port, the dialog stays up
            {"Select 0 Select", " Item1 Item1", "/dev/pts/9"},
            {"1 Cancel", "Item2 Item2", ""},
            {"0 Shift+Right Select", "Item1 Item2 Item2", "ttyS0"}, // what is highlighted counts
            {"1 /dev/ttyACM3 Return", "Item2 Other Other", "/dev/ttyACM3"}};
        for (const auto& [actions, expected, port] : cases) {
            SharedState state;
            state.PortName = QStringLiteral("-");
            PortAndSpeed serial;
            RecordingOperator op;
            LoadedWindows windows;
            frmConnectionModems dialog(state, serial, serial, op, windows, "/dev/pts/9");
            dialog.setPortLister([](Operator&) { return QStringList{"ttyS0", "ttyS1", "ttyS2"}; });
            dialog.show();
            QListWidget* list = dialog.ListView1;
            QVERIFY(shownCentredAndFocused(dialog, list) && windows.last() == &dialog);
            QWidget* target = list;
            QStringList items;
            for (const QString& a : actions.split(' ')) {
                if (a.at(0).isDigit())
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                      list->visualItemRect(list->item(a.toInt())).center());
                else if (a == "Select" || a == "Cancel")
                    (a == "Select" ? dialog.Command1 : dialog.Command2)->click();
                else if (a.startsWith('/'))
                    QTest::keyClicks(target = dialog.txtOther, a);
                else
                    QTest::keySequence(target, QKeySequence(a));
                items << dialog.choice().SelectedKey;
            }
            QCOMPARE(items.join(' '), expected);
            const bool up = port == "-";
            QCOMPARE(state.PortName, port);
            QCOMPARE(serial.portName(), up || port.isEmpty() ? "scripted" : port);
            QVERIFY(dialog.isVisible() == up && windows.contains(&dialog) == up);
        }
    }

    void speedDialog() {
        SharedState state;
        state.BaudRates = {"", "4800,N,8,1", "9600,N,8,1", "19200,N,8,1", ""};
        LoadedWindows windows;
        frmBauds dialog(state, windows);
        dialog.fillSpeedList({"4800,N,8,1", "9600,N,8,1", "19200,N,8,1"});
        dialog.show();
        QVERIFY(shownCentredAndFocused(dialog, dialog.LstBaudRates) && windows.last() == &dialog);
        QTest::keySequence(dialog.LstBaudRates, QKeySequence("Down, Down"));
        dialog.close(); // through the frame: the settings stay as they were
        QVERIFY(state.CommSettings.isEmpty() && !windows.contains(&dialog));
        dialog.show();
        QTest::keyClick(dialog.LstBaudRates, Qt::Key_Return);
        QVERIFY(state.CommSettings == "9600,N,8,1" && !dialog.isVisible());
    }

    void loadedWindows() {
        LoadedWindows windows;
        windows.centerForm(); // nothing loaded: nothing to do
        QWidget first, second, *third = new QWidget;
        for (QWidget* w : {&first, &second, third})
            windows.loaded(w);
        delete third;           // destroyed windows leave the collection
        windows.loaded(&first); // loaded again: now the last one
        QCOMPARE(windows.windows(), QList<QWidget*>({&second, &first}));
    }

    void messageBoxes() {
        // Icon, title, buttons, the one to press, the box's icon; no title: the program's.
        const std::tuple<MsgIcon, QString, MsgButtons, bool, QMessageBox::Icon> cases[] = {
            {MsgIcon::None, "", MsgButtons::Ok, true, QMessageBox::NoIcon},
            {MsgIcon::Exclamation, "Warn", MsgButtons::OkCancel, true, QMessageBox::Warning},
            {MsgIcon::Question, "Ask", MsgButtons::OkCancel, false, QMessageBox::Question}};
        const QString text = QStringLiteral("Error  5 detected 0\n<b>/dev/ttyS0</b>");
        for (const auto& [icon, title, buttons, pressOk, boxIcon] : cases) {
            QVariantList seen;
            QTimer::singleShot(0, this, [&, ok = pressOk] {
                auto* b = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(b);
                seen << b->text() << b->windowTitle() << b->icon() << b->buttons().size();
                b->button(ok ? QMessageBox::Ok : QMessageBox::Cancel)->click();
            });
            seen << (MessageBoxOperator().message(text, title, icon, buttons) == MsgAnswer::Ok);
            QCOMPARE(seen, QVariantList({text, title.isEmpty() ? kProgramTitle : title, boxIcon,
                                         buttons == MsgButtons::Ok ? 1 : 2, pressOk}));
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
