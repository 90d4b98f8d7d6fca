// qv840ctl as a user runs it: the built program against `qv840ctl simulate`.

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "startup/ConfigFiles.h"
#include "startup/Interlocks.h"
#include "support/CtlRun.h"
#include "support/Files.h"
#include "support/PtyPeer.h"
#include "table/CsvTable.h"
#include "table/TableFile.h"
#include "transport/RtuTransport.h"

#include <QSerialPort>
#include <QTcpSocket>
#include <QtTest>
#include <csignal>
#include <grp.h>
#include <unistd.h>

#include <sys/stat.h>

static int exitStatus(QProcess& p) {
    // It may have ended while an event loop ran, which QProcess has then seen.
    const bool ran = p.state() == QProcess::NotRunning ? p.error() != QProcess::FailedToStart
                                                       : p.waitForFinished(30000);
    const bool ended = ran && p.exitStatus() == QProcess::NormalExit;
    return ended ? p.exitCode() : -1;
}

// Starts `qv840ctl simulate`; the line it prints first is its device path.
static QString simulate(QProcess& p, const QStringList& options) {
    return startCtl(p, QStringList{"simulate"} + options);
}

// Puts bytes in a slot as another tool could, past every check of qv840ctl.
static bool plant(const QString& path, int slot, const QByteArray& text) {
    QSerialPort port(path);
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.write(rtuFrame(standardCrcTable(), 1, Pdu::writeMessage(messageRegister(slot), text)));
    QByteArray reply;
    while (reply.size() < 8 && port.waitForReadyRead(3000))
        reply += port.readAll();
    return reply.size() == 8;
}

// Runs qv840ctl --trace args, sends it sig after that many requests; all it said, once ended.
static QByteArray stopAfter(QProcess& ctl, int requests, int sig, const QStringList& args) {
    ctl.setProcessChannelMode(QProcess::MergedChannels);
    ctl.start(ctlProgram(), QStringList{"--trace"} + args);
    QByteArray said;
    while (said.count("TX") < requests && ctl.waitForReadyRead(5000))
        said += ctl.readAll();
    ::kill(ctl.processId(), sig);
    exitStatus(ctl);
    return said + ctl.readAll();
}

static const QByteArray kTitleSequence = "A\x1B]0;X\aB"; // would retitle a terminal

// A row with its command line as typed: words split at spaces, a "quoted" one kept whole, and
// three quotes in a row make one.
static void row(const char* name, const QString& line, int status, QString out = {},
                QString err = {}) {
    QTest::newRow(name) << QProcess::splitCommand(line) << status << out << err;
}

static const QString kSame = "20 of 20 slots as in the file\n";

// The command's stderr, less the note that replies come late (a busy machine delays them).
static QString withoutLatenessNote(const QByteArray& err) {
    QStringList lines = QString::fromUtf8(err).split('\n');
    lines.removeIf([](const QString& l) { return l.startsWith("qv840ctl: A reply came about "); });
    return lines.join('\n');
}

