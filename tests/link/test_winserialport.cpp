// The Windows serial port, run under wine by make windows-check on two COM
// ports that are the two ends of one pseudo-terminal pair (socat's): what one
// port writes the other receives. QV_TEST_COM names the first ("COM5");
// QV_TEST_PEER_COM the second ("COM6"). Without them the test is skipped.

#include "link/WinSerialPort.h"

#include <QtTest>

#include <windows.h>

namespace {

QString env(const char* name) {
    return qEnvironmentVariable(name);
}

// Collects what port receives until it holds count bytes or ms pass.
QByteArray receive(WinSerialPort& port, int count, int ms = 3000) {
    QByteArray got;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto take = [&] {
        for (int b = port.readByte(); b >= 0; b = port.readByte())
            got.append(char(b));
        if (got.size() >= count)
            loop.quit();
    };
    const auto c = QObject::connect(&port, &SerialPort::readyRead, &loop, take);
    take();
    if (got.size() < count) {
        timer.start(ms);
        loop.exec();
    }
    QObject::disconnect(c);
    return got;
}

// Wine opens a serial device again although it is held without sharing;
// Windows refuses (ERROR_ACCESS_DENIED).
bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

QByteArray pattern(int n) {
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(char((i * 7 + 3) & 0xff));
    return b;
}

} // namespace

class TestWinSerialPort : public QObject {
    Q_OBJECT
    WinSerialPort a_, b_;

private slots:
    void init() {
        if (env("QV_TEST_COM").isEmpty() || env("QV_TEST_PEER_COM").isEmpty())
            QSKIP("no COM port pair (QV_TEST_COM, QV_TEST_PEER_COM)");
        a_.setPortName(env("QV_TEST_COM"));
        b_.setPortName(env("QV_TEST_PEER_COM"));
        QVERIFY(a_.setSettings({9600}).ok && b_.setSettings({9600}).ok);
        const PortStatus sa = a_.open(), sb = b_.open();
        QVERIFY2(sa.ok, qPrintable(sa.reason));
        QVERIFY2(sb.ok, qPrintable(sb.reason));
    }
    void cleanup() {
        a_.close();
        b_.close();
    }

    // Every byte value crosses, both ways, at each framing; drainOutput
    // returns only once the bytes are gone, with the event loop running.
    void bytesCross_data() {
        QTest::addColumn<QString>("settings");
        QTest::newRow("9600,N,8,1") << "9600,N,8,1";
        QTest::newRow("19200,E,8,1") << "19200,E,8,1";
        QTest::newRow("115200,N,8,2") << "115200,N,8,2";
    }
    void bytesCross() {
        QFETCH(QString, settings);
        const LineSettings line = parseLineSettings(settings).value();
        QVERIFY(a_.setSettings(line).ok && b_.setSettings(line).ok);
        QCOMPARE(a_.settings().text(), settings);
        const QByteArray sent = pattern(512);
        QVERIFY(a_.write(sent) && a_.drainOutput());
        QCOMPARE(receive(b_, sent.size()), sent);
        QVERIFY(b_.write(sent.left(45)) && b_.drainOutput());
        QCOMPARE(receive(a_, 45), sent.left(45));
        QVERIFY(a_.isOpen() && b_.isOpen());
    }

    // Received bytes are counted; discarding drops them, and only what comes
    // afterwards is read.
    void discardDropsWhatCame() {
        QVERIFY(a_.write("0123456789") && a_.drainOutput());
        QTRY_COMPARE_WITH_TIMEOUT(b_.inputCount(), qint64(10), 3000);
        b_.discardInput();
        QCOMPARE(b_.inputCount(), qint64(0));
        QCOMPARE(b_.readByte(), -1);
        QVERIFY(a_.write("abc") && a_.drainOutput());
        QCOMPARE(receive(b_, 3), QByteArray("abc"));
    }

    // While paused no readyRead comes; resuming takes in what came and says so once.
    void pauseHoldsBytesUntilResumed() {
        int signals_ = 0;
        connect(&b_, &SerialPort::readyRead, this, [&] { ++signals_; });
        b_.setReadPaused(true);
        QVERIFY(a_.write("hold") && a_.drainOutput());
        QTest::qWait(300);
        QCOMPARE(signals_, 0);
        b_.setReadPaused(false);
        QTRY_COMPARE_WITH_TIMEOUT(b_.inputCount(), qint64(4), 3000);
        QVERIFY(signals_ >= 1);
        disconnect(&b_, &SerialPort::readyRead, this, nullptr);
    }

    // A port held by another opening is "in use"; a port that does not exist
    // says why, in other words.
    void heldAndMissingPorts() {
        if (!underWine()) {
            WinSerialPort again;
            again.setPortName(env("QV_TEST_COM"));
            QCOMPARE(again.open().reason, portInUseText());
        }
        WinSerialPort missing;
        missing.setPortName(QStringLiteral("COM199"));
        const PortStatus s = missing.open();
        QVERIFY(!s.ok && s.reason != portInUseText() && !s.reason.isEmpty());
        QCOMPARE(describePortProblem(QStringLiteral("COM199"), s).left(23),
                 QStringLiteral("Cannot open \\\\.\\COM199:"));
    }

    // A pseudo-terminal cannot switch RTS: refused, and no failure; the port
    // goes on. Settings outside what the tool offers are refused and change nothing.
    void refusalsAreNoFailures() {
        QSignalSpy failed(&a_, &SerialPort::failed);
        a_.setRts(true);
        a_.setRts(false);
        QVERIFY(a_.isOpen() && !a_.setSettings({300}).ok);
        QCOMPARE(a_.settings().text(), QStringLiteral("9600,N,8,1"));
        QVERIFY(!a_.setKernelDirection().ok && a_.write("x") && a_.drainOutput());
        QCOMPARE(receive(b_, 1), QByteArray("x"));
        QCOMPARE(failed.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWinSerialPort)
#include "test_winserialport.moc"
