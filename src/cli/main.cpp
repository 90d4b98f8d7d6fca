// qv840ctl: the unit's messages from the command line, and the simulated
// unit for trying the tool without one.

#include "cli/CommandTable.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "startup/ConfigFiles.h"
#include "startup/MessageLayout.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>

#include <csignal>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// After the table's commands.
const char* const kHelpTail = R"(
--pause-ms, --retries, --echo, --direction, --timeout-ms, --verify and
--block-reads may also follow a unit command or scan; after "--" a word is
the command's text.

Exit status: 0 done, 1 the unit did not answer or its reply was unusable (or
the output could not be written; verify, restore: or the unit differs from the
file; backup: or some unit did not answer), 2 bad usage or input, 3 the port
could not be opened or failed (scan: 1 when no unit was found). A command
stopped by SIGINT, SIGTERM or SIGHUP (the terminal closed) ends between two
requests, saves no file (backup: keeps the units finished and lists them in
index.csv) and exits 130, 143 or 129.)";

bool number(const QString& text, int low, int high, int& out) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    out = v;
    return true;
}

// The global options, declared once for the parser and for reading them back.
struct Options {
    QCommandLineOption port{
        {QStringLiteral("p"), QStringLiteral("port")},
        QStringLiteral("Serial port: a device path or a name as ports prints it; or a "
                       "gateway: tcp://HOST[:PORT] (Modbus TCP, port 502 by default) or "
                       "rtu+tcp://HOST:PORT (RTU over TCP)."),
        QStringLiteral("PORT")};
    QCommandLineOption baud{
        {QStringLiteral("b"), QStringLiteral("baud")},
        QStringLiteral("Line speed: 1200, 2400, 4800, 9600, 19200, 38400, 57600 "
                       "or 115200 (default 9600)."),
        QStringLiteral("BAUD")};
    QCommandLineOption unit{{QStringLiteral("a"), QStringLiteral("unit")},
                            QStringLiteral("Unit address %1..%2 (default 1).")
                                .arg(kFirstUnitAddress)
                                .arg(kLastUnitAddress),
                            QStringLiteral("UNIT")};
    QCommandLineOption config{QStringLiteral("config"),
                              QStringLiteral("Folder of filedata.fm, Defaults.txt and CRC-16.TBL "
                                             "(default: the program's folder, else "
                                             "../share/qv840n beside it)."),
                              QStringLiteral("DIR")};
    QCommandLineOption timeout{QStringLiteral("timeout-ms"),
                               QStringLiteral("Wait N ms for the first byte of a reply (default "
                                              "500 on a serial port, 1500 through a gateway)."),
                               QStringLiteral("N")};
    QCommandLineOption trace{QStringLiteral("trace"),
                             QStringLiteral("Print every frame on stderr.")};
    QCommandLineOption traceFile{QStringLiteral("trace-file"),
                                 QStringLiteral("Write every frame, with its time and what it "
                                                "says, to FILE."),
                                 QStringLiteral("FILE")};
    QCommandLineOption direction{
        QStringLiteral("direction"),
        QStringLiteral("Who switches the RS-485 direction: rts (the tool, by RTS; default), "
                       "adapter (the adapter by itself) or kernel (the driver's RS-485 mode)."),
        QStringLiteral("MODE")};
    QCommandLineOption echo{QStringLiteral("echo"),
                            QStringLiteral("The adapter's echo of each request: auto (dropped "
                                           "when it comes; default), on (expected) or off."),
                            QStringLiteral("MODE")};
    QCommandLineOption pause{
        QStringLiteral("pause-ms"),
        QStringLiteral("Pause before each bulk request and each retry, 0..1000 ms (default 300)."),
        QStringLiteral("N")};
    QCommandLineOption retries{
        QStringLiteral("retries"),
        QStringLiteral("Tries again a request without a usable reply, 0..9 times (default 0)."),
        QStringLiteral("N")};

    QCommandLineOption verify{
        QStringLiteral("verify"),
        QStringLiteral(
            "Read each slot back after writing or erasing it (write, erase, write-all); a slot "
            "that does not hold what was sent is a failure. restore always does.")};

    QCommandLineOption blockReads{
        QStringLiteral("block-reads"),
        QStringLiteral("Read six messages per request in read-all, verify and restore: off "
                       "(one per request; default), auto (one per request for a unit that "
                       "refuses, remembered for the run) or on (a unit that refuses fails)."),
        QStringLiteral("MODE")};