class TestQv840ctl : public QObject {
    Q_OBJECT
    TextTable defaults_, unitTable_;
    QTemporaryDir dir_;
    QProcess sim_, simA_, simB_, simGarbled_, simEcho_, sim7_, printing_, saving_;
    QProcess simTcp_, simRtuTcp_; // unit 7 behind a gateway
    QProcess simLine_;            // units 3 to 5 on one line
    QProcess simStrict_;          // units 1 and 2 that refuse block reads
    QString linePath_, strictPath_, simPath_, garbledPath_, echoPath_, sim7Path_, tcpAddress_,
        rtuTcpAddress_;
    PtyPeer line_; // a port this test holds; only the group tty may open it
    QtSerialPortDevice held_;
private slots:
    void initTestCase() {
        QVERIFY(!readDefaults(qEnvironmentVariable("QV_APP_DIR"), defaults_));
        simPath_ = simulate(sim_, {"--link", dir_.filePath("qv840")});
        QVERIFY(plant(simPath_, 8, kTitleSequence) && plant(simPath_, 9, "AB\377CD"));
        garbledPath_ = simulate(simGarbled_, {"--garbage"});
        echoPath_ = simulate(simEcho_, {"--echo"});
        // Two slow read-alls run meanwhile. Slot 2 is empty, 7 holds a 1252 byte, 8 controls.
        for (int k = 0; k < 20; ++k)
            unitTable_[size_t(k)] = k == 2 ? QString() : QString("MESSAGE %1").arg(k);
        unitTable_[7] = "CHAUDIÈRE";
        QVERIFY(saveTable(dir_.filePath("unit.sav"), unitTable_).ok);
        const QStringList unit = {"--messages", dir_.filePath("unit.sav")};
        const QString saveTo = dir_.filePath("r.sav");
        sim7Path_ = simulate(sim7_, unit + QStringList{"--unit", "7", "--baud", "4800"});
        tcpAddress_ = simulate(simTcp_, unit + QStringList{"--unit", "7", "--listen", "0"});
        rtuTcpAddress_ = simulate(
            simRtuTcp_, unit + QStringList{"--unit", "7", "--listen", "0", "--rtu-over-tcp"});
        for (const char* folder : {"line", "badline", "withsilent", "speed300"})
            QVERIFY(QDir(dir_.path()).mkpath(folder));
        // A line of units 3 to 5: unit 4 from its own file, the others from the demo table.
        TextTable own = defaults_;
        own[0] = "UNIT FOUR'S OWN";
        QVERIFY(saveTable(dir_.filePath("line/unit-04.sav"), own).ok);
        QCOMPARE(
            ::mkfifo(QFile::encodeName(dir_.filePath("badline/unit-05.sav")).constData(), 0600), 0);
        linePath_ = simulate(
            simLine_, {"--units", "3-5", "--messages", dir_.filePath("line"), "--baud", "115200"});
        // Unit files for a verify of a folder that finds a unit missing.
        QVERIFY(saveTable(dir_.filePath("withsilent/unit-04.sav"), own).ok &&
                saveTable(dir_.filePath("withsilent/unit-06.sav"), own).ok);
        strictPath_ = simulate(simStrict_, {"--units", "1-2", "--no-block-reads"});
        const QString printingPath = simulate(simA_, unit);
        QVERIFY(plant(printingPath, 8, kTitleSequence));
        printing_.start(ctlProgram(), {"-p", printingPath, "read-all"});
        saving_.start(ctlProgram(), {"-p", simulate(simB_, unit), "read-all", "-o", saveTo});
        held_.setPortName(line_.slavePath());
        QVERIFY(held_.open().ok && QFile::link(line_.slavePath(), dir_.filePath("held")));
        if (const group* tty = getgrnam("tty"))
            QVERIFY(chown(qPrintable(line_.slavePath()), uid_t(-1), tty->gr_gid) == 0);
        TextTable table = defaults_;
        table[5] = "CHANGED FIVE";
        QVERIFY(saveTable(dir_.filePath("one.sav"), table).ok);
        // A CSV table under a name that says nothing, and a text that is no table.
        QVERIFY(writeCsvTable(dir_.filePath("one.csv"), table).ok &&
                QFile::rename(dir_.filePath("one.csv"), dir_.filePath("site.txt")));
        QVERIFY(putFile(dir_.filePath("notes.sav"), "boiler 2, serviced\n"));
        table[4] = QString(41, 'L');
        QVERIFY(saveTable(dir_.filePath("long.sav"), table).ok);
        QCOMPARE(::mkfifo(QFile::encodeName(dir_.filePath("fifo.sav")).constData(), 0600), 0);
        // Start-up files whose filedata.fm lists a speed the tool does not run at, on line 2.
        const QDir app(qEnvironmentVariable("QV_APP_DIR"));
        for (const char* name : {"Defaults.txt", "CRC-16.TBL", "filedata.fm"})
            QVERIFY(QFile::copy(app.filePath(name), dir_.filePath("speed300/") + name));
        const QString fileData = dir_.filePath("speed300/filedata.fm");
        QVERIFY(putFile(fileData, fileBytes(fileData).replace("9600\r\n", "300\r\n")));
    }

