// The connection and speed dialogs, the message boxes and the collection of
// loaded windows, on the offscreen platform.

#include "startup/SharedState.h"
#include "support/RecordingOperator.h"
#include "support/ScriptedPort.h"
#include "ui/LoadedWindows.h"
#include "ui/MessageBoxOperator.h"
#include "ui/frmBauds.h"
#include "ui/frmConnectionModems.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {
class CountingSpeedDialog : public SpeedDialog {
public:
    explicit CountingSpeedDialog(SharedState& s) : state(s) {}
    void showModal() override {
        ++shown;
        state.CommSettings = QStringLiteral("19200,N,8,1");
    }
    SharedState& state;
    int shown = 0;
};

// One connection dialog with its collaborators, listing the given ports.
struct ConnectionFixture {
    explicit ConnectionFixture(const QStringList& ports, const QString& simulated = {})
        : speed(state), dialog(state, port, speed, op, windows, simulated) {
        port.close();
        dialog.setPortLister([ports](Operator&) { return ports; });
    }
    bool show() {
        dialog.show();
        return QTest::qWaitForWindowExposed(&dialog);
    }
    void click(int row) {
        QListWidget* list = dialog.ListView1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
    SharedState state;
    ScriptedPort port;
    CountingSpeedDialog speed;
    RecordingOperator op;
    LoadedWindows windows;
    frmConnectionModems dialog;
};

void fillSpeeds(SharedState& state, frmBauds& dialog, const QStringList& speeds) {
    for (int i = 0; i < speeds.size(); ++i)
        state.BaudRates[std::size_t(i + 1)] = speeds[i];
    dialog.fillSpeedList(speeds);
}

bool centred(const QWidget& w) {
    const QRect screen = w.screen()->availableGeometry();
    const QPoint off = w.frameGeometry().center() - screen.center();
    return qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1;
}
} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void captions();
    void listsPortsWithKeysAndIcon();
    void lastClickCounts();
    void keyboardChoosesAndEnterSelects();
    void selectWithoutChoiceDoesNothing();
    void cancelLeavesWithoutPort();
    void typedDevicePath();
    void speedDialogResult_data();
    void speedDialogResult();
    void loadedWindowsCentreTheLastLoaded();
    void messageBoxes_data();
    void messageBoxes();
};

void TestDialogs::captions() {
    ConnectionFixture f({});
    QCOMPARE(f.dialog.windowTitle(), QStringLiteral("Connection configuration"));
    QCOMPARE(f.dialog.Label2->text(), QStringLiteral("Please choose connection device"));
    QCOMPARE(f.dialog.Command1->text(), QStringLiteral("&Select"));
    QCOMPARE(f.dialog.Command2->text(), QStringLiteral("&Cancel"));
    QCOMPARE(f.dialog.lblOther->text(), QStringLiteral("Other device:"));

    SharedState state;
    LoadedWindows windows;
    frmBauds bauds(state, windows);
    QCOMPARE(bauds.windowTitle(), QStringLiteral("Serial Communication Speed"));
    QCOMPARE(bauds.Label1->text(), QStringLiteral("Please choose proper baud rate. "));
    QCOMPARE(bauds.cmdSelect->text(), QStringLiteral("&Select"));
}

void TestDialogs::listsPortsWithKeysAndIcon() {
    ConnectionFixture f({"ttyS0", "ttyUSB0"}, "/dev/pts/9");
    QVERIFY(f.show());
    QListWidget* list = f.dialog.ListView1;
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), QStringLiteral("/dev/pts/9 (simulated unit)"));
    QCOMPARE(list->item(2)->text(), QStringLiteral("ttyUSB0"));
    const PortEntries& entries = f.dialog.choice().entries();
    QCOMPARE(entries.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(entries[i].Key, QStringLiteral("Item%1").arg(i + 1));
        QCOMPARE(entries[i].Text, list->item(i)->text());
        QCOMPARE(list->item(i)->icon().availableSizes().value(0), QSize(32, 32));
    }
    QCOMPARE(list->iconSize(), QSize(32, 32));
    QVERIFY(list->hasFocus());
    QCOMPARE(f.windows.last(), &f.dialog);
    QVERIFY(centred(f.dialog));
}

void TestDialogs::lastClickCounts() {
    ConnectionFixture f({"ttyS0", "ttyS1", "ttyUSB0"});
    QVERIFY(f.show());
    f.click(2);
    f.click(0);
    f.click(1);
    QCOMPARE(f.dialog.choice().SelectedKey, QStringLiteral("Item2"));
    QTest::mouseClick(f.dialog.Command1, Qt::LeftButton);

    QCOMPARE(f.state.PortName, QStringLiteral("ttyS1"));
    QVERIFY(!f.dialog.isVisible());
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
    QVERIFY(!f.windows.contains(&f.dialog));
    QCOMPARE(f.speed.shown, 1);
    QCOMPARE(f.port.portName(), QStringLiteral("ttyS1"));
    QCOMPARE(f.port.settings(), QStringLiteral("19200,N,8,1"));
    QVERIFY(f.port.isOpen());
    QCOMPARE(f.op.count(), 0);
}

