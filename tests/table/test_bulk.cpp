// Read all, write all and erase all against a scripted unit with short waits.
#include "commstest/CommsClock.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "table/BulkRunner.h"

#include <QtTest>

template <class Array> QStringList list(const Array& a) {
    return QStringList(a.begin(), a.begin() + 20);
}

constexpr int Read = 0, Write = 1, Erase = 2;                                    // operations
constexpr int Silent = 0, Cancel = 1, Fails = 2, Busy = 3, Closed = 4, Stop = 5; // faults

// Unit 1, whose slot k holds "STORED k".
struct Rig : ScriptedRig {
    int address = 1;
    CommsClock clock;
    BulkOperations bulk{messages, transport, view, op, &clock};
    QVector<bool> clockDuringRequests;

    Rig() {
        clock.start();
        unit.onRequest = [this](const QByteArray&) { clockDuringRequests << clock.isEnabled(); };
    }
};

class TestBulk : public QObject {
    Q_OBJECT
private slots:
    void readEraseAndWriteAllInTurn() {
        Rig rig;
        rig.messages.setText(3, QStringLiteral("OLD"));
        rig.messages.setText(4, QStringLiteral("OLD"));
        // Nothing stored (0 or FF first): the default shows, and the entry is the default too,
        // whatever it was before (a file opened). The text ends at the first 0 or FF; control
        // characters are kept as the unit holds them.
        rig.unit.model.setMessage(3, "");
        rig.unit.model.setMessage(4, QByteArray("\0LATER", 6));
        rig.unit.model.setMessage(5, "AB\377CD");
        rig.unit.model.setMessage(6, QByteArray("A\033B\0C", 5));
        QCOMPARE(rig.bulk.readAll(rig.address).outcome, BulkResult::Outcome::Completed);
        const auto& m = rig.messages.texts();
        QCOMPARE(QStringList(
                     {m[2], m[3], rig.view.labels[3], m[4], rig.view.labels[4], m[5], m[6], m[19]}),
                 QStringList({"STORED 2", "DEFAULT 3", "DEFAULT 3", "DEFAULT 4", "DEFAULT 4", "AB",
                              "A\033B", "STORED 19"}));
        QCOMPARE(rig.port.requests().last(), QByteArray::fromHex("0103030C00148582"));
        QCOMPARE(rig.view.progressHistory.mid(18), (QVector<int>{95, 100, 0}));

        // Erase all, then write all of the defaults it left: nothing more is sent.
        QCOMPARE(rig.bulk.eraseAll(rig.address).outcome, BulkResult::Outcome::Completed);
        // Only read all leaves the clock running while it asks.
        QCOMPARE(rig.clockDuringRequests, QVector<bool>(20, true) + QVector<bool>(20, false));
        QCOMPARE(list(rig.messages.texts()), list(rig.messages.defaults()));
        QCOMPARE(list(rig.view.labels), list(rig.messages.defaults()));
        rig.view.labelHistory.clear();
        QCOMPARE(rig.bulk.writeAll(rig.address).outcome, BulkResult::Outcome::Completed);
        QVERIFY(rig.port.requests().size() == 40 && rig.op.count() == 0);
        QVERIFY(rig.view.labelHistory.isEmpty()); // a write changes no text of the table
    }

