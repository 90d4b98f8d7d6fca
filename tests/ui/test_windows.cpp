// The windows wired to the logic, driven through their widgets against the simulated unit.
#include "link/Crc.h"
#include "link/Frames.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "startup/ConfigFiles.h"
#include "support/RecordingOperator.h"
#include "ui/Frmtext.h"
#include "ui/LoadedWindows.h"
#include "ui/frmMessages.h"
#include "ui/frmSplash.h"
#include "ui/frmWrite.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// The windows over a simulated unit as start-up leaves them; short waits: no timing here.
struct Rig {
    SharedState state;
    SimThread sim;
    QtSerialPortDevice port;
    Link link{port, LinkTiming{400, 25, 25, 2}};
    RecordingOperator op;
    LoadedWindows windows;
    std::unique_ptr<Frmtext> commsTest;
    std::unique_ptr<frmMessages> main;
    int endCalls = 0;

    bool start(SimConfig config = {}) {
        const QString app = qEnvironmentVariable("QV_APP_DIR", qApp->applicationDirPath() + "/..");
        FileData files;
        config.pacing = false;
        if (readFileData(app, files) || readDefaults(app, state.DefaultMessages) ||
            LoadCrcTable(app, state.CrcTable) ||
            !sim.model().loadSav(QDir(app).filePath("demo.sav")) || !sim.start(config))
            return false;
        state.TerminalNames = files.terminalNames;
        state.InterlockMessages = state.DefaultMessages;
        port.setPortName(sim.devicePath());
        commsTest = std::make_unique<Frmtext>(state, link, op, windows);
        commsTest->setEndProgram([this] { ++endCalls; });
        commsTest->load([] {});
        main = std::make_unique<frmMessages>(state, link, op, windows, *commsTest);
        main->setEndProgram([this] { ++endCalls; });
        main->load();
        return port.open().ok;
    }
    QString unitMessage(int k) { return QString::fromLatin1(sim.model().message(k)); }
    QLabel* message(int k) { return main->Label1[size_t(k)]; }
};

