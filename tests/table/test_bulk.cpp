// Read all, write all and erase all against a scripted unit with short waits.
#include "link/CommsClock.h"
#include "link/Crc.h"
#include "link/Frames.h"
#include "support/RecordingOperator.h"
#include "support/RecordingViews.h"
#include "support/ScriptedPort.h"
#include "table/BulkOperations.h"

#include <QSet>
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

int slotOf(const QByteArray& request) {
    const int reg =
        static_cast<unsigned char>(request.at(2)) * 256 + static_cast<unsigned char>(request.at(3));
    return (reg - 400) / 20;
}

// The unit's answer to a read: address, function, byte count, forty data
// bytes (the text, then 0s) and the CRC.
QByteArray readReply(const QByteArray& data) {
    QByteArray r = QByteArray::fromHex("010328") + data;
    r += QByteArray(43 - r.size(), '\0');
    const auto [lo, hi] = frameCrc(standardCrcTable(), r);
    return r + char(lo) + char(hi);
}

enum class Op { Read, Write, Erase };

// A unit that answers every request but those for the silent slots; a read
// of slot k gives "STORED k".
struct Rig {
    SharedState state;
    ScriptedPort port;
    Link link{port, fastTiming()};
    RecordingTableView view;
    RecordingOperator op;
    CommsClock clock;
    BulkOperations bulk{state, link, view, op, &clock};
    QSet<int> silent;
    QVector<bool> clockDuringRequests;

    Rig() {
        state.CrcTable = standardCrcTable();
        state.UnitAddress = 1;
        for (int i = 0; i < 20; ++i)
            state.DefaultMessages[i] = state.InterlockMessages[i] =
                QStringLiteral("DEFAULT %1").arg(i);
        clock.start();
        port.setResponder([this](const QByteArray& req) -> QVector<ScriptedPort::Chunk> {
            clockDuringRequests << clock.isEnabled();
            const int k = slotOf(req);
            if (silent.contains(k))
                return {};
            if (req.at(1) == 3)
                return {{1, readReply("STORED " + QByteArray::number(k))}};
            return {{1, req.left(6) + QByteArray::fromHex("0000")}};
        });
    }
    BulkResult run(Op o) {
        return o == Op::Read ? bulk.readAll() : o == Op::Write ? bulk.writeAll() : bulk.eraseAll();
    }
    QStringList labels() const { return {view.labels.begin(), view.labels.end()}; }
    QStringList table() const {
        return {state.InterlockMessages.begin(), state.InterlockMessages.begin() + 20};
    }
    QStringList defaults() const {
        return {state.DefaultMessages.begin(), state.DefaultMessages.begin() + 20};
    }
};

QVector<int> fullProgress() {
    QVector<int> p;
    for (int v = 5; v <= 100; v += 5)
        p << v;
    return p << 0;
}

} // namespace

Q_DECLARE_METATYPE(Op)