    // Write all counts what it sent and what it left alone; with the read-back on, each slot
    // written is read at once, and one that does not hold the text is a failure naming it.
    void writeAllCountsAndReadsBack_data() {
        QTest::addColumn<bool>("verify");
        QTest::addColumn<int>("fault"); // slot 7: none, not stored, silent read-back, silent
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("box"); // part of the one box, empty: none
        const QString both = "2 written, 18 unchanged",
                      one = "1 written, 18 unchanged, 1 not written";
        QTest::newRow("read-back off") << false << 0 << "W2 W7" << both << "";
        QTest::newRow("read-back on") << true << 0 << "W2 R2 W7 R7" << both << "";
        QTest::newRow("confirmed, not stored")
            << true << 1 << "W2 R2 W7 R7" << one
            << "1 interlock does not hold what was written:\r\ninterlock 46-47: written "
               "\"SEVEN\", holds \"STORED 7\"";
        QTest::newRow("not stored, read-back off") << false << 1 << "W2 W7" << both << "";
        QTest::newRow("read-back silent")
            << true << 2 << "W2 R2 W7 R7" << one
            << "interlock 46-47: written \"SEVEN\", could not be read back";
        QTest::newRow("write silent")
            << true << 3 << "W2 R2 W7" << one << "did not answer for 1 interlock: 46-47";
    }
    void writeAllCountsAndReadsBack() {
        QFETCH(bool, verify);
        QFETCH(int, fault);
        QFETCH(QString, box);
        Rig rig;
        rig.messages.setText(2, "TWO");
        rig.messages.setText(7, "SEVEN");
        QVector<int>* const faulty[] = {nullptr, &rig.unit.unstored, &rig.unit.silentReads,
                                        &rig.unit.silent};
        if (fault)
            *faulty[fault] = {7};
        rig.bulk.setVerifyWrites(verify);
        const BulkResult r = rig.bulk.writeAll(rig.address);
        QTEST(rig.requests(), "requests");
        QTEST(writeAllSummary(r), "summary");
        QCOMPARE(r.unchanged.size(), 18);
        QCOMPARE(rig.op.count(), box.isEmpty() ? 0 : 1);
        QVERIFY2(rig.op.last().text.contains(box), qPrintable(rig.op.last().text));
    }

    void writeAllHoldsBackInvalidEntries() {
        Rig rig;
        TextTable defaults = rig.messages.defaults();
        defaults[11] = QString();
        rig.messages.reset(defaults, {});
        TextTable m = rig.messages.texts();
        m[2] = QString();
        m[5] = QString(41, QLatin1Char('x'));
        m[11] = QString(); // its default is empty too: unchanged, so never sent
        m[12] = QString(40, QLatin1Char('y'));
        m[13] = QStringLiteral("A") + QChar(0) + "B"; // a unit's control character would go
        rig.messages.setTexts(m);
        rig.view.labelHistory.clear();
        const BulkResult r = rig.bulk.writeAll(rig.address);
        QCOMPARE(r.outcome, BulkResult::Outcome::Refused);
        QCOMPARE(r.invalid, (QVector<int>{2, 5, 13}));
        QVERIFY(rig.port.requests().isEmpty() && rig.view.labelHistory.isEmpty() &&
                rig.op.count() == 1);
        // Each entry named with its reason (what any text may be, startup/test_unittext shows).
        for (const char* part :
             {"interlock 41-42: the message is empty", "interlock 43-44: 41 characters",
              "interlock 54-55: the character NUL (\\x00) at position 2"})
            QVERIFY2(rig.op.last().text.contains(QString::fromUtf8(part)), part);

        // An entry spoilt while the run goes on (a file opened) is held back too.
        m = rig.messages.defaults();
        m[4] = QStringLiteral("ABCDEFG");
        m[10] = QStringLiteral("TEN");
        rig.messages.setTexts(m);
        QObject::connect(&rig.transport, &Transport::frameSent,
                         [&] { rig.messages.setText(10, QString()); });
        QCOMPARE(rig.bulk.writeAll(rig.address).invalid, QVector<int>{10});
        QCOMPARE(rig.port.requests()[0].left(15),
                 QByteArray::fromHex("011001E00004084142434445464700"));
    }

