// The windows wired to the logic, driven through their widgets against the simulated unit.
#include "support/Files.h"
#include "support/WindowRig.h"
#include "table/TableFiles.h"
#include "ui/CompareDialog.h"
#include "ui/LineUnitsWindow.h"
#include "ui/MessageEditorWindow.h"
#include "ui/UpDown.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

// What a message label shows fits in it; a shortened text says so and the tooltip holds it all.
bool readable(const QLabel* l, const QString& full) {
    const int room = l->contentsRect().width() - 2 * l->indent();
    return l->fontMetrics().horizontalAdvance(l->text()) <= room &&
           (l->text() == full || (l->text().endsWith(QChar(0x2026)) && l->toolTip() == full));
}

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void commsTestWindow() {
        Rig rig;
        QVERIFY(rig.start());
        CommsTestWindow& f = rig.commsTest;
        auto* clockLabel = child<QLabel>(f, "clockLabel");
        auto* slotValue = child<QLabel>(f, "slotValue");
        auto* unitValue = child<QLabel>(f, "unitValue");
        auto* terminalCaption = child<QLabel>(f, "terminalCaption");
        auto* slotSpinner = child<UpDown>(f, "slotSpinner");
        auto* unitSpinner = child<UpDown>(f, "unitSpinner");
        auto* readButton = child<QPushButton>(f, "readButton");
        auto* storedText = child<QLabel>(f, "dataPanel_2");
        auto* addressSpinner = child<UpDown>(rig.main, "addressSpinner");
        auto* addressValue = child<QLabel>(rig.main, "addressValue");
        QVERIFY(!f.isVisible() && clockLabel->text().isEmpty());
        // A long connection line is cut, never widening the window.
        const int narrow = f.minimumSizeHint().width();
        f.setConnectionText(QString(400, 'x'));
        QCOMPARE(f.minimumSizeHint().width(), narrow);
        QCOMPARE(slotValue->text() + "|" + unitValue->text() + "|" + terminalCaption->text(),
                 " 400| 1|Terminal No. L1-40");
        // The lamps in their exact colours; the centre pixel is the pure colour.
        auto lamp = [&](size_t i) {
            return child<QLabel>(f, QStringLiteral("lampPicture_%1").arg(i))
                ->pixmap()
                .toImage()
                .pixelColor(6, 6);
        };
        QVERIFY(lamp(0) == QColor(0, 0x80, 0) && lamp(1) == QColor(0x80, 0, 0));
        const QColor panel = f.findChild<QFrame*>("lampPanel")->palette().color(QPalette::Window);
        QVERIFY(contrast(lamp(0), panel) >= 4.5 && contrast(lamp(1), panel) >= 4.5); // unlit
        f.setSending(true);
        f.setReceiving(true);
        QVERIFY(lamp(0) == QColor(0, 0xFF, 0) && lamp(1) == QColor(0xFF, 0, 0));
        // Twenty slots from 400 to 780 in steps of 20, each showing its own terminal name.
        QSet<QString> names;
        for (int i = 0; i < 25; ++i) {
            names << terminalCaption->text();
            slotSpinner->stepUp();
        }
        QCOMPARE(names.size(), kInterlockCount);
        QCOMPARE(slotValue->text() + "|" + QString::number(f.messageRegister()), " 780|780");
        // The clock shows hours and minutes one second after load.
        QTRY_VERIFY_WITH_TIMEOUT(
            QRegularExpression("^\\d\\d:\\d\\d$").match(clockLabel->text()).hasMatch(), 3000);

        // The read text goes with its slot.
        click(readButton);
        slotSpinner->setValue(420);
        QVERIFY(storedText->text().isEmpty());
        QCOMPARE(readButton->toolTip(), "Read the message in register 420 (40-41) of unit 1");
        click(readButton);
        QCOMPARE(storedText->text() + "|" + unitValue->text(), rig.unitMessage(1) + "|1");
        rig.sim.model().setMessage(1, "A\033B"); // written by another tool: shown, not acted on
        click(readButton);
        QCOMPARE(storedText->text(), "A\\x1BB");
        child<QLineEdit>(f, "messageEdit")->setText("HELLO");
        click(child<QPushButton>(f, "writeButton"));
        QCOMPARE(rig.unitMessage(1), "HELLO");
        click(child<QPushButton>(f, "eraseButton"));
        QVERIFY(rig.unitMessage(1).isEmpty());
        // Save Log keeps every frame for support: the write of HELLO to register 420 (01 A4)
        // with its ending 0, and its reply; Cancel saves nothing, a folder is refused aloud.
        QTemporaryDir logs;
        QStringList offered;
        for (const QString& answer : {QString(), logs.path(), logs.filePath("line.log")}) {
            f.setFileChooser([&](const QString& suggested) {
                offered << suggested;
                return answer;
            });
            click(child<QPushButton>(f, "saveLogButton"));
        }
        QVERIFY(offered.size() == 3 && offered[0].endsWith("qv840n-traffic.log"));
        QVERIFY2(rig.op.last().text.startsWith("The log could not be saved to " + logs.path()),
                 qPrintable(rig.op.last().text));
        const QString saved = QString::fromUtf8(fileBytes(logs.filePath("line.log")));
        QVERIFY2(saved.contains(" 01 10 01 A4 00 03 06 48 45 4C 4C 4F 00 ") && // and the reply
                     saved.count(" 01 10 01 A4 00 03 ") == 2,
                 qPrintable(saved));
        rig.op.clear();
        // One unit address shown alike in both windows; a run keeps the unit it started with.
        QByteArray units;
        const auto watch =
            QObject::connect(&rig.transport, &Transport::frameSent, [&](const QByteArray& frame) {
                units += frame.at(0);
                click(addressSpinner->upButton());
                click(unitSpinner->upButton());
            });
        click(rig.button("readAllButton"));
        QCOMPARE(units, QByteArray(20, '\x01'));
        QCOMPARE(addressSpinner->value() + unitSpinner->value(), 2);
        QObject::disconnect(watch);
        unitSpinner->setValue(0);
        QCOMPARE(QString::number(unitSpinner->value()) + "|" + addressValue->text(), "1| 1");
        click(unitSpinner->upButton());
        QCOMPARE(addressValue->text() + "|" + QString::number(rig.connection.unitAddress), " 2|2");
        addressSpinner->setValue(7);
        QCOMPARE(unitValue->text() + "|" + QString::number(unitSpinner->value()), " 7|7");
        // A click on the number gives the spinner the keyboard: digits and Page Down set it.
        QTest::mouseClick(addressValue, Qt::LeftButton);
        QVERIFY(addressSpinner->hasFocus());
        QTest::keyClicks(addressSpinner, "23");
        QCOMPARE(rig.connection.unitAddress, 23);
        QTest::keyClick(unitSpinner, Qt::Key_PageDown);
        QCOMPARE(addressValue->text() + "|" + rig.button("readAllButton")->toolTip(),
                 " 13|Read all twenty messages from unit 13");
        // Neither spinner goes below 1: address 0 is broadcast, and no unit confirms it.
        addressSpinner->setValue(0);
        QCOMPARE(QString::number(addressSpinner->value()) + "|" + unitValue->text() + "|" +
                     QString::number(rig.connection.unitAddress),
                 "1| 1|1");
        // Its close box hides it, the clock running; its Quit asks as the main window's does.
        rig.main.hide();
        click(rig.button("commsTestButton"));
        QVERIFY(f.isVisible() && f.close() && f.clock()->isEnabled() && rig.port.isOpen());
        rig.messages.setText(5, "ONLY HERE");
        rig.op.script({MsgAnswer::Cancel, MsgAnswer::Cancel});
        click(child<QPushButton>(f, "quitButton"));
        QCOMPARE(rig.op.last().text, "Exit the QV840N program?\r\nThe table holds changes that "
                                     "are neither saved to a file nor written to the unit.");
        QVERIFY(rig.port.isOpen() && rig.endCalls == 0);
        rig.messages.noteSaved(); // as when saved to a file: nothing more to say
        rig.main.show();
        click(rig.button("quitButton"));
        QCOMPARE(rig.op.last().text, "Exit the QV840N program?");
        QVERIFY(rig.op.last().buttons == MsgButtons::OkCancel);
        QVERIFY(rig.main.isVisible() && rig.port.isOpen() && rig.endCalls == 0);
        click(child<QPushButton>(f, "quitButton"));
        QVERIFY(rig.op.count() == 3 && !rig.port.isOpen() && rig.endCalls == 1);
    }

    void mainWindow() {
        Rig rig;
        QVERIFY(rig.start());
        // The interlocks' groups; each terminal caption on its message's row.
        const size_t group[] = {0, 0, 0, 0, 1, 1, 2, 2, 2, 2, 3, 3, 3, 1, 1, 1, 1, 1, 1, 1};
        for (int k = 0; k < kInterlockCount; ++k) {
            auto* box = child<QGroupBox>(rig.main, QStringLiteral("group%1").arg(group[k] + 1));
            auto* terminal = child<QLabel>(rig.main, QStringLiteral("terminalLabel_%1").arg(k));
            QVERIFY(rig.message(k)->parent() == box && terminal->parent() == box &&
                    terminal->y() == rig.message(k)->y());
        }
        // A control character the unit holds (read all put it there) is shown as \xHH.
        rig.messages.setText(4, "A\033B");
        // One editor: a click while it is open turns it to that interlock and raises it.
        click(rig.message(4));
        QPointer<MessageEditorWindow> editor = rig.main.editorWindow();
        QTRY_VERIFY(child<QLineEdit>(editor, "newTextEdit")->hasFocus()); // typing goes there
        QVERIFY(editor && editor->isVisible() && rig.windows.last() == editor);
        auto* currentValue = child<QLabel>(editor, "currentValue");
        auto* newTextEdit = child<QLineEdit>(editor, "newTextEdit");
        auto* writeButton = child<QPushButton>(editor, "writeButton");
        auto* countLabel = child<QLabel>(editor, "countLabel");
        QCOMPARE(currentValue->text() + "|" + rig.message(4)->text(), "A\\x1BB|A\\x1BB");
        newTextEdit->setText("TYPED FOR 4");
        click(rig.message(13));
        QVERIFY(rig.main.editorWindow() == editor && newTextEdit->text().isEmpty());
        // What was typed for an interlock comes back with it while the editor is open.
        click(rig.message(4));
        QCOMPARE(newTextEdit->text(), "TYPED FOR 4");
        click(rig.message(13));
        QVERIFY(newTextEdit->text().isEmpty());
        QCOMPARE(child<QLabel>(editor, "interlockValue")->text() + "|" + currentValue->text(),
                 rig.config.terminalNames[13] + "|" + rig.messages.defaults()[13]);
        rig.messages.setText(13, "READ IN"); // the table changed under it: Current Msg follows
        QCOMPARE(currentValue->text(), "READ IN");
        rig.messages.setText(4, rig.messages.defaults()[4]);
        // The write goes to the interlock shown, whatever moved the selection; Return writes.
        rig.main.editor().select(2);
        const QString tips = writeButton->toolTip() + "|" + rig.button("eraseAllButton")->toolTip();
        for (const QString& bad : {QString("ABC") + QChar(0x3A9), QString(41, 'W')}) {
            newTextEdit->setText(bad); // the count turns red, and says why
            QVERIFY(countLabel->property("bad").toBool());
        }
        QCOMPARE(countLabel->toolTip(), "41 characters: the unit holds 40");
        // The preview under it marks the character the unit cannot show, in its cell.
        auto cell = [&](int i) {
            return child<QLabel>(editor, QStringLiteral("previewCell_%1").arg(i));
        };
        newTextEdit->setText(QString("AB") + QChar(0x3A9));
        QVERIFY(cell(2)->property("marked").toBool() && !cell(1)->property("marked").toBool());
        QCOMPARE(cell(1)->text() + "|" + cell(3)->text(), "B|");
        // It names the port the writes go to (the rig's connection names none).
        QCOMPARE(child<QLabel>(editor, "unitValue")->text(), "unit 1 on " + rig.port.portName());
        newTextEdit->clear();
        QTest::keyClicks(newTextEdit, "NEW TEXT");
        QString shown; // as typed, each character in its cell
        for (int i = 0; i < 9; ++i)
            shown += cell(i)->text() + (cell(i)->property("marked").toBool() ? "!" : "");
        QCOMPARE(shown, "NEW TEXT");
        QCOMPARE(countLabel->text() + "|" + tips,
                 "8/40|Write the new message to interlock 54-55 of unit 1 (Return)|"
                 "Erase all twenty messages of unit 1");
        QTest::keyClick(newTextEdit, Qt::Key_Return);
        QCOMPARE(rig.unitMessage(13) + "|" + rig.message(13)->text() + "|" + currentValue->text() +
                     "|" + newTextEdit->text(),
                 "NEW TEXT|NEW TEXT|NEW TEXT|");
        QVERIFY(rig.message(13)->textFormat() == Qt::PlainText && // markup is shown, not rendered
                currentValue->textFormat() == Qt::PlainText);
        QVERIFY(rig.status().contains("Write " + rig.config.terminalNames[13] + ": written, "));
        // Erase asks first (No keeps the message); Put Back gives the slot its old text.
        rig.op.script({MsgAnswer::Cancel});
        click(child<QPushButton>(editor, "eraseButton"));
        QVERIFY(rig.op.last().title == "Erase Message" && rig.unitMessage(13) == "NEW TEXT");
        click(child<QPushButton>(editor, "eraseButton"));
        QCOMPARE(rig.unitMessage(13) + "|" + rig.message(13)->text() + "|" + currentValue->text(),
                 "|" + rig.messages.defaults()[13] + "|" + rig.messages.defaults()[13]);
        click(child<QPushButton>(editor, "putBackButton"));
        QCOMPARE(rig.unitMessage(13) + "|" + rig.message(13)->text(), "NEW TEXT|NEW TEXT");
        click(child<QPushButton>(editor, "putBackButton")); // its old text was the default
        QCOMPARE(rig.unitMessage(13) + "|" + rig.message(13)->text(),
                 "|" + rig.messages.defaults()[13]);
        // The length rule's count lives with the main window, so it carries over a reopening.
        click(writeButton); // empty text
        QTest::keyClick(newTextEdit, Qt::Key_Escape);
        QTRY_VERIFY(editor.isNull());
        click(rig.message(2));
        click(child<QPushButton>(rig.main.editorWindow(), "writeButton"));
        QCOMPARE(rig.op.last().text, "Still not correct length! Have you read QVIB-5170");

        // Files: one remembered name for both dialogs; Cancel ends; a name not ending in sav.
        QTemporaryDir dir;
        QStringList answers{dir.filePath("t.sav"), dir.filePath("t.sav"), "",
                            dir.filePath("t.SAV"), dir.filePath("t.csv"), dir.filePath("t.csv"),
                            dir.filePath("t"),     dir.filePath("t.sav")};
        QStringList calls;
        rig.main.setFileChooser([&](bool, const QString& filter, const QString& last) {
            calls << filter + " " + QFileInfo(last).fileName();
            return answers.takeFirst();
        });
        rig.op.clear();
        rig.messages.setText(3, QStringLiteral("A, B"));
        click(rig.button("saveFileButton"));
        // Open File asks before it drops a table not saved; Cancel keeps it, unasked for a file.
        const QString unsaved = "The table holds changes that are neither saved to a file nor "
                                "written to the unit.\r\n";
        rig.messages.setText(3, QStringLiteral("CHANGED"));
        rig.op.script({MsgAnswer::Cancel});
        click(rig.button("openFileButton"));
        QCOMPARE(rig.op.last().text + "|" + rig.messages.texts()[3],
                 unsaved + "Open another table in its place?|CHANGED");
        click(rig.button("openFileButton"));
        QCOMPARE(rig.messages.texts()[3] + "|" + rig.message(3)->text(), "A, B|A, B");
        // Read All replaces the table too: asked the same way, Cancel reads nothing.
        rig.messages.setText(3, QStringLiteral("CHANGED"));
        rig.sim.model().setMessage(3, "ON THE UNIT");
        rig.op.script({MsgAnswer::Cancel});
        click(rig.button("readAllButton"));
        QCOMPARE(rig.op.last().text + "|" + rig.messages.texts()[3],
                 unsaved + "Read the unit's messages in its place?|CHANGED");
        rig.messages.setText(3, QStringLiteral("A, B"));
        rig.op.clear();
        // The title names the file and marks a table that differs from it.
        QVERIFY(rig.main.windowTitle().endsWith(" - t.sav[*]") && !rig.main.isWindowModified());
        click(rig.message(0));
        QTest::keyClicks(child<QLineEdit>(rig.main.editorWindow(), "newTextEdit"), "EDITED\r");
        QVERIFY(rig.main.isWindowModified() && rig.op.count() == 1);
        rig.op.clear();
        click(rig.button("openFileButton")); // the edit is on the unit, not in a file
        QCOMPARE(rig.op.last().text,
                 "The table is not saved to a file.\r\nOpen another table in its place?");
        click(rig.button("saveFileButton")); // to t.SAV: a suffix in any case will do
        QVERIFY(QFile::exists(dir.filePath("t.SAV")) && rig.op.count() == 1);
        rig.op.clear();
        // The same through a CSV table; the sheet as PDF.
        click(rig.button("saveFileButton"));
        rig.messages.setText(3, QStringLiteral("CHANGED"));
        click(rig.button("openFileButton"));
        QCOMPARE(rig.messages.texts()[3] + "|" + rig.message(3)->text(), "A, B|A, B");
        rig.op.clear();
        click(rig.button("exportPdfButton")); // "t" becomes t.pdf
        QVERIFY(QFileInfo(dir.filePath("t.pdf")).size() > 0 && rig.op.count() == 0);
        // An existing file is replaced only after Yes (No is the default).
        rig.op.script({MsgAnswer::Cancel});
        const QDateTime before = QFileInfo(dir.filePath("t.sav")).lastModified();
        click(rig.button("saveFileButton"));
        QVERIFY(rig.op.last().buttons == MsgButtons::YesNo &&
                rig.op.last().text.endsWith("t.sav already exists.\r\nReplace it?") &&
                QFileInfo(dir.filePath("t.sav")).lastModified() == before);
        const QString both = "Message table (*.sav);;CSV table (*.csv) ";
        QCOMPARE(calls.join(", "), both + ", " + both + "t.sav, " + both + "t.sav, " + both +
                                       "t.sav, " + both + "t.SAV, " + both +
                                       "t.csv, PDF (*.pdf) , " + both + "t.csv");
        // Erase All asks first, naming the unit; No sends nothing.
        QSignalSpy sent(&rig.transport, &Transport::frameSent);
        rig.op.script({MsgAnswer::Cancel});
        click(rig.button("eraseAllButton"));
        QVERIFY(sent.isEmpty() && rig.op.last().buttons == MsgButtons::YesNo);
        QCOMPARE(rig.op.last().text, "Erase all twenty messages of unit 1?");
    }

    // The recent files open from the keyboard; a vanished one is reported. The sheet's site is
    // asked once per table, prefilled with the one given for its file.
    void recentFilesAndSiteName() {
        Rig rig;
        QVERIFY(rig.start());
        QTemporaryDir dir;
        QStringList answers{dir.filePath("one.sav"), dir.filePath("s1.pdf"), dir.filePath("s2.pdf"),
                            dir.filePath("two.sav"), dir.filePath("s3.pdf")};
        rig.main.setFileChooser(
            [&](bool, const QString&, const QString&) { return answers.takeFirst(); });
        auto* recent = child<QToolButton>(rig.main, "recentFilesButton");
        QStringList listed;
        const auto pick = [&](Qt::Key key) { // opens the menu with Space, then presses key
            listed.clear();
            QTimer::singleShot(0, [&listed, key] {
                QWidget* menu = QApplication::activePopupWidget();
                for (const QAction* a : menu->actions())
                    listed << a->text() + " " + a->toolTip();
                QTest::keyClick(menu, key);
                if (QApplication::activePopupWidget() == menu)
                    menu->close(); // nothing taken the key
            });
            recent->setFocus();
            QTest::keyClick(recent, Qt::Key_Space);
        };
        pick(Qt::Key_Escape);
        QCOMPARE(listed, QStringList("No recent files No recent files"));
        rig.messages.setText(0, "FIRST");
        click(rig.button("saveFileButton"));
        click(rig.button("exportPdfButton")); // the site asked for this table, then not again
        click(rig.button("exportPdfButton"));
        rig.messages.setText(0, "SECOND");
        click(rig.button("saveFileButton"));
        pick(Qt::Key_2);
        QCOMPARE(listed, QStringList({"&1 two.sav " + dir.filePath("two.sav"),
                                      "&2 one.sav " + dir.filePath("one.sav")}));
        QCOMPARE(rig.messages.texts()[0] + "|" + rig.message(0)->text(), "FIRST|FIRST");
        click(rig.button("exportPdfButton")); // another table: asked again, with its site
        QCOMPARE(rig.asked, QStringList({"", "Boiler 2"}));
        QFile::remove(dir.filePath("two.sav"));
        pick(Qt::Key_2);
        QVERIFY(rig.op.last().text.startsWith("two.sav is no longer in "));
        QCOMPARE(rig.messages.texts()[0], "FIRST");
    }

    void messagesReadable() {
        const QPalette light = qApp->palette(), dark(Qt::white, QColor(0x35, 0x35, 0x35));
        qApp->setPalette(dark); // light text on dark windows
        Rig rig;
        QVERIFY(rig.start());
        // Forty of the widest letters fit the editor and show whole or elided in the table.
        const QString wide(kMessageMaxLength, 'W');
        rig.messages.setText(5, wide);
        QVERIFY(readable(rig.message(5), wide));
        // Forty capitals of a plain message show whole, if need be a little smaller.
        const QString plain = "LOW GAS PRESSURE - CHECK MAIN GAS VALVE!";
        rig.messages.setText(6, plain);
        QCOMPARE(rig.message(6)->text(), plain);
        rig.messages.setText(6, rig.messages.defaults()[6]);
        click(rig.message(5));
        child<QLineEdit>(rig.main.editorWindow(), "newTextEdit")->setText(wide);
        const QLineEdit* text = child<QLineEdit>(rig.main.editorWindow(), "newTextEdit");
        QVERIFY(text->fontMetrics().horizontalAdvance(wide) < text->width() - 8);
        // At its smallest the window still shows every default message whole.
        rig.main.resize(1, 1);
        for (int k = 0; k < kInterlockCount; ++k) {
            const QString full = k == 5 ? wide : rig.messages.defaults()[size_t(k)];
            QVERIFY(readable(rig.message(k), full) && (k == 5 || rig.message(k)->text() == full));
        }
        // Every command button says what it does; the progress caption is legible.
        QList<QPushButton*> buttons = rig.main.findChildren<QPushButton*>() +
                                      rig.commsTest.findChildren<QPushButton*>() +
                                      rig.main.editorWindow()->findChildren<QPushButton*>();
        for (const QPushButton* b : buttons)
            QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName()));
        const QPalette caption = child<QLabel>(rig.main, "progressCaption")->palette();
        QVERIFY(contrast(caption.color(QPalette::WindowText),
                         rig.main.palette().color(QPalette::Window)) >= 4.5);
        qApp->setPalette(light);
    }

    // An operation goes to the unit chosen when it starts: the address changed while it runs
    // redirects no request, and what it learnt is noted for that unit, not the one chosen now.
    void aRunKeepsItsUnit_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("Read All") << "readAllButton";
        QTest::newRow("Write All") << "writeAllButton";
        QTest::newRow("Erase All") << "eraseAllButton";
        QTest::newRow("Compare with Unit") << "compareButton";
        QTest::newRow("the editor's Write") << "writeButton";
    }
    void aRunKeepsItsUnit() {
        QFETCH(QString, button);
        Rig rig;
        QVERIFY(rig.start());
        for (int k = 0; k < kInterlockCount; ++k) // the table as the unit holds it
            rig.messages.setText(
                k, UnitText::entryFor(rig.unitMessage(k), rig.messages.defaultText(k)));
        QByteArray addresses;
        connect(&rig.transport, &Transport::frameSent, &rig.main, [&](const QByteArray& frame) {
            addresses += frame.at(0);
            rig.main.setUnitAddress(2);
        });
        rig.op.answerAlways(MsgAnswer::Ok); // Erase All asks first
        if (button == "writeButton") {
            click(rig.message(3));
            child<QLineEdit>(rig.main.editorWindow(), "newTextEdit")->setText("NEW 3");
            click(child<QPushButton>(rig.main.editorWindow(), "writeButton"));
        } else {
            click(rig.button(button.toLatin1().constData()));
        }
        QVERIFY(!addresses.isEmpty() && addresses.count('\x01') == addresses.size());
        const QString port = rig.transport.endpointName();
        QVERIFY(rig.messages.countIn(SlotState::NotRead, {1, port}) < 20);
        QCOMPARE(rig.messages.countIn(SlotState::NotRead, {2, port}), 20);
        if (button == "compareButton")
            QVERIFY(rig.op.last().text.contains("unit 1 on"));
    }

    // Put Back gives the unit written to what it held before (known from a read), only there.
    void putBackAndItsUnit() {
        Rig rig;
        QVERIFY(rig.start());
        const auto editWrite = [&](int k, const QString& text) {
            click(rig.message(k));
            auto* e = rig.main.editorWindow();
            child<QLineEdit>(e, "newTextEdit")->setText(text);
            click(child<QPushButton>(e, "writeButton"));
            return child<QPushButton>(e, "putBackButton");
        };
        // Nothing known of the unit: no Put Back. Current Msg says whose text it shows.
        const auto source = [&] {
            return child<QLabel>(rig.main.editorWindow(), "currentSource")->text();
        };
        QVERIFY(!editWrite(2, "MINE")->isEnabled());
        QCOMPARE(source(), "As on unit 1"); // the unit confirmed it
        click(rig.message(3));
        QCOMPARE(source(), "The table's text: not read from unit 1");
        rig.sim.model().setMessage(2, "FROM ELSEWHERE"); // behind the window's back
        click(rig.button("readAllButton"));
        QPushButton* putBack = editWrite(2, "MINE AGAIN");
        QVERIFY(putBack->isEnabled() && putBack->toolTip().contains("of unit 1"));
        click(rig.message(3)); // another interlock: nothing to put back there
        QVERIFY(!putBack->isEnabled());
        click(rig.message(2));
        QVERIFY(putBack->isEnabled());
        click(putBack);
        QCOMPARE(rig.unitMessage(2), "FROM ELSEWHERE");
        editWrite(2, "MINE ONCE MORE");
        rig.main.setUnitAddress(4); // the editor now names unit 4: Put Back is unit 1's
        QVERIFY(!putBack->isEnabled());
        QVERIFY(
            child<QLabel>(rig.main.editorWindow(), "unitValue")->text().startsWith("unit 4 on "));
        QCOMPARE(source(), "The table's text: not read from unit 4");
        click(putBack);
        QCOMPARE(rig.unitMessage(2), "MINE ONCE MORE");
    }

    // Quit while Write All runs: No goes on; Yes stops after the request under way and ends.
    void quitDuringARun() {
        Rig rig;
        QVERIFY(rig.start());
        for (int k = 0; k < kInterlockCount; ++k)
            rig.messages.setText(size_t(k), QStringLiteral("NEW %1").arg(k));
        const QString sixth = rig.unitMessage(6), last = rig.unitMessage(19);
        int replies = 0;
        connect(&rig.transport, &Transport::frameReceived, &rig.main, [&] {
            if (++replies == 3 || replies == 6)
                rig.main.close();
        });
        rig.op.script({MsgAnswer::Cancel, MsgAnswer::Ok});
        click(rig.button("writeAllButton"));
        QCOMPARE(rig.op.boxes().at(0).text,
                 "Write All Msgs is under way on unit 1.\r\nStop it and exit the QV840N program? "
                 "The unit keeps what was done so far; the rest is not done.");
        QVERIFY(rig.op.boxes().at(0).buttons == MsgButtons::YesNo && !rig.main.isVisible());
        QCOMPARE(QString::number(replies) + "|" + QString::number(rig.endCalls), "6|1");
        QCOMPARE(rig.unitMessage(0) + "|" + rig.unitMessage(5) + "|" + rig.unitMessage(6) + "|" +
                     rig.unitMessage(19),
                 "NEW 0|NEW 5|" + sixth + "|" + last);
    }

    // Stop (its button, or Escape) ends a bulk operation between two requests.
    void stopBulk_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<QString>("said"); // in the status line
        QTest::newRow("Read All") << "readAllButton" << false
                                  << "Read All: stopped, 6 of 20 read, ";
        QTest::newRow("Write All")
            << "writeAllButton" << true
            << "Write All: stopped, 6 written, 0 unchanged, 14 not written, ";
        QTest::newRow("Erase All")
            << "eraseAllButton" << false << "Erase All: stopped, 6 of 20 erased, ";
    }
    void stopBulk() {
        QFETCH(QString, name);
        QFETCH(bool, escape);
        QFETCH(QString, said);
        const QString op = QTest::currentDataTag();
        Rig rig;
        QVERIFY(rig.start());
        QPushButton* button = rig.button(qPrintable(name));
        for (int k = 0; k < kInterlockCount; ++k) {
            rig.sim.model().setMessage(k, QStringLiteral("ON UNIT %1").arg(k).toLatin1());
            rig.messages.setText(size_t(k), QStringLiteral("IN TABLE %1").arg(k));
        }
        int replies = 0;
        QStringList during;
        connect(&rig.transport, &Transport::frameReceived, &rig.main, [&] {
            if (++replies != 6)
                return;
            // The address (number and arrows) and the recent files are held: greyed.
            during << button->text() << QString::number(rig.button("openFileButton")->isEnabled())
                   << QString::number(child<QLabel>(rig.main, "addressValue")->isEnabled())
                   << QString::number(child<QWidget>(rig.main, "recentFilesButton")->isEnabled());
            // Write All shows the labels of the slots it has come to (5), blanks the others.
            during << QString::number(rig.message(5)->text().isEmpty())
                   << QString::number(rig.message(6)->text().isEmpty());
            if (escape) {
                rig.main.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&rig.main));
                QTest::keyClick(rig.main.windowHandle(), Qt::Key_Escape);
            } else {
                button->click();
            }
        });
        rig.op.answerAlways(MsgAnswer::Ok); // Erase All asks first
        QString blankWhileTold;             // no label is blank once a box tells how it ended
        rig.op.onBox(
            [&](auto&) { blankWhileTold += rig.message(19)->text().isEmpty() ? "1" : "0"; });
        button->click();
        QCOMPARE(during, QStringList({"S&top", "0", "0", "0", "0", op == "Write All" ? "1" : "0"}));
        QVERIFY(!blankWhileTold.isEmpty() && !blankWhileTold.contains('1'));
        QCOMPARE(rig.op.last().title + "|" + QString::number(replies), "Stopped|6");
        QVERIFY(button->isEnabled() && button->text() != "S&top");
        QVERIFY2(rig.status().contains(said), qPrintable(rig.status()));
        for (int k : {0, 5, 6, 19}) {
            const QString unit = rig.unitMessage(k), table = rig.messages.texts()[size_t(k)];
            if (op == "Read All")
                QCOMPARE(table, k < 6 ? unit : QStringLiteral("IN TABLE %1").arg(k));
            else if (op == "Write All")
                QCOMPARE(unit, k < 6 ? table : QStringLiteral("ON UNIT %1").arg(k));
            else
                QCOMPARE(unit, k < 6 ? QString() : QStringLiteral("ON UNIT %1").arg(k));
        }
    }

    void silentUnit() {
        SimConfig silent;
        silent.neverAnswer = true;
        Rig rig;
        QVERIFY(rig.start(silent));
        // While the fault box is up, nothing else may start in any window.
        click(rig.message(1));
        QPushButton* readAll = rig.button("readAllButton");
        QPushButton* commsTestRead = child<QPushButton>(rig.commsTest, "readButton");
        QPushButton* editorWrite = child<QPushButton>(rig.main.editorWindow(), "writeButton");
        QVector<bool> enabledDuring;
        rig.op.onBox([&](const RecordingOperator::Box&) {
            enabledDuring << (readAll->text() != "S&top")
                          << rig.button("saveFileButton")->isEnabled() << commsTestRead->isEnabled()
                          << editorWrite->isEnabled();
        });
        rig.op.script({MsgAnswer::Cancel});
        click(readAll);
        const RecordingOperator::Box fault = rig.op.last();
        QCOMPARE(fault.text, "No data received!\r\nCheck connection, unit address, baud rate, com "
                             "port\r\nAnd then try again later!\r\nNo answer for interlock "
                             "L1-40 at unit address 1.");
        QVERIFY(fault.title == "Communication Fault" &&
                fault.buttons == MsgButtons::OkCancelIgnoreAll);
        QCOMPARE(enabledDuring, QVector<bool>(4, false));
        QVERIFY(readAll->isEnabled() && commsTestRead->isEnabled() && editorWrite->isEnabled());
    }

    // Write Selected gives the checked differences the table's text (a default erases), no more.
    void compareWithUnit() {
        Rig rig;
        QVERIFY(rig.start());
        rig.connection.line.pauseMs = 0;
        for (int k : {2, 5, 9})
            rig.sim.model().setMessage(k, QStringLiteral("ON UNIT %1").arg(k).toLatin1());
        click(rig.button("readAllButton"));
        rig.messages.setText(2, "TWO, \"2\"");
        rig.messages.setText(5, rig.messages.defaults()[5]);
        rig.sim.model().setMessage(9, "CHANGED ON UNIT");
        QStringList rows;
        const auto answerDialog = [&rows](const char* button, int uncheck) {
            // The dialog opens once the compare, which runs the event loop, is over.
            whenModal<CompareDialog>([&rows, button, uncheck](CompareDialog* dialog) {
                auto* table = child<QTableWidget>(dialog, "differenceTable");
                rows.clear();
                for (int r = 0; r < table->rowCount(); ++r)
                    rows << table->item(r, 0)->text() + "|" + table->item(r, 1)->text() + "|" +
                                table->item(r, 2)->text();
                if (uncheck >= 0)
                    table->item(uncheck, 0)->setCheckState(Qt::Unchecked);
                click(child<QPushButton>(dialog, button));
            });
        };
        const QString terminal9 = rig.config.terminalNames[9];
        answerDialog("writeSelectedButton", 2);
        click(rig.button("compareButton"));
        QCOMPARE(rows, QStringList({rig.config.terminalNames[2] + "|ON UNIT 2|TWO, \"2\"",
                                    rig.config.terminalNames[5] + "|ON UNIT 5|(default) " +
                                        rig.messages.defaults()[5],
                                    terminal9 + "|CHANGED ON UNIT|ON UNIT 9"}));
        QCOMPARE(rig.unitMessage(2) + "|" + rig.unitMessage(5) + "|" + rig.unitMessage(9),
                 "TWO, \"2\"||CHANGED ON UNIT");
        const QString status = rig.status();
        QVERIFY2(status.contains("Write Selected: 1 written, 1 erased, 0 unchanged, 18 not chosen"),
                 qPrintable(status));
        QCOMPARE(rig.op.count(), 0);
        // Close writes nothing; once the table holds what the unit does, it says so.
        QByteArray sent;
        QObject::connect(&rig.transport, &Transport::frameSent,
                         [&](const QByteArray& f) { sent += f.mid(1, 1); });
        answerDialog("closeButton", -1);
        click(rig.button("compareButton"));
        QVERIFY(rows.size() == 1 && rows[0].startsWith(terminal9 + "|CHANGED ON UNIT|"));
        QCOMPARE(sent, QByteArray(20, '\x03'));
        rig.messages.setText(9, "CHANGED ON UNIT");
        click(rig.button("compareButton"));
        QCOMPARE(rig.op.last().text, "All 20 slots of unit 1 on " + rig.sim.devicePath() +
                                         " hold what the table says.");
        // Write All with the read-back on: a slot the unit does not keep is named.
        rig.connection.line.verify = true;
        rig.messages.setText(3, "THREE");
        sent.clear();
        click(rig.button("writeAllButton"));
        QVERIFY2(rig.status().contains("Write All: "), qPrintable(rig.status()));
        QCOMPARE(sent.count('\x10') * 2, sent.size()); // each write read back at once
    }

    // Where the table came from, and each message against the unit chosen now.
    void tableSaysWhereFrom() {
        Rig rig;
        QVERIFY(rig.start());
        rig.connection.line.pauseMs = 0;
        auto* sourceLine = child<QLabel>(rig.main, "sourceLine");
        const auto states = [&rig] {
            QString out;
            for (int k = 0; k < kInterlockCount; ++k)
                out += QString::number(rig.message(k)->property("slotState").toInt());
            return out;
        };
        QCOMPARE(sourceLine->toolTip(), "The defaults");
        rig.sim.model().setMessage(7, "HIDDEN BY A DEFAULT");
        rig.connection.line.blockReads = BlockReads::On; // six messages a request
        QSignalSpy requests(&rig.transport, &Transport::frameSent);
        click(rig.button("readAllButton"));
        QCOMPARE(requests.size(), 4);
        const QString read = "Read from unit 1 on " + rig.transport.endpointName() + " at ";
        QVERIFY2(sourceLine->toolTip().startsWith(read), qPrintable(sourceLine->toolTip()));
        QCOMPARE(states(), QString(20, '1'));
        // Another unit: the texts are not its own, and say so.
        rig.main.setUnitAddress(2);
        QVERIFY(sourceLine->toolTip().contains(", not from unit 2 on " +
                                               rig.transport.endpointName() + " now chosen"));
        QCOMPARE(states(), QString(20, '0'));
        rig.main.setUnitAddress(1);
        QCOMPARE(states(), QString(20, '1'));
        // Write All leaves a slot at its default alone: the unit still holds its text there.
        rig.messages.setText(7, rig.messages.defaults()[7]);
        rig.messages.setText(8, "EIGHT");
        click(rig.button("writeAllButton"));
        const QString status = rig.status(); // whole
        QVERIFY2(status.endsWith("; 1 slot at its default was not changed on the unit: Compare "
                                 "with Unit shows them"),
                 qPrintable(status));
        QCOMPARE(states().mid(7, 2), "21");
        QVERIFY(sourceLine->toolTip().contains("; written to unit 1 on ") &&
                sourceLine->toolTip().endsWith("; 1 slot differs from the unit (yellow: differs "
                                               "from the unit)"));
        // A message the comms test wrote to this unit shows in the table.
        child<QLineEdit>(rig.commsTest, "messageEdit")->setText("FROM THE COMMS TEST");
        child<UpDown>(rig.commsTest, "slotSpinner")->setValue(400 + 20 * 7);
        click(child<QPushButton>(rig.commsTest, "writeButton"));
        QCOMPARE(rig.message(7)->text() + "|" + rig.messages.texts()[7] + "|" + states().mid(7, 1),
                 "FROM THE COMMS TEST|FROM THE COMMS TEST|1");
        // Restore All from the line's window: a slot it erases holds the table's default.
        rig.sim.model().setMessage(9, "ERASED BY THE RESTORE");
        rig.messages.setText(9, rig.messages.defaults()[9]);
        QTemporaryDir backup;
        TextTable saved = rig.messages.texts();
        saved[2] = "FROM THE BACKUP";
        QVERIFY(saveTableFile(backup.filePath("unit-01.sav"), saved).ok);
        whenModal<LineUnitsWindow>([&](LineUnitsWindow* w) {
            w->setFolderChooser([&](const QString&, const QString&) { return backup.path(); });
            click(child<QPushButton>(w, "restoreAllButton"));
            w->reject();
        });
        click(rig.button("lineUnitsButton"));
        QCOMPARE(rig.unitMessage(2) + "|" + rig.unitMessage(9), "FROM THE BACKUP|");
        QCOMPARE(states().mid(1, 3) + "|" + states().mid(9, 1), "121|1");
        // A table opened from a file keeps its unit's marks; another address greys them.
        rig.main.setFileChooser(
            [&](bool, const QString&, const QString&) { return backup.filePath("unit-01.sav"); });
        rig.op.answerAlways(MsgAnswer::Ok);
        click(rig.button("openFileButton"));
        QCOMPARE(states().mid(1, 2), "11");
        rig.main.setUnitAddress(2);
        QCOMPARE(states(), QString(20, '0'));
        QCOMPARE(rig.main.windowTitle().section(" - ", 1), // a line backup: its folder too
                 QDir(backup.path()).dirName() + "/unit-01.sav[*]");
        QVERIFY2(sourceLine->toolTip().startsWith("Opened from " + QDir(backup.path()).dirName() +
                                                  "/unit-01.sav; not read from unit 2 on " +
                                                  rig.transport.endpointName() + " now chosen"),
                 qPrintable(sourceLine->toolTip()));
    }

    // Units on This Line against a simulated line of units 3 to 5.
    void lineUnitsWindow() {
        SimThread sim;
        sim.line().setUnits(3, 5);
        for (int unit : {3, 4, 5})
            sim.line().unit(unit)->setMessage(0, QByteArray("UNIT ") + QByteArray::number(unit));
        SimConfig fast;
        fast.baud = 115200;
        QVERIFY(sim.start(fast));
        QtSerialPortDevice port;
        port.setPortName(sim.devicePath());
        QVERIFY(port.open().ok && port.setSettings({115200}).ok);
        const CrcTableArray crc = standardCrcTable();
        RtuTransport transport(port, crc, LinkTiming{100, 20, 30, 2, 1, 5});
        TextTable defaults;
        QVERIFY(!readDefaults(appFolder(), defaults));
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
        QVERIFY(chosen.size() == 1 && chosen.first().first().toInt() == 4);
        child<QPushButton>(window, "backUpAllButton")->click();
        QCOMPARE(op.last().text + "|" + list->topLevelItem(2)->text(3),
                 "Back Up All: 3 of 3 units saved.|saved");
        QVERIFY(QFile::exists(dir.filePath("unit-05.sav")));
        // Unit 5 changed: Restore All reads first and names only unit 5.
        sim.line().unit(5)->setMessage(0, "CHANGED");
        op.clear();
        op.script({MsgAnswer::Cancel}); // No
        child<QPushButton>(window, "restoreAllButton")->click();
        QVERIFY2(op.count() == 1 && op.last().text.startsWith("Restore unit 5 from ") &&
                     op.last().buttons == MsgButtons::YesNo,
                 qPrintable(op.last().text));
        QCOMPARE(sim.line().unit(5)->message(0), QByteArray("CHANGED"));
        QVERIFY(
            list->topLevelItem(2)->childCount() == 1 && // the slot that differs, in the row
            list->topLevelItem(2)->child(0)->text(0).startsWith("interlock L1-40: on the unit"));
        child<QPushButton>(window, "restoreAllButton")->click(); // Yes
        QCOMPARE(QString(sim.line().unit(5)->message(0)) + "|" + list->topLevelItem(2)->text(3),
                 "UNIT 5|1 written, 0 erased, 19 unchanged");
        QVERIFY(child<QPushButton>(window, "closeButton")->isEnabled());
        // Back Up All over a backup asks first (No: a new dated folder is offered).
        sim.line().unit(4)->setMessage(0, "NEWER");
        const auto unit4 = [&](const QString& folder) {
            return fileBytes(QDir(folder).filePath("unit-04.sav")).contains("NEWER");
        };
        op.clear();
        op.script({MsgAnswer::Cancel, MsgAnswer::Cancel});
        child<QPushButton>(window, "backUpAllButton")->click();
        QCOMPARE(op.count(), 2);
        const QString when = QDate::currentDate().toString(Qt::ISODate);
        QVERIFY2(op.boxes().at(0).text.startsWith(QDir::toNativeSeparators(dir.path()) +
                                                  " holds a backup of units 3, 4 and 5 from " +
                                                  when) &&
                     op.boxes().at(0).text.endsWith("\r\nReplace its files with this backup?") &&
                     op.boxes().at(0).buttons == MsgButtons::YesNo,
                 qPrintable(op.boxes().at(0).text));
        QVERIFY(!unit4(dir.path()));
        op.script({MsgAnswer::Cancel, MsgAnswer::Ok});
        child<QPushButton>(window, "backUpAllButton")->click();
        const QStringList fresh = QDir(dir.path()).entryList({"backup-*"}, QDir::Dirs);
        QVERIFY(fresh.size() == 1 && unit4(dir.filePath(fresh.first())) && !unit4(dir.path()));
        op.script({MsgAnswer::Ok});
        child<QPushButton>(window, "backUpAllButton")->click();
        QVERIFY(unit4(dir.path()));
        QCOMPARE(list->topLevelItem(0)->toolTip(2), QDir::toNativeSeparators(dir.path()));
        // A silent line is said so, each row shows this run only; a stopped run's bar is not full.
        sim.line().setUnits(10, 10);
        child<QPushButton>(window, "compareAllButton")->click();
        QCOMPARE(op.last().text.section("\r\n", 0, 0) + "|" + list->topLevelItem(2)->text(3),
                 "Compare All: none of the 3 units answered.|");
        sim.line().setUnits(3, 5);
        int sent = 0;
        const auto stopAt = connect(&transport, &Transport::frameSent, &window, [&] {
            if (++sent == 3)
                child<QPushButton>(window, "stopButton")->click();
        });
        child<QPushButton>(window, "scanButton")->click();
        disconnect(stopAt);
        QVERIFY(child<QProgressBar>(window, "lineProgressBar")->value() < 100);
    }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
