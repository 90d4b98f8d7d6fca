// The comms-test read, write and erase against the scripted unit and a
// recording view: the bytes sent, what each label shows, the clock held off,
// and the refusals when the link cannot be used.

#include "link/CommsClock.h"
#include "link/CommsTest.h"
#include "link/Crc.h"
#include "link/Frames.h"
#include "support/ScriptedPort.h"

#include <QtTest>

namespace {

class RecordingCommsView : public CommsTestView {
public:
    void setUnitAddressText(const QString& t) override { set("Label8", unitAddress, t); }
    void setTransmitted(const QString& d) override { set("Label6(0)", transmitted, d); }
    void setReceived(const QString& d) override { set("Label6(1)", received, d); }
    void setStoredText(const QString& t) override { set("Label6(2)", stored, t); }
    void setByteCount(const QString& t) override { set("Label2", count, t); }
    void setSending(bool lit) override { calls << QString("sending %1").arg(lit); }
    void setReceiving(bool lit) override { calls << QString("receiving %1").arg(lit); }
    QString messageText() const override { return text; }
    void clearMessageText() override {
        text.clear();
        calls << "clear MsgText";
    }
    void showProblem(const QString& t) override { problems << t; }

    QString unitAddress, transmitted, received, stored, count, text;
    QStringList calls, problems;

private:
    void set(const char* name, QString& label, const QString& value) {
        label = value;
        calls << QString("%1=%2").arg(name, value);
    }
};

LinkTiming fastTiming() {
    LinkTiming t;
    t.firstByteMs = 80;
    t.replyGapMs = 25;
    t.commsTestGapMs = 10;
    t.turnaroundMs = 1;
    t.sendAllSettleMs = 1;
    return t;
}

// A 45-byte read reply holding text, padded with 0.
QByteArray readReply(const QByteArray& text) {
    QByteArray r = QByteArray::fromHex("010328") + text.leftJustified(40, '\0', true);
    return r + QByteArray::fromHex("ABCD");
}

struct Rig {
    SharedState state;
    ScriptedPort port;
    Link link{port, fastTiming()};
    RecordingCommsView view;
    CommsClock clock;
    CommsTest test{state, link, view, &clock};
    Rig() {
        state.CrcTable = standardCrcTable();
        state.UnitAddress = 1;
        state.MsgAddress = 400;
        clock.start();
    }
};

} // namespace

class TestCommsTest : public QObject {
    Q_OBJECT

private slots:
    void requestBytes_data();
    void requestBytes();
    void readShowsTheReply();
    void writeAndEraseShowTheCountOnlyWhenAnswered();
    void writeIgnoresEmptyAndOverlongText_data();
    void writeIgnoresEmptyAndOverlongText();
    void clockIsHeldOffDuringTheExchange();
    void refusals();
    void portFailureMidReply();
};

void TestCommsTest::requestBytes_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("read slot 0") << "read" << 1 << 400 << ""
                                 << QByteArray::fromHex("0103019000144414");
    QTest::newRow("read slot 19") << "read" << 1 << 780 << ""
                                  << QByteArray::fromHex("0103030C00148582");
    QTest::newRow("write A") << "write" << 1 << 400 << "A"
                             << QByteArray::fromHex("011001900001024100"
                                                    "9B90");
    QTest::newRow("write AB") << "write" << 1 << 400 << "AB"
                              << QByteArray::fromHex("011001900001024142"
                                                     "1BA1");
    QTest::newRow("erase unit 5 slot 19") << "erase" << 5 << 780 << ""
                                          << QByteArray::fromHex("0510030C0001020000"
                                                                 "A75C");
    QTest::newRow("read unit 0") << "read" << 0 << 400 << ""
                                 << buildReadRequest(standardCrcTable(), 0, 400);
}

