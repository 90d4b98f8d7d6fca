// The single-message editor against a scripted unit with short waits.
#include "link/CommsClock.h"
#include "link/Crc.h"
#include "support/RecordingOperator.h"
#include "support/RecordingViews.h"
#include "support/ScriptedPort.h"
#include "table/Editor.h"

#include <QtTest>

namespace {

LinkTiming fastTiming() {
    LinkTiming t;
    t.firstByteMs = 30;
    t.replyGapMs = 5;
    t.bulkPauseMs = 1;
    t.turnaroundMs = 0;
    t.sendAllSettleMs = 0;
    return t;
}

const QStringList kLengthTexts = {
    QStringLiteral("The message length must be greater than 0 and no more than 40 characters"),
    QStringLiteral("Still not correct length! Have you read QVIB-5170"),
    QStringLiteral("Hey, I can do this all day, can you?"),
    QStringLiteral("Are you losing your patience yet?"),
};

QByteArray withCrc(const char* hex) {
    const QByteArray body = QByteArray::fromHex(hex);
    const auto [lo, hi] = frameCrc(standardCrcTable(), body);
    return body + char(lo) + char(hi);
}

struct Rig {
    SharedState state;
    ScriptedPort port;
    Link link{port, fastTiming()};
    RecordingTableView table;
    RecordingOperator op;
    CommsClock clock;
    Editor editor{state, link, table, op, &clock};
    FakeEditorView view;
    QVector<bool> clockDuringBoxes;

    explicit Rig(bool answers = true) {
        state.CrcTable = standardCrcTable();
        state.UnitAddress = 1;
        for (int i = 0; i < 20; ++i) {
            state.DefaultMessages[i] = QStringLiteral("DEFAULT %1").arg(i);
            state.InterlockMessages[i] = QStringLiteral("CURRENT %1").arg(i);
            state.TerminalNames[i] = QStringLiteral("T%1").arg(i);
        }
        clock.start();
        if (answers)
            port.answerEveryRequest(QByteArray::fromHex("0110019000010000"));
        else
            port.staysilent();
        op.onBox([this](const RecordingOperator::Box&) { clockDuringBoxes << clock.isEnabled(); });
    }
};

} // namespace

class TestEditor : public QObject {
    Q_OBJECT
private slots:
    void lengthErrorsRotate() {
        Rig rig;
        rig.state.SelectedInterlock = 2;
        const auto press = [&](const QString& text) {
            rig.view.text = text;
            return rig.editor.write(rig.view);
        };
        QCOMPARE(press(QString()), Editor::Outcome::LengthError);
        QCOMPARE(press(QString(41, QLatin1Char('x'))), Editor::Outcome::LengthError);
        QCOMPARE(rig.view.text.size(), 41); // kept for another attempt
        QCOMPARE(press(QStringLiteral("OK")), Editor::Outcome::Delivered); // no reset
        for (int i = 0; i < 3; ++i)
            press(QString());
        QStringList shown;
        for (const auto& box : rig.op.boxes())
            if (box.title == QLatin1String("Write Message Length Error")) {
                QCOMPARE(box.icon, MsgIcon::Exclamation);
                QCOMPARE(box.buttons, MsgButtons::Ok);
                shown << box.text;
            }
        QCOMPARE(shown, QStringList() << kLengthTexts << kLengthTexts[0]);
        QCOMPARE(rig.editor.LengthErrorCount, 1);
        QCOMPARE(rig.port.requests().size(), 1); // only the valid text went out

        // The window keeps the counter; a value set from outside carries on.
        rig.editor.LengthErrorCount = 3;
        press(QString());
        QCOMPARE(rig.op.last().text, kLengthTexts[3]);
        QCOMPARE(rig.editor.LengthErrorCount, 0);
    }

    void writeDelivered() {
        Rig rig;
        rig.state.SelectedInterlock = 19;
        QCOMPARE(rig.editor.terminalName(), QStringLiteral("T19"));
        QCOMPARE(rig.editor.currentMessage(), QStringLiteral("CURRENT 19"));
        rig.view.text = QStringLiteral("A");
        QCOMPARE(rig.editor.write(rig.view), Editor::Outcome::Delivered);
        QCOMPARE(rig.port.requests(), QVector<QByteArray>{withCrc("0110030C0001024100")});
        QCOMPARE(rig.state.InterlockMessages[19], QStringLiteral("A"));
        QCOMPARE(rig.table.labels[19], QStringLiteral("A"));
        QCOMPARE(rig.view.currentValue, QStringLiteral("A"));
        QVERIFY(rig.view.text.isEmpty());
        QCOMPARE(rig.op.count(), 1);
        QCOMPARE(rig.op.last().text,
                 QStringLiteral("Seems like message received and stored in QV840"));
        QCOMPARE(rig.op.last().title, QStringLiteral("Message Delivered"));
        QCOMPARE(rig.op.last().icon, MsgIcon::Information);
        // The clock stays off until the box has been answered.
        QCOMPARE(rig.clockDuringBoxes, QVector<bool>{false});
        QVERIFY(rig.clock.isEnabled());
    }

