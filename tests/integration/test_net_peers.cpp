// The network units against peers no one here wrote, all on loopback: a
// libmodbus TCP server under qv840ctl -p tcp://, the simulated unit with
// --listen under a libmodbus TCP master and mbpoll, RTU over TCP against
// pymodbus and through socat bridging a pty-served unit; and a gateway that
// drops the connection in the middle of read all.

#include "modbus/Pdu.h"
#include "sim/SimModel.h"
#include "support/CtlRun.h"
#include "support/Gateway.h"
#include "support/RecordingOperator.h"
#include "support/RecordingViews.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "transport/ModbusTcpTransport.h"

#include <QTcpServer>
#include <QtTest>

#include <modbus/modbus.h>
#include <unistd.h>

static quint16 freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return s.serverPort();
}

// Runs qv840ctl with the event loop live, so servers in this process answer.
static int ctl(const QStringList& args, QString* out = nullptr, QString* err = nullptr) {
    QProcess p;
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    p.start(ctlProgram(), args);
    loop.exec();
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    return p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit
               ? p.exitCode()
               : -1;
}

// A process whose first stdout line (an address or a path) is awaited; killed at the end.
struct Peer {
    QProcess p;
    QString start(const QString& program, const QStringList& args, const QByteArray& ready = {}) {
        p.start(program, args);
        while (p.waitForReadyRead(10000)) {
            const QByteArray line = p.readLine().trimmed();
            if (ready.isEmpty() || line == ready)
                return QString::fromUtf8(line);
        }
        return {};
    }
    ~Peer() {
        p.terminate();
        if (!p.waitForFinished(3000))
            p.kill();
        p.waitForFinished(3000);
    }
};

// The slot's bytes as 20 registers hold them, two characters each, high byte first.
static QByteArray slotBytes(const uint16_t* regs) {
    QByteArray out;
    for (int i = 0; i < 20; ++i)
        out.append(char(regs[i] >> 8)).append(char(regs[i] & 0xFF));
    return out;
}

class TestNetPeers : public QObject {
    Q_OBJECT
    Blackhole blackhole_;

private slots:
    // The unit commands, their exact PDUs behind MBAP headers, what the registers then hold.
    void libmodbusServer() {
        const quint16 port = freePort();
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
        modbus_mapping_t* map = modbus_mapping_new_start_address(0, 0, 0, 0, 400, 400, 0, 0);
        const int listener = modbus_tcp_listen(ctx, 1);
        QVERIFY(listener >= 0);
        std::unique_ptr<QSocketNotifier> client;
        QList<QByteArray> pdus;
        const auto release = qScopeGuard([&] {
            client.reset();
            ::close(listener);
            modbus_mapping_free(map);
            modbus_free(ctx);
        });
        QSocketNotifier accepting(listener, QSocketNotifier::Read);
        connect(&accepting, &QSocketNotifier::activated, this, [&] {
            int s = listener;
            const int fd = modbus_tcp_accept(ctx, &s);
            client = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            connect(client.get(), &QSocketNotifier::activated, this, [&, fd] {
                uint8_t q[MODBUS_TCP_MAX_ADU_LENGTH];
                const int rc = modbus_receive(ctx, q);
                if (rc > 0) {
                    QCOMPARE(QByteArray(reinterpret_cast<char*>(q) + 2, 5),
                             QByteArray::fromHex("0000") + char(0) + char(rc - 6) + char(1));
                    pdus << QByteArray(reinterpret_cast<char*>(q) + 7, rc - 7);
                    modbus_reply(ctx, q, rc, map);
                } else if (rc < 0) {
                    client->setEnabled(false);
                    ::close(fd);
                }
            });
        });
        const QStringList p{"-p", QStringLiteral("tcp://127.0.0.1:%1").arg(port)};
        const uint16_t* slot3 = map->tab_registers + messageRegister(3) - 400;
        const auto sent = [&] { return std::exchange(pdus, {}); }; // the PDUs since the last call
        QString out;

        QCOMPARE(ctl(p + QStringList{"write", "3", "HELLO"}), 0);
        QCOMPARE(sent(), QList<QByteArray>{Pdu::writeMessage(messageRegister(3), "HELLO")});
        QCOMPARE(slotBytes(slot3), QByteArray("HELLO").leftJustified(40, '\0'));
        QCOMPARE(ctl(p + QStringList{"read", "3"}, &out), 0);
        QCOMPARE(out, "HELLO\n");
        QCOMPARE(sent(), QList<QByteArray>{Pdu::readMessage(messageRegister(3))});
        QCOMPARE(ctl(p + QStringList{"erase", "3"}), 0);
        QCOMPARE(sent(), QList<QByteArray>{Pdu::eraseMessage(messageRegister(3))});
        QCOMPARE(slot3[0], 0);

        map->tab_registers[messageRegister(5) - 400] = 0x4649; // "FI"
        QCOMPARE(ctl(p + QStringList{"read-all"}, &out), 0);
        QList<QByteArray> reads;
        for (int k = 0; k < 20; ++k)
            reads << Pdu::readMessage(messageRegister(k));
        QCOMPARE(sent(), reads);
        QVERIFY(out.contains("\tFI\n"));
    }

