// The simulated unit on its pseudo-terminal, with real line timing: how it
// delimits requests, how fast its replies may leave, and its faults. (That it
// outlives the tool reopening the line, and never replaces a file with its
// link, the qv840ctl tests show.)

#include "sim/SimThread.h"

#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SimConfig)

static const QByteArray kReadSlot0 = QByteArray::fromHex("0103019000144414");

template <typename F> static SimConfig with(F change) {
    SimConfig c;
    change(c);
    return c;
}

// The tool's side of the line, opened the plain POSIX way (the unit has made
// it raw); the unit answers on its own thread while this one waits.
struct LineEnd {
    explicit LineEnd(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY)) {
        termios tio{}; // at 9600, as a tool sets its port
        ::tcgetattr(fd, &tio);
        ::cfsetspeed(&tio, B9600);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ~LineEnd() { ::close(fd); }
    void send(const QByteArray& bytes) {
        QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    // Bytes until 150 ms of silence, or 500 ms without any; at[i]: byte i's ms on the clock.
    QByteArray collect() {
        QByteArray got;
        pollfd p{fd, POLLIN, 0};
        char buf[256];
        ssize_t n = 0;
        while (::poll(&p, 1, got.isEmpty() ? 500 : 150) > 0 &&
               (n = ::read(fd, buf, sizeof buf)) > 0) {
            got.append(buf, qsizetype(n));
            at.resize(got.size(), double(clock.nsecsElapsed()) / 1e6);
        }
        return got;
    }
    int fd;
    QElapsedTimer clock;
    QVector<double> at;
};

class TestSimUnit : public QObject {
    Q_OBJECT
private slots:
    void replies_data() {
        QTest::addColumn<SimConfig>("cfg");
        QTest::addColumn<int>("splitMs"); // 1 ms is less than the first half's wire time
        QTest::newRow("9600") << SimConfig{} << 1;
        QTest::newRow("19200") << with([](SimConfig& c) { c.baud = 19200; }) << 1;
        QTest::newRow("1200") << with([](SimConfig& c) { c.baud = 1200; }) << 1;
        QTest::newRow("late") << with([](SimConfig& c) { c.lateMs = 120; }) << 1;
        QTest::newRow("pause") << with([](SimConfig& c) { c.pauseInsideReplyMs = 100; }) << 1;
        QTest::newRow("garbage") << with([](SimConfig& c) { c.garbage = true; }) << 1;
        QTest::newRow("never") << with([](SimConfig& c) { c.neverAnswer = true; }) << 1;
        QTest::newRow("hears 9600") << with([](SimConfig& c) { c.followLineSpeed = true; }) << 1;
        QTest::newRow("hears 9600, runs at 4800") << with([](SimConfig& c) {
            c.followLineSpeed = true;
            c.baud = 4800;
        }) << 1;
        QTest::newRow("two frames, no valid CRC") << SimConfig{} << 30;
    }
    void replies() {
        QFETCH(SimConfig, cfg);
        QFETCH(int, splitMs);
        SimThread sim;
        QVERIFY(sim.start(cfg));
        LineEnd line(sim.devicePath());
        line.clock.start();
        line.send(kReadSlot0.left(4));
        QTest::qSleep(splitMs);
        line.send(kReadSlot0.mid(4));
        const QByteArray reply = line.collect();
        QCOMPARE(reply.size(), cfg.neverAnswer || splitMs > 10 ? 0 : 45);
        if (reply.isEmpty())
            return;
        QCOMPARE(SimModel::crcValid(reply),
                 !cfg.garbage && !(cfg.followLineSpeed && cfg.baud != 9600));
        // After the request's wire time, 3.5 characters and the turnaround, no byte may come
        // sooner than a real line carries it; a busy machine may delay some, but not all.
        // (The pause shows in byte 22's own bound: a gap measured between two bytes read
        // by a busy test would shrink with a late read of byte 21.)
        const double b = 10000.0 / cfg.baud, pause = cfg.pauseInsideReplyMs;
        const double start = (8 + 3.5) * b + cfg.turnaroundMs + cfg.lateMs;
        for (int i = 0; i < 45; ++i)
            QVERIFY(line.at[i] >= start + (i + 1) * b + (i >= 22 ? pause : 0));
        QVERIFY(line.at[44] - line.at[0] >= 22 * b + pause);
        QVERIFY(line.at[44] < start + 45 * b + pause + 60);
    }
};

QTEST_GUILESS_MAIN(TestSimUnit)
#include "test_sim_unit.moc"
