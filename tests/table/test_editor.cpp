// The single-message editor against a scripted unit with short waits.
#include "commstest/CommsClock.h"
#include "support/TableRig.h"
#include "table/Editor.h"

#include <QtTest>

constexpr int Answers = 0, Silent = 1, Fails = 2, Garbled = 3, Refuses = 4; // reach the unit
constexpr int Closed = 5, Busy = 6, Character = 7, Unready = 8;

// Interlock 0 selected, "A" typed, "CUR" shown, the entries "OLD"; the unit answers every
// request.
struct Rig : ScriptedRig {
    int address = 1;
    CommsClock clock;
    Editor editor{messages, transport, op, &clock};
    FakeEditorView editorView;
    QVector<bool> clockDuringBoxes;

    Rig() {
        messages.setTexts(filled(QStringLiteral("OLD")));
        clock.start();
        op.onBox([this](const RecordingOperator::Box&) { clockDuringBoxes << clock.isEnabled(); });
        editorView.text = QStringLiteral("A");
    }
};

class TestEditor : public QObject {
    Q_OBJECT
private slots:
    void lengthErrorsRotate() {
        Rig rig;
        QStringList shown;
        for (const QString& typed : {QString(), QString(41, QLatin1Char('x')), QStringLiteral("OK"),
                                     QString(), QString(), QString()}) {
            rig.editorView.text = typed;
            if (rig.editor.write(rig.editorView, rig.address) == Editor::Outcome::LengthError)
                shown << rig.op.last().text;
            QCOMPARE(rig.editorView.text.size(), typed == "OK" ? 0 : typed.size()); // kept to mend
        }
        // Four texts in turn; a delivered text does not restart the round.
        QCOMPARE(shown.size(), 5);
        QCOMPARE(shown[0],
                 "The message length must be greater than 0 and no more than 40 characters");
        QCOMPARE(QSet<QString>(shown.begin(), shown.end()).size(), 4);
        QCOMPARE(shown[4], shown[0]);
        QCOMPARE(rig.port.requests().size(), 1);
    }