class TestBulk : public QObject {
    Q_OBJECT
private slots:
    void readAllFillsTableInStepOrder() {
        Rig rig;
        const BulkResult r = rig.bulk.readAll();
        QCOMPARE(r.outcome, BulkResult::Outcome::Completed);
        QCOMPARE(rig.op.count(), 0);
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(rig.state.InterlockMessages[i], QStringLiteral("STORED %1").arg(i));
            QCOMPARE(rig.view.labels[i], rig.state.InterlockMessages[i]);
        }
        const auto requests = rig.port.requests();
        QCOMPARE(requests.size(), 20);
        QCOMPARE(requests.first(), QByteArray::fromHex("010301900014"
                                                       "4414"));
        QCOMPARE(requests.last(), QByteArray::fromHex("0103030C0014"
                                                      "8582"));
        QCOMPARE(rig.view.progressHistory, fullProgress());
        // Read all leaves the clock running; it is on again at the end anyway.
        QVERIFY(!rig.clockDuringRequests.contains(false));
        QVERIFY(rig.clock.isEnabled());
        // Every request follows its own discard of stale input.
        QStringList steps;
        for (const QString& s : rig.port.log())
            if (s == QLatin1String("discard") || s.startsWith(QLatin1String("write")))
                steps << s;
        QStringList expected;
        for (int i = 0; i < 20; ++i)
            expected << QStringLiteral("discard") << QStringLiteral("write 8");
        QCOMPARE(steps, expected);
    }

    void readAllDecodesEmptySlots_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("entry");
        const QString def = QStringLiteral("DEFAULT 3");
        QTest::newRow("first 0, rest 0") << readReply("") << def << "OLD";
        QTest::newRow("first 255, rest 255") << readReply(QByteArray(40, '\xFF')) << def << "OLD";
        QTest::newRow("first 0, later text") << readReply(QByteArray("\0AB\xFF"
                                                                     "C",
                                                                     5))
                                             << "ABC"
                                             << "ABC";
        QTest::newRow("five bytes") << QByteArray::fromHex("0103284142") << "BEFORE"
                                    << "OLD";
        QTest::newRow("one byte") << QByteArray::fromHex("83") << "BEFORE"
                                  << "OLD";
        QTest::newRow("six bytes: one character") << QByteArray::fromHex("01032841FFFF") << "A"
                                                  << "A";
        QTest::newRow("Windows-1252")
            << readReply("\x80 5") << QStringLiteral("€ 5") << QStringLiteral("€ 5");
    }
    void readAllDecodesEmptySlots() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, label);
        QFETCH(QString, entry);
        Rig rig;
        rig.state.InterlockMessages[3] = QStringLiteral("OLD");
        rig.view.labels[3] = QStringLiteral("BEFORE");
        rig.port.setResponder([&](const QByteArray& req) -> QVector<ScriptedPort::Chunk> {
            return {{1, slotOf(req) == 3 ? reply : readReply("X")}};
        });
        QCOMPARE(rig.bulk.readAll().outcome, BulkResult::Outcome::Completed);
        QCOMPARE(rig.view.labels[3], label);
        QCOMPARE(rig.state.InterlockMessages[3], entry);
        QCOMPARE(rig.state.InterlockMessages[4], QStringLiteral("X"));
        QCOMPARE(rig.op.count(), 0);
    }

    void readAllSilentUnitCancelStopsAtOnce() {
        Rig rig;
        rig.port.staysilent();
        rig.op.script({MsgAnswer::Cancel});
        rig.clock.setEnabled(false);
        const BulkResult r = rig.bulk.readAll();
        QCOMPARE(r.outcome, BulkResult::Outcome::Cancelled);
        QCOMPARE(rig.port.requests().size(), 1);
        QCOMPARE(rig.op.count(), 1);
        const auto box = rig.op.last();
        QCOMPARE(box.text, QStringLiteral("No data received!\r\nCheck connection, unit address, "
                                          "baud rate, com port\r\nAnd then try again later!"));
        QCOMPARE(box.title, QStringLiteral("Communication Fault"));
        QCOMPARE(box.icon, MsgIcon::None);
        QCOMPARE(box.buttons, MsgButtons::OkCancel);
        QCOMPARE(rig.view.progressHistory, (QVector<int>{5, 0}));
        QVERIFY(rig.clock.isEnabled()); // step E runs after Cancel too
        QCOMPARE(rig.table(), rig.defaults());
    }

    void readAllSilentUnitOkVisitsAll() {
        Rig rig;
        rig.port.staysilent();
        const BulkResult r = rig.bulk.readAll();
        QCOMPARE(r.outcome, BulkResult::Outcome::Completed);
        QCOMPARE(rig.port.requests().size(), 20);
        QCOMPARE(rig.op.count(), 20);
        QCOMPARE(r.silent.size(), 20);
        QCOMPARE(rig.view.progressHistory, fullProgress());
        QCOMPARE(rig.table(), rig.defaults());
    }

    void writeAllOfDefaultsSendsNothing() {
        Rig rig;
        QCOMPARE(rig.bulk.writeAll().outcome, BulkResult::Outcome::Completed);
        QVERIFY(rig.port.requests().isEmpty());
        for (int i = 0; i < 20; ++i) // all blanked before any is shown again
            QCOMPARE(rig.view.labelHistory[i], qMakePair(i, QString()));
        QCOMPARE(rig.labels(), rig.defaults());
        QCOMPARE(rig.view.progressHistory, fullProgress());
        QCOMPARE(rig.op.count(), 0);
    }

    void writeAllFrames() {
        Rig rig;
        rig.state.InterlockMessages[4] = QStringLiteral("ABCDEFG");
        rig.state.InterlockMessages[19] = QString(40, QLatin1Char('Z'));
        QCOMPARE(rig.bulk.writeAll().outcome, BulkResult::Outcome::Completed);
        const auto requests = rig.port.requests();
        QCOMPARE(requests.size(), 2);
        const QByteArray body = QByteArray::fromHex("011001E000040841424344454647") + '\0';
        const auto [lo, hi] = frameCrc(standardCrcTable(), body);
        QCOMPARE(requests[0], body + char(lo) + char(hi)); // 17 bytes
        QCOMPARE(requests[1].size(), 49);
        QCOMPARE(requests[1].left(7), QByteArray::fromHex("0110030C001428"));
        QCOMPARE(rig.clockDuringRequests, (QVector<bool>{false, false}));
        QVERIFY(rig.clock.isEnabled());
        QCOMPARE(rig.table()[4], QStringLiteral("ABCDEFG"));
    }

    void eraseAllThenWriteAllSendsNothing() {
        Rig rig;
        for (int i = 0; i < 20; ++i)
            rig.state.InterlockMessages[i] = QStringLiteral("CUSTOM %1").arg(i);
        QCOMPARE(rig.bulk.eraseAll().outcome, BulkResult::Outcome::Completed);
        QCOMPARE(rig.table(), rig.defaults());
        QCOMPARE(rig.labels(), rig.defaults());
        const auto erases = rig.port.requests();
        QCOMPARE(erases.size(), 20);
        QCOMPARE(erases.first(), QByteArray::fromHex("0110019000010200"
                                                     "00ABC0"));
        QVERIFY(!rig.clockDuringRequests.contains(true));
        rig.bulk.writeAll();
        QCOMPARE(rig.port.requests().size(), 20);
        QCOMPARE(rig.op.count(), 0);
    }

    void writeAllHoldsBackInvalidEntries() {
        Rig rig;
        rig.state.InterlockMessages[2] = QString();
        rig.state.InterlockMessages[5] = QString(41, QLatin1Char('x'));
        rig.state.InterlockMessages[9] = QStringLiteral("Ωmega");
        rig.state.InterlockMessages[11] = rig.state.DefaultMessages[11] = QString(); // unchanged
        rig.state.InterlockMessages[12] = QString(40, QLatin1Char('y'));             // fits
        const BulkResult r = rig.bulk.writeAll();
        QCOMPARE(r.outcome, BulkResult::Outcome::Refused);
        QCOMPARE(r.invalid, (QVector<int>{2, 5, 9}));
        QVERIFY(rig.port.requests().isEmpty());
        QVERIFY(rig.view.labelHistory.isEmpty());
        QVERIFY(rig.view.progressHistory.isEmpty());
        QCOMPARE(rig.op.count(), 1);
        const QString text = rig.op.last().text;
        for (const char* part : {"2 (41-42): the message is empty", "5 (43-44): 41 characters",
                                 "9 (48-50): 'Ω' (U+03A9)"})
            QVERIFY2(text.contains(QString::fromUtf8(part)), qPrintable(text));
        QVERIFY(!text.contains(QLatin1String("(51-52)")));
    }

    void writeAllRechecksEntriesChangedMeanwhile() {
        Rig rig;
        rig.state.InterlockMessages[4] = QStringLiteral("FOUR");
        rig.state.InterlockMessages[10] = QStringLiteral("TEN");
        rig.port.setResponder([&](const QByteArray& req) -> QVector<ScriptedPort::Chunk> {
            rig.state.InterlockMessages[10] = QString(); // e.g. a file opened meanwhile
            return {{1, req.left(6) + QByteArray(2, '\0')}};
        });
        const BulkResult r = rig.bulk.writeAll();
        QCOMPARE(rig.port.requests().size(), 1);
        QCOMPARE(r.invalid, QVector<int>{10});
    }

    void silentSlotsReportedOnce_data() {
        QTest::addColumn<Op>("op");
        QTest::addColumn<QString>("verb");
        QTest::newRow("write all") << Op::Write << "written";
        QTest::newRow("erase all") << Op::Erase << "erased";
    }
    void silentSlotsReportedOnce() {
        QFETCH(Op, op);
        QFETCH(QString, verb);
        Rig rig;
        for (int i : {0, 1, 2})
            rig.state.InterlockMessages[i] = QStringLiteral("NEW %1").arg(i);
        rig.silent = {0, 1};
        const BulkResult r = rig.run(op);
        QCOMPARE(r.outcome, BulkResult::Outcome::Completed);
        QCOMPARE(r.silent, (QVector<int>{0, 1}));
        QCOMPARE(rig.op.count(), 1);
        QCOMPARE(rig.op.last().text, QStringLiteral("The unit did not answer for 2 interlocks: "
                                                    "L1-40, 40-41.\r\nThose messages were not %1.")
                                         .arg(verb));
        QCOMPARE(rig.op.last().icon, MsgIcon::Exclamation);
        // Only what the unit confirmed changes.
        QCOMPARE(rig.table()[0], QStringLiteral("NEW 0"));
        QCOMPARE(rig.table()[2],
                 op == Op::Erase ? QStringLiteral("DEFAULT 2") : QStringLiteral("NEW 2"));
    }

    void portFailureStopsAtOnce_data() {
        QTest::addColumn<Op>("op");
        QTest::newRow("read all") << Op::Read;
        QTest::newRow("write all") << Op::Write;
        QTest::newRow("erase all") << Op::Erase;
    }
    void portFailureStopsAtOnce() {
        QFETCH(Op, op);
        Rig rig;
        for (int i = 0; i < 20; ++i)
            rig.state.InterlockMessages[i] = QStringLiteral("OLD %1").arg(i);
        const auto answer = [&](const QByteArray& req) -> QVector<ScriptedPort::Chunk> {
            if (slotOf(req) == 5) {
                QTimer::singleShot(2, &rig.port, [&] { rig.port.failNow("Input/output error"); });
                return {};
            }
            return {{1, req.at(1) == 3 ? readReply("READ") : req.left(6) + QByteArray(2, '\0')}};
        };
        rig.port.setResponder(answer);
        const BulkResult r = rig.run(op);
        QCOMPARE(r.outcome, BulkResult::Outcome::PortFailed);
        QCOMPARE(r.error, QStringLiteral("Input/output error"));
        QCOMPARE(rig.port.requests().size(), 6);
        QCOMPARE(rig.op.count(), 1);
        QVERIFY(rig.op.last().text.contains(QLatin1String("scripted")));
        QVERIFY(rig.op.last().text.contains(QLatin1String("Input/output error")));
        QCOMPARE(rig.view.progressHistory.last(), 0);
        QVERIFY(rig.clock.isEnabled());
        const QString before4 = op == Op::Read ? "READ" : op == Op::Erase ? "DEFAULT 4" : "OLD 4";
        QCOMPARE(rig.table()[4], before4);
        QCOMPARE(rig.table()[5], QStringLiteral("OLD 5"));
        if (op == Op::Write) // no label is left blank
            QCOMPARE(rig.labels(), rig.table());
    }

    void refusedWithoutSending_data() {
        QTest::addColumn<Op>("op");
        QTest::addColumn<bool>("busy");
        for (Op o : {Op::Read, Op::Write, Op::Erase}) {
            const int n = static_cast<int>(o);
            QTest::addRow("busy %d", n) << o << true;
            QTest::addRow("closed %d", n) << o << false;
        }
    }
    void refusedWithoutSending() {
        QFETCH(Op, op);
        QFETCH(bool, busy);
        Rig rig;
        rig.state.InterlockMessages[0] = QStringLiteral("NEW");
        if (busy)
            QVERIFY(rig.link.claim());
        else
            rig.port.close();
        const BulkResult r = rig.run(op);
        QCOMPARE(r.outcome, BulkResult::Outcome::Refused);
        QVERIFY(rig.port.requests().isEmpty());
        QVERIFY(rig.view.progressHistory.isEmpty());
        QCOMPARE(rig.op.count(), busy ? 0 : 1);
        if (!busy)
            QVERIFY(rig.op.last().text.startsWith(QLatin1String("No serial port is open.")));
        QCOMPARE(rig.link.busy(), busy); // a refused run leaves the claim alone
    }
};

QTEST_GUILESS_MAIN(TestBulk)
#include "test_bulk.moc"