void TestCommsTest::requestBytes() {
    QFETCH(QString, op);
    QFETCH(int, unit);
    QFETCH(int, reg);
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    Rig rig;
    rig.port.staysilent();
    rig.state.UnitAddress = static_cast<std::int16_t>(unit);
    rig.state.MsgAddress = static_cast<std::int16_t>(reg);
    rig.view.text = text;
    if (op == "read")
        rig.test.readMessage();
    else if (op == "write")
        rig.test.writeMessage();
    else
        rig.test.eraseMessage();
    QCOMPARE(rig.port.requests(), QVector<QByteArray>{expected});
    QCOMPARE(rig.view.transmitted, byteDump(expected));
    QCOMPARE(rig.view.unitAddress, QString::number(unit)); // no leading blank
    QVERIFY(rig.view.problems.isEmpty());
    // The line listens before anything is sent, and drops RTS only once the
    // request is on the wire.
    QCOMPARE(rig.port.log().mid(0, 2), QStringList({"drain", "rts off"}));
    QVERIFY(!rig.port.rtsDroppedBeforeDrain());
}

void TestCommsTest::readShowsTheReply() {
    Rig rig;
    rig.port.answerEveryRequest(readReply("ABC"), 3);
    rig.view.count = "old";
    rig.test.readMessage();
    QCOMPARE(rig.view.count, QString(" 45"));
    QCOMPARE(rig.view.stored, QString("ABC"));
    QCOMPARE(rig.view.received, byteDump(readReply("ABC")));
    QCOMPARE(rig.view.calls,
             QStringList({"Label8=1", "Label6(0)=", "Label6(1)=",
                          "Label6(0)=" + byteDump(QByteArray::fromHex("0103019000144414")),
                          "sending 1", "sending 0", "receiving 1", "receiving 0",
                          "Label6(1)=", "Label6(2)=", "Label2= 45",
                          "Label6(1)=" + rig.view.received, "Label6(2)=ABC"}));

    // An empty slot, then a reply too short to hold text.
    rig.port.answerEveryRequest(readReply(""), 3);
    rig.test.readMessage();
    QCOMPARE(rig.view.stored, QString("NO MESSAGE STORED"));
    rig.port.answerEveryRequest(QByteArray::fromHex("0183020000"), 3);
    rig.test.readMessage();
    QCOMPARE(rig.view.stored, QString());
    QCOMPARE(rig.view.count, QString(" 5"));
    // Silence: the count says so, and the earlier reply is gone.
    rig.port.staysilent();
    rig.test.readMessage();
    QCOMPARE(rig.view.count, QString(" 0"));
    QCOMPARE(rig.view.received, QString());
    QVERIFY(rig.view.problems.isEmpty());
}

void TestCommsTest::writeAndEraseShowTheCountOnlyWhenAnswered() {
    Rig rig;
    rig.view.text = "HELLO";
    rig.port.answerEveryRequest(QByteArray::fromHex("0110019000038000"), 3);
    rig.test.writeMessage();
    QCOMPARE(rig.view.count, QString(" 8"));
    QCOMPARE(rig.view.received, QString(" 01 10 01 90 00 03 80 00"));
    QCOMPARE(rig.view.text, QString("HELLO")); // a write keeps the text

    rig.port.staysilent();
    rig.test.writeMessage();
    QCOMPARE(rig.view.count, QString(" 8")); // unchanged
    QCOMPARE(rig.view.received, QString());
    QVERIFY(!rig.view.calls.contains("Label6(2)=")); // a write shows no stored text

    rig.test.eraseMessage();
    QCOMPARE(rig.view.text, QString()); // cleared even without an answer
    QCOMPARE(rig.view.count, QString(" 8"));
    QCOMPARE(rig.view.transmitted.count(' '), 11);
    QCOMPARE(rig.port.requests().size(), 3);
}

void TestCommsTest::writeIgnoresEmptyAndOverlongText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("sent");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("41 characters") << QString(41, 'x') << false;
    QTest::newRow("40 characters") << QString(40, 'x') << true;
    QTest::newRow("39 characters") << QString(39, 'x') << true;
}