    QList<QCommandLineOption> all() const {
        return {port,      baud, unit,  config,  timeout, trace,     traceFile,
                direction, echo, pause, retries, verify,  blockReads};
    }
    // Those that may also follow a command that talks to a unit.
    QList<QCommandLineOption> line() const {
        return {pause, retries, echo, direction, timeout, verify, blockReads};
    }
};

// "-p", "--port": how an option is typed.
QStringList typedNames(const QList<QCommandLineOption>& options, bool withValueOnly) {
    QStringList typed;
    for (const QCommandLineOption& option : options)
        if (!withValueOnly || !option.valueName().isEmpty())
            for (const QString& name : option.names())
                typed << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    return typed;
}

// --direction, --echo, --pause-ms, --retries, --verify, --block-reads.
std::optional<int> takeLine(const QCommandLineParser& parser, const Options& o, LineOptions& line) {
    line.verify = parser.isSet(o.verify);
    if (parser.isSet(o.blockReads)) {
        const auto mode = blockReadsNamed(parser.value(o.blockReads));
        if (!mode)
            return fail(Exit::BadInput, QStringLiteral("--block-reads takes off, auto or on, "
                                                       "not \"%1\"")
                                            .arg(parser.value(o.blockReads)));
        line.blockReads = *mode;
    }
    if (parser.isSet(o.direction)) {
        const auto d = directionNamed(parser.value(o.direction));
        if (!d)
            return fail(Exit::BadInput, QStringLiteral("--direction takes rts, adapter or kernel, "
                                                       "not \"%1\"")
                                            .arg(parser.value(o.direction)));
        line.direction = *d;
    }
    if (parser.isSet(o.echo)) {
        const auto e = echoModeNamed(parser.value(o.echo));
        if (!e)
            return fail(Exit::BadInput, QStringLiteral("--echo takes auto, on or off, not \"%1\"")
                                            .arg(parser.value(o.echo)));
        line.echo = *e;
    }
    if (parser.isSet(o.pause) &&
        !number(parser.value(o.pause), 0, LineOptions::kMaxPauseMs, line.pauseMs))
        return fail(Exit::BadInput, QStringLiteral("--pause-ms takes 0 to %1 ms, not \"%2\"")
                                        .arg(LineOptions::kMaxPauseMs)
                                        .arg(parser.value(o.pause)));
    if (parser.isSet(o.retries) && !number(parser.value(o.retries), 0, 9, line.retries))
        return fail(
            Exit::BadInput,
            QStringLiteral("--retries takes 0 to 9, not \"%1\"").arg(parser.value(o.retries)));
    return std::nullopt;
}

// -b: one of the line speeds, written as a plain number.
std::optional<int> takeBaud(const QString& b, GlobalOptions& options) {
    options.baud = b.toInt();
    if (!isLineSpeed(options.baud) || QString::number(options.baud) != b)
        return fail(Exit::BadInput,
                    QStringLiteral("-b takes %1, not \"%2\"").arg(lineSpeedList(), b));
    return std::nullopt;
}

// -a: a unit address; 0, the broadcast address, is named as such.
std::optional<int> takeUnit(const QString& a, GlobalOptions& options) {
    int given = -1;
    if (number(a, 0, 0, given))
        return fail(Exit::BadInput,
                    QStringLiteral("-a 0 is the broadcast address: every unit on the line would "
                                   "take a write, and none would confirm it; give a unit address "
                                   "from %1 to %2")
                        .arg(kFirstUnitAddress)
                        .arg(kLastUnitAddress));
    if (!number(a, kFirstUnitAddress, kLastUnitAddress, options.unit))
        return fail(Exit::BadInput,
                    QStringLiteral("-a takes a unit address from %1 to %2, not \"%3\"")
                        .arg(kFirstUnitAddress)
                        .arg(kLastUnitAddress)
                        .arg(a));
    return std::nullopt;
}

