// Faults of a real line against the table's operations, over a pseudo-terminal.
// After each the tool has said what happened once, the table holds only what the
// unit confirmed, the CPU stayed idle while waiting, and a saved table file is
// untouched.

#include "link/QtSerialPortDevice.h"
#include "support/Files.h"
#include "support/PtyPeer.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "table/Editor.h"
#include "table/TableFile.h"
#include "transport/PortTexts.h"

#include <QtTest>

static const LinkTiming kShort{60, 20, 30, 10, 1, 1};

// The unit at address 1 behind a pseudo-terminal, slot k holding "UNIT k";
// the table holds "OLD k", the defaults are "DEFAULT k", and that table is
// saved to a file first.
struct Bench : LineRig<QtSerialPortDevice> {
    PtyPeer peer;
    int address = 1;
    BulkOperations bulk{messages, transport, view, op};
    Editor editor{messages, transport, op};
    FakeEditorView editorView;
    FakeUnit unit;
    QTemporaryDir dir;
    QByteArray saved;

    Bench() : LineRig(kShort) {}
    bool start() {
        messages.setTexts(numberedTexts("OLD %1"));
        unit.fill("UNIT %1");
        unit.delayMs = 2;
        answer([this](const QByteArray& r) { return unit.answer(r); });
        port.setPortName(peer.slavePath());
        if (!port.open().ok || !saveTable(file(), messages.texts()).written)
            return false;
        saved = fileBytes(file());
        return !saved.isEmpty() && saved != "<missing>";
    }
    void answer(PtyPeer::Responder r) { peer.setResponder(std::move(r)); }
    QString file() const { return dir.filePath("before.sav"); }
};

// Each slot's entry: done ("%1" standing for the slot) before firstOld, "OLD k" from there.
static QStringList expectedEntries(const QString& done, int firstOld = 20) {
    QStringList out;
    for (int k = 0; k < 20; ++k)
        out << (k >= firstOld ? QString("OLD %1") : done).arg(k);
    return out;
}

constexpr int ReadAll = 0, WriteAll = 1, EditorWrite = 2;

// "done", "failed" (the port went) or "refused" (never sent).
template <class Outcome> static QString said(Outcome o) {
    return o == Outcome::PortFailed ? "failed" : o == Outcome::Refused ? "refused" : "done";
}

static QString run(Bench& b, int operation) {
    if (operation == EditorWrite)
        return said(b.editor.write(b.editorView, b.address));
    return said(
        (operation == ReadAll ? b.bulk.readAll(b.address) : b.bulk.writeAll(b.address)).outcome);
}

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    // The unit's end closes after slot 3 has answered: during read all's pause
    // before slot 4, or while a write waits for its reply.
    void portVanishes_data() {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("read all, in the pause") << ReadAll << expectedEntries("UNIT %1", 4);
        QTest::newRow("write all, awaiting a reply") << WriteAll << expectedEntries("OLD %1");
        QTest::newRow("editor write, awaiting the reply")
            << EditorWrite << expectedEntries("OLD %1");
    }
    void portVanishes() {
        QFETCH(int, operation);
        Bench b;
        QVERIFY(b.start());
        b.editor.select(3);
        b.editorView.text = "NEW TEXT";
        b.answer([&](const QByteArray& request) -> QVector<Chunk> {
            if (FakeUnit::slotOf(request) != 3)
                return b.unit.answer(request);
            if (operation != ReadAll) {
                b.peer.closeMasterAfter(5);
                return {};
            }
            // A whole reply ends at once: the close falls in the pause after it.
            b.peer.closeMasterAfter(2 + kShort.bulkPauseMs / 2);
            return b.unit.answer(request);
        });
        QElapsedTimer wall;
        wall.start();
        const qint64 cpuStart = PtyPeer::nowNs(CLOCK_PROCESS_CPUTIME_ID);
        QCOMPARE(run(b, operation), "failed");
        QTest::qWait(200); // a dead line must not keep the loop busy either
        // Waiting must leave the processor to others: well under a tenth of the wall time.
        const double cpuMs = double(PtyPeer::nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpuStart) / 1e6;
        qInfo("%.1f ms CPU in %lld ms", cpuMs, wall.elapsed());
        QVERIFY(cpuMs < 0.1 * double(wall.elapsed()));
        QVERIFY(b.op.count() == 1 && b.op.last().title == PortTexts::failedTitle());
        QVERIFY2(b.op.last().text.contains(b.peer.slavePath()), qPrintable(b.op.last().text));
        QTEST(b.entries(), "entries");
        QCOMPARE(b.editorView.text, "NEW TEXT");
        QCOMPARE(fileBytes(b.file()), b.saved);

        // The same press again meets the closed port, names it, offers to open it again, and
        // sends nothing.
        const int requests = b.peer.requests().size();
        QCOMPARE(run(b, operation), "refused");
        QCOMPARE(b.op.count(), 2);
        QCOMPARE(b.op.last().text, "The serial port " + b.peer.slavePath() +
                                       " is not open: it failed or was closed.\r\nReconnect opens "
                                       "it again with the same settings; Connect... in the Command "
                                       "Center chooses another.");
        QCOMPARE(b.op.last().buttons, MsgButtons::OkReconnect);
        QCOMPARE(b.peer.requests().size(), requests);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"