    // Slot 5's reply comes but is not the unit's answer: the run goes on, the
    // slot keeps its entry, and one box at the end names it.
    void unusableReply_data() {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("why");
        const char* ops[] = {"read", "write", "erase"};
        const QStringList whys = {"a garbled reply of", "a garbled reply of 4 bytes",
                                  "came from unit address 7", "Modbus exception 2, illegal data",
                                  "does not answer the request"};
        const char* kinds[] = {"bit flipped", "cut short", "other unit", "exception",
                               "other function"};
        for (int op : {Read, Write, Erase})
            for (int kind = 0; kind < 5; ++kind)
                QTest::addRow("%s, %s", ops[op], kinds[kind]) << op << kind << whys[kind];
    }
    void unusableReply() {
        QFETCH(int, op);
        QFETCH(int, kind);
        QFETCH(QString, why);
        Rig rig;
        for (int i = 0; i < 20; ++i)
            rig.messages.setText(i, QStringLiteral("OLD %1").arg(i));
        rig.unit.spoil = [kind](int slot, QByteArray r, const QByteArray&) {
            if (slot != 5)
                return r;
            const QByteArray body = r.chopped(2);
            switch (kind) {
            case 0:
                return r.replace(3, 1, QByteArray(1, char(r.at(3) ^ 0x10)));
            case 1:
                return r.left(4);
            case 2:
                return FakeUnit::framed(QByteArray(body).replace(0, 1, "\x07"));
            case 3:
                return FakeUnit::framed(body.left(1) + char(body.at(1) | 0x80) + '\x02');
            default:
                return FakeUnit::framed(QByteArray(body).replace(1, 1, "\x04"));
            }
        };
        const BulkResult r = BulkRunner(rig.bulk, rig.messages).run(BulkKind(op), rig.address);
        QCOMPARE(r.outcome, BulkResult::Outcome::Completed);
        QVERIFY(r.silent.isEmpty() && r.rejected.size() == 1 && r.rejected[0].interlock == 5);
        QCOMPARE(rig.messages.texts()[5], "OLD 5");
        // Only what the unit confirmed counts as held there.
        QCOMPARE(rig.messages.knownOnUnit(5, {}), std::nullopt);
        QCOMPARE(rig.messages.knownOnUnit(6, {}), rig.messages.texts()[6]);
        QCOMPARE(rig.messages.texts()[6], (QStringList{"STORED 6", "OLD 6", "DEFAULT 6"}[op]));
        QCOMPARE(rig.op.count(), 1);
        const QString box = rig.op.last().text;
        QVERIFY2(box.contains("\n43-44: ") && box.contains(why) &&
                     box.endsWith(QStringList{"not read.", "not written.", "not erased."}[op]),
                 qPrintable(box));
    }

    // Where the window asks after a silent slot, a plain policy decides: go on (each silence
    // told, naming its slot: the command line) or end the run there (the whole line).
    void policyAfterSilence_data() {
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("done");
        QTest::newRow("go on") << int(RunPolicy::AfterSilence::GoOn)
                               << "5: No data received!\r\nCheck connection, unit address, baud "
                                  "rate, com port\r\nAnd then try again later!\r\nNo answer for "
                                  "interlock 43-44 at unit address 1.|6: No data"
                               << 18;
        QTest::newRow("end") << int(RunPolicy::AfterSilence::End) << "" << 5;
    }
    void policyAfterSilence() {
        QFETCH(int, after);
        QFETCH(int, done);
        struct Told : Notices {
            void tell(const QString& text, const QString&, MsgIcon) override { said << text; }
            void tellAboutSlot(int slot, const QString& text, const QString&, MsgIcon) override {
                said << QString::number(slot) + ": " + text;
            }
            QStringList said;
        } told;
        ScriptedRig rig;
        rig.unit.silent = {5, 6};
        BulkOperations bulk(rig.messages, rig.transport, nullptr, told,
                            {RunPolicy::AfterSilence(after), nullptr});
        const BulkResult r = bulk.readAll(1);
        QTEST(told.said.join('|').section(" received", 0, 1), "told");
        QCOMPARE(r.done.size(), done);
        QCOMPARE(r.outcome,
                 done == 18 ? BulkResult::Outcome::Completed : BulkResult::Outcome::Cancelled);
        QCOMPARE(r.silenceEnded.endsWith("interlock 43-44 at unit address 1."), done == 5);
    }

