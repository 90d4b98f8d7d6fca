// The comms-test read, write and erase against the scripted unit: the request
// each sends, what the labels then show, the clock held off, and the refusals.

#include "link/CommsClock.h"
#include "link/CommsTest.h"
#include "link/Crc.h"
#include "link/Frames.h"
#include "support/ScriptedPort.h"

#include <QtTest>
#include <array>

namespace {

class View : public CommsTestView {
public:
    void setUnitAddressText(const QString& t) override { labels[0] = t; }
    void setTransmitted(const QString& d) override { labels[1] = d; }
    void setReceived(const QString& d) override { labels[2] = d; }
    void setByteCount(const QString& t) override { labels[3] = t; }
    void setStoredText(const QString& t) override { labels[4] = t; }
    void setSending(bool) override {}
    void setReceiving(bool lit) override { receiving = lit; }
    QString messageText() const override { return text; }
    void clearMessageText() override { text.clear(); }
    void showProblem(const QString& t) override { problems << t; }
    QStringList labels = QStringList(5, "old"); // Label8, Label6(0), (1), Label2, Label6(2)
    QString text;
    QStringList problems;
    bool receiving = false;
};

enum Op { Read, Write, Erase };
enum Setup { Plain, BadText, Held, Closed, FailsMidReply };

void row(const char* name, int op, QString text, QByteArray reply, QByteArray request,
         QString shown, int setup = Plain) {
    QTest::newRow(name) << op << text << reply << request << shown << setup;
}

} // namespace

class TestCommsTest : public QObject {
    Q_OBJECT

private slots:
    void exchange_data() {
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("text");       // MsgText
        QTest::addColumn<QByteArray>("reply");   // empty: silence
        QTest::addColumn<QByteArray>("request"); // empty: nothing is sent
        QTest::addColumn<QString>("shown");      // Label2|Label6(2), "old" if left alone
        QTest::addColumn<int>("setup");
        const CrcTableArray t = standardCrcTable();
        const QByteArray read = buildReadRequest(t, 5, 780), echo = "12345678", x40(40, 'x');
        const QByteArray reply = QByteArray::fromHex("050328") + QByteArray(40, 0) + "\1\1";
        row("read", Read, "", QByteArray(reply).replace(3, 3, "ABC"), read, " 45|ABC");
        row("read silent", Read, "", {}, read, " 0|");
        row("write", Write, "AB", echo, buildWriteRequest(t, 5, 780, "AB"), " 8|old");
        row("write 40 silent", Write, x40, {}, buildWriteRequest(t, 5, 780, x40), "old|old");
        row("write 41", Write, x40 + "x", echo, {}, "old|old");
        row("write empty", Write, "", echo, {}, "old|old");
        row("erase silent", Erase, "AB", {}, buildEraseRequest(t, 5, 780), "old|old");
        row("no code page byte", Write, "Ok \u03A9", echo, {}, "old|old", BadText);
        row("link held elsewhere", Erase, "AB", echo, {}, "old|old", Held);
        row("port closed", Read, "", echo, {}, "old|old", Closed);
        row("port fails mid-reply", Read, "", "01", read, " 2|", FailsMidReply);
    }
    void exchange() {
        QFETCH(int, op);
        QFETCH(QString, text);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, request);
        QFETCH(QString, shown);
        QFETCH(int, setup);
        SharedState state;
        state.CrcTable = standardCrcTable();
        state.UnitAddress = 5;
        state.MsgAddress = 780;
        ScriptedPort port;
        Link link(port, LinkTiming{80, 25, 10, 20, 1, 1});
        View view;
        view.text = text;
        CommsClock clock;
        clock.start();
        CommsTest test(state, link, view, &clock);
        if (setup == Held)
            link.claim();
        else if (setup == Closed)
            port.close();
        QVector<bool> clockDuring;
        port.setResponder([&](const QByteArray&) {
            clockDuring << clock.isEnabled();
            return QVector<ScriptedPort::Chunk>(reply.isEmpty() ? 0 : 1, {3, reply});
        });
        if (setup == FailsMidReply)
            QTimer::singleShot(15, Qt::PreciseTimer, &port,
                               [&] { port.failNow("Input/output error"); });
        (test.*std::array{&CommsTest::readMessage, &CommsTest::writeMessage,
                          &CommsTest::eraseMessage}[op])();
        const char* problem = std::array{"", "U\\+03A9.*position 4", "busy", "scripted is not open",
                                         "scripted.*Input/output error"}[setup];
        QCOMPARE(view.problems.size(), setup == Plain ? 0 : 1);
        QVERIFY2(view.problems.join("").contains(QRegularExpression(problem)), problem);
        QVERIFY(clock.isEnabled() && link.busy() == (setup == Held) && !view.receiving);
        QCOMPARE(port.requests(), QVector<QByteArray>(request.isEmpty() ? 0 : 1, request));
        // Refused or idle: labels untouched; else all is shown, even after a port
        // failure, and an erase clears MsgText even unanswered.
        const QStringList sent = {"5", byteDump(request), byteDump(reply), shown};
        QCOMPARE(view.labels.join('|'), request.isEmpty() ? "old|old|old|old|old" : sent.join('|'));
        QCOMPARE(view.text, op == Erase && !request.isEmpty() ? QString() : text);
        if (request.isEmpty())
            return;
        QCOMPARE(port.log().mid(0, 2), QStringList({"drain", "rts off"})); // listens first
        QCOMPARE(clockDuring, QVector<bool>{false});                       // held off
    }
};

QTEST_GUILESS_MAIN(TestCommsTest)
#include "test_commstest.moc"
