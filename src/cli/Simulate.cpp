#include "cli/Commands.h"
#include "cli/Signals.h"
#include "cli/Terminal.h"

#include "modbus/Pdu.h"
#include "sim/SimNetServer.h"
#include "sim/SimUnit.h"
#include "startup/ConfigFiles.h"
#include "startup/DataFolder.h"
#include "startup/MessageLayout.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <optional>

namespace {

std::optional<int> number(const QCommandLineParser& p, const QCommandLineOption& o, int fallback,
                          int low, int high) {
    // A value taken over from -a or -b is held to the same range.
    const QString text = p.isSet(o) ? p.value(o) : QString::number(fallback);
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high) {
        fail(Exit::BadInput, QStringLiteral("--%1 takes a number from %2 to %3, not \"%4\"")
                                 .arg(o.names().constFirst())
                                 .arg(low)
                                 .arg(high)
                                 .arg(text));
        return std::nullopt;
    }
    return v;
}

} // namespace

namespace {

// The options of simulate, declared once for the parser and for reading them back.
struct SimOptions {
    QCommandLineOption unit{QStringLiteral("unit"), QStringLiteral("Unit address (1..247)."),
                            QStringLiteral("N")};
    QCommandLineOption baud{QStringLiteral("baud"), QStringLiteral("Line speed."),
                            QStringLiteral("N")};
    QCommandLineOption units{QStringLiteral("units"),
                             QStringLiteral("A line of units at the addresses A to B (1..247), "
                                            "each with its own messages."),
                             QStringLiteral("A-B")};
    QCommandLineOption messages{QStringLiteral("messages"),
                                QStringLiteral("Fill the slots from FILE.sav; with --units, each "
                                               "unit from DIR/unit-NN.sav where there is one, "
                                               "else from demo.sav with its address in slot 0."),
                                QStringLiteral("FILE.sav|DIR")};
    QCommandLineOption link{QStringLiteral("link"),
                            QStringLiteral("Also make the line reachable as PATH."),
                            QStringLiteral("PATH")};
    QCommandLineOption clearSlot{QStringLiteral("clear-slot"),
                                 QStringLiteral("A write at a slot's first register clears the "
                                                "rest of the slot first.")};
    QCommandLineOption never{QStringLiteral("never-answer"),
                             QStringLiteral("Hear requests, answer none.")};
    QCommandLineOption pause{QStringLiteral("pause-ms"),
                             QStringLiteral("Fall silent N ms in the middle of each reply."),
                             QStringLiteral("N")};
    QCommandLineOption late{QStringLiteral("late-ms"),
                            QStringLiteral("Answer N ms later than usual."), QStringLiteral("N")};
    QCommandLineOption garbage{QStringLiteral("garbage"),
                               QStringLiteral("Answer random bytes without a valid CRC.")};
    QCommandLineOption noBlockReads{QStringLiteral("no-block-reads"),
                                    QStringLiteral("Refuse a read of several messages at once "
                                                   "(exception 2), as a strict unit does.")};
    QCommandLineOption echo{QStringLiteral("echo"),
                            QStringLiteral("Play an echoing adapter: every request comes back "
                                           "before the reply.")};
    QCommandLineOption listen{QStringLiteral("listen"),
                              QStringLiteral("Serve the unit over TCP on [HOST:]PORT (HOST "
                                             "127.0.0.1 unless given; PORT 0 takes a free one)."),
                              QStringLiteral("[HOST:]PORT")};
    QCommandLineOption rtuOverTcp{QStringLiteral("rtu-over-tcp"),
                                  QStringLiteral("With --listen: RTU frames over TCP, not "
                                                 "Modbus TCP.")};
    // The line's faults (sim/SimFaults.h), each off unless given.
    QCommandLineOption crcErrors{QStringLiteral("crc-errors"),
                                 QStringLiteral("Flip one bit in PCT% of the replies."),
                                 QStringLiteral("PCT")};
    QCommandLineOption replyAs{QStringLiteral("reply-as"),
                               QStringLiteral("Every reply carries address N."),
                               QStringLiteral("N")};
    QCommandLineOption twin{QStringLiteral("twin"),
                            QStringLiteral("A second unit at the same address answers at the "
                                           "same moment; the replies collide.")};
    QCommandLineOption noise{QStringLiteral("noise"),
                             QStringLiteral("N random bytes on the idle line after each reply."),
                             QStringLiteral("N")};
    QCommandLineOption secondMaster{QStringLiteral("second-master"),
                                    QStringLiteral("Another master's request on the idle line "
                                                   "after each reply.")};
    QCommandLineOption drop{QStringLiteral("drop"),
                            QStringLiteral("Leave PCT% of the requests unanswered."),
                            QStringLiteral("PCT")};
    QCommandLineOption seed{QStringLiteral("seed"),
                            QStringLiteral("Seed the faults' chances with N."),
                            QStringLiteral("N")};
    QList<QCommandLineOption> all() const {
        return {unit,      baud,    units,        messages, link,         clearSlot,   never,
                pause,     late,    noBlockReads, garbage,  echo,         listen, rtuOverTcp,
                crcErrors, replyAs, twin,         noise,    secondMaster, drop,   seed};
    }
};

// The line's faults from the options; a status to exit with when one is wrong.
std::optional<int> takeFaults(const QCommandLineParser& p, const SimOptions& o, SimFaultConfig& f) {
    const auto crc = number(p, o.crcErrors, 0, 0, 100);
    const auto replyAs = number(p, o.replyAs, 0, 0, 247);
    const auto noise = number(p, o.noise, 0, 0, 256);
    const auto drop = number(p, o.drop, 0, 0, 100);
    const auto seed = number(p, o.seed, 0, 0, 1 << 30);
    if (!crc || !replyAs || !noise || !drop || !seed)
        return Exit::BadInput;
    f.crcErrorPercent = *crc;
    f.replyAs = *replyAs;
    f.noiseBytes = *noise;
    f.dropPercent = *drop;
    f.seed = quint32(*seed);
    f.twin = p.isSet(o.twin);
    f.secondMaster = p.isSet(o.secondMaster);
    return std::nullopt;
}

// The unit's settings from the options; a status to exit with when one is wrong.
std::optional<int> takeConfig(const QCommandLineParser& p, const SimOptions& o,
                              const GlobalOptions& options, SimConfig& cfg) {
    const auto u = number(p, o.unit, options.unitGiven ? options.unit : cfg.unit, 1, 247);
    const auto b = number(p, o.baud, options.baudGiven ? options.baud : cfg.baud, 1, 115200);
    const auto pauseMs = number(p, o.pause, 0, 0, 600000);
    const auto lateMs = number(p, o.late, 0, 0, 600000);
    if (!u || !b || !pauseMs || !lateMs)
        return Exit::BadInput;
    if (!isLineSpeed(*b)) // the unit runs only at the speeds the tool offers
        return fail(Exit::BadInput,
                    QStringLiteral("--baud takes %1, not %2").arg(lineSpeedList()).arg(*b));
    cfg.unit = *u;
    cfg.baud = *b;
    cfg.pauseInsideReplyMs = *pauseMs;
    cfg.lateMs = *lateMs;
    cfg.clearSlotOnWrite = p.isSet(o.clearSlot);
    cfg.singleMessageReads = p.isSet(o.noBlockReads);
    cfg.neverAnswer = p.isSet(o.never);
    cfg.garbage = p.isSet(o.garbage);
    cfg.echo = p.isSet(o.echo);
    cfg.followLineSpeed = true; // a tool at another speed hears garbled bytes
    cfg.linkPath = p.value(o.link);
    return takeFaults(p, o, cfg.faults);
}

// [HOST:]PORT of --listen; the host is 127.0.0.1 unless given, an IPv6
// host in brackets.
std::optional<std::pair<QHostAddress, quint16>> listenAddress(const QString& text) {
    const int colon = int(text.lastIndexOf(QLatin1Char(':')));
    QString host = colon >= 0 ? text.left(colon) : QStringLiteral("127.0.0.1");
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    const QHostAddress address(host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1")
                                                                  : host);
    if (!ok || port < 0 || port > 65535 || address.isNull()) {
        fail(Exit::BadInput, QStringLiteral("--listen takes [HOST:]PORT, HOST an IP address "
                                            "(IPv6 in brackets), PORT 0 to 65535, not \"%1\"")
                                 .arg(text));
        return std::nullopt;
    }
    return std::make_pair(address, quint16(port));
}

// The demo table with the unit's address at the head of slot 0, so that the
// units of a line differ.
void fillWithDemo(SimModel& unit, const SimModel& demo) {
    for (int k = 0; k < SimModel::kSlots; ++k)
        unit.setMessage(k, demo.message(k));
    const QByteArray head = QStringLiteral("UNIT %1: ").arg(unit.unit()).toLatin1();
    unit.setMessage(0, (head + demo.message(0)).left(kMessageMaxLength).trimmed());
}

// Each unit of the line from folder/unit-NN.sav where there is one (folder
// may be empty: none), else from demo.sav in the start-up folder.
std::optional<int> fillLine(SimLine& line, const QString& units, const QString& folder,
                            const QString& configFolder) {
    const auto range = unitRangeArgument(units, SimLine::kFirstAddress, SimLine::kLastAddress);
    if (!range)
        return Exit::BadInput;
    if (!folder.isEmpty() && !QFileInfo(folder).isDir())
        return fail(Exit::BadInput,
                    QStringLiteral("with --units, --messages takes a folder of unit-NN.sav files, "
                                   "not %1")
                        .arg(folder));
    line.setUnits(range->first, range->second);
    std::optional<SimModel> demo;
    QString error;
    for (int address = range->first; address <= range->second; ++address) {
        SimModel& unit = *line.unit(address);
        const QString own =
            folder.isEmpty() ? QString() : QDir(folder).filePath(unitFileName(address));
        if (!own.isEmpty() && QFileInfo::exists(own)) {
            if (!unit.loadSav(own, &error))
                return fail(Exit::BadInput, error);
            continue;
        }
        if (!demo) {
            const QString path = QDir(configFolder.isEmpty() ? dataFolder() : configFolder)
                                     .filePath(QStringLiteral("demo.sav"));
            if (!demo.emplace().loadSav(path, &error))
                return fail(Exit::BadInput, error);
        }
        fillWithDemo(unit, *demo);
    }
    return std::nullopt;
}

// Runs the unit until SIGINT, SIGTERM or SIGHUP.
int serve(SimUnit& sim, const SimConfig& cfg, bool trace, const QString& listen, bool rtu) {
    SignalWatch watch({SIGINT, SIGTERM, kSigHangUp});
    if (!watch.ok())
        return fail(Exit::PortProblem, QStringLiteral("cannot watch for signals"));
    QObject::connect(&watch, &SignalWatch::caught, qApp, &QCoreApplication::quit);

    QString error;
    if (!listen.isEmpty()) {
        const auto at = listenAddress(listen);
        if (!at)
            return Exit::BadInput;
        SimNetServer server(sim.line());
        if (!server.listen(cfg, at->first, at->second, rtu, &error))
            return fail(Exit::PortProblem,
                        QStringLiteral("cannot listen on %1: %2").arg(listen, error));
        if (trace) {
            QObject::connect(&server, &SimNetServer::requestSeen, [](const QByteArray& f) {
                printErr(QStringLiteral("RX") + byteDump(f));
            });
            QObject::connect(&server, &SimNetServer::replySent, [](const QByteArray& f) {
                printErr(QStringLiteral("TX") + byteDump(f));
            });
        }
        printOut(server.address());
        QCoreApplication::exec();
        return Exit::Done;
    }
    if (!sim.start(cfg, &error))
        return fail(Exit::PortProblem, QStringLiteral("cannot make the simulated line: ") + error);
    if (trace) {
        // The unit's view: it receives requests and transmits replies.
        QObject::connect(&sim, &SimUnit::requestSeen,
                         [](const QByteArray& f) { printErr(QStringLiteral("RX") + byteDump(f)); });
        QObject::connect(&sim, &SimUnit::replySent,
                         [](const QByteArray& f) { printErr(QStringLiteral("TX") + byteDump(f)); });
    }
    printOut(sim.devicePath());
    QCoreApplication::exec();
    // What the faults made, to hold against what the tool counted.
    if (cfg.faults.any() || cfg.lateMs > 0)
        printErr(QStringLiteral("qv840ctl: injected ") + sim.injected().text());
    return Exit::Done;
}

} // namespace

