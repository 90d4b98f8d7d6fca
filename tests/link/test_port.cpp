// The product's serial port beyond QSerialPort: the driver requests behind
// PortIoctl (the RS-485 mode, low latency, the output queue) played by a fake,
// on a pseudo-terminal that refuses the real ones; and draining the output
// with the event loop running.

#include "link/QtSerialPortDevice.h"
#include "support/PtyPeer.h"

#include <QtTest>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

// The driver's requests, played: get fails with getError, set with setError;
// what set takes is kept as far as the driver can (dropped flags are not).
// The output queue is what queue() says at each look.
struct FakePortIoctl : PortIoctl {
    serial_rs485 mode{};
    int getError = 0, setError = 0, sets = 0;
    quint32 dropped = 0;
    serial_struct serial{};
    int serialGetError = 0, serialSetError = 0, serialSets = 0;
    std::function<int()> queue;
    int queueLooks = 0;
    int getRs485(int, serial_rs485& out) override {
        out = mode;
        return getError;
    }
    int setRs485(int, serial_rs485& in) override {
        ++sets;
        if (setError == 0) {
            mode = in;
            mode.flags &= ~dropped;
        }
        return setError;
    }
    int getSerial(int, serial_struct& out) override {
        out = serial;
        return serialGetError;
    }
    int setSerial(int, serial_struct& in) override {
        ++serialSets;
        if (serialSetError == 0)
            serial = in;
        return serialSetError;
    }
    int outputQueue(int, int& bytes) override {
        ++queueLooks;
        bytes = queue ? queue() : 0;
        return 0;
    }
};

// The device on a fresh pseudo-terminal at 9600,N,8,1, its requests through fake.
struct OpenPort {
    PtyPeer peer;
    QtSerialPortDevice device;
    explicit OpenPort(FakePortIoctl* fake) {
        if (fake)
            device.setPortIoctl(*fake);
        device.setPortName(peer.slavePath());
    }
    bool open() { return device.setSettings({9600}).ok && device.open().ok; }
};

class TestPort : public QObject {
    Q_OBJECT

private slots:
    // Settings outside what the tool offers are refused in their own words; the port keeps
    // what it had.
    void refusesSettingsNotOffered() {
        QtSerialPortDevice device;
        QVERIFY(device.setSettings({19200, LineSettings::EvenParity, 7}).ok);
        for (const LineSettings bad : {LineSettings{300}, LineSettings{9600, {}, 9}}) {
            const QString spelt = bad.baud == 300 ? "300,N,8,1" : "9600,N,9,1";
            QCOMPARE(device.setSettings(bad).reason,
                     "invalid port settings \"" + spelt +
                         "\" (expected speed,parity,data bits,stop bits such as \"9600,N,8,1\")");
            QCOMPARE(device.settings().text(), "19200,E,7,1");
        }
    }
    // The driver's RS-485 mode through the fake requests, and a
    // pseudo-terminal's refusal of the real ones.
    void kernelMode_data() {
        QTest::addColumn<int>("getError");
        QTest::addColumn<int>("setError");
        QTest::addColumn<quint32>("dropped");
        QTest::addColumn<QString>("refusal"); // a part of it; empty when accepted
        QTest::newRow("accepted") << 0 << 0 << 0u << QString();
        QTest::newRow("no RS-485 mode") << ENOTTY << 0 << 0u << "has no RS-485 mode";
        QTest::newRow("set refused") << 0 << EINVAL << 0u << "has no RS-485 mode";
        QTest::newRow("RTS on send reverted")
            << 0 << 0 << quint32(SER_RS485_RTS_ON_SEND) << "does not raise RTS for sending";
        QTest::newRow("a pty, for real") << -1 << 0 << 0u << "Inappropriate ioctl";
    }
    void kernelMode() {
        QFETCH(int, getError);
        QFETCH(int, setError);
        QFETCH(quint32, dropped);
        QFETCH(QString, refusal);
        FakePortIoctl fake;
        const serial_rs485 before{SER_RS485_RTS_AFTER_SEND, 7, 7, {}};
        fake.mode = before;
        fake.getError = getError;
        fake.setError = setError;
        fake.dropped = dropped;
        OpenPort port(getError >= 0 ? &fake : nullptr);
        QtSerialPortDevice& device = port.device;
        QVERIFY(port.open());
        const PortStatus s = device.setKernelDirection();
        QVERIFY2(s.ok ? refusal.isEmpty() && s.reason.isEmpty()
                      : !refusal.isEmpty() && s.reason.contains(refusal),
                 qPrintable(s.reason));
        if (s.ok) {
            // Raised for sending, dropped after, a character time (1.04 ms) around it.
            QCOMPARE(fake.mode.flags, quint32(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND));
            QVERIFY(fake.mode.delay_rts_before_send == 2 && fake.mode.delay_rts_after_send == 2);
            QVERIFY(device.setKernelDirection().ok && fake.sets == 1); // once an opening
        }
        device.close(); // what the port had before comes back
        QVERIFY(fake.mode.flags == before.flags && fake.mode.delay_rts_before_send == 7);
    }

