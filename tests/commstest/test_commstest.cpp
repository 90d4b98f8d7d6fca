// Comms-test read, write, erase on the scripted unit: requests, labels, clock, refusals.

#include "commstest/CommsClock.h"
#include "commstest/CommsTest.h"
#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "support/TableRig.h"

#include <QtTest>

enum Setup { Plain, Held, Closed, FailsMidReply, Control, Silent };
static const char* const kProblem[] = {"^$",
                                       "busy",
                                       "scripted is not open",
                                       "scripted.*Input/output error",
                                       "ESC \\(\\\\x1B\\) at position 4",
                                       "^No reply from unit 5 on scripted\\. Check"};

struct Case {
    void (CommsTest::*op)();
    QString text;            // MsgText
    QByteArray reply = {};   // empty: silence
    QByteArray request = {}; // empty: nothing is sent
    int setup = Plain;
    QString shown = "old|old"; // byte count|stored text when sent, "old" if left alone
};

Q_DECLARE_METATYPE(Case)

class TestCommsTest : public QObject {
    Q_OBJECT

private slots:
    void exchange_data() {
        QTest::addColumn<Case>("c");
        const auto row = [](const char* name, const Case& c) { QTest::newRow(name) << c; };
        const auto read = &CommsTest::readMessage, write = &CommsTest::writeMessage,
                   erase = &CommsTest::eraseMessage;
        const CrcTableArray t = standardCrcTable();
        const auto frame = [&t](const QByteArray& pdu) { return rtuFrame(t, 5, pdu); };
        const QByteArray readFrame = frame(Pdu::readMessage(780)), x40(40, 'x');
        const QByteArray reply = QByteArray::fromHex("050328") + "ABC" + QByteArray(37, 0) + "\1\1";
        row("read", {read, "", reply, readFrame, Plain, " 45|ABC"});
        row("read silent", {read, "", {}, readFrame, Silent, " 0|"});
        row("write", {write, "AB", "ok", frame(Pdu::writeMessage(780, "AB")), Plain, " 2|old"});
        row("write 40 silent", {write, x40, {}, frame(Pdu::writeMessage(780, x40)), Silent});
        row("erase silent", {erase, "AB", {}, frame(Pdu::eraseMessage(780)), Silent});
        row("control character", {write, "Ok \x1B", {}, {}, Control});
        const QByteArray emptySlot =
            QByteArray::fromHex("050328FF") + "ES" + QByteArray(37, 0) + "\1\1";
        row("read, empty slot", {read, "", emptySlot, readFrame, Plain, " 45|NO MESSAGE STORED"});
        row("link held elsewhere", {erase, "AB", {}, {}, Held});
        row("port closed", {read, "", {}, {}, Closed});
        row("port fails mid-reply", {read, "", "01", readFrame, FailsMidReply, " 2|"});
    }
    void exchange() {
        QFETCH(Case, c);
        ScriptedPort port;
        const CrcTableArray crc = standardCrcTable();
        RtuTransport transport(port, crc, LinkTiming{80, 25, 10, 20, 1, 1});
        RecordingCommsTestView view;
        view.text = c.text;
        CommsClock clock;
        clock.start();
        CommsTest test(transport, view, &clock);
        test.setUnit(5);
        test.setRegister(780);
        if (c.setup == Held)
            transport.claim();
        else if (c.setup == Closed)
            port.close();
        if (!c.reply.isEmpty())
            port.answerEveryRequest(c.reply, 3);
        QVector<bool> clockDuring;
        connect(&transport, &Transport::frameSent, this, [&] { clockDuring << clock.isEnabled(); });
        if (c.setup == FailsMidReply)
            QTimer::singleShot(15, Qt::PreciseTimer, &port,
                               [&] { port.failNow("Input/output error"); });
        (test.*c.op)();
        QVERIFY2(view.problems.join('\n').contains(QRegularExpression(kProblem[c.setup])),
                 qPrintable(view.problems.join('\n')));
        QVERIFY(clock.isEnabled() && transport.busy() == (c.setup == Held));
        const bool sent = !c.request.isEmpty();
        QCOMPARE(port.requests(), QVector<QByteArray>(sent, c.request));
        QCOMPARE(clockDuring, QVector<bool>(sent, false)); // held off during the exchange
        // All is shown even after a port failure; an erase clears MsgText even unanswered.
        const QStringList shown = {"5", byteDump(c.request), byteDump(c.reply), c.shown};
        QCOMPARE(view.labels.join('|'), sent ? shown.join('|') : "old|old|old|old|old");
        QCOMPARE(view.text, c.op == &CommsTest::eraseMessage && sent ? QString() : c.text);
        if (c.setup != Held && c.setup != Closed) // the line listens before anything else
            QCOMPARE(port.log().mid(0, 2), QStringList({"drain", "rts off"}));
    }

    // With the read-back on, a confirmed write or erase at a slot's first register is read at
    // once, and a slot that does not hold what was sent is shown as a problem naming it.
    void readBack_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("fault"); // 0 none, 1 confirmed but not stored, 2 silent read-back
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("problem");
        QTest::newRow("proven") << true << 460 << 0 << 2 << "";
        QTest::newRow("not stored") << true << 460 << 1 << 2
                                    << "slot 3 (42-3) does not hold what was written: written "
                                       "\"AB\", holds \"STORED 3\".";
        QTest::newRow("erase not stored")
            << false << 460 << 1 << 2 << "written nothing (an empty slot), holds \"STORED 3\"";
        QTest::newRow("read-back silent")
            << true << 460 << 2 << 2 << "slot 3 (42-3) could not be read back to prove it.";
        QTest::newRow("not a slot's start") << true << 461 << 1 << 1 << "";
    }
    void readBack() {
        QFETCH(bool, write);
        QFETCH(int, reg);
        QFETCH(int, fault);
        QFETCH(QString, problem);
        ScriptedRig rig;
        if (fault == 1) // the unit confirms, and keeps its old text
            rig.unit.unstored = {3};
        if (fault == 2)
            rig.unit.silentReads = {3};
        RecordingCommsTestView view;
        view.text = "AB";
        CommsTest test(rig.transport, view);
        test.setUnit(1);
        test.setRegister(reg);
        test.setVerifyWrites(true);
        write ? test.writeMessage() : test.eraseMessage();
        QTEST(int(rig.port.requests().size()), "requests");
        // The window is told of each whole slot the unit confirmed, whatever the read-back says.
        QCOMPARE(view.written, QStringList(reg == 460 ? 1 : 0, write ? "1:3 AB" : "1:3 "));
        QVERIFY2(view.problems.join('\n').contains(problem), qPrintable(view.problems.join('\n')));
        QCOMPARE(view.problems.isEmpty(), problem.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCommsTest)
#include "test_commstest.moc"