    // Silent slots 0 and 1, Cancel in the fault box, a port that fails at the
    // sixth request (whose slot never answers), a busy link, no port, Stop
    // pressed while the sixth request waits for its reply.
    void faults_data() {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("entries"); // 0 and 5 afterwards
        const auto row = [](const QByteArray& name, int op, int fault, int boxes,
                            const QString& box, const QString& entries) {
            QTest::newRow(name.constData()) << op << fault << boxes << box << entries;
        };
        const QString notAnswered = QStringLiteral(
            "The unit did not answer for 2 interlocks: L1-40, 40-41.\r\nThose messages were not ");
        const QString failed = QStringLiteral("scripted failed: Input/output error");
        row("read, silent", Read, Silent, 2, "No data", "OLD 0, STORED 5");
        row("read, Cancel", Read, Cancel, 1, "No data", "OLD 0, OLD 5");
        row("read, port fails", Read, Fails, 1, failed, "STORED 0, OLD 5");
        row("write, silent", Write, Silent, 1, notAnswered + "written.", "OLD 0, OLD 5");
        row("write, port fails", Write, Fails, 1, failed, "OLD 0, OLD 5");
        row("erase, silent", Erase, Silent, 1, notAnswered + "erased.", "OLD 0, DEFAULT 5");
        row("erase, port fails", Erase, Fails, 1, failed, "DEFAULT 0, OLD 5");
        for (int op : {Read, Write, Erase}) {
            const QByteArray name = op == Read ? "read" : op == Write ? "write" : "erase";
            row(name + ", busy", op, Busy, 0, "", "OLD 0, OLD 5");
            row(name + ", port closed", op, Closed, 1, "The serial port scripted is not open",
                "OLD 0, OLD 5");
            row(name + ", no port chosen", op, Closed, 1, "No serial port is open.",
                "OLD 0, OLD 5");
            const QString verb = QStringList{"read", "written", "erased"}[op];
            row(name + ", stop", op, Stop, 1, "5 of 20 interlocks " + verb + " (L1-40, ",
                QStringList{"STORED 0, OLD 5", "OLD 0, OLD 5", "DEFAULT 0, OLD 5"}[op]);
        }
    }
    void faults() {
        QFETCH(int, op);
        QFETCH(int, fault);
        QFETCH(QString, box);
        Rig rig;
        for (int i = 0; i < 20; ++i)
            rig.messages.setText(i, QStringLiteral("OLD %1").arg(i));
        rig.unit.silent = fault == Fails  ? QVector<int>{5}
                          : fault == Stop ? QVector<int>{}
                                          : QVector<int>{0, 1};
        rig.op.answerAlways(fault == Cancel ? MsgAnswer::Cancel : MsgAnswer::Ok);
        QVERIFY(fault != Busy || rig.transport.claim());
        if (fault == Closed)
            rig.port.close();
        const bool neverChosen = box.startsWith("No serial");
        if (neverChosen)
            rig.port.setPortName({});
        int sent = 0;
        QObject::connect(&rig.transport, &Transport::frameSent, [&] {
            if (++sent == 6 && fault == Fails)
                QTimer::singleShot(2, &rig.port, [&] { rig.port.failNow("Input/output error"); });
            if (sent == 6 && fault == Stop)
                rig.bulk.requestStop();
        });
        rig.clock.setEnabled(false);
        using O = BulkResult::Outcome;
        const BulkResult r = op == Read    ? rig.bulk.readAll(rig.address)
                             : op == Write ? rig.bulk.writeAll(rig.address)
                                           : rig.bulk.eraseAll(rig.address);
        QCOMPARE(r.outcome, (QVector<O>{O::Completed, O::Cancelled, O::PortFailed, O::Refused,
                                        O::Refused, O::Stopped}[fault]));
        QCOMPARE(sent, (QVector<int>{20, 1, 6, 0, 0, 6}[fault]));
        if (fault == Stop) { // the sixth request went whole, its reply was not awaited
            QCOMPARE(r.done, (QVector<int>{0, 1, 2, 3, 4}));
            QCOMPARE(QString(rig.unit.model.message(5) + ", " + rig.unit.model.message(6)),
                     (QStringList{"STORED 5, STORED 6", "OLD 5, STORED 6", ", STORED 6"}[op]));
        }
        QTEST(rig.op.count(), "boxes");
        if (fault == Closed) // a port that failed may come back
            QCOMPARE(rig.op.last().buttons, neverChosen ? MsgButtons::Ok : MsgButtons::OkReconnect);
        QVERIFY2(rig.op.last().text.contains(box), qPrintable(rig.op.last().text));
        QTEST(rig.messages.texts()[0] + ", " + rig.messages.texts()[5], "entries");
        QCOMPARE(rig.view.progress, 0);
        const bool ran = fault < Busy || fault == Stop;
        QCOMPARE(rig.clock.isEnabled(), ran);          // the end step runs however a run ends
        QCOMPARE(rig.transport.busy(), fault == Busy); // a refused run leaves the claim alone
    }
};

QTEST_GUILESS_MAIN(TestBulk)
#include "test_bulk.moc"