    // Low latency asked for at open, what was there before back at close; a
    // driver that has no such setting (a pseudo-terminal) or refuses it is
    // used as it is.
    void lowLatency_data() {
        QTest::addColumn<int>("flagsBefore");
        QTest::addColumn<int>("getError");
        QTest::addColumn<int>("setError");
        QTest::addColumn<int>("flagsOpen"); // -1: the fake is not asked (a real pty)
        QTest::addColumn<int>("setsAfterClose");
        const int hi = ASYNC_SPD_HI, low = ASYNC_LOW_LATENCY;
        QTest::newRow("turned on, off again at close") << hi << 0 << 0 << (hi | low) << 2;
        QTest::newRow("on already: left alone") << (hi | low) << 0 << 0 << (hi | low) << 0;
        QTest::newRow("no serial info") << hi << ENOTTY << 0 << hi << 0;
        QTest::newRow("refused") << hi << 0 << EPERM << hi << 1;
        QTest::newRow("a pty, for real") << 0 << 0 << 0 << -1 << 0;
    }
    void lowLatency() {
        QFETCH(int, flagsBefore);
        QFETCH(int, flagsOpen);
        FakePortIoctl fake;
        fake.serial.flags = flagsBefore;
        QFETCH(int, getError);
        QFETCH(int, setError);
        fake.serialGetError = getError;
        fake.serialSetError = setError;
        OpenPort port(flagsOpen >= 0 ? &fake : nullptr);
        QVERIFY(port.open());
        if (flagsOpen >= 0)
            QCOMPARE(fake.serial.flags, flagsOpen);
        // The port works either way.
        QVERIFY(port.device.write("ping") && port.device.drainOutput());
        port.device.close();
        QCOMPARE(fake.serial.flags, flagsBefore);
        QTEST(fake.serialSets, "setsAfterClose");
    }

    // The bytes in the driver's queue leave at the line speed: 96 at 9600
    // baud take 100 ms, waited for with the event loop running and the
    // processor idle, the queue looked at once after the computed time, not
    // polled. A queue that never empties fails the port at its budget.
    void drainIsEventDriven_data() {
        QTest::addColumn<bool>("stuck");
        QTest::newRow("leaves at the line speed") << false;
        QTest::newRow("never leaves") << true;
    }
    void drainIsEventDriven() {
        QFETCH(bool, stuck);
        FakePortIoctl fake;
        QElapsedTimer since;
        const double msPerByte = 10000.0 / 9600;
        fake.queue = [&] {
            if (stuck)
                return 96;
            const double left = 96 - double(since.nsecsElapsed()) / 1e6 / msPerByte;
            return std::max(0, int(std::ceil(left)));
        };
        OpenPort port(&fake);
        QVERIFY(port.open());
        QSignalSpy failed(&port.device, &SerialPort::failed);
        QVERIFY(port.device.write(QByteArray(96, 'x')));
        bool served = false;
        QTimer::singleShot(20, Qt::PreciseTimer, this, [&] { served = true; });
        const qint64 cpuBefore = PtyPeer::nowNs(CLOCK_PROCESS_CPUTIME_ID);
        since.start();
        const bool drained = port.device.drainOutput();
        const double ms = double(since.nsecsElapsed()) / 1e6;
        const double cpuMs = double(PtyPeer::nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore) / 1e6;
        qInfo("%.1f ms, %d looks at the queue, %.2f ms CPU", ms, fake.queueLooks, cpuMs);
        QCOMPARE(drained, !stuck);
        QVERIFY(served); // the event loop ran meanwhile
        QVERIFY2(cpuMs < 0.1 * ms, qPrintable(QString::number(cpuMs)));
        if (!stuck) {
            QVERIFY2(ms >= 99.5 && ms < 150, qPrintable(QString::number(ms)));
            QVERIFY2(fake.queueLooks <= 3, qPrintable(QString::number(fake.queueLooks)));
            QCOMPARE(failed.count(), 0);
        } else {
            // The budget: 250 ms and the time of 96 bytes and a frame's worth (64) more.
            QVERIFY2(ms >= 250 && ms < 500, qPrintable(QString::number(ms)));
            QVERIFY2(fake.queueLooks <= 6, qPrintable(QString::number(fake.queueLooks)));
            QCOMPARE(failed.count(), 1);
            QCOMPARE(failed.at(0).at(0).toString(),
                     "the output did not leave the port within 416 ms");
            QVERIFY(!port.device.isOpen());
        }
    }

    // Discarding drops what Qt has fetched and what the terminal still holds: the next byte
    // read is one sent after it.
    void discardDropsEveryWaitingByte() {
        OpenPort port(nullptr);
        QVERIFY(port.open() && port.peer.writeNow("STALE"));
        QTRY_COMPARE(port.device.inputCount(), 5); // fetched by Qt
        QVERIFY(port.peer.writeNow("HELD"));       // not fetched: no events run meanwhile
        QThread::msleep(20);
        port.device.discardInput();
        QCOMPARE(port.device.inputCount(), 0);
        QVERIFY(port.peer.writeNow("NEW"));
        QTRY_COMPARE(port.device.inputCount(), 3);
        QCOMPARE(port.device.readByte(), int('N'));
        port.device.close(); // "EW" was waiting: a closed port holds nothing
        QCOMPARE(port.device.inputCount(), 0);
    }

    // A line hung up under the port (a pulled adapter): its reads end, and the port fails once
    // with the system's reason, asked of the device itself.
    void hungUpLineFails() {
        OpenPort port(nullptr);
        QVERIFY(port.open());
        QSignalSpy failed(&port.device, &SerialPort::failed);
        const int fd = ::open(qPrintable(port.peer.slavePath()), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0 && ::ioctl(fd, TIOCVHANGUP) == 0);
        ::close(fd);
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), "Input/output error"); // EIO
        QVERIFY(!port.device.isOpen());
    }

    // A device another program holds locked, by whatever name, is in use: refused, and left
    // closed. Once it is free it opens.
    void aLockedDeviceIsInUse() {
        OpenPort port(nullptr);
        const int held = ::open(qPrintable(port.peer.slavePath()), O_RDWR | O_NOCTTY);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        QCOMPARE(port.device.open().reason, "in use by another program");
        QVERIFY(!port.device.isOpen());
        ::close(held);
        QVERIFY(port.open());
    }
};

QTEST_GUILESS_MAIN(TestPort)
#include "test_port.moc"