    void simulatedUnitListens() {
        Peer sim;
        const QString address = sim.start(
            ctlProgram(), {"simulate", "--listen", "0", "--messages",
                           QDir(qEnvironmentVariable("QV_APP_DIR")).filePath("demo.sav")});
        QVERIFY2(address.startsWith("tcp://127.0.0.1:"), qPrintable(address));
        const int port = address.section(':', -1).toInt();
        modbus_t* m = modbus_new_tcp("127.0.0.1", port);
        const auto release = qScopeGuard([&] {
            modbus_close(m);
            modbus_free(m);
        });
        modbus_set_slave(m, 1);
        QVERIFY(modbus_connect(m) == 0);
        const uint16_t text[2] = {0x4F4B, 0x2100}; // "OK!"
        QCOMPARE(modbus_write_registers(m, messageRegister(2), 2, text), 2);
        uint16_t back[20] = {};
        QCOMPARE(modbus_read_registers(m, messageRegister(2), 20, back), 20);
        // The unit sets only the registers a write carries: "OK!" and its 0
        // end the text, the rest of the slot keeps what it held.
        QCOMPARE(slotBytes(back).left(4), QByteArray("OK!\0", 4));
        QVERIFY(slotBytes(back).mid(4).contains("PRESSURE"));
        modbus_close(m); // one client at a time: the next ones come after
        QProcess poll;
        poll.start("mbpoll",
                   {"-m", "tcp", "-p", QString::number(port), "-a", "1", "-t", "4", "-r",
                    QString::number(messageRegister(2)), "-c", "2", "-0", "-1", "127.0.0.1"});
        QVERIFY(poll.waitForFinished(15000));
        const QString polled = poll.readAllStandardOutput();
        QVERIFY2(polled.contains("[440]: \t20299") && polled.contains("[441]: \t8448"),
                 qPrintable(polled));
        QString out;
        QCOMPARE(ctl({"-p", address, "read", "2"}, &out), 0);
        QCOMPARE(out, "OK!\n");
    }

    // RTU over TCP: pymodbus with its RTU framer, and socat as a transparent
    // gateway in front of the simulated unit on its pseudo-terminal.
    void rtuOverTcp_data() {
        QTest::addColumn<QString>("peer");
        QTest::newRow("pymodbus") << "pymodbus";
        QTest::newRow("socat and the unit on a pty") << "socat";
    }
    void rtuOverTcp() {
        QFETCH(QString, peer);
        const quint16 port = freePort();
        Peer gateway, unit;
        QString pty;
        if (peer == "pymodbus") {
            QCOMPARE(gateway.start("/usr/bin/python3",
                                   {QFINDTESTDATA("rtu_tcp_server.py"), QString::number(port)},
                                   "ready"),
                     "ready");
        } else {
            pty = unit.start(ctlProgram(), {"simulate"});
            QVERIFY(pty.startsWith("/dev/"));
        }
        // socat serves one connection and ends: a second one forked beside a
        // first still reading the pty would take bytes of its replies.
        const auto run = [&](const QStringList& args, QString& out, QString& err) {
            if (!pty.isEmpty()) {
                gateway.p.start("socat",
                                {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(port),
                                 "FILE:" + pty + ",rawer,b9600"}); // the unit hears the line speed
                gateway.p.waitForStarted();
                QTest::qWait(200);
            }
            const int status =
                ctl(QStringList{"-p", QStringLiteral("rtu+tcp://127.0.0.1:%1").arg(port)} + args,
                    &out, &err);
            if (!pty.isEmpty())
                gateway.p.waitForFinished(5000);
            return status;
        };
        QString out, err;
        QCOMPARE(run({"write", "7", "Low gas!"}, out, err), 0);
        QVERIFY2(run({"read", "7"}, out, err) == 0, qPrintable(err));
        QCOMPARE(out, "Low gas!\n");
        QCOMPARE(run({"read-all"}, out, err), 0);
        QCOMPARE(out.count('\n'), 20);
    }