    // In order, against one unit at address 1 on "@sim" that keeps what it is sent.
    void commands_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");         // a part of it
        row("write", "-p @sim write 0 HELLO", 0); // stdout is for data only
        row("read", "-p @sim read 0", 0, "HELLO\n");
        row("read, its traffic logged", "--trace-file @dir/trace.log -p @sim read 0", 0, "HELLO\n");
        row("a traffic log onto a folder", "--trace-file @dir -p @sim read 0", 2, {},
            "--trace-file cannot write");
        row("erase", "-p @sim erase 0", 0);
        row("Windows-1252, a dash", "-p @sim write 3 -- \"-5 € PRÉSSION\"", 0);
        row("read them", "-p @sim read 3", 0, "-5 € PRÉSSION\n");
        row("41 characters", "-p @sim write 3 " + QString(41, 'X'), 2, {}, "more than 40");
        // Refused before the port is opened (a missing port would be status 3).
        row("control characters", "-p /dev/qv840-none write 7 " + kTitleSequence, 2, {},
            "the character ESC (\\x1B) at position 2");
        row("a unit's control characters, escaped", "-p @sim read 8", 0, "A\\x1B]0;X\\x07B\n");
        // A simulated unit never puts its link in place of a file: one.sav is still read below.
        row("link over a file", "simulate --link @dir/one.sav", 3, {}, "one.sav");
        row("write-all, one too long", "-p @sim write-all @dir/long.sav", 2, {}, "41");
        row("nothing was sent either", "-p @sim read 5", 0, "\n");
        row("write-all", "-p @sim write-all @dir/one.sav", 0, "1 written, 19 unchanged\n");
        row("the changed entry went out", "-p @sim read 5", 0, "CHANGED FIVE\n");
        row("no default went out", "-p @sim read 0", 0, "\n"); // erased above
        // A table is known by what it holds, not by its name.
        row("write-all, a CSV named .txt", "--pause-ms 0 --verify -p @sim write-all @dir/site.txt",
            0, "1 written, 19 unchanged\n");
        row("write-all, a note named .sav", "-p @sim write-all @dir/notes.sav", 2, {},
            "notes.sav is not a message table: line 1 is not a message in double quotes");
        row("verify, 3 slots differ", "--pause-ms 0 -p @sim verify @dir/one.sav", 1,
            "interlock 42-3: on the unit \"-5 € PRÉSSION\", in the file nothing (the default "
            "\"OPERATING CONTROL OPEN\")\n"
            "interlock 47-48: on the unit \"A\\x1B]0;X\\x07B\", in the file nothing (the default "
            "\"LOW OIL TEMPERATURE\")\n"
            "interlock 48-50: on the unit \"AB\", in the file nothing (the default "
            "\"ATOMIZING AIR PRESSURE LOW\")\n"
            "3 of 20 slots differ\n");
        row("restore", "--pause-ms 0 -p @sim restore @dir/site.txt", 0,
            "0 written, 3 erased, 17 unchanged\n");
        row("verify after it", "--pause-ms 0 -p @sim verify @dir/one.sav", 0, kSame);
        row("restore, nothing to do", "--pause-ms 0 -p @sim restore @dir/one.sav", 0,
            "0 written, 0 erased, 20 unchanged\n");
        row("restore, a note", "-p /dev/qv840-none restore @dir/notes.sav", 2, {},
            "is not a message table");
        // Quotes and commas stay where they stand through a backup and back.
        row("quote, comma", R"(-p @sim write 4 "PRESS """RESET""", THEN WAIT")", 0);
        row("backed up", "--pause-ms 0 -p @sim read-all -o @dir/Q.SAV", 0);
        row("backed up as CSV", "--pause-ms 0 -p @sim read-all -o @dir/q.csv", 0);
        row("changed", "-p @sim write 4 OTHER", 0);
        row("written back", "--pause-ms 0 -p @sim write-all @dir/Q.SAV", 0,
            "2 written, 18 unchanged\n");
        row("slot 4 as it was", "-p @sim read 4", 0, "PRESS \"RESET\", THEN WAIT\n");
        row("slot 5 did not move", "-p @sim read 5", 0, "CHANGED FIVE\n");
        row("the CSV backup matches", "--pause-ms 0 -p @sim verify @dir/q.csv", 0, kSame);
        // What read prints, write takes back: a unit's control characters and backslashes.
        row("escapes written", "-p @sim write 6 A\\x1BB\\x5Cx1B", 0);
        row("read as written", "-p @sim read 6", 0, "A\\x1BB\\x5Cx1B\n");
        row("erased again", "-p @sim erase 6", 0);
        // Where a backup goes is checked before the first request.
        row("upper-case suffix", "--pause-ms 0 -p @sim read-all -o @dir/B.CSV", 0);
        row("no suffix", "-p @sim read-all -o @dir/mysav", 2, {}, "must end in .sav or .csv");
        row("a folder", "-p /dev/qv840-none read-all -o @dir", 2, {}, "it is a folder");
        // Found at its own address and speed only; a short wait keeps these quick.
        const QString quick = " --speeds 9600,4800 --timeout-ms 100";
        row("scan", "-p @sim7 scan --units 6-8" + quick, 0, "7\t4800\tMESSAGE 0\n", "up to 1 s");
        row("scan, first", "-p @sim scan --units 1-9 --first" + quick, 0, "1\t9600\t\n");
        row("scan, nobody there", "-p @sim scan --units 2-3" + quick, 1, {}, "no unit answered");
        row("scan, garbled", "-p @garbled scan --units 1" + quick, 1, {},
            "something answers at 9600 baud");
        // The scan sets up its line as the unit commands do, with the options after it too.
        row("scan, an echoing line",
            "-p @echo scan --units 1-2 --speeds 9600 --echo on --timeout-ms 100", 0, "1\t9600\t\n",
            "up to 1 s");
        row("scan, traced", "--trace -p @sim scan --units 1 --speeds 9600", 0, "1\t9600\t\n",
            "TX 01 03 01 90 00 14 44 14\nRX 01 03 28 00 00");
        row("scan, the line's retries",
            "--trace -p @sim scan --units 2 --speeds 9600 --retries 1 --timeout-ms 100 "
            "--pause-ms 0",
            1, {}, "no usable reply; trying again (1 of 1)");
        // Through a gateway: each address once, at the gateway's speed, which is not known.
        row("scan, Modbus TCP", "-p @tcp scan --units 5-8 --timeout-ms 100", 0, "7\t\tMESSAGE 0\n",
            "scanning units 5-8 on tcp://127.0.0.1:");
        row("scan, speeds through a gateway", "-p @tcp scan --speeds 9600", 2, {},
            "--speeds goes with a serial port");
        row("scan, address 0", "-p @sim scan --units 0-3", 2, {}, "\"0-3\"");
        // The line doctor's refusals; what it finds is tests/diag's.
        row("check, -o of no format", "-p @sim check -o @dir/check.txt", 2, {}, "FILE.json");
        row("check, --count 0", "-p @sim check --count 0", 2, {}, "--count takes");
        row("scan, speed 300", "-p @sim scan --speeds 300", 2, {}, "\"300\"");
        row("silent, read", "-a 5 -p @sim read 0", 1, {}, "(address 5) did not");
        row("silent, write", "-a 5 -p @sim write 0 X", 1, {}, "Not Delivered");
        // Nobody is asked: each silent slot is said, naming it, and the read goes on to the last.
        row("silent, read-all", "-a 5 -p @sim read-all --pause-ms 0 --timeout-ms 20", 1, {},
            "qv840ctl: slot 19 (60-P): Communication Fault: No data received! Check connection, ");
        // A reply that is not the unit's whole answer is never taken for one.
        row("garbled, read", "-p @garbled read 0", 1, {}, "a garbled reply of");
        row("garbled, write", "-p @garbled write 0 X", 1, {}, "did not confirm");
        // On a line that echoes each request, and one that does not.
        row("echo: write", "--echo on -p @echo write 1 ECHOED", 0);
        row("echo: read", "--echo on -p @echo read 1", 0, "ECHOED\n");
        row("echo: erase-all", "-p @echo erase-all --pause-ms=0", 0); // after it too
        row("echo: erased", "-p @echo read 1", 0, "\n");
        row("echo, then silence", "-a 5 -p @echo read 0", 1, {},
            "(address 5) did not answer on /dev/pts/" + echoPath_.section('/', 3) + "\n");
        row("adapter direction", "--direction adapter -p @sim read 5", 0, "CHANGED FIVE\n");
        row("kernel direction on a pty", "--direction kernel -p @sim read 5", 0, "CHANGED FIVE\n",
            "has no RS-485 mode (Inappropriate ioctl for device). RTS switches");
        row("echo maybe", "--echo maybe read 0", 2, {}, "--echo takes auto, on or off");
        row("pause of 1001 ms", "--pause-ms 1001 read 0", 2, {}, "0 to 1000 ms");
        row("retries after the command", "read 0 --retries 99", 2, {}, "0 to 9");
        row("missing port", "-p /dev/qv840-none read 0", 3, {}, "/dev/qv840-none");
        row("slot 20", "-p /dev/null read 20", 2, {}, "\"20\"");
        row("baud 300", "-b 300 -p /dev/null read 0", 2, {}, "\"300\"");
        row("simulated at 300", "simulate --baud 300", 2, {}, "--baud takes 1200");
        // One simulated line of units 3 to 5, each with its own table.
        const QString boiler = "BOILER 2 LOW WATER - CHECK FEED\n";
        row("line: unit 3", "-a 3 -p @line read 0", 0, "UNIT 3: " + boiler);
        row("line: unit 4, its own file", "-a 4 -p @line read 0", 0, "UNIT FOUR'S OWN\n");
        row("line: scanned",
            "-p @line scan --units 2-6 --speeds 115200 --timeout-ms 100 --pause-ms 0", 0,
            "3\t115200\tUNIT 3: " + boiler +
                "4\t115200\tUNIT FOUR'S OWN\n5\t115200\tUNIT 5: " + boiler);
        // Six messages per request, where the unit takes them.
        row("block reads",
            "-a 4 -p @line read-all -o @dir/blocks.sav --block-reads on --pause-ms 0", 0);
        row("block reads, verified",
            "--block-reads=on --trace --pause-ms 0 -a 4 -p @line verify @dir/blocks.sav", 0, kSame,
            "TX 04 03 01 90 00 78 44 6C\n");
        row("block reads, strict unit", "--pause-ms 0 -p @strict read-all --block-reads on", 1, {},
            "qv840ctl: Communication Fault: Unit 1 refused a read of several messages at once "
            "(exception 2, illegal data address); turn block reads off (--block-reads off)");
        row("block reads, strict unit, restore",
            "--block-reads on --pause-ms 0 -p @strict restore @dir/one.sav", 1, {},
            "Unit 1 refused a read of several messages");
        row("block reads auto, strict unit",
            "--trace --pause-ms 0 -p @strict -a 2 read-all -o @dir/strict.sav --block-reads auto",
            0, {}, "TX 02 03 01 90 00 78 44 0A\nRX 02 83 02 30 F1\nTX 02 03 01 90 00 14 44 27\n");
        row("block reads off, strict unit", "--pause-ms 0 -p @strict -a 2 verify @dir/strict.sav",
            0, kSame);
        row("block reads maybe", "--block-reads maybe read-all", 2, {},
            "--block-reads takes off, auto or on, not \"maybe\"");
        // The whole line backed up, checked and put back, unit by unit.
        const QString quickLine = "--pause-ms 0 --timeout-ms 100 -p @line ";
        row("backup, a line", quickLine + "backup --units 2-6 @dir/lineb", 1,
            "2\tno answer\t\n3\tsaved\tUNIT 3: " + boiler + "4\tsaved\tUNIT FOUR'S OWN\n" +
                "5\tsaved\tUNIT 5: " + boiler + "6\tno answer\t\n",
            "qv840ctl: 3 of 5 units saved in ");
        row("backup, the units a scan finds", quickLine + "--retries 0 backup @dir/scanned", 0,
            "3\tsaved\tUNIT 3: " + boiler + "4\tsaved\tUNIT FOUR'S OWN\n" +
                "5\tsaved\tUNIT 5: " + boiler,
            "qv840ctl: found units 3, 4, 5\n");
        const QString same = " slots as in the file\n";
        row("line: unit 4 changed", "-a 4 -p @line write 2 CHANGED", 0);
        row("verify a line, one differs", quickLine + "verify @dir/lineb --block-reads auto", 1,
            "unit 4: interlock 41-42: on the unit \"CHANGED\", in the file nothing (the default "
            "\"HIGH STEAM PRESSURE LIMIT\")\nunit 3 (unit-03.sav): 20 of 20" +
                same +
                "unit 4 (unit-04.sav): 1 of 20 slots differ\nunit 5 (unit-05.sav): 20 of 20" +
                same);
        row("restore a line", quickLine + "restore @dir/lineb", 0,
            "unit 3 (unit-03.sav): 0 written, 0 erased, 20 unchanged\n"
            "unit 4 (unit-04.sav): 0 written, 1 erased, 19 unchanged\n"
            "unit 5 (unit-05.sav): 0 written, 0 erased, 20 unchanged\n");
        row("verify, a unit missing", quickLine + "verify @dir/withsilent", 1,
            "unit 4 (unit-04.sav): 20 of 20" + same + "unit 6 (unit-06.sav): did not answer\n");
        row("backup through a gateway", "--pause-ms 0 -p @tcp backup --units 7 @dir/gateway", 0,
            "7\tsaved\tMESSAGE 0\n");
        row("backup, a unit refusing block reads",
            "--pause-ms 0 -p @strict backup --units 1 @dir/strictb --block-reads on", 1,
            "1\trefused block reads\t\n",
            "qv840ctl: Communication Fault: Unit 1 refused a read of several messages");
        row("backup, unit 32", "-p /dev/qv840-none backup --units 1-32 @dir/x", 2, {},
            "--units takes A-B, unit addresses from 1 to 31");
        row("backup, no folder", "-p /dev/qv840-none backup", 2, {},
            "usage: qv840ctl [options] backup [--units A-B] DIR");
        row("verify, a FIFO for a unit", "-p /dev/qv840-none verify @dir/badline", 2, {},
            "unit-05.sav is not a message table: a FIFO");
        row("verify, no unit files", "-p /dev/qv840-none verify @dir/speed300", 2, {},
            "speed300 holds no unit-NN.sav file");
        row("line: address 248", "simulate --units 1-248", 2, {}, "from 1 to 247");
        row("line: --unit too", "simulate --units 3-5 --unit 4", 2, {},
            "--unit and --units do not go together");
        row("line: a file for the line", "simulate --units 3-5 --messages @dir/one.sav", 2, {},
            "--messages takes a folder of unit-NN.sav files");
        row("line: a unit's file is a FIFO", "simulate --units 4-5 --messages @dir/badline", 2, {},
            "unit-05.sav: a FIFO");
        // Neither blocks nor fills the memory.
        row("write-all from a FIFO", "-p @sim write-all @dir/fifo.sav", 2, {}, "a FIFO");
        row("unit from /dev/zero", "simulate --messages /dev/zero", 2, {}, "a device");
        row("no port", "read 0", 2, {}, "-p PORT");
        // The sheet draws under its own application, whatever options come before it.
        row("sheet after an option's value", "--timeout-ms 100 sheet @dir/one.sav -o @dir/one.pdf",
            0);
        row("broadcast", "-a 0 -p @sim write 2 X", 2, {}, "broadcast address");
        row("slot -1", "-p /dev/null read -1", 2, {}, "\"-1\" is out of range");
        // Output that did not reach stdout is a failure, whatever the command (one path for all).
        row("stdout full, read", ">/dev/full -p @sim read 0", 1, {}, "No space left");
        row("stdout full, help", ">/dev/full --help", 1, {}, "cannot write the output");
        // The held port, by a name under /dev and through a link: never a group matter.
        row("in use", "-p @held read 0", 3, {},
            "pts/" + line_.slavePath().section('/', 3) + ": in use by another program.");
        row("in use, by a link", "-p @dir/held read 0", 3, {}, "in use by another");
        // As the window stops at start-up, naming the file and the line.
        row("filedata.fm speed 300, read", "--config @dir/speed300 -p @sim read 0", 2, {},
            "filedata.fm: speed 2, on line 2, is \"300\"; the tool runs at 1200, 2400");
        row("filedata.fm speed 300, scan", "--config @dir/speed300 -p @sim scan --speeds 9600", 2,
            {}, "filedata.fm: speed 2, on line 2");
        row("config folder missing", "--config @dir/none read 0", 2, {}, "does not exist");
        // As a user who may not open the port nor search the folder.
        row("no permission", "@nobody -p @held read 0", 3, {},
            "group tty may open it: add your user with \"sudo usermod -aG tty $USER\"");
        row("config folder closed", "@nobody --config @dir read 0", 2, {}, "cannot be searched");
    }
    void commands() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess p;
        args.replaceInStrings("@sim7", sim7Path_)
            .replaceInStrings("@line", "@line115200")
            .replaceInStrings("@strict", strictPath_)
            .replaceInStrings("@tcp", tcpAddress_)
            .replaceInStrings("@rtutcp", rtuTcpAddress_)
            .replaceInStrings("@sim", simPath_)
            .replaceInStrings("@garbled", garbledPath_)
            .replaceInStrings("@echo", echoPath_)
            .replaceInStrings("@held", line_.slavePath().mid(5)) // "pts/N"
            .replaceInStrings("@dir", dir_.path());
        if (const qsizetype line = args.indexOf("@line115200"); line >= 0) {
            args[line] = linePath_; // the line runs at 115200 baud, to keep these quick
            args = QStringList{"-b", "115200"} + args;
        }
        if (args.first() == ">/dev/full")
            p.setStandardOutputFile(args.takeFirst().mid(1));
        QString program = ctlProgram();
        if (args.first() == "@nobody") {
            if (geteuid() != 0)
                QSKIP("only root can run a command as nobody");
            args[0] = ctlProgram();
            args = QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups"} + args;
            program = "setpriv";
        }
        p.start(program, args);
        QCOMPARE(exitStatus(p), status);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), out);
        const QString errText = withoutLatenessNote(p.readAllStandardError());
        QVERIFY2(errText.contains(err), qPrintable(errText));
    }

    // A signal in a bulk operation: nothing more goes out, no file is saved, and the report
    // names exactly the slots the unit now holds new.
    void signalStops_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("sig");
        QTest::newRow("read-all -o, SIGINT") << "read-all" << SIGINT;
        QTest::newRow("write-all, SIGTERM") << "write-all" << SIGTERM;
        QTest::newRow("write-all, SIGHUP") << "write-all" << SIGHUP; // the terminal closed
    }
    void signalStops() {
        QFETCH(QString, command);
        QFETCH(int, sig);
        TextTable before, after;
        for (int k = 0; k < 20; ++k) {
            before[size_t(k)] = QString("OLD %1").arg(k);
            after[size_t(k)] = QString("NEW %1").arg(k);
        }
        QVERIFY(saveTable(dir_.filePath("old.sav"), before).ok &&
                saveTable(dir_.filePath("new.sav"), after).ok);
        QProcess unit, ctl, back;
        const QString path = simulate(unit, {"--messages", dir_.filePath("old.sav")});
        const QString out = dir_.filePath("stopped.sav");
        const QStringList target =
            command == "read-all" ? QStringList{"-o", out} : QStringList{dir_.filePath("new.sav")};
        const QByteArray said = stopAfter(ctl, 3, sig, QStringList{"-p", path, command} + target);
        QCOMPARE(exitStatus(ctl), 128 + sig);
        QVERIFY(!QFile::exists(out));
        // The abandoned request's reply may still come: a read after it is answered in turn.
        back.start(ctlProgram(), {"--pause-ms", "0", "--retries", "1", "-p", path, "read-all"});
        QCOMPARE(exitStatus(back), 0);
        const QStringList lines =
            QString(back.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 20);
        int written = 0;
        for (int k = 0; k < 20; ++k) {
            const QString text = lines[k].section('\t', 2);
            QVERIFY2(text == before[size_t(k)] || text == after[size_t(k)], qPrintable(text));
            written += text == after[size_t(k)];
        }
        // The slot under way is not done, though its write may have reached the unit.
        int replies = 0; // whole read replies, 45 bytes
        for (const QByteArray& l : said.split('\n'))
            replies += l.startsWith("RX") && l.trimmed().split(' ').size() == 46;
        const int done = command == "read-all" ? replies : written;
        const auto told = [&](int n) {
            return said.contains(QString("Stopped: %1 of 20 interlocks ").arg(n).toUtf8());
        };
        QVERIFY2(done >= 2 && done < 20 &&
                     (told(done) || (command != "read-all" && told(done - 1))) &&
                     said.contains("stopped by SIG"),
                 said.constData());
        unit.terminate();
        QCOMPARE(exitStatus(unit), 0);
    }

    // A backup stopped by a signal lists the units finished in index.csv, not the one under way.
    void backupLists() {
        const QString folder = dir_.filePath("stopped-line");
        QProcess ctl;
        // The signal follows unit 4's first request, three paused requests before its end.
        const QByteArray said = stopAfter(ctl, 5, SIGINT,
                                          {"-b", "115200", "-p", linePath_, "backup", "--units",
                                           "3-5", folder, "--block-reads", "on"});
        QCOMPARE(exitStatus(ctl), 130);
        QVERIFY2(said.contains("3\tsaved\tUNIT 3: BOILER") &&
                     said.contains("backup stopped by SIGINT after 1 of 3 units, 1 saved; " +
                                   folder.toUtf8() + "/index.csv lists them"),
                 said.constData());
        const QStringList rows = QString::fromUtf8(fileBytes(folder + "/index.csv")).split("\r\n");
        QCOMPARE(rows.size(), 4); // the header, two units, the empty end
        QCOMPARE(rows[0], "unit,speed,result,time,first message");
        const QRegularExpression time("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$");
        QVERIFY(rows[1].section(',', 3, 3).contains(time));
        QCOMPARE(rows[1].section(',', 0, 2) + ',' + rows[1].section(',', 4),
                 "3,115200,saved,UNIT 3: BOILER 2 LOW WATER - CHECK FEED");
        QCOMPARE(rows[2].section(',', 0, 2), "4,115200,stopped"); // its file: line/test_linerun
        // Through a gateway the line's speed is not known (commands() backed unit 7 up).
        const QString gateway = fileBytes(dir_.filePath("gateway/index.csv"));
        QCOMPARE(gateway.split("\r\n").value(1).section(',', 0, 2), "7,,saved");
    }

    // scan -o: the units found as CSV; a target that cannot take it is refused before sending.
    void scanSaves_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("out"); // relative to the test's folder
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("saved"); // nothing: no file
        QTest::addColumn<QString>("err");
        const auto scan = [](const char* name, const QString& line, const char* out, int status,
                             const QByteArray& saved, const char* err = "") {
            QTest::newRow(name) << QProcess::splitCommand("-p " + line) << out << status << saved
                                << err;
        };
        const QByteArray header = "address,speed,message\r\n";
        const QString quick = " --speeds 9600,4800 --timeout-ms 100";
        scan("found", "@sim7 scan --units 6-8" + quick, "found.csv", 0,
             header + "7,4800,MESSAGE 0\r\n");
        scan("quotes and commas", "@sim scan --units 1" + quick, "quoted.csv", 0,
             header + "1,9600,\"SAY \"\"HI\"\", 5 \xE2\x82\xAC\"\r\n");
        scan("through a gateway", "@rtutcp scan --units 7 --timeout-ms 100", "gateway.csv", 0,
             header + "7,,MESSAGE 0\r\n");
        scan("nobody", "@sim scan --units 2" + quick, "nobody.csv", 1, header, "no unit answered");
        scan("not .csv", "@sim scan", "units.txt", 2, {}, "must end in .csv");
        scan("no such folder", "@sim scan", "none/units.csv", 2, {}, "no such folder");
        scan("a folder in its place", "@sim scan", "folder.csv", 2, {}, "not a regular file");
    }
    void scanSaves() {
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        QFETCH(int, status);
        QFETCH(QByteArray, saved);
        QFETCH(QString, err);
        QVERIFY(plant(simPath_, 0, "SAY \"HI\", 5 \x80"));
        QVERIFY(QDir(dir_.path()).mkpath("folder.csv"));
        const QString path = dir_.filePath(out);
        args.replaceInStrings("@sim7", sim7Path_)
            .replaceInStrings("@sim", simPath_)
            .replaceInStrings("@rtutcp", rtuTcpAddress_);
        QProcess p;
        p.start(ctlProgram(), QStringList{"--trace"} + args + QStringList{"-o", path});
        QCOMPARE(exitStatus(p), status);
        const QString errText = withoutLatenessNote(p.readAllStandardError());
        QVERIFY2(errText.contains(err), qPrintable(errText));
        if (saved.isEmpty()) {
            QVERIFY(!QFileInfo(path).isFile());
            QVERIFY2(!errText.contains(QRegularExpression("(^|\n)TX ")), // nothing was sent
                     qPrintable(errText));
            return;
        }
        QCOMPARE(fileBytes(path), saved);
    }

    // A scan stopped by a signal (the terminal closed) says how far it came and saves nothing.
    void scanStops() {
        QProcess ctl;
        const QString out = dir_.filePath("stopped.csv");
        const QByteArray said = stopAfter(ctl, 2, SIGHUP,
                                          {"-p", simPath_, "scan", "--units", "2-31", "--speeds",
                                           "9600", "--timeout-ms", "100", "-o", out});
        QCOMPARE(exitStatus(ctl), 129);
        QVERIFY2(said.contains("scan stopped by SIGHUP after "), said.constData());
        QVERIFY(!QFile::exists(out));
    }

    void simulateEndsCleanly() {
        QCOMPARE(QFileInfo(dir_.filePath("qv840")).symLinkTarget(), simPath_);
        sim_.terminate(); // as Ctrl+C would
        QCOMPARE(exitStatus(sim_), 0);
        QVERIFY(!QFileInfo(dir_.filePath("qv840")).isSymLink());
        // A simulated gateway too, with a client connected.
        QTcpSocket client;
        const QUrl at(tcpAddress_);
        client.connectToHost(at.host(), quint16(at.port()));
        QVERIFY(client.waitForConnected(3000));
        QTest::qWait(100); // taken by the unit's side
        simTcp_.terminate();
        QCOMPARE(exitStatus(simTcp_), 0);
    }

    void readAllPrintsAndSaves() { // last: it has been running since the start
        TextTable expected = unitTable_, back;
        expected[2] = defaults_[2]; // the unit's empty slot leaves the table's default
        QVERIFY2(exitStatus(printing_) == 0 && exitStatus(saving_) == 0,
                 printing_.readAllStandardError() + saving_.readAllStandardError());
        QStringList got, want;
        const QString printed = QString::fromUtf8(printing_.readAllStandardOutput());
        for (const QString& line : printed.split('\n', Qt::SkipEmptyParts))
            got << line.section('\t', 0, 0) + '\t' + line.section('\t', 2); // slot, caption, text
        for (int k = 0; k < 20; ++k)
            want << QString("%1\t%2").arg(k).arg(k == 8 ? "A\\x1B]0;X\\x07B" : expected[size_t(k)]);
        QCOMPARE(got, want);
        QVERIFY(openTable(dir_.filePath("r.sav"), back).ok && back == expected);
    }
};

QTEST_GUILESS_MAIN(TestQv840ctl)
#include "test_qv840ctl.moc"