void TestDialogs::keyboardChoosesAndEnterSelects() {
    ConnectionFixture f({"ttyS0", "ttyS1", "ttyS2", "ttyS3"});
    QVERIFY(f.show());
    QListWidget* list = f.dialog.ListView1;
    QVERIFY(list->hasFocus());
    // Taking the focus alone chooses nothing.
    QCOMPARE(f.dialog.choice().SelectedKey, QString());

    QTest::keyClick(list, Qt::Key_Right);
    QCOMPARE(f.dialog.choice().SelectedKey, QStringLiteral("Item1"));
    QTest::keyClick(list, Qt::Key_Right);
    QCOMPARE(f.dialog.choice().SelectedKey, QStringLiteral("Item2"));
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(f.dialog.choice().SelectedKey, QStringLiteral("Item4"));
    QTest::keyClick(list, Qt::Key_Home);
    QCOMPARE(f.dialog.choice().SelectedKey, QStringLiteral("Item1"));
    QTest::keyClick(list, Qt::Key_Right);
    QCOMPARE(list->currentItem(), list->item(1));
    QVERIFY(list->item(1)->isSelected());

    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(f.state.PortName, QStringLiteral("ttyS1"));
    QVERIFY(!f.dialog.isVisible());
    QCOMPARE(f.speed.shown, 1);
}

void TestDialogs::selectWithoutChoiceDoesNothing() {
    ConnectionFixture f({"ttyS0"});
    f.state.PortName = QStringLiteral("before");
    QVERIFY(f.show());
    QTest::mouseClick(f.dialog.Command1, Qt::LeftButton);
    QTest::keyClick(f.dialog.ListView1, Qt::Key_Return);
    QVERIFY(f.dialog.isVisible());
    QCOMPARE(f.state.PortName, QStringLiteral("before"));
    QCOMPARE(f.speed.shown, 0);
    QCOMPARE(f.port.portName(), QStringLiteral("scripted"));

    // The dialog is still there for a choice.
    f.click(0);
    QTest::mouseClick(f.dialog.Command1, Qt::LeftButton);
    QCOMPARE(f.state.PortName, QStringLiteral("ttyS0"));
}

void TestDialogs::cancelLeavesWithoutPort() {
    ConnectionFixture f({"ttyS0", "ttyS1"});
    f.state.PortName = QStringLiteral("ttyS9");
    QVERIFY(f.show());
    f.click(1);
    QTest::mouseClick(f.dialog.Command2, Qt::LeftButton);
    QCOMPARE(f.state.PortName, QString());
    QVERIFY(!f.dialog.isVisible());
    QCOMPARE(f.dialog.result(), int(QDialog::Rejected));
    QCOMPARE(f.speed.shown, 0);
    QVERIFY(!f.port.isOpen());
    QCOMPARE(f.port.portName(), QStringLiteral("scripted"));
    QVERIFY(!f.windows.contains(&f.dialog));
}

void TestDialogs::typedDevicePath() {
    ConnectionFixture f({"ttyS0"});
    QVERIFY(f.show());
    f.click(0);
    QTest::keyClicks(f.dialog.txtOther, " /dev/ttyACM3 ");
    QVERIFY(f.dialog.ListView1->selectedItems().isEmpty());
    QTest::keyClick(f.dialog.txtOther, Qt::Key_Return);
    QCOMPARE(f.state.PortName, QStringLiteral("/dev/ttyACM3"));
    QCOMPARE(f.port.portName(), QStringLiteral("/dev/ttyACM3"));
}

void TestDialogs::speedDialogResult_data() {
    QTest::addColumn<QStringList>("speeds");
    QTest::addColumn<QList<int>>("keys"); // pressed in the list before Select
    QTest::addColumn<QString>("settings");
    const QStringList usual{"4800,N,8,1", "9600,N,8,1", "19200,N,8,1"};
    QTest::newRow("second entry") << usual << QList<int>{Qt::Key_Down, Qt::Key_Down}
                                  << "9600,N,8,1";
    QTest::newRow("nothing selected") << usual << QList<int>{} << "4800,N,8,1";
    QTest::newRow("unknown speed") << QStringList{"2400,N,8,1", "9600,N,8,1", "1200,N,8,1"}
                                   << QList<int>{Qt::Key_Home} << "4800,N,8,1";
}