const auto click = [](QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); };
} // namespace

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void captionsAndGroups() {
        Rig rig;
        QVERIFY(rig.start());
        click(rig.message(0));
        frmSplash splash(rig.windows);
        // Window (comms Test, Main, Write, Splash).control (none: the title)|caption|tooltip.
        const char* table =
            "T.|Q840/Q860 Comms Test;T.Image1_0||Sending;T.Image1_1||Receiving;"
            "T.SSCommand1|Load message form;T.lblVER|Ver. 1.0;T.UpDown1||Message to Send;"
            "T.UpDown2||Change Unit Address;T.Label9_0|MsgAddr;T.Label9_1|UnitAddr;"
            "T.Frame1|Read Stored Message Here;T.CmdRdMsg|&Read Msg;"
            "T.Label6_2||Stored message here;T.Frame2|Write New Message Here;"
            "T.MsgText||Enter message text here;T.CmdWrtMsg|&Write Msg;T.CmdEraseMsg|&Erase Msg;"
            "T.Label4_0|Transmitted Data;T.Label4_1|Received Data;T.Label2||Modbus Errors;"
            "T.cmdMainMenu|&Quit;M.|QV840 Interlock Annunciator Table, Ver 1.1;"
            "M.Frame1|Recycle, L1-3;M.Frame2|Non-Recycle;M.Frame3|Oil Limits;M.Frame4|Gas Limits;"
            "M.Frame5|Command Center;M.cmdReadAll|&Read All Msgs;M.cmdWriteAll|&Write All Msgs;"
            "M.cmdEraseAll|&Erase All Msgs;M.cmdOpenFile|&Open File;M.cmdSaveFile|&Save File;"
            "M.cmdQuit|&Quit;M.Label5|Adr;M.Label4|Read/Write Progress;M.Label3| 1;"
            "W.|Write or Erase Current Message;W.Label4|Interlock Number;W.Label5|Current Msg;"
            "W.Label6|New Msg;W.cmdWrite|&Write;W.cmdErase|&Erase;W.cmdDone|&Close;"
            "S.Label2|Custom Message Programming Tool;S.SSPanel1|Q V 8 4 0 N";
        QWidget* const tops[] = {rig.commsTest.get(), rig.main.get(), rig.main->editorWindow(),
                                 &splash};
        for (const QString& row : QString::fromUtf8(table).split(';')) {
            const QStringList f = row.split('|');
            const QString control = f[0].mid(2);
            QWidget* w = tops[QStringLiteral("TMWS").indexOf(f[0][0])];
            w = control.isEmpty() ? w : w->findChild<QWidget*>(control);
            QVERIFY2(w, qPrintable(row));
            const QVariant text = w->property(control.isEmpty() ? "windowTitle" : "text");
            const QString caption =
                text.isValid() ? text.toString() : w->property("title").toString();
            QVERIFY2(f[1].isEmpty() || caption == f[1], qPrintable(row));
            QCOMPARE(w->toolTip(), f.value(2));
        }
        // The interlocks' groups; each terminal caption on its message's row.
        const size_t group[] = {0, 0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 3, 1, 1, 1, 1, 1, 1, 1};
        for (int k = 0; k < kInterlockCount; ++k)
            QVERIFY(rig.message(k)->parent() == rig.main->Frame[group[k]] &&
                    rig.main->Label2[size_t(k)]->parent() == rig.main->Frame[group[k]] &&
                    rig.main->Label2[size_t(k)]->y() == rig.message(k)->y());
    }

    void commsTestWindow() {
        Rig rig;
        QVERIFY(rig.start());
        Frmtext& f = *rig.commsTest;
        QVERIFY(!f.isVisible() && f.TimeBox->text().isEmpty());
        QCOMPARE(f.Label7->text() + "|" + f.Label8->text() + "|" + f.Label10->text(),
                 " 400| 1|Terminal No. L1-40");
        // The lamps in their exact colours; the centre pixel is the pure colour.
        auto lamp = [&](size_t i) { return f.Image1[i]->pixmap().toImage().pixelColor(6, 6); };
        QVERIFY(lamp(0) == QColor(0, 0x80, 0) && lamp(1) == QColor(0x80, 0, 0));
        f.setSending(true), f.setReceiving(true);
        QVERIFY(lamp(0) == QColor(0, 0xFF, 0) && lamp(1) == QColor(0xFF, 0, 0));
        // Twenty slots from 400 to 780 in steps of 20, each showing its own terminal name.
        QSet<QString> names;
        for (int i = 0; i < 25; ++i)
            names << f.Label10->text(), f.UpDown1->stepUp();
        QCOMPARE(names.size(), kInterlockCount);
        QCOMPARE(f.Label7->text() + "|" + QString::number(rig.state.MsgAddress), " 780|780");
        // The clock shows hours and minutes one second after load.
        QTRY_VERIFY_WITH_TIMEOUT(
            QRegularExpression("^\\d\\d:\\d\\d$").match(f.TimeBox->text()).hasMatch(), 3000);

        f.UpDown1->setValue(420);
        click(f.CmdRdMsg);
        QCOMPARE(f.Label6[0]->text(), byteDump(buildReadRequest(rig.state.CrcTable, 1, 420)));
        QCOMPARE(f.Label6[2]->text(), rig.unitMessage(1));
        QCOMPARE(f.Label2->text(), " 45");
        QCOMPARE(f.Label6[1]->text().split(' ', Qt::SkipEmptyParts).size(), 45);
        QVERIFY(f.Label8->text() == "1" && f.clock()->isEnabled()); // no blank after a transaction
        f.MsgText->setText("HELLO");
        click(f.CmdWrtMsg);
        QCOMPARE(rig.unitMessage(1), "HELLO");
        QVERIFY(f.Label6[0]->text().startsWith(" 01 10 01 A4"));
        click(f.CmdEraseMsg);
        QVERIFY(rig.unitMessage(1).isEmpty());
        f.UpDown2->setValue(0);
        QCOMPARE(f.Label8->text() + "|" + QString::number(rig.state.UnitAddress), " 0|0");
        QCOMPARE(rig.op.count(), 0);
        // Its close box hides it, loaded with the clock running; Quit ends at once, unasked.
        rig.main->hide();
        click(rig.main->cmdCommsTest);
        QVERIFY(f.isVisible() && f.close() && f.clock()->isEnabled() && rig.port.isOpen());
        click(f.cmdMainMenu);
        QVERIFY(!rig.port.isOpen() && rig.endCalls == 1 && rig.op.count() == 0);
        // The main window's Quit and close box ask first; OK closes the port and ends.
        QVERIFY(rig.port.open().ok);
        rig.main->show();
        rig.op.script({MsgAnswer::Cancel});
        click(rig.main->cmdQuit);
        QVERIFY(rig.op.count() == 1 && rig.op.last().text == "Exit the QV840N program?");
        QVERIFY(rig.op.last().title.isEmpty() && rig.op.last().icon == MsgIcon::Question &&
                rig.op.last().buttons == MsgButtons::OkCancel);
        QVERIFY(rig.main->isVisible() && rig.port.isOpen() && rig.endCalls == 1);
        QVERIFY(rig.main->close());
        QVERIFY(rig.op.count() == 2 && rig.op.last().text == "Exit the QV840N program?");
        QVERIFY(!rig.port.isOpen() && rig.endCalls == 2);
    }

    void mainWindow() {
        Rig rig;
        QVERIFY(rig.start());
        rig.sim.model().setMessage(7, QByteArray());
        rig.state.InterlockMessages[7] = QStringLiteral("LOCAL EDIT");
        click(rig.main->cmdReadAll);
        for (int k = 0; k < kInterlockCount; ++k)
            QVERIFY(k == 7 || (rig.message(k)->text() == rig.unitMessage(k) &&
                               rig.state.InterlockMessages[size_t(k)] == rig.unitMessage(k)));
        // An empty slot shows its default and leaves the table entry alone.
        QCOMPARE(rig.message(7)->text(), rig.state.DefaultMessages[7]);
        QCOMPARE(rig.state.InterlockMessages[7], "LOCAL EDIT");
        QVERIFY(rig.main->ProgressBar1->value() == 0 && rig.op.count() == 0);

        // One editor: a click while it is open only moves the selection.
        click(rig.message(4));
        QPointer<frmWrite> editor = rig.main->editorWindow();
        QVERIFY(editor && editor->isVisible() && rig.windows.last() == editor);
        click(rig.message(13));
        QVERIFY(rig.state.SelectedInterlock == 13 && rig.main->editorWindow() == editor);
        QCOMPARE(editor->Label3->text() + "|" + editor->lblCurrentValue->text(),
                 rig.state.TerminalNames[4] + "|" + rig.state.InterlockMessages[4]);
        editor->Text1->setText("NEW TEXT");
        click(editor->cmdWrite);
        QCOMPARE(rig.op.last().title, "Message Delivered");
        QCOMPARE(rig.unitMessage(13) + "|" + rig.message(13)->text() + "|" +
                     rig.state.InterlockMessages[13] + "|" + editor->lblCurrentValue->text() + "|" +
                     editor->Text1->text(),
                 "NEW TEXT|NEW TEXT|NEW TEXT|NEW TEXT|");
        click(editor->cmdErase);
        QCOMPARE(rig.op.last().text, "Erase Successfully Completed");
        QCOMPARE(rig.unitMessage(13) + "|" + rig.message(13)->text() + "|" +
                     editor->lblCurrentValue->text(),
                 "|" + rig.state.DefaultMessages[13] + "|NEW TEXT");
        // The length rule's count lives with the main window's editor, not with the window,
        // so it carries over a reopening.
        click(editor->cmdWrite); // empty text
        click(editor->cmdDone);
        QTRY_VERIFY(editor.isNull());
        click(rig.message(2));
        QCOMPARE(rig.main->editorWindow()->Label3->text(), rig.state.TerminalNames[2]);
        click(rig.main->editorWindow()->cmdWrite);
        QCOMPARE(rig.op.last().text, "Still not correct length! Have you read QVIB-5170");

        // Files: one remembered name for both dialogs; Cancel ends the operation; a name not
        // ending in sav saves nothing.
        QTemporaryDir dir;
        QStringList answers{dir.filePath("t.sav"), dir.filePath("t.sav"), "",
                            dir.filePath("t.SAV")};
        QStringList calls;
        rig.main->setFileChooser([&](bool, const QString& filter, const QString& last) {
            calls << filter + " " + QFileInfo(last).fileName();
            return answers.takeFirst();
        });
        rig.op.clear();
        rig.state.InterlockMessages[3] = QStringLiteral("A, B");
        click(rig.main->cmdSaveFile);
        rig.state.InterlockMessages[3] = QStringLiteral("CHANGED");
        click(rig.main->cmdOpenFile);
        QCOMPARE(rig.state.InterlockMessages[3] + "|" + rig.message(3)->text(), "A, B|A, B");
        click(rig.main->cmdOpenFile);
        click(rig.main->cmdSaveFile);
        QVERIFY(!QFile::exists(dir.filePath("t.SAV")) && rig.op.count() == 1);
        QCOMPARE(rig.op.last().text, "Nothing was saved: the file name must end in .sav");
        QCOMPARE(calls.join(", "), "Save Files (*.sav) , Open Files (*.sav) t.sav, "
                                   "Open Files (*.sav) t.sav, Save Files (*.sav) t.sav");
    }

    void silentUnit() {
        SimConfig silent;
        silent.neverAnswer = true;
        Rig rig;
        QVERIFY(rig.start(silent));
        rig.message(0)->setText("KEEP");
        // While the fault box is up, nothing else may start in any window.
        click(rig.message(1));
        QVector<bool> enabledDuring;
        rig.op.onBox([&](const RecordingOperator::Box&) {
            enabledDuring << rig.main->cmdReadAll->isEnabled() << rig.main->cmdSaveFile->isEnabled()
                          << rig.commsTest->CmdRdMsg->isEnabled()
                          << rig.main->editorWindow()->cmdWrite->isEnabled();
        });
        rig.op.script({MsgAnswer::Cancel});
        click(rig.main->cmdReadAll);
        QCOMPARE(rig.op.last().text, "No data received!\r\nCheck connection, unit address, baud "
                                     "rate, com port\r\nAnd then try again later!");
        QVERIFY(rig.op.last().title == "Communication Fault" &&
                rig.op.last().icon == MsgIcon::None &&
                rig.op.last().buttons == MsgButtons::OkCancel);
        QCOMPARE(enabledDuring, QVector<bool>(4, false));
        QVERIFY(rig.main->cmdReadAll->isEnabled() && rig.commsTest->CmdRdMsg->isEnabled() &&
                rig.main->editorWindow()->cmdWrite->isEnabled());
        QVERIFY(rig.message(0)->text() == "KEEP" && rig.main->ProgressBar1->value() == 0);
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