// The global options as given; a status to exit with when one is wrong.
std::optional<int> takeOptions(const QCommandLineParser& parser, const Options& o,
                               GlobalOptions& options) {
    options.port = parser.value(o.port);
    options.configFolder = parser.value(o.config);
    options.trace = parser.isSet(o.trace);
    options.traceFile = parser.value(o.traceFile);
    if ((options.baudGiven = parser.isSet(o.baud)))
        if (const auto status = takeBaud(parser.value(o.baud), options))
            return status;
    if (parser.isSet(o.timeout) && !number(parser.value(o.timeout), 1, 60000, options.timeoutMs))
        return fail(Exit::BadInput, QStringLiteral("--timeout-ms takes a number from 1 to 60000, "
                                                   "not \"%1\"")
                                        .arg(parser.value(o.timeout)));
    if ((options.unitGiven = parser.isSet(o.unit)))
        if (const auto status = takeUnit(parser.value(o.unit), options))
            return status;
    return takeLine(parser, o, options.line);
}

int dispatch(const GlobalOptions& options, QStringList args) {
    if (args.isEmpty())
        return fail(Exit::BadInput, QStringLiteral("no command given (see qv840ctl --help)"));
    const QString command = args.takeFirst();
    if (const CommandRow* row = findCommand(command))
        return row->run(options, args);
    return fail(Exit::BadInput,
                QStringLiteral("unknown command \"%1\" (see qv840ctl --help)").arg(command));
}

// The line options may also follow a command that talks to a unit
// ("read-all --pause-ms 0"): they are moved in front of it, as if given
// there. After "--" everything is the command's own.
QStringList withLineOptionsFirst(const QStringList& arguments, const QStringList& tail,
                                 const Options& o) {
    const QStringList lineOptions = typedNames(o.line(), false);
    const CommandRow* row = tail.isEmpty() ? nullptr : findCommand(tail.first());
    if (!row || row->needs != CommandNeeds::Unit)
        return arguments;
    QStringList moved, rest;
    for (qsizetype i = 1; i < tail.size(); ++i) {
        const QString& a = tail.at(i);
        if (a == QLatin1String("--")) {
            rest += tail.mid(i);
            break;
        }
        const bool withValue = lineOptions.contains(a) && i + 1 < tail.size();
        if (withValue || lineOptions.contains(a.section(QLatin1Char('='), 0, 0))) {
            moved << a;
            if (withValue)
                moved << tail.at(++i);
        } else {
            rest << a;
        }
    }
    return arguments.mid(0, arguments.size() - tail.size()) + moved + QStringList{tail.first()} +
           rest;
}

// The command on the line, read before any application exists: the first
// word that is neither an option nor an option's value.
QString commandOnLine(int argc, char* argv[], const Options& o) {
    const QStringList withValue = typedNames(o.all(), true);
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--"))
            return i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (withValue.contains(arg))
            ++i;
        else if (!arg.startsWith(QLatin1Char('-')))
            return arg;
    }
    return {};
}

int run(const Options& o) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Reads and writes the messages of a QV840 "
                                                    "unit.\n") +
                                     commandsHelp() + QString::fromLatin1(kHelpTail));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions(o.all());
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("See Commands below."),
                                 QStringLiteral("COMMAND ..."));

    const QStringList given = QCoreApplication::arguments();
    if (!parser.parse(given) ||
        !parser.parse(withLineOptionsFirst(given, parser.positionalArguments(), o)))
        return fail(Exit::BadInput, parser.errorText() + QStringLiteral(" (see qv840ctl --help)"));
    if (parser.isSet(help)) {
        printOut(parser.helpText().trimmed());
        return Exit::Done;
    }
    if (parser.isSet(version)) {
        printOut(QStringLiteral("qv840ctl " QV_VERSION));
        return Exit::Done;
    }
    GlobalOptions options;
    if (const auto status = takeOptions(parser, o, options))
        return *status;
    return dispatch(options, parser.positionalArguments());
}

} // namespace

int main(int argc, char* argv[]) {
    // A stdout whose reader has gone fails the write (EPIPE), which printOut()
    // turns into the end of the command and status 1, rather than killing
    // the program mid-request.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // A command that draws text (the sheet) needs a GUI application; on the
    // offscreen platform it needs no display.
    const Options options;
    const CommandRow* row = findCommand(commandOnLine(argc, argv, options));
    std::unique_ptr<QCoreApplication> app;
    if (row && row->needs == CommandNeeds::Painter) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("qv840ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QV_VERSION));
    const int status = run(options);
    // Output that did not reach stdout (a full disk, a closed pipe) is a
    // failure, whatever the command did.
    if (const int err = stdoutError())
        return fail(status == Exit::Done ? Exit::OutputFailed : status,
                    QStringLiteral("cannot write the output: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(err))));
    return status;
}