    void writeNotDelivered() {
        Rig rig(false);
        rig.state.SelectedInterlock = 0;
        rig.view.text = QStringLiteral("NEW");
        QCOMPARE(rig.editor.write(rig.view), Editor::Outcome::NotDelivered);
        QCOMPARE(rig.op.last().text,
                 QStringLiteral("No reply received from QV840!\r\nCheck communications!"));
        QCOMPARE(rig.op.last().title, QStringLiteral("Message Not Delivered"));
        QCOMPARE(rig.op.last().icon, MsgIcon::Exclamation);
        QCOMPARE(rig.view.text, QStringLiteral("NEW"));
        QVERIFY(rig.view.currentValue.isEmpty());
        QCOMPARE(rig.state.InterlockMessages[0], QStringLiteral("CURRENT 0"));
        QVERIFY(rig.table.labelHistory.isEmpty());
    }

    void selectionReadAtEachPress() {
        Rig rig;
        rig.view.text = QStringLiteral("AB");
        rig.state.SelectedInterlock = 0;
        rig.editor.write(rig.view);
        rig.state.SelectedInterlock = 13;
        rig.view.text = QStringLiteral("AB");
        rig.editor.write(rig.view);
        rig.editor.erase(rig.view);
        const auto requests = rig.port.requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0], QByteArray::fromHex("0110019000010241421BA1"));
        QCOMPARE(requests[1].mid(2, 2), QByteArray::fromHex("0294")); // 400 + 20 x 13 = 660
        QCOMPARE(requests[2].left(4), QByteArray::fromHex("01100294"));
        QCOMPARE(rig.state.InterlockMessages[0], QStringLiteral("AB"));
        QCOMPARE(rig.state.InterlockMessages[13], QStringLiteral("DEFAULT 13"));
    }

    void erase_data() {
        QTest::addColumn<bool>("answers");
        QTest::newRow("answered") << true;
        QTest::newRow("silent") << false;
    }
    void erase() {
        QFETCH(bool, answers);
        Rig rig(answers);
        rig.state.SelectedInterlock = 4;
        rig.view.text = QStringLiteral("typed");
        rig.view.currentValue = QStringLiteral("SHOWN");
        rig.editor.erase(rig.view);
        QCOMPARE(rig.port.requests(), QVector<QByteArray>{withCrc("011001E0000102"
                                                                  "0000")});
        QVERIFY(rig.view.text.isEmpty()); // cleared whether or not the unit answered
        QCOMPARE(rig.view.currentValue, QStringLiteral("SHOWN"));
        QCOMPARE(rig.op.last().text, answers ? QStringLiteral("Erase Successfully Completed")
                                             : QStringLiteral("Erase Not Completed"));
        QVERIFY(rig.op.last().title.isEmpty());
        QCOMPARE(rig.op.last().icon, MsgIcon::None);
        QCOMPARE(rig.state.InterlockMessages[4],
                 answers ? QStringLiteral("DEFAULT 4") : QStringLiteral("CURRENT 4"));
        QCOMPARE(rig.table.labels[4], answers ? QStringLiteral("DEFAULT 4") : QString());
        QCOMPARE(rig.clockDuringBoxes, QVector<bool>{false});
        QVERIFY(rig.clock.isEnabled());
    }

    void nothingSentOnProblems_data() {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("boxStart");
        QTest::newRow("character") << "character"
                                   << "The character 'Ω' (U+03A9) at position 3";
        QTest::newRow("no port") << "closed"
                                 << "No serial port is open.";
        QTest::newRow("busy") << "busy"
                              << "The serial link is busy";
    }
    void nothingSentOnProblems() {
        QFETCH(QString, problem);
        QFETCH(QString, boxStart);
        Rig rig;
        rig.state.SelectedInterlock = 1;
        rig.view.text = problem == QLatin1String("character") ? QStringLiteral("abΩ") : "fine";
        if (problem == QLatin1String("closed"))
            rig.port.close();
        if (problem == QLatin1String("busy"))
            QVERIFY(rig.link.claim());
        QVERIFY(rig.editor.write(rig.view) != Editor::Outcome::Delivered);
        if (problem != QLatin1String("character"))
            QVERIFY(rig.editor.erase(rig.view) != Editor::Outcome::Delivered);
        QVERIFY(rig.port.requests().isEmpty());
        QVERIFY2(rig.op.last().text.startsWith(boxStart), qPrintable(rig.op.last().text));
        QVERIFY(!rig.view.text.isEmpty()); // a refused erase clears nothing either
        QCOMPARE(rig.editor.LengthErrorCount, 0);
        QCOMPARE(rig.state.InterlockMessages[1], QStringLiteral("CURRENT 1"));
    }

    void portFailureDuringWrite() {
        Rig rig;
        rig.port.setResponder([&](const QByteArray&) {
            QTimer::singleShot(2, &rig.port, [&] { rig.port.failNow("Input/output error"); });
            return QVector<ScriptedPort::Chunk>{};
        });
        rig.state.SelectedInterlock = 7;
        rig.view.text = QStringLiteral("NEW");
        QCOMPARE(rig.editor.write(rig.view), Editor::Outcome::PortFailed);
        QCOMPARE(rig.op.count(), 1);
        QCOMPARE(rig.op.last().icon, MsgIcon::Critical);
        QVERIFY(rig.op.last().text.contains(QLatin1String("scripted")));
        QVERIFY(rig.op.last().text.contains(QLatin1String("Input/output error")));
        QCOMPARE(rig.state.InterlockMessages[7], QStringLiteral("CURRENT 7"));
        QCOMPARE(rig.view.text, QStringLiteral("NEW"));
        QVERIFY(rig.clock.isEnabled());
        QVERIFY(!rig.link.busy());
    }
};

QTEST_GUILESS_MAIN(TestEditor)
#include "test_editor.moc"
