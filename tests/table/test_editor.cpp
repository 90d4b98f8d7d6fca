// The single-message editor against a scripted unit with short waits.
#include "link/CommsClock.h"
#include "support/RecordingOperator.h"
#include "support/RecordingViews.h"
#include "support/ScriptedPort.h"
#include "table/Editor.h"

#include <QtTest>

namespace {

constexpr int Answers = 0, Silent = 1, Fails = 2, Closed = 3, Busy = 4, Character = 5;

// Interlock 4 selected when the editor opens; "A" typed, "CUR" shown.
struct Rig {
    SharedState state;
    ScriptedPort port;
    Link link{port, LinkTiming{30, 5, 30, 1, 0, 0}};
    RecordingTableView table;
    RecordingOperator op;
    CommsClock clock;
    Editor editor{state, link, table, op, &clock};
    FakeEditorView view;
    QVector<bool> clockDuringBoxes;

    Rig() {
        state.UnitAddress = 1;
        state.SelectedInterlock = 4;
        state.DefaultMessages.fill(QStringLiteral("DEF"));
        state.InterlockMessages.fill(QStringLiteral("OLD"));
        clock.start();
        port.answerEveryRequest(QByteArray::fromHex("0110019000010000"));
        op.onBox([this](const RecordingOperator::Box&) { clockDuringBoxes << clock.isEnabled(); });
        view.text = QStringLiteral("A");
        view.currentValue = QStringLiteral("CUR");
    }
};

} // namespace

class TestEditor : public QObject {
    Q_OBJECT
private slots:
    void lengthErrorsRotate() {
        const QStringList texts = {
            "The message length must be greater than 0 and no more than 40 characters",
            "Still not correct length! Have you read QVIB-5170",
            "Hey, I can do this all day, can you?", "Are you losing your patience yet?"};
        Rig rig;
        QStringList shown;
        for (const QString& typed : {QString(), QString(41, QLatin1Char('x')), QStringLiteral("OK"),
                                     QString(), QString(), QString()}) {
            rig.view.text = typed;
            if (rig.editor.write(rig.view) == Editor::Outcome::LengthError)
                shown << rig.op.last().text;
            QCOMPARE(rig.view.text.size(), typed == "OK" ? 0 : typed.size()); // kept to mend
        }
        QCOMPARE(shown, texts + texts.mid(0, 1)); // a delivered text does not restart the round
        QCOMPARE(rig.port.requests().size(), 1);
    }

    // One press of Write or Erase: what goes out, the one box, what changes.
    void press_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("problem");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("request"); // without the CRC
        QTest::addColumn<QString>("box");     // part of its text
        QTest::addColumn<QString>("after");   // the entry|Text1|lblCurrentValue
        const auto row = [](const char* name, bool write, int problem, int slot,
                            const char* request, const QString& box, const char* after) {
            QTest::newRow(name) << write << problem << slot << QString(request) << box
                                << QString(after);
        };
        row("write", true, Answers, 0, "011001900001024100", "Seems like message", "A||A");
        row("write, no reply", true, Silent, 19, "0110030C0001024100", "No reply", "OLD|A|CUR");
        row("write, port fails", true, Fails, 4, "011001E00001024100", "scripted failed: I/O",
            "OLD|A|CUR");
        row("write, bad char", true, Character, 4, "", "'Ω' (U+03A9) at position 2", "OLD|AΩ|CUR");
        row("write, no port", true, Closed, 4, "", "No serial port is open.", "OLD|A|CUR");
        row("write, busy", true, Busy, 4, "", "The serial link is busy", "OLD|A|CUR");
        row("erase", false, Answers, 13, "011002940001020000", "Erase Successfully", "DEF||CUR");
        row("erase, no reply", false, Silent, 4, "011001E00001020000", "Erase Not", "OLD||CUR");
        row("erase, no port", false, Closed, 4, "", "No serial port is open.", "OLD|A|CUR");
    }
    void press() {
        QFETCH(bool, write);
        QFETCH(int, problem);
        QFETCH(int, slot);
        QFETCH(QString, request);
        QFETCH(QString, box);
        Rig rig;
        rig.state.SelectedInterlock = slot; // read at the press, not when the editor opened
        if (problem == Silent || problem == Fails)
            rig.port.staysilent();
        if (problem == Closed)
            rig.port.close();
        if (problem == Character)
            rig.view.text = QStringLiteral("AΩ");
        QVERIFY(problem != Busy || rig.link.claim());
        if (problem == Fails) // while the reply is awaited
            QObject::connect(&rig.link, &Link::frameSent, [&] {
                QTimer::singleShot(2, &rig.port, [&] { rig.port.failNow("I/O"); });
            });
        const auto outcome = write ? rig.editor.write(rig.view) : rig.editor.erase(rig.view);
        QCOMPARE(outcome == Editor::Outcome::Delivered, problem == Answers);
        QCOMPARE(rig.port.requests().size(), request.isEmpty() ? 0 : 1);
        QCOMPARE(rig.port.requests().value(0).left(9), QByteArray::fromHex(request.toLatin1()));
        QCOMPARE(rig.op.count(), 1);
        QVERIFY2(rig.op.last().text.contains(box), qPrintable(rig.op.last().text));
        const QString entry = rig.state.InterlockMessages[slot];
        QTEST(entry + '|' + rig.view.text + '|' + rig.view.currentValue, "after");
        QCOMPARE(rig.table.labels[slot], problem == Answers ? entry : QString());
        QCOMPARE(rig.clockDuringBoxes, QVector<bool>{problem >= Closed}); // held while asking
        QVERIFY(rig.clock.isEnabled());
        QCOMPARE(rig.link.busy(), problem == Busy);
    }
};

QTEST_GUILESS_MAIN(TestEditor)
#include "test_editor.moc"