void TestCommsTest::writeIgnoresEmptyAndOverlongText() {
    QFETCH(QString, text);
    QFETCH(bool, sent);
    Rig rig;
    rig.port.staysilent();
    rig.view.text = text;
    rig.test.writeMessage();
    QCOMPARE(rig.port.requests().size(), sent ? 1 : 0);
    QVERIFY(rig.view.problems.isEmpty());
    if (!sent) {
        QVERIFY(rig.view.calls.isEmpty());
        QVERIFY(rig.clock.isEnabled());
        return;
    }
    const QByteArray frame = rig.port.requests().first();
    QCOMPARE(frame.size(), 49);
    QCOMPARE(int(frame.at(5)), 20);
    QCOMPARE(int(frame.at(6)), 40);
    QCOMPARE(int(frame.at(46)), text.size() == 39 ? 0 : 'x');
}

void TestCommsTest::clockIsHeldOffDuringTheExchange() {
    Rig rig;
    QVector<bool> clockDuring;
    rig.port.setResponder([&](const QByteArray&) {
        clockDuring << rig.clock.isEnabled();
        return QVector<ScriptedPort::Chunk>{{2, "ok"}};
    });
    rig.view.text = "A";
    rig.test.readMessage();
    rig.test.writeMessage();
    rig.test.eraseMessage();
    QCOMPARE(clockDuring, QVector<bool>({false, false, false}));
    QVERIFY(rig.clock.isEnabled());
    QVERIFY(!rig.link.busy());
}

void TestCommsTest::refusals() {
    // A character with no code page byte: nothing is sent, the operator is told which.
    {
        Rig rig;
        rig.view.text = QString::fromUtf8("Ok \u03A9");
        rig.test.writeMessage();
        QVERIFY(rig.port.requests().isEmpty());
        QCOMPARE(rig.view.problems.size(), 1);
        QVERIFY2(rig.view.problems.first().contains("U+03A9"),
                 qPrintable(rig.view.problems.first()));
        QVERIFY(rig.view.problems.first().contains("position 4"));
        QVERIFY(rig.view.unitAddress.isEmpty());
    }
    // The link held by another operation.
    {
        Rig rig;
        LinkClaim other(rig.link);
        rig.test.readMessage();
        rig.test.eraseMessage();
        QVERIFY(rig.port.log().isEmpty());
        QCOMPARE(rig.view.problems.size(), 2);
        QVERIFY(rig.view.problems.first().contains("busy"));
        QVERIFY(rig.view.calls.isEmpty()); // not even MsgText is cleared
    }
    // The port closed.
    {
        Rig rig;
        rig.port.setPortName("ttyUSB7");
        rig.port.close();
        rig.view.text = "A";
        rig.test.writeMessage();
        QVERIFY(rig.port.requests().isEmpty());
        QCOMPARE(rig.view.problems.size(), 1);
        QVERIFY(rig.view.problems.first().contains("ttyUSB7"));
        QVERIFY(rig.view.problems.first().contains("not open"));
    }
    // A press during a running exchange (from the event loop of its wait).
    {
        Rig rig;
        rig.port.answerEveryRequest("1234", 30);
        QTimer::singleShot(10, Qt::PreciseTimer, [&] { rig.test.eraseMessage(); });
        rig.test.readMessage();
        QCOMPARE(rig.port.requests().size(), 1);
        QCOMPARE(rig.view.problems.size(), 1);
        QVERIFY(rig.view.problems.first().contains("busy"));
        QCOMPARE(rig.view.count, QString(" 4"));
    }
}

void TestCommsTest::portFailureMidReply() {
    Rig rig;
    rig.port.setPortName("ttyUSB0");
    rig.port.answerEveryRequest("01", 2);
    QTimer::singleShot(15, Qt::PreciseTimer, [&] { rig.port.failNow("Input/output error"); });
    rig.test.readMessage();
    QCOMPARE(rig.view.problems.size(), 1);
    QVERIFY(rig.view.problems.first().contains("ttyUSB0"));
    QVERIFY(rig.view.problems.first().contains("Input/output error"));
    QCOMPARE(rig.view.count, QString(" 2")); // what came is still shown
    QVERIFY(rig.view.calls.contains("receiving 0"));
    QVERIFY(rig.clock.isEnabled());
    QVERIFY(!rig.link.busy());
}

QTEST_GUILESS_MAIN(TestCommsTest)
#include "test_commstest.moc"