int runSimulate(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser p;
    const SimOptions o;
    p.addOptions(o.all());
    if (!p.parse(QStringList{QStringLiteral("qv840ctl simulate")} + args))
        return fail(Exit::BadInput, p.errorText());
    if (!p.positionalArguments().isEmpty())
        return fail(Exit::BadInput, QStringLiteral("simulate takes no arguments, only options"));
    if (p.isSet(o.units) && p.isSet(o.unit))
        return fail(Exit::BadInput, QStringLiteral("--unit and --units do not go together"));

    SimConfig cfg;
    if (const auto status = takeConfig(p, o, options, cfg))
        return *status;
    SimUnit sim;
    if (p.isSet(o.units)) {
        if (const auto status =
                fillLine(sim.line(), p.value(o.units), p.value(o.messages), options.configFolder))
            return *status;
    } else if (p.isSet(o.messages)) {
        QString error;
        if (!sim.model().loadSav(p.value(o.messages), &error))
            return fail(Exit::BadInput, error);
    }
    if (p.isSet(o.rtuOverTcp) && !p.isSet(o.listen))
        return fail(Exit::BadInput, QStringLiteral("--rtu-over-tcp goes with --listen"));
    return serve(sim, cfg, options.trace, p.value(o.listen), p.isSet(o.rtuOverTcp));
}
