// The simulated unit on its pseudo-terminal, with real line timing: how it
// delimits requests, how fast its replies may leave, and its faults.

#include "sim/SimThread.h"
#include "sim/SimUnit.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const QByteArray kReadSlot0 = hex("01 03 01 90 00 14 44 14");
const QByteArray kWriteA = hex("01 10 01 90 00 01 02 41 00 9B 90");

double byteMs(int baud) {
    return 10000.0 / baud;
}

// The tool's side of the line, opened the plain POSIX way so that the test
// depends on nothing but the simulator.
class LineEnd {
public:
    struct Byte {
        double ms; // since the last send
        char value;
    };

    bool open(const QString& path) {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            return false;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_, TCSANOW, &tio);
        return true;
    }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    ~LineEnd() { close(); }

    void send(const QByteArray& bytes) {
        clock_.start();
        QCOMPARE(::write(fd_, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    // Bytes until gapMs of silence after the last one, or firstMs without any.
    QVector<Byte> collect(int firstMs = 500, int gapMs = 150) {
        QVector<Byte> got;
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QSocketNotifier notifier(fd_, QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
            char buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            const double at = double(clock_.nsecsElapsed()) / 1e6;
            for (ssize_t i = 0; i < n; ++i)
                got.append({at, buf[i]});
            timer.start(gapMs);
        });
        timer.start(firstMs);
        loop.exec();
        return got;
    }

    static QByteArray bytes(const QVector<Byte>& got) {
        QByteArray b;
        for (const auto& x : got)
            b.append(x.value);
        return b;
    }

private:
    int fd_ = -1;
    QElapsedTimer clock_;
};

} // namespace

class TestSimUnit : public QObject {
    Q_OBJECT
private slots:
    void delimitsRequestsBySilence();
    void pacesRepliesAtLineSpeed_data();
    void pacesRepliesAtLineSpeed();
    void faults();
    void survivesTheToolReopening();
    void linkPathFollowsTheUnit();
    void runsOnItsOwnThread();
};

void TestSimUnit::delimitsRequestsBySilence() {
    SimUnit unit;
    SimConfig cfg;
    QVERIFY(unit.start(cfg));
    QSignalSpy seen(&unit, &SimUnit::requestSeen);
    LineEnd line;
    QVERIFY(line.open(unit.devicePath()));

    // A request written in two pieces 1 ms apart is still one frame (the wire
    // time of the first piece alone is longer than that).
    line.send(kReadSlot0.left(4));
    QTest::qWait(1);
    line.send(kReadSlot0.mid(4));
    QCOMPARE(LineEnd::bytes(line.collect()).size(), 45);
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0][0].toByteArray(), kReadSlot0);

    // 30 ms of silence in the middle makes two frames, neither with a valid
    // CRC, so the unit stays silent.
    seen.clear();
    line.send(kReadSlot0.left(4));
    QTest::qWait(30);
    line.send(kReadSlot0.mid(4));
    QVERIFY(line.collect(300).isEmpty());
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0][0].toByteArray(), kReadSlot0.left(4));
}

void TestSimUnit::pacesRepliesAtLineSpeed_data() {
    QTest::addColumn<int>("baud");
    QTest::newRow("9600") << 9600;
    QTest::newRow("19200") << 19200;
    QTest::newRow("1200") << 1200;
}

void TestSimUnit::pacesRepliesAtLineSpeed() {
    QFETCH(int, baud);
    SimUnit unit;
    SimConfig cfg;
    cfg.baud = baud;
    QVERIFY(unit.start(cfg));
    LineEnd line;
    QVERIFY(line.open(unit.devicePath()));
    line.send(kReadSlot0);
    const auto got = line.collect(1000);
    QCOMPARE(got.size(), 45);

    const double b = byteMs(baud);
    const double spread = got.last().ms - got.first().ms;
    // Request on the wire, 3.5 characters of silence, turnaround, 45 bytes out.
    const double earliestEnd = 8 * b + 3.5 * b + cfg.turnaroundMs + 45 * b;
    QVERIFY2(spread >= 44 * b - 1, qPrintable(QString::number(spread)));
    QVERIFY2(got.last().ms >= earliestEnd, qPrintable(QString::number(got.last().ms)));
    QVERIFY2(got.last().ms < earliestEnd + 60, qPrintable(QString::number(got.last().ms)));
}

