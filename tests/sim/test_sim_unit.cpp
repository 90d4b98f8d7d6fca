// The simulated unit: its model's answers, byte for byte, against frames worked out by hand (a
// model that agreed with the tool's mistakes would be worthless); and the unit on its
// pseudo-terminal, with real line timing: how it delimits requests, how fast its replies may
// leave, and its faults. (That it outlives the tool reopening the line, and never replaces a
// file with its link, the qv840ctl tests show.)

#include "sim/SimModel.h"
#include "sim/SimThread.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(SimConfig)

namespace {

const char* const kBefore = "HELLO WORLD.......Z"; // slot 0 before every request

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
QByteArray crc(const char* text) {
    return SimModel::withCrc(hex(text));
}

// slot0 is the whole slot afterwards, '_' for a 0 byte, padded with zeros.
void row(const char* name, const QByteArray& request, const char* reply,
         const char* slot0 = kBefore, bool clearSlot = false) {
    const QByteArray slot = QByteArray(slot0).replace('_', '\0').leftJustified(40, '\0');
    QTest::newRow(name) << clearSlot << request << hex(reply) << slot;
}

} // namespace

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
    void modelReplies_data() {
        QTest::addColumn<bool>("clearSlot");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("slot0After");
        const QByteArray erase = hex("01 10 01 90 00 01 02 00 00 AB C0");
        const QByteArray writeA = hex("01 10 01 90 00 01 02 41 00 9B 90");
        const QByteArray inside = crc("01 10 01 92 00 01 02 78 79");
        const char* const written = "01 10 01 90 00 01 00 18";
        const char* const writtenInside = "01 10 01 92 00 01 A1 D8";
        row("read", crc("01 03 01 90 00 02"), "01 03 04 48 45 4C 4C C9 73");
        // A write sets its registers and nothing else: the text ends at its 0.
        row("write sets its registers", writeA, written, "A_LLO WORLD.......Z");
        row("write without an end", crc("01 10 01 90 00 01 02 41 42"), written,
            "ABLLO WORLD.......Z");
        row("erase", erase, written, "__LLO WORLD.......Z");
        row("write inside a slot sets registers", inside, writtenInside, "HELLxyWORLD.......Z");
        // --clear-slot: a write at a slot's start clears the slot first.
        row("clearing: write replaces the slot", writeA, written, "A", true);
        row("clearing: erase clears the slot", erase, written, "", true);
        row("clearing: write inside a slot", inside, writtenInside, "HELLxyWORLD.......Z", true);
        row("read past the map", crc("01 03 03 0C 00 15"), "01 83 02 C0 F1");
        row("read count 0", crc("01 03 01 90 00 00"), "01 83 03 01 31");
        row("read count 126", crc("01 03 01 90 00 7E"), "01 83 03 01 31");
        row("write past the map", crc("01 10 03 1E 00 03 06 41 42 43 44 45 46"), "01 90 02 CD C1");
        row("write byte count wrong", crc("01 10 01 90 00 02 02 41 42"), "01 90 03 0C 01");
        row("write count 0", crc("01 10 01 90 00 00 00"), "01 90 03 0C 01");
        row("bad CRC", hex("01 10 01 90 00 01 02 41 00 9B 91"), "");
        row("another unit", crc("02 10 01 90 00 01 02 48 49"), "");
        row("too short", hex("01 03 40"), "");
        row("broadcast read", crc("00 03 01 90 00 14"), "");
        row("broadcast write is carried out", crc("00 10 01 90 00 02 04 41 4C 4C 00"), "",
            "ALL_O WORLD.......Z");
    }

    void modelReplies() {
        QFETCH(bool, clearSlot);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, slot0After);
        SimModel m(1, clearSlot);
        m.setMessage(0, kBefore);
        m.setMessage(1, "NEXT");
        QCOMPARE(m.reply(request), expected);
        QCOMPARE(m.reply(crc("01 03 01 90 00 14")).mid(3, 40), slot0After);
        QCOMPARE(m.message(1), QByteArray("NEXT")); // a write never spills into the next slot
    }

    void loadSavRecords() {
        SimModel m;
        m.setMessage(7, "UNTOUCHED");
        m.setMessage(2, "GONE");
        QCOMPARE(m.loadSavData("\"one, with comma\"\r\n  plain\r\n\"\"\r\na,b\n\"" +
                               QByteArray(45, 'L') + "\"\r\n\"\xE9t\xE9\"\r\n"),
                 7);
        // The file's bytes go to the wire as they are; slots after the last record keep theirs.
        const QByteArrayList expected = {"one, with comma",   "plain",     "",         "a", "b",
                                         QByteArray(40, 'L'), "\xE9t\xE9", "UNTOUCHED"};
        for (int k = 0; k < expected.size(); ++k)
            QCOMPARE(m.message(k), expected[k]);
        QCOMPARE(m.loadSavData(QByteArray(30, ',')), 20);
        // A quote left open would take the next line into the slot and shift the rest.
        m.setMessage(0, "KEEP");
        QCOMPARE(m.loadSavData("\"OPEN\r\n\"NEXT\"\r\n"), -1);
        // Only a regular file of a bounded size is read; nothing else blocks or fills memory.
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo.sav");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        for (const QString& path : {fifo, QStringLiteral("/dev/zero"), dir.path()}) {
            QString error;
            QVERIFY(!m.loadSav(path, &error));
            QVERIFY2(error.startsWith(path + ": a ") && error.endsWith(", not a file"),
                     qPrintable(error));
        }
        QFile big(dir.filePath("big.sav"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(SimModel::kMaxSavBytes + 1));
        QString error;
        QVERIFY(!m.loadSav(big.fileName(), &error) && error.contains("65537 bytes"));
        QCOMPARE(m.message(0), QByteArray("KEEP"));
    }

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