void TestDialogs::speedDialogResult() {
    QFETCH(QStringList, speeds);
    QFETCH(QList<int>, keys);
    QFETCH(QString, settings);
    SharedState state;
    state.CommSettings = QStringLiteral("before");
    LoadedWindows windows;
    frmBauds dialog(state, windows);
    fillSpeeds(state, dialog, speeds);
    QCOMPARE(dialog.LstBaudRates->count(), speeds.size());

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.LstBaudRates->hasFocus());
    QCOMPARE(windows.last(), &dialog);
    QVERIFY(centred(dialog));
    for (int key : keys)
        QTest::keyClick(dialog.LstBaudRates, Qt::Key(key));
    QTest::keyClick(dialog.LstBaudRates, Qt::Key_Return);
    QCOMPARE(state.CommSettings, settings);
    QVERIFY(!dialog.isVisible());
    QVERIFY(!windows.contains(&dialog));

    // Closed through the frame, the settings stay as they were.
    state.CommSettings = QStringLiteral("kept");
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(dialog.LstBaudRates, Qt::Key_End);
    dialog.close();
    QCOMPARE(state.CommSettings, QStringLiteral("kept"));
    QVERIFY(!windows.contains(&dialog));
}

void TestDialogs::loadedWindowsCentreTheLastLoaded() {
    LoadedWindows windows;
    QVERIFY(windows.empty());
    windows.centerForm(); // nothing loaded: nothing to do

    auto first = std::make_unique<QWidget>();
    auto second = std::make_unique<QWidget>();
    auto third = std::make_unique<QWidget>();
    first->resize(200, 100);
    second->resize(301, 151);
    third->resize(50, 50);
    for (QWidget* w : {first.get(), second.get(), third.get()}) {
        w->move(0, 0);
        windows.loaded(w);
    }
    QCOMPARE(windows.windows(), QList<QWidget*>({first.get(), second.get(), third.get()}));

    third.reset(); // destroyed windows leave the collection
    QCOMPARE(windows.last(), second.get());
    // The caller is not the one centred: the last loaded window is.
    windows.centerForm();
    QCOMPARE(first->pos(), QPoint(0, 0));
    const QRect screen = second->screen()->availableGeometry();
    const QPointF exact =
        screen.topLeft() + QPointF((screen.width() - 301) / 2.0, (screen.height() - 151) / 2.0);
    QVERIFY(qAbs(second->pos().x() - exact.x()) <= 0.5);
    QVERIFY(qAbs(second->pos().y() - exact.y()) <= 0.5);

    windows.loaded(first.get()); // loaded again: now the last one
    QCOMPARE(windows.windows(), QList<QWidget*>({second.get(), first.get()}));
    windows.unloaded(first.get());
    QCOMPARE(windows.windows(), QList<QWidget*>({second.get()}));
}

void TestDialogs::messageBoxes_data() {
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("pressOk");
    QTest::addColumn<int>("boxIcon");
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<int>("answer");
    QTest::newRow("plain") << int(MsgIcon::None) << int(MsgButtons::Ok) << QString() << true
                           << int(QMessageBox::NoIcon) << kProgramTitle << int(MsgAnswer::Ok);
    QTest::newRow("exclamation, ok")
        << int(MsgIcon::Exclamation) << int(MsgButtons::OkCancel) << "Warn" << true
        << int(QMessageBox::Warning) << "Warn" << int(MsgAnswer::Ok);
    QTest::newRow("question, cancel")
        << int(MsgIcon::Question) << int(MsgButtons::OkCancel) << "Ask" << false
        << int(QMessageBox::Question) << "Ask" << int(MsgAnswer::Cancel);
    QTest::newRow("critical") << int(MsgIcon::Critical) << int(MsgButtons::Ok) << QString() << true
                              << int(QMessageBox::Critical) << kProgramTitle << int(MsgAnswer::Ok);
}

void TestDialogs::messageBoxes() {
    QFETCH(int, icon);
    QFETCH(int, buttons);
    QFETCH(QString, title);
    QFETCH(bool, pressOk);
    QFETCH(int, boxIcon);
    QFETCH(QString, boxTitle);
    QFETCH(int, answer);

    struct Seen {
        bool found = false;
        QString text, title;
        int icon = -1;
        QMessageBox::StandardButtons buttons;
    } seen;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        seen = {true, box->text(), box->windowTitle(), int(box->icon()), box->standardButtons()};
        box->button(pressOk ? QMessageBox::Ok : QMessageBox::Cancel)->click();
    });
    MessageBoxOperator op;
    const QString text = QStringLiteral("Error  5 detected 0\n<b>/dev/ttyS0</b>");
    const MsgAnswer got = op.message(text, title, MsgIcon(icon), MsgButtons(buttons));
    QVERIFY(seen.found);
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.title, boxTitle);
    QCOMPARE(seen.icon, boxIcon);
    const QMessageBox::StandardButtons expected =
        MsgButtons(buttons) == MsgButtons::Ok ? QMessageBox::StandardButtons(QMessageBox::Ok)
                                              : QMessageBox::Ok | QMessageBox::Cancel;
    QCOMPARE(seen.buttons, expected);
    QCOMPARE(int(got), answer);
}

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