void TestSimUnit::faults() {
    struct Case {
        const char* name;
        SimConfig cfg;
    };
    SimConfig never;
    never.neverAnswer = true;
    SimConfig late;
    late.lateMs = 120;
    SimConfig pause;
    pause.pauseInsideReplyMs = 100;
    SimConfig garbage;
    garbage.garbage = true;
    for (const auto& c : {Case{"never", never}, Case{"late", late}, Case{"pause", pause},
                          Case{"garbage", garbage}}) {
        SimUnit unit;
        unit.model().setMessage(0, "FAULTY");
        QVERIFY(unit.start(c.cfg));
        LineEnd line;
        QVERIFY(line.open(unit.devicePath()));
        line.send(kReadSlot0);
        const auto got = line.collect(600, 150);
        const QByteArray reply = LineEnd::bytes(got);
        const QString which = QString::fromLatin1(c.name);
        if (c.cfg.neverAnswer) {
            QVERIFY2(got.isEmpty(), qPrintable(which));
            continue;
        }
        QCOMPARE(reply.size(), 45);
        if (c.cfg.lateMs)
            QVERIFY2(got.first().ms >= 120, qPrintable(which));
        if (c.cfg.pauseInsideReplyMs) {
            // Byte 22 is the first of the second half.
            QVERIFY2(got[22].ms - got[21].ms >= 100, qPrintable(which));
            QCOMPARE(reply.mid(3, 6), QByteArray("FAULTY"));
        }
        if (c.cfg.garbage)
            QVERIFY2(!SimModel::crcValid(reply), qPrintable(which));
        else
            QVERIFY2(SimModel::crcValid(reply), qPrintable(which));
    }
}

void TestSimUnit::survivesTheToolReopening() {
    SimUnit unit;
    SimConfig cfg;
    cfg.pacing = false;
    QVERIFY(unit.start(cfg));
    QVERIFY(unit.devicePath().startsWith("/dev/pts/"));
    QSignalSpy seen(&unit, &SimUnit::requestSeen);
    QSignalSpy sent(&unit, &SimUnit::replySent);
    for (int round = 0; round < 3; ++round) {
        LineEnd line;
        QVERIFY(line.open(unit.devicePath()));
        line.send(kWriteA);
        QCOMPARE(LineEnd::bytes(line.collect()), hex("01 10 01 90 00 01 00 18"));
        line.send(kReadSlot0);
        const QByteArray reply = LineEnd::bytes(line.collect());
        QCOMPARE(reply.mid(2, 3), QByteArray("\x28\x41\x00", 3));
        QCOMPARE(sent.last()[0].toByteArray(), reply);
        line.close();
        QTest::qWait(20); // the master sees no slave for a moment
    }
    QCOMPARE(seen.size(), 6);
    QCOMPARE(seen.last()[0].toByteArray(), kReadSlot0);
}

void TestSimUnit::linkPathFollowsTheUnit() {
    QTemporaryDir dir;
    const QString link = dir.filePath("qv840");
    {
        SimUnit unit;
        SimConfig cfg;
        cfg.linkPath = link;
        QVERIFY(unit.start(cfg));
        QCOMPARE(QFileInfo(link).symLinkTarget(), unit.devicePath());
        LineEnd line;
        QVERIFY(line.open(link));
        line.send(kReadSlot0);
        QCOMPARE(LineEnd::bytes(line.collect()).size(), 45);
    }
    QVERIFY(!QFileInfo(link).isSymLink());

    // A regular file in the way is not replaced.
    QFile blocker(link);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SimUnit unit;
    SimConfig cfg;
    cfg.linkPath = link;
    QString error;
    QVERIFY(!unit.start(cfg, &error));
    QVERIFY(error.contains(link));
    QVERIFY(QFileInfo(link).isFile());
}

void TestSimUnit::runsOnItsOwnThread() {
    SimThread sim;
    sim.model().setMessage(3, "THREAD");
    SimConfig cfg;
    cfg.pacing = false;
    QString error;
    QVERIFY2(sim.start(cfg, &error), qPrintable(error));
    QVERIFY(sim.isRunning());
    LineEnd line;
    QVERIFY(line.open(sim.devicePath()));
    line.send(hex("01 03 01 CC 00 14 84 06"));
    QCOMPARE(LineEnd::bytes(line.collect()).mid(3, 6), QByteArray("THREAD"));
    sim.stop();
    QVERIFY(!sim.isRunning());
    QVERIFY(sim.start(cfg)); // and again, on a new line
    QVERIFY(sim.devicePath().startsWith("/dev/pts/"));
}

QTEST_GUILESS_MAIN(TestSimUnit)
#include "test_sim_unit.moc"