    // One press of Write or Erase: the one box, and what changes.
    void press_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("problem");
        QTest::addColumn<QString>("box");   // part of its text
        QTest::addColumn<QString>("after"); // the entry|the new text
        const auto row = [](const char* name, bool write, int problem, const char* box,
                            const char* after) {
            QTest::newRow(name) << write << problem << QString(box) << QString(after);
        };
        row("write", true, Answers, "Seems like message", "A|");
        row("write, no reply", true, Silent, "No reply", "OLD|A");
        row("write, port fails", true, Fails, "scripted failed: I/O", "OLD|A");
        row("write, garbled reply", true, Garbled, "did not confirm the message: a garbled",
            "OLD|A");
        row("write, refused", true, Refuses, "Modbus exception 2, illegal data address", "OLD|A");
        // The text typed is the end of "after".
        row("write, ESC", true, Character,
            "interlock L1-40 holds the character ESC (\\x1B) at position 2", "OLD|A\x1B");
        row("write, port closed", true, Closed, "The serial port scripted is not open", "OLD|A");
        row("write, busy", true, Busy, "The serial link is busy", "OLD|A");
        row("write, line not ready", true, Unready, "Sending on scripted failed", "OLD|A");
        row("erase", false, Answers, "Erase Successfully", "DEFAULT 0|");
        row("erase, no reply", false, Silent, "Erase Not", "OLD|");
        row("erase, port fails", false, Fails, "scripted failed: I/O", "OLD|");
        row("erase, garbled reply", false, Garbled, "Erase Not Completed\r\nThe unit's reply",
            "OLD|");
        row("erase, refused", false, Refuses, "Modbus exception 2", "OLD|");
        row("erase, port closed", false, Closed, "The serial port scripted is not open", "OLD|A");
        row("erase, line not ready", false, Unready, "Sending on scripted failed", "OLD|A");
    }
    void press() {
        QFETCH(bool, write);
        QFETCH(int, problem);
        QFETCH(QString, box);
        QFETCH(QString, after);
        Rig rig;
        if (problem == Silent || problem == Fails)
            rig.port.staysilent();
        if (problem == Closed)
            rig.port.close();
        if (problem == Unready)
            rig.port.failDrain();
        if (problem == Garbled) // one bit of the echo flipped on the line
            rig.unit.spoil = [](int, QByteArray r, const QByteArray&) {
                return r.replace(5, 1, "\x03");
            };
        if (problem == Refuses)
            rig.unit.spoil = [](int, const QByteArray&, const QByteArray&) {
                return FakeUnit::framed(QByteArray::fromHex("019002"));
            };
        if (problem == Character)
            rig.editorView.text = after.section('|', 1, 1);
        QVERIFY(problem != Busy || rig.transport.claim());
        if (problem == Fails) // while the reply is awaited
            QObject::connect(&rig.transport, &Transport::frameSent, [&] {
                QTimer::singleShot(2, &rig.port, [&] { rig.port.failNow("I/O"); });
            });
        rig.op.answerAlways(MsgAnswer::Reconnect); // where the box offers it
        rig.view.labelHistory.clear();
        const auto outcome = write ? rig.editor.write(rig.editorView, rig.address)
                                   : rig.editor.erase(rig.editorView, rig.address);
        QCOMPARE(outcome == Editor::Outcome::Delivered, problem == Answers);
        QCOMPARE(rig.port.requests().size(), problem <= Refuses ? 1 : 0);
        QVERIFY2(rig.op.count() == 1 && rig.op.last().text.contains(box),
                 qPrintable(rig.op.last().text));
        const QString entry = rig.messages.texts()[0];
        QCOMPARE(entry + '|' + rig.editorView.text, after);
        QCOMPARE(rig.view.labelHistory.size(), problem == Answers ? 1 : 0); // the table changed
        QCOMPARE(rig.clockDuringBoxes, QVector<bool>{problem >= Closed});   // held while asking
        QVERIFY(rig.clock.isEnabled() && rig.transport.busy() == (problem == Busy));
        // Reconnect was this press's answer: the next press (refused) does not ask for it again.
        QCOMPARE(rig.editor.reconnectAsked(),
                 problem == Fails || problem == Closed || problem == Unready);
        rig.editorView.text.clear();
        rig.port.failDrain(false);
        rig.editor.setConfirmErase(true);
        write ? rig.editor.write(rig.editorView, rig.address)
              : rig.editor.erase(rig.editorView, rig.address);
        QVERIFY(!rig.editor.reconnectAsked());
    }

    // With the read-back on, a confirmed write or erase is read at once; a slot that does not
    // hold what was sent is a failure naming it, and the table holds what was read back.
    void readBack_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("fault"); // 0 none, 1 confirmed but not stored, 2 read-back silent
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("box");   // part of the one box
        QTest::addColumn<QString>("after"); // the entry|the new text
        const auto row = [](const char* name, bool write, int fault, Editor::Outcome o,
                            const char* box, const char* after) {
            QTest::newRow(name) << write << fault << int(o) << QString(box) << QString(after);
        };
        row("write proven", true, 0, Editor::Outcome::Delivered, "Seems like message", "A|");
        row("write not stored", true, 1, Editor::Outcome::NotVerified,
            "interlock L1-40: written \"A\", holds \"STORED 0\"", "STORED 0|");
        row("write, read-back silent", true, 2, Editor::Outcome::NotVerified,
            "written \"A\", could not be read back", "A|");
        row("erase proven", false, 0, Editor::Outcome::Delivered, "Erase Successfully",
            "DEFAULT 0|");
        row("erase not stored", false, 1, Editor::Outcome::NotVerified,
            "written nothing (an empty slot), holds \"STORED 0\"", "STORED 0|");
    }
    void readBack() {
        QFETCH(bool, write);
        QFETCH(int, fault);
        QFETCH(QString, box);
        QFETCH(QString, after);
        Rig rig;
        rig.editor.setVerifyWrites(true);
        if (fault == 1) // the unit confirms, and keeps its old text
            rig.unit.unstored = {0};
        if (fault == 2)
            rig.unit.silentReads = {0};
        rig.op.answerAlways(MsgAnswer::Reconnect); // where the box offers it
        rig.view.labelHistory.clear();
        const auto outcome = write ? rig.editor.write(rig.editorView, rig.address)
                                   : rig.editor.erase(rig.editorView, rig.address);
        QTEST(int(outcome), "outcome");
        QCOMPARE(rig.port.requests().size(), 2);
        QCOMPARE(rig.port.requests().at(1).at(1), '\x03');
        QVERIFY2(rig.op.count() == 1 && rig.op.last().text.contains(box),
                 qPrintable(rig.op.last().text));
        QCOMPARE(rig.messages.texts()[0] + '|' + rig.editorView.text, after);
    }
};

QTEST_GUILESS_MAIN(TestEditor)
#include "test_editor.moc"