    // The gateway drops the connection in the middle of the reply to slot 4:
    // one box naming the host, the table holding slots 0..3 and nothing else.
    void droppedMidReadAll() {
        SimModel unit;
        for (int k = 0; k < 20; ++k)
            unit.setMessage(k, "UNIT " + QByteArray::number(k));
        QTcpServer gw;
        QVERIFY(gw.listen(QHostAddress::LocalHost));
        int served = 0;
        connect(&gw, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* s = gw.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [&, s] {
                const QByteArray r = s->readAll();
                const QByteArray rtu = unit.reply(SimModel::withCrc(r.mid(6)));
                const QByteArray reply =
                    r.left(4) + char(0) + char(rtu.size() - 2) + rtu.left(rtu.size() - 2);
                if (served++ < 4) {
                    s->write(reply);
                    return;
                }
                s->write(reply.left(20));
                s->flush();
                s->abort();
            });
        });
        ModbusTcpTransport t({Endpoint::Kind::ModbusTcp, "127.0.0.1", gw.serverPort()},
                             {1500, 80, 10, 3000});
        MessageTable messages;
        messages.setTexts(filled("OLD"));
        RecordingTableView view;
        RecordingOperator op;
        BulkOperations bulk(messages, t, view, op);
        QCOMPARE(bulk.readAll(1).outcome, BulkResult::Outcome::PortFailed);
        QCOMPARE(op.boxes().size(), 1);
        QCOMPARE(op.boxes()[0].title, "Connection Failure"); // never a serial port's failure
        QVERIFY2(op.boxes()[0].text.contains(QStringLiteral("127.0.0.1:%1").arg(gw.serverPort())),
                 qPrintable(op.boxes()[0].text));
        for (int k = 0; k < 20; ++k)
            QCOMPARE(messages.text(k), k < 4 ? "UNIT " + QString::number(k) : "OLD");
    }

    // --timeout-ms sets the first-byte wait on a serial port and through a gateway alike.
    void timeoutSetting() {
        Peer pty, net;
        const QString path = pty.start(ctlProgram(), {"simulate", "--never-answer"});
        const QString address =
            net.start(ctlProgram(), {"simulate", "--never-answer", "--listen", "0"});
        for (const QString& port : {path, address}) {
            QElapsedTimer wall;
            wall.start();
            QString err;
            QCOMPARE(ctl({"-p", port, "--timeout-ms", "150", "read", "0"}, nullptr, &err), 1);
            QVERIFY2(wall.elapsed() < 450 && err.contains("did not answer"), qPrintable(err));
        }
        QCOMPARE(ctl({"-p", path, "--timeout-ms", "0", "read", "0"}), 2);
    }

    // A gateway that closes the connection as soon as a write arrives: the write reached it,
    // so it is never sent again, even with --retries; one line on stderr names the gateway
    // once. (Each kind of gateway, with and without retries, the transport's tests show.)
    void aWriteGoesOnce() {
        Gateway gw([](QTcpSocket& s, const QByteArray&, int) { s.disconnectFromHost(); });
        QString err;
        QCOMPARE(ctl({"-p", "tcp://" + gw.hostPort(), "--retries", "3", "write", "3", "HELLO"},
                     nullptr, &err),
                 3);
        QCOMPARE(gw.requests.size(), 1);
        QCOMPARE(gw.connections, 1);
        QCOMPARE(err.count(gw.hostPort()), 1);
        QVERIFY2(err.count('\n') == 1 && err.contains("closed the connection") &&
                     !err.contains("remote host"),
                 qPrintable(err));
    }

    void refusedAndUnknownHost_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << QStringLiteral("tcp://127.0.0.1:%1").arg(freePort())
                                 << "Connection refused";
        QTest::newRow("host not found")
            << QString("rtu+tcp://no-such-gateway.invalid:4001") << "Host not found";
        QTest::newRow("bad address") << QString("tcp://[::1") << "has no ]";
        QTest::newRow("connect time-out")
            << QStringLiteral("tcp://127.0.0.1:%1").arg(blackhole_.port())
            << "no connection within 3 s";
    }
    void refusedAndUnknownHost() {
        QFETCH(QString, address);
        QFETCH(QString, reason);
        QString err;
        QCOMPARE(ctl({"-p", address, "read", "0"}, nullptr, &err), address.contains('[') ? 2 : 3);
        QVERIFY2(err.contains(reason) && err.count('\n') == 1, qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestNetPeers)
#include "test_net_peers.moc"
