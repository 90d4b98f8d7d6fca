// The windows wired to the logic: captions and ranges, the main window's
// rows, and the comms test, bulk operations, editor, files and exit driven
// through the widgets against the simulated unit on a pseudo-terminal.
#include "link/Crc.h"
#include "link/Frames.h"
#include "link/Link.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "startup/ConfigFiles.h"
#include "support/RecordingOperator.h"
#include "ui/Artwork.h"
#include "ui/Frmtext.h"
#include "ui/LoadedWindows.h"
#include "ui/frmMessages.h"
#include "ui/frmSplash.h"
#include "ui/frmWrite.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

QString appDir() {
    const QString dir = qEnvironmentVariable("QV_APP_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : dir;
}

// Short waits: these tests are about what the windows show, not the timing.
LinkTiming fastTiming() {
    LinkTiming t;
    t.firstByteMs = 400;
    t.replyGapMs = 25;
    t.commsTestGapMs = 25;
    t.bulkPauseMs = 2;
    return t;
}

const QString kNoData = QStringLiteral("No data received!\r\n"
                                       "Check connection, unit address, baud rate, com port\r\n"
                                       "And then try again later!");

// The program's windows over a simulated unit, as start-up leaves them.
struct Rig {
    SharedState state;
    SimThread sim;
    QtSerialPortDevice port;
    Link link{port, fastTiming()};
    RecordingOperator op;
    LoadedWindows windows;
    std::unique_ptr<Frmtext> commsTest;
    std::unique_ptr<frmMessages> main;
    int endCalls = 0;
    int splashCloses = 0;

    bool start(SimConfig config = {}) {
        FileData files;
        TextTable defaults;
        if (readFileData(appDir(), files) || readDefaults(appDir(), defaults) ||
            LoadCrcTable(appDir(), state.CrcTable))
            return false;
        state.BaudRates = files.baudRates;
        state.TerminalNames = files.terminalNames;
        state.InterlockMessages = defaults;
        state.DefaultMessages = defaults;
        config.pacing = false;
        if (!sim.model().loadSav(QDir(appDir()).filePath(QStringLiteral("demo.sav"))) ||
            !sim.start(config))
            return false;
        port.setPortName(sim.devicePath());
        if (!port.setSettings(QStringLiteral("9600,N,8,1")).ok || !port.open().ok)
            return false;
        commsTest = std::make_unique<Frmtext>(state, link, op, windows);
        commsTest->setEndProgram([this] { ++endCalls; });
        commsTest->load([this] { ++splashCloses; });
        main = std::make_unique<frmMessages>(state, link, op, windows, *commsTest);
        main->setEndProgram([this] { ++endCalls; });
        main->load();
        return true;
    }

    QString unitMessage(int k) { return QString::fromLatin1(sim.model().message(k)); }
    int boxesTitled(const QString& title) const {
        int n = 0;
        for (const auto& b : op.boxes())
            n += b.title == title ? 1 : 0;
        return n;
    }
};

QString textOf(const QWidget* w) {
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    return {};
}

QColor background(const QWidget* w) {
    return w->palette().color(QPalette::Window);
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void captionsAndTooltips_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("tooltip");
        auto row = [](const char* w, const char* c, const char* caption, const char* tip = "") {
            QTest::newRow(qPrintable(QStringLiteral("%1.%2").arg(w, c)))
                << QString::fromLatin1(w) << QString::fromLatin1(c) << QString::fromLatin1(caption)
                << QString::fromLatin1(tip);
        };
        row("Frmtext", "Image1_0", "", "Sending");
        row("Frmtext", "Image1_1", "", "Receiving");
        row("Frmtext", "SSCommand1", "Load message form");
        row("Frmtext", "lblVER", "Ver. 1.0");
        row("Frmtext", "UpDown1", "", "Message to Send");
        row("Frmtext", "UpDown2", "", "Change Unit Address");
        row("Frmtext", "Label9_0", "MsgAddr");
        row("Frmtext", "Label9_1", "UnitAddr");
        row("Frmtext", "Frame1", "Read Stored Message Here");
        row("Frmtext", "CmdRdMsg", "&Read Msg");
        row("Frmtext", "Label6_2", "", "Stored message here");
        row("Frmtext", "Frame2", "Write New Message Here");
        row("Frmtext", "MsgText", "", "Enter message text here");
        row("Frmtext", "CmdWrtMsg", "&Write Msg");
        row("Frmtext", "CmdEraseMsg", "&Erase Msg");
        row("Frmtext", "Label4_0", "Transmitted Data");
        row("Frmtext", "Label4_1", "Received Data");
        row("Frmtext", "Label2", "", "Modbus Errors");
        row("Frmtext", "cmdMainMenu", "&Quit");
        row("frmMessages", "Frame1", "Recycle, L1-3");
        row("frmMessages", "Frame2", "Non-Recycle");
        row("frmMessages", "Frame3", "Oil Limits");
        row("frmMessages", "Frame4", "Gas Limits");
        row("frmMessages", "Frame5", "Command Center");
        row("frmMessages", "cmdReadAll", "&Read All Msgs");
        row("frmMessages", "cmdWriteAll", "&Write All Msgs");
        row("frmMessages", "cmdEraseAll", "&Erase All Msgs");
        row("frmMessages", "cmdOpenFile", "&Open File");
        row("frmMessages", "cmdSaveFile", "&Save File");
        row("frmMessages", "cmdQuit", "&Quit");
        row("frmMessages", "Label5", "Adr");
        row("frmMessages", "Label4", "Read/Write Progress");
        row("frmMessages", "Label3", " 1");
        row("frmWrite", "Label4", "Interlock Number");
        row("frmWrite", "Label5", "Current Msg");
        row("frmWrite", "Label6", "New Msg");
        row("frmWrite", "cmdWrite", "&Write");
        row("frmWrite", "cmdErase", "&Erase");
        row("frmWrite", "cmdDone", "&Close");
    }
    void captionsAndTooltips() {
        QFETCH(QString, window);
        QFETCH(QString, control);
        QFETCH(QString, caption);
        QFETCH(QString, tooltip);
        Rig rig;
        QVERIFY(rig.start());
        QWidget* top = rig.main.get();
        if (window == QLatin1String("Frmtext")) {
            top = rig.commsTest.get();
        } else if (window == QLatin1String("frmWrite")) {
            QTest::mouseClick(rig.main->Label1[0], Qt::LeftButton);
            top = rig.main->editorWindow();
            QVERIFY(top);
        }
        auto* w = top->findChild<QWidget*>(control);
        QVERIFY2(w, qPrintable(control));
        QCOMPARE(textOf(w), caption);
        QCOMPARE(w->toolTip(), tooltip);
    }

    void windowsAndRanges() {
        Rig rig;
        QVERIFY(rig.start());
        QCOMPARE(rig.commsTest->windowTitle(), QStringLiteral("Q840/Q860 Comms Test"));
        QCOMPARE(rig.main->windowTitle(),
                 QStringLiteral("QV840 Interlock Annunciator Table, Ver 1.1"));
        QCOMPARE(rig.commsTest->UpDown1->minimum(), 400);
        QCOMPARE(rig.commsTest->UpDown1->maximum(), 780);
        QCOMPARE(rig.commsTest->UpDown1->singleStep(), 20);
        QCOMPARE(rig.commsTest->UpDown2->minimum(), 0);
        QCOMPARE(rig.commsTest->UpDown2->maximum(), 31);
        QCOMPARE(rig.main->UpDown1->minimum(), 0);
        QCOMPARE(rig.main->UpDown1->maximum(), 31);
        QCOMPARE(rig.main->ProgressBar1->minimum(), 0);
        QCOMPARE(rig.main->ProgressBar1->maximum(), 100);
        QCOMPARE(background(rig.commsTest->TimeBox), QColor(0xE0, 0xE0, 0xE0));
        // The lamps in their exact colours; the centre pixel is the pure colour.
        const QList<QColor> lamps = {QColor(0x00, 0x80, 0x00), QColor(0x00, 0xFF, 0x00),
                                     QColor(0x80, 0x00, 0x00), QColor(0xFF, 0x00, 0x00)};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(Artwork::mdmLight(i).toImage().pixelColor(6, 6), lamps.at(i));
        auto centre = [](QLabel* l) { return l->pixmap().toImage().pixelColor(6, 6); };
        QCOMPARE(centre(rig.commsTest->Image1[0]), lamps.at(0));
        QCOMPARE(centre(rig.commsTest->Image1[1]), lamps.at(2));
        rig.commsTest->setSending(true);
        rig.commsTest->setReceiving(true);
        QCOMPARE(centre(rig.commsTest->Image1[0]), lamps.at(1));
        QCOMPARE(centre(rig.commsTest->Image1[1]), lamps.at(3));
        // Colours of the main window's groups.
        QCOMPARE(background(rig.main.get()), QColor(128, 128, 128));
        QCOMPARE(background(rig.main->Frame[0]), QColor(128, 64, 0));
        QCOMPARE(rig.main->Frame[0]->palette().color(QPalette::WindowText), QColor(224, 224, 224));
        QCOMPARE(background(rig.main->Frame[1]), QColor(128, 128, 255));
        QCOMPARE(background(rig.main->Frame[2]), QColor(255, 255, 0));
        QCOMPARE(background(rig.main->Frame[3]), QColor(0, 128, 128));
        QCOMPARE(background(rig.main->Frame[4]), QColor(192, 192, 192));
        QCOMPARE(background(rig.main->Label2[7]), QColor(192, 192, 192));
    }

    void splash() {
        LoadedWindows windows;
        frmSplash splash(windows);
        QCOMPARE(splash.Label2->text(), QStringLiteral("Custom Message Programming Tool"));
        QCOMPARE(splash.SSPanel1->text(), QStringLiteral("Q V 8 4 0 N"));
        QCOMPARE(splash.SSPanel1->font().styleHint(), QFont::Serif);
        QCOMPARE(splash.Picture1[0]->size(), QSize(266, 168));
        QCOMPARE(windows.last(), &splash);
        splash.show();
        QVERIFY(!splash.Picture1[1]->isVisible());
        splash.showPicture1();
        QVERIFY(splash.Picture1[1]->isVisible());
    }

    void commsTestAfterLoad() {
        Rig rig;
        QVERIFY(rig.start());
        Frmtext& f = *rig.commsTest;
        QCOMPARE(rig.splashCloses, 1);
        QVERIFY(!f.isVisible());
        QCOMPARE(rig.state.UnitAddress, std::int16_t(1));
        QCOMPARE(rig.state.MsgAddress, std::int16_t(400));
        QCOMPARE(f.Label7->text(), QStringLiteral(" 400"));
        QCOMPARE(f.Label8->text(), QStringLiteral(" 1"));
        QCOMPARE(f.Label10->text(), QStringLiteral("Terminal No. ") + rig.state.TerminalNames[0]);
        QVERIFY(f.TimeBox->text().isEmpty());
        for (QLabel* light : f.MdmLight)
            QVERIFY(light->isHidden());

        // Twenty slots from 400 to 780, each showing its own terminal name.
        QStringList names;
        for (int i = 0; i < 25; ++i) {
            names << f.Label10->text();
            f.UpDown1->stepUp();
        }
        names.removeDuplicates();
        QCOMPARE(names.size(), kInterlockCount);
        QCOMPARE(rig.state.MsgAddress, std::int16_t(780));
        QCOMPARE(f.Label7->text(), QStringLiteral(" 780"));
        QCOMPARE(f.Label10->text(), QStringLiteral("Terminal No. ") + rig.state.TerminalNames[19]);
        f.UpDown2->setValue(0);
        QCOMPARE(rig.state.UnitAddress, std::int16_t(0));
        QCOMPARE(f.Label8->text(), QStringLiteral(" 0"));

        // The clock shows hours and minutes one second after load.
        QTRY_VERIFY_WITH_TIMEOUT(!f.TimeBox->text().isEmpty(), 3000);
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d$"))
                    .match(f.TimeBox->text())
                    .hasMatch());
    }

    void mainWindowRows_data() {
        QTest::addColumn<int>("frame");
        QTest::addColumn<QList<int>>("indices");
        QTest::newRow("Recycle") << 0 << QList<int>{0, 1, 2, 3};
        QTest::newRow("Non-Recycle") << 1 << QList<int>{4, 5, 13, 14, 15, 16, 17, 18, 19};
        QTest::newRow("Oil") << 2 << QList<int>{6, 7, 8, 9};
        QTest::newRow("Gas") << 3 << QList<int>{10, 11, 12};
    }
    void mainWindowRows() {
        QFETCH(int, frame);
        QFETCH(QList<int>, indices);
        Rig rig;
        QVERIFY(rig.start());
        QGroupBox* box = rig.main->Frame[static_cast<size_t>(frame)];
        int previousY = -1;
        for (int row = 0; row < indices.size(); ++row) {
            const auto k = static_cast<size_t>(indices.at(row));
            QLabel* message = rig.main->Label1[k];
            QCOMPARE(message->parentWidget(), box);
            QCOMPARE(message->text(), rig.state.DefaultMessages[k]);
            QVERIFY(message->y() > previousY);
            previousY = message->y();
            // The terminal caption sits left of its message on the same row.
            QLabel* terminal = rig.main->Label2[k];
            QCOMPARE(terminal->parentWidget(), box);
            QCOMPARE(terminal->y(), message->y());
            QVERIFY(terminal->x() < message->x());
            QVERIFY(message->width() > 4 * terminal->width());
        }
    }

    void mainWindowArrangement() {
        Rig rig;
        QVERIFY(rig.start());
        auto at = [&](QWidget* w) { return QRect(w->mapTo(rig.main.get(), QPoint()), w->size()); };
        const QRect recycle = at(rig.main->Frame[0]), nonRecycle = at(rig.main->Frame[1]),
                    oil = at(rig.main->Frame[2]), gas = at(rig.main->Frame[3]),
                    cc = at(rig.main->Frame[4]), bar = at(rig.main->ProgressBar1);
        QVERIFY(recycle.bottom() < oil.top() && oil.bottom() < gas.top() &&
                gas.bottom() < bar.top());
        QVERIFY(recycle.right() < nonRecycle.left());
        QVERIFY(nonRecycle.bottom() < cc.top());
        QVERIFY(cc.left() > nonRecycle.left() && cc.right() < nonRecycle.right());
        QCOMPARE(recycle.width(), nonRecycle.width());
        QVERIFY(rig.main->cmdReadAll->height() > rig.main->cmdWriteAll->height());
        QVERIFY(at(rig.main->cmdQuit).top() > at(rig.main->cmdOpenFile).bottom());
        QVERIFY(at(rig.main->Label3).bottom() < at(rig.main->UpDown1).top());
        QVERIFY(at(rig.main->Label5).top() > at(rig.main->UpDown1).bottom());
    }

    void messageClickOpensOneEditor() {
        Rig rig;
        QVERIFY(rig.start());
        QTest::mouseClick(rig.main->Label1[13], Qt::LeftButton);
        QCOMPARE(rig.state.SelectedInterlock, std::int16_t(13));
        QPointer<frmWrite> editor = rig.main->editorWindow();
        QVERIFY(editor);
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->windowTitle(), QStringLiteral("Write or Erase Current Message"));
        QCOMPARE(editor->Label3->text(), rig.state.TerminalNames[13]);
        QCOMPARE(editor->lblCurrentValue->text(), rig.state.InterlockMessages[13]);
        QVERIFY(editor->Text1->text().isEmpty());
        QCOMPARE(rig.windows.last(), editor.data());

        // A click while it is open only moves the selection.
        QCOMPARE(rig.main->Label2[4]->text(), QStringLiteral("3-43"));
        QTest::mouseClick(rig.main->Label1[4], Qt::LeftButton);
        QCOMPARE(rig.state.SelectedInterlock, std::int16_t(4));
        QCOMPARE(rig.main->editorWindow(), editor.data());
        QCOMPARE(editor->Label3->text(), rig.state.TerminalNames[13]);

        QTest::mouseClick(editor->cmdDone, Qt::LeftButton);
        QTRY_VERIFY(editor.isNull());
        QTest::mouseClick(rig.main->Label1[4], Qt::LeftButton);
        QVERIFY(rig.main->editorWindow());
        QCOMPARE(rig.main->editorWindow()->Label3->text(), rig.state.TerminalNames[4]);
    }

    void commsTestTransactions() {
        Rig rig;
        QVERIFY(rig.start());
        Frmtext& f = *rig.commsTest;
        f.UpDown1->setValue(420);
        QTest::mouseClick(f.CmdRdMsg, Qt::LeftButton);
        QCOMPARE(f.Label6[0]->text(), byteDump(buildReadRequest(rig.state.CrcTable, 1, 420)));
        QCOMPARE(f.Label6[2]->text(), rig.unitMessage(1));
        QCOMPARE(f.Label2->text(), QStringLiteral(" 45"));
        QCOMPARE(f.Label6[1]->text().split(QLatin1Char(' '), Qt::SkipEmptyParts).size(), 45);
        QCOMPARE(f.Label8->text(), QStringLiteral("1")); // no blank after a transaction
        QVERIFY(f.clock()->isEnabled());

        f.MsgText->setText(QStringLiteral("HELLO"));
        QTest::mouseClick(f.CmdWrtMsg, Qt::LeftButton);
        QCOMPARE(rig.unitMessage(1), QStringLiteral("HELLO"));
        QVERIFY(f.Label6[0]->text().startsWith(QStringLiteral(" 01 10 01 A4")));
        QVERIFY(!f.Label6[1]->text().isEmpty());

        QTest::mouseClick(f.CmdEraseMsg, Qt::LeftButton);
        QVERIFY(rig.unitMessage(1).isEmpty());
        f.UpDown2->stepUp();
        QCOMPARE(f.Label8->text(), QStringLiteral(" 2"));
        QCOMPARE(rig.op.count(), 0);
    }

    void readAllFillsLabels() {
        Rig rig;
        QVERIFY(rig.start());
        rig.sim.model().setMessage(7, QByteArray());
        rig.state.InterlockMessages[7] = QStringLiteral("LOCAL EDIT");
        QTest::mouseClick(rig.main->cmdReadAll, Qt::LeftButton);
        for (int k = 0; k < kInterlockCount; ++k) {
            const auto i = static_cast<size_t>(k);
            if (k == 7)
                continue;
            QCOMPARE(rig.main->Label1[i]->text(), rig.unitMessage(k));
            QCOMPARE(rig.state.InterlockMessages[i], rig.unitMessage(k));
        }
        // An empty slot shows its default and leaves the table entry alone.
        QCOMPARE(rig.main->Label1[7]->text(), rig.state.DefaultMessages[7]);
        QCOMPARE(rig.state.InterlockMessages[7], QStringLiteral("LOCAL EDIT"));
        QCOMPARE(rig.main->ProgressBar1->value(), 0);
        QCOMPARE(rig.op.count(), 0);
    }

    void editorWriteAndErase() {
        Rig rig;
        QVERIFY(rig.start());
        QTest::mouseClick(rig.main->Label1[13], Qt::LeftButton);
        frmWrite* editor = rig.main->editorWindow();
        QVERIFY(editor);
        editor->Text1->setText(QStringLiteral("NEW TEXT"));
        QTest::mouseClick(editor->cmdWrite, Qt::LeftButton);
        QCOMPARE(rig.op.last().title, QStringLiteral("Message Delivered"));
        QCOMPARE(rig.unitMessage(13), QStringLiteral("NEW TEXT"));
        QCOMPARE(rig.main->Label1[13]->text(), QStringLiteral("NEW TEXT"));
        QCOMPARE(rig.state.InterlockMessages[13], QStringLiteral("NEW TEXT"));
        QCOMPARE(editor->lblCurrentValue->text(), QStringLiteral("NEW TEXT"));
        QVERIFY(editor->Text1->text().isEmpty());

        QTest::mouseClick(editor->cmdErase, Qt::LeftButton);
        QCOMPARE(rig.op.last().text, QStringLiteral("Erase Successfully Completed"));
        QVERIFY(rig.unitMessage(13).isEmpty());
        QCOMPARE(rig.main->Label1[13]->text(), rig.state.DefaultMessages[13]);
        QCOMPARE(editor->lblCurrentValue->text(), QStringLiteral("NEW TEXT"));

        // The length rule's count lives with the main window's editor, not
        // with the window, so it carries over a reopening.
        QTest::mouseClick(editor->cmdWrite, Qt::LeftButton); // empty text
        QCOMPARE(rig.op.last().title, QStringLiteral("Write Message Length Error"));
        QTest::mouseClick(editor->cmdDone, Qt::LeftButton);
        QTRY_VERIFY(!rig.main->editorWindow());
        QTest::mouseClick(rig.main->Label1[2], Qt::LeftButton);
        QTest::mouseClick(rig.main->editorWindow()->cmdWrite, Qt::LeftButton);
        QCOMPARE(rig.op.last().text,
                 QStringLiteral("Still not correct length! Have you read QVIB-5170"));
    }

    void saveThenOpen() {
        Rig rig;
        QVERIFY(rig.start());
        QTemporaryDir dir;
        QStringList answers;
        struct Call {
            bool save;
            QString filter, last;
        };
        QVector<Call> calls;
        rig.main->setFileChooser([&](bool save, const QString& filter, const QString& last) {
            calls.append({save, filter, last});
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
        const QString path = dir.filePath(QStringLiteral("table.sav"));
        rig.state.InterlockMessages[3] = QStringLiteral("A, B");
        answers << path;
        QTest::mouseClick(rig.main->cmdSaveFile, Qt::LeftButton);
        QVERIFY(QFile::exists(path));
        const TextTable saved = rig.state.InterlockMessages;

        rig.state.InterlockMessages[3] = QStringLiteral("CHANGED");
        rig.main->setMessageLabel(3, QStringLiteral("CHANGED"));
        answers << path;
        QTest::mouseClick(rig.main->cmdOpenFile, Qt::LeftButton);
        QCOMPARE(rig.state.InterlockMessages, saved);
        QCOMPARE(rig.main->Label1[3]->text(), QStringLiteral("A, B"));
        QCOMPARE(rig.op.count(), 0);

        // Cancel ends the operation; a name not ending in sav saves nothing.
        QTest::mouseClick(rig.main->cmdOpenFile, Qt::LeftButton);
        answers << dir.filePath(QStringLiteral("table.SAV"));
        QTest::mouseClick(rig.main->cmdSaveFile, Qt::LeftButton);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("table.SAV"))));
        QCOMPARE(rig.op.count(), 1);
        QCOMPARE(rig.op.last().text,
                 QStringLiteral("Nothing was saved: the file name must end in .sav"));

        QCOMPARE(calls.size(), 4);
        QCOMPARE(calls[0].save, true);
        QCOMPARE(calls[0].filter, QStringLiteral("Save Files (*.sav)"));
        QCOMPARE(calls[1].save, false);
        QCOMPARE(calls[1].filter, QStringLiteral("Open Files (*.sav)"));
        // One remembered name for both dialogs.
        QCOMPARE(calls[1].last, path);
        QCOMPARE(calls[3].last, path);
    }

    void silentUnit() {
        SimConfig silent;
        silent.neverAnswer = true;
        Rig rig;
        QVERIFY(rig.start(silent));
        LinkTiming t = fastTiming();
        t.firstByteMs = 40;
        rig.link.setTiming(t);
        rig.main->Label1[0]->setText(QStringLiteral("KEEP"));

        // While the fault box is up, nothing else may start in any window.
        QTest::mouseClick(rig.main->Label1[1], Qt::LeftButton);
        QVERIFY(rig.main->editorWindow());
        QVector<bool> enabledDuring;
        rig.op.onBox([&](const RecordingOperator::Box&) {
            enabledDuring << rig.main->cmdReadAll->isEnabled() << rig.main->cmdSaveFile->isEnabled()
                          << rig.commsTest->CmdRdMsg->isEnabled()
                          << rig.main->editorWindow()->cmdWrite->isEnabled();
        });
        rig.op.script({MsgAnswer::Cancel});
        QTest::mouseClick(rig.main->cmdReadAll, Qt::LeftButton);
        QCOMPARE(rig.op.count(), 1);
        const auto box = rig.op.last();
        QCOMPARE(box.text, kNoData);
        QCOMPARE(box.title, QStringLiteral("Communication Fault"));
        QCOMPARE(box.icon, MsgIcon::None);
        QCOMPARE(box.buttons, MsgButtons::OkCancel);
        QCOMPARE(enabledDuring, QVector<bool>(4, false));
        QCOMPARE(rig.main->ProgressBar1->value(), 0);
        QCOMPARE(rig.main->Label1[0]->text(), QStringLiteral("KEEP"));
        QVERIFY(rig.main->cmdReadAll->isEnabled());
        QVERIFY(rig.commsTest->CmdRdMsg->isEnabled());
        QVERIFY(rig.main->editorWindow()->cmdWrite->isEnabled());

        // OK each time visits every interlock.
        rig.op.onBox({});
        rig.op.clear();
        rig.op.answerAlways(MsgAnswer::Ok);
        QTest::mouseClick(rig.main->cmdReadAll, Qt::LeftButton);
        QCOMPARE(rig.boxesTitled(QStringLiteral("Communication Fault")), kInterlockCount);
        QCOMPARE(rig.main->Label1[0]->text(), QStringLiteral("KEEP"));
        QCOMPARE(rig.main->ProgressBar1->value(), 0);
    }

    void exitQuestion() {
        Rig rig;
        QVERIFY(rig.start());
        rig.op.script({MsgAnswer::Cancel});
        QTest::mouseClick(rig.main->cmdQuit, Qt::LeftButton);
        QCOMPARE(rig.op.count(), 1);
        QCOMPARE(rig.op.last().text, QStringLiteral("Exit the QV840N program?"));
        QVERIFY(rig.op.last().title.isEmpty()); // the program's own title
        QCOMPARE(rig.op.last().icon, MsgIcon::Question);
        QCOMPARE(rig.op.last().buttons, MsgButtons::OkCancel);
        QVERIFY(rig.main->isVisible());
        QVERIFY(rig.port.isOpen());
        QCOMPARE(rig.endCalls, 0);

        // The close box asks the same; OK closes the port and ends.
        rig.op.script({MsgAnswer::Ok});
        QVERIFY(rig.main->close());
        QCOMPARE(rig.op.count(), 2);
        QCOMPARE(rig.op.last().text, QStringLiteral("Exit the QV840N program?"));
        QVERIFY(!rig.port.isOpen());
        QCOMPARE(rig.endCalls, 1);
    }

    void commsTestQuitAndMainWindow() {
        Rig rig;
        QVERIFY(rig.start());
        rig.main->hide();
        QTest::mouseClick(rig.main->cmdCommsTest, Qt::LeftButton);
        QVERIFY(rig.commsTest->isVisible());
        // Its close box hides it; it stays loaded with the clock running.
        QVERIFY(rig.commsTest->close());
        QVERIFY(rig.commsTest->clock()->isEnabled());
        QVERIFY(rig.port.isOpen());
        // Quit ends at once, without a question.
        QTest::mouseClick(rig.commsTest->cmdMainMenu, Qt::LeftButton);
        QVERIFY(!rig.port.isOpen());
        QCOMPARE(rig.endCalls, 1);
        QCOMPARE(rig.op.count(), 0);
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
