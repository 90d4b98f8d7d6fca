#include "cli/Commands.h"
#include "cli/Signals.h"
#include "cli/Terminal.h"

#include "modbus/Pdu.h"
#include "sim/SimUnit.h"
#include "startup/ConfigFiles.h"

#include <QCommandLineParser>
#include <QCoreApplication>

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
    QCommandLineOption messages{QStringLiteral("messages"),
                                QStringLiteral("Fill the slots from FILE.sav."),
                                QStringLiteral("FILE.sav")};
    QCommandLineOption link{QStringLiteral("link"),
                            QStringLiteral("Also make the line reachable as PATH."),
                            QStringLiteral("PATH")};
    QCommandLineOption bare{QStringLiteral("bare"),
                            QStringLiteral("A plain register map: writes never clear a slot.")};
    QCommandLineOption never{QStringLiteral("never-answer"),
                             QStringLiteral("Hear requests, answer none.")};
    QCommandLineOption pause{QStringLiteral("pause-ms"),
                             QStringLiteral("Fall silent N ms in the middle of each reply."),
                             QStringLiteral("N")};
    QCommandLineOption late{QStringLiteral("late-ms"),
                            QStringLiteral("Answer N ms later than usual."), QStringLiteral("N")};
    QCommandLineOption garbage{QStringLiteral("garbage"),
                               QStringLiteral("Answer random bytes without a valid CRC.")};
    QCommandLineOption echo{QStringLiteral("echo"),
                            QStringLiteral("Play an echoing adapter: every request comes back "
                                           "before the reply.")};
    QList<QCommandLineOption> all() const {
        return {unit, baud, messages, link, bare, never, pause, late, garbage, echo};
    }
};

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
    cfg.bareRegisters = p.isSet(o.bare);
    cfg.neverAnswer = p.isSet(o.never);
    cfg.garbage = p.isSet(o.garbage);
    cfg.echo = p.isSet(o.echo);
    cfg.followLineSpeed = true; // a tool at another speed hears garbled bytes
    cfg.linkPath = p.value(o.link);
    return std::nullopt;
}

// Runs the unit until SIGINT, SIGTERM or SIGHUP.
int serve(SimUnit& sim, const SimConfig& cfg, bool trace) {
    SignalWatch watch({SIGINT, SIGTERM, SIGHUP});
    if (!watch.ok())
        return fail(Exit::PortProblem, QStringLiteral("cannot watch for signals"));
    QObject::connect(&watch, &SignalWatch::caught, qApp, &QCoreApplication::quit);

    QString error;
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

    SimConfig cfg;
    if (const auto status = takeConfig(p, o, options, cfg))
        return *status;
    SimUnit sim;
    if (p.isSet(o.messages)) {
        QString error;
        if (!sim.model().loadSav(p.value(o.messages), &error))
            return fail(Exit::BadInput, error);
    }
    return serve(sim, cfg, options.trace);
}
