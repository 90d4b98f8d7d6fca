#include "cli/Commands.h"

#include "cli/Signals.h"
#include "cli/Terminal.h"
#include "connect/Connection.h"
#include "connect/PortSources.h"
#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "modbus/Pdu.h"
#include "startup/ConfigFiles.h"
#include "startup/DataFolder.h"
#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "table/BulkOperations.h"
#include "table/CsvTable.h"
#include "table/Editor.h"
#include "table/TableFile.h"
#include "transport/Endpoint.h"
#include "transport/PortTexts.h"
#include "transport/Transports.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList kUnitCommands = {
    QStringLiteral("read"),     QStringLiteral("write"),     QStringLiteral("erase"),
    QStringLiteral("read-all"), QStringLiteral("write-all"), QStringLiteral("erase-all"),
};

// Parses a command's own arguments; "--" ends the options, so a TEXT may
// begin with a dash. Gives the positional arguments, or nothing after
// printing what was wrong.
std::optional<QStringList> commandArguments(QCommandLineParser& parser, const QString& command,
                                            const QStringList& args, int count,
                                            const QString& usage) {
    if (!parser.parse(QStringList{QStringLiteral("qv840ctl ") + command} + args)) {
        fail(Exit::BadInput, parser.errorText());
        return std::nullopt;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != count) {
        fail(Exit::BadInput, QStringLiteral("usage: qv840ctl [options] %1 %2").arg(command, usage));
        return std::nullopt;
    }
    return positional;
}

std::optional<int> slotNumber(const QString& text) {
    bool ok = false;
    const int k = text.toInt(&ok);
    if (!ok || k < 0 || k >= kInterlockCount) {
        fail(Exit::BadInput,
             QStringLiteral("slot \"%1\" is %2: give a slot from 0 to %3")
                 .arg(text, ok ? QStringLiteral("out of range") : QStringLiteral("not a number"))
                 .arg(kInterlockCount - 1));
        return std::nullopt;
    }
    return k;
}

// Why the folder of the configuration files cannot be read from, or nothing.
std::optional<QString> folderProblem(const QString& folder) {
    const QByteArray path = folder.toLocal8Bit();
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        const int err = errno;
        return err == ENOENT ? QStringLiteral("the folder %1 does not exist").arg(folder)
                             : QStringLiteral("cannot reach the folder %1: %2")
                                   .arg(folder, QString::fromLocal8Bit(std::strerror(err)));
    }
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (::access(path.constData(), X_OK) != 0)
        return QStringLiteral("the folder %1 cannot be searched (no x permission), so its "
                              "files cannot be read")
            .arg(folder);
    return std::nullopt;
}

// Everything a command that talks to the unit needs: the table and CRC from
// the configuration files, the connection, the port and the transport over it.
class Session {
public:
    explicit Session(const GlobalOptions& options)
        : options_(options),
          transport_(makeTransport(port_, crcTable_, {options.timeoutMs, &connection.line})) {
        connection.line = options.line;
        QObject::connect(transport_.get(), &Transport::notice,
                         [](const QString& t) { printErr(QStringLiteral("qv840ctl: ") + t); });
        if (options.trace) {
            QObject::connect(transport_.get(), &Transport::frameSent, [](const QByteArray& b) {
                printErr(QStringLiteral("TX") + byteDump(b));
            });
            QObject::connect(transport_.get(), &Transport::frameReceived, [](const QByteArray& b) {
                printErr(QStringLiteral("RX") + byteDump(b));
            });
            QObject::connect(transport_.get(), &Transport::traceNote,
                             [](const QString& t) { printErr(t); });
        }
    }

    // The CRC table and the default messages; exit status or Done.
    int loadConfiguration() {
        const QString folder =
            options_.configFolder.isEmpty() ? dataFolder() : options_.configFolder;
        if (const auto why = folderProblem(folder))
            return fail(Exit::BadInput, *why);
        if (auto err = LoadCrcTable(folder, crcTable_))
            return fail(Exit::BadInput, err->text());
        TextTable defaults;
        if (auto err = readDefaults(folder, defaults))
            return fail(Exit::BadInput, err->text());
        messages.reset(defaults, TextTable{});
        connection.unitAddress = options_.unit;
        connection.commSettings = QStringLiteral("%1,N,8,1").arg(options_.baud);
        connection.setPort(options_.port);
        return Exit::Done;
    }

    int openPort() {
        if (options_.port.isEmpty())
            return fail(Exit::BadInput,
                        QStringLiteral("no port given: use -p PORT (see qv840ctl ports)"));
        if (connection.network())
            return connectGateway();
        port_.setPortName(options_.port);
        PortStatus s = port_.setSettings(connection.commSettings);
        if (s.ok)
            s = port_.open();
        if (!s.ok)
            return fail(Exit::PortProblem, describePortProblem(options_.port, s));
        return Exit::Done;
    }

    // A network address: the connection is made now, so that a host not
    // found or a refusal is told before anything else.
    int connectGateway() {
        if (!connection.endpoint())
            return fail(Exit::BadInput, connection.refusal());
        port_.setPortName(options_.port);
        const FailureWatch watch(*transport_);
        const TransportStatus s = transport_->prepare();
        return s == TransportStatus::Ok ? Exit::Done : fail(Exit::PortProblem, watch.reason(s));
    }

    SignalWatch signalWatch{{SIGINT, SIGTERM}};
    Connection connection;
    MessageTable messages;
    TerminalTable table;
    TerminalOperator op{&table};
    Transport& transport() { return *transport_; }
    QString portName() const { return options_.port; }

private:
    GlobalOptions options_;
    QtSerialPortDevice port_;
    CrcTableArray crcTable_{};
    std::unique_ptr<Transport> transport_;
};

int editorStatus(Editor::Outcome outcome) {
    switch (outcome) {
    case Editor::Outcome::Delivered:
        return Exit::Done;
    case Editor::Outcome::NotDelivered:
        return Exit::NoAnswer;
    case Editor::Outcome::LengthError:
    case Editor::Outcome::BadCharacter:
        return Exit::BadInput;
    case Editor::Outcome::Refused:
    case Editor::Outcome::PortFailed:
        break;
    }
    return Exit::PortProblem;
}

// The operator has already been told what went wrong.
int bulkStatus(const BulkResult& r) {
    switch (r.outcome) {
    case BulkResult::Outcome::PortFailed:
        return Exit::PortProblem;
    case BulkResult::Outcome::Refused:
        return r.invalid.isEmpty() ? Exit::PortProblem : Exit::BadInput;
    case BulkResult::Outcome::Stopped:
        return Exit::NoAnswer; // the caller exits with the signal's status
    case BulkResult::Outcome::Completed:
    case BulkResult::Outcome::Cancelled:
        break;
    }
    return r.silent.isEmpty() && r.rejected.isEmpty() ? Exit::Done : Exit::NoAnswer;
}

int readSlot(Session& s, int k) {
    TransportClaim claim(s.transport());
    const QByteArray request = Pdu::readMessage(messageRegister(k));
    const Transaction t = s.transport().transact(s.connection.unitAddress, request);
    if (!t.ok())
        return fail(Exit::PortProblem,
                    PortTexts::failed(s.portName(), t.error).replace("\r\n", " "));
    const ReplyCheck check = checkReply(t, request);
    if (check.verdict == ReplyCheck::Verdict::Silent)
        return fail(Exit::NoAnswer,
                    QStringLiteral("the unit (address %1) did not answer on %2%3")
                        .arg(s.connection.unitAddress)
                        .arg(s.portName(),
                             check.noEcho ? QStringLiteral(": the line did not echo") : QString()));
    if (!check.confirmed())
        return fail(Exit::NoAnswer, QStringLiteral("the reply of the unit (address %1) on %2 could "
                                                   "not be used: %3")
                                        .arg(s.connection.unitAddress)
                                        .arg(s.portName(), check.reason()));
    // An empty slot is an empty line; control characters never reach the terminal raw.
    printOut(MessageText::escaped(Pdu::decodeReadReply(t.replyPdu).text));
    return Exit::Done;
}

int editSlot(Session& s, int k, const std::optional<QString>& text) {
    Editor editor(s.messages, s.transport(), s.table, s.op);
    editor.select(k);
    TerminalEditorView view(text.value_or(QString()));
    const int unit = s.connection.unitAddress;
    return editorStatus(text ? editor.write(view, unit) : editor.erase(view, unit));
}

// SIGINT or SIGTERM stops the operation between two requests while this lives.
class StopOnSignal {
public:
    StopOnSignal(SignalWatch& watch, BulkOperations& ops)
        : connection_(
              QObject::connect(&watch, &SignalWatch::caught, [&ops] { ops.requestStop(); })) {}
    ~StopOnSignal() { QObject::disconnect(connection_); }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

private:
    QMetaObject::Connection connection_;
};

int readAll(Session& s, const QString& outFile) {
    BulkOperations ops(s.messages, s.transport(), s.table, s.op);
    const StopOnSignal stop(s.signalWatch, ops);
    const BulkResult r = ops.readAll(s.connection.unitAddress);
    if (const int status = bulkStatus(r); status != Exit::Done || SignalWatch::first())
        return status; // a silent, rejected or stopped slot: nothing is printed or saved
    if (isCsvName(outFile)) {
        const CsvResult saved = writeCsvTable(outFile, s.messages.texts());
        return saved.ok ? Exit::Done : fail(Exit::BadInput, saved.message);
    }
    if (!outFile.isEmpty()) {
        const TableFileResult saved = saveTable(outFile, s.messages.texts());
        if (!saved.ok)
            return fail(Exit::BadInput, saved.message);
        if (!saved.message.isEmpty())
            printErr(QStringLiteral("qv840ctl: ") + saved.message);
        return Exit::Done;
    }
    for (int k = 0; k < kInterlockCount; ++k)
        printOut(QStringLiteral("%1\t%2\t%3")
                     .arg(k)
                     .arg(terminalCaption(k), MessageText::escaped(s.messages.text(k))));
    return Exit::Done;
}

} // namespace

int fail(int status, const QString& text) {
    printErr(QStringLiteral("qv840ctl: ") + text);
    return status;
}

bool isUnitCommand(const QString& command) {
    return kUnitCommands.contains(command);
}

int runPorts(const QStringList& args) {
    if (!args.isEmpty())
        return fail(Exit::BadInput, QStringLiteral("usage: qv840ctl ports"));
    for (const QString& name : systemPortNames())
        printOut(name);
    return Exit::Done;
}

namespace {

// A unit command as given: its slot, text or file, checked for form only.
struct UnitCommand {
    QString name;
    std::optional<int> slot;
    QString text; // write
    QString file; // write-all, or read-all's -o
};

// The command's arguments, or a status to exit with.
std::optional<int> parseUnitCommand(const QString& command, const QStringList& args,
                                    UnitCommand& c) {
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Save the table to FILE.sav."),
                                    QStringLiteral("FILE.sav"));
    if (command == QLatin1String("read-all"))
        parser.addOption(output);
    const bool bySlot = command == QLatin1String("read") || command == QLatin1String("write") ||
                        command == QLatin1String("erase");
    int count = 0;
    QString usage;
    if (command == QLatin1String("read-all")) {
        usage = QStringLiteral("[-o FILE.sav]");
    } else if (bySlot) {
        count = command == QLatin1String("write") ? 2 : 1;
        usage = count == 2 ? QStringLiteral("SLOT TEXT") : QStringLiteral("SLOT");
    } else if (command == QLatin1String("write-all")) {
        count = 1;
        usage = QStringLiteral("FILE.sav");
    }
    // A negative slot is a number out of range, not an option.
    if (bySlot && !args.isEmpty() &&
        QRegularExpression(QStringLiteral("^-\\d+$")).match(args.first()).hasMatch()) {
        slotNumber(args.first());
        return Exit::BadInput;
    }
    const auto positional = commandArguments(parser, command, args, count, usage);
    if (!positional)
        return Exit::BadInput;
    c.name = command;
    if (bySlot && !(c.slot = slotNumber(positional->at(0))))
        return Exit::BadInput;
    if (command == QLatin1String("write"))
        c.text = positional->at(1);
    if (command == QLatin1String("write-all"))
        c.file = positional->at(0);
    else if (command == QLatin1String("read-all"))
        c.file = parser.value(output);
    return std::nullopt;
}

// The table write-all sends, from a .sav or .csv file; a status when it cannot go.
std::optional<int> loadWriteAllTable(Session& session, const QString& file) {
    MessageTable& table = session.messages;
    if (isCsvName(file)) {
        const CsvResult r = readCsvTable(file, table.defaults(), table.texts());
        if (!r.ok)
            return fail(Exit::BadInput, r.message);
        return std::nullopt;
    }
    const TableFileResult opened = openTable(file, table.texts());
    if (!opened.ok)
        return fail(Exit::BadInput, opened.message);
    if (!opened.message.isEmpty())
        printErr(QStringLiteral("qv840ctl: ") + opened.message);
    const QStringList problems = writeAllProblems(table);
    if (!problems.isEmpty())
        return fail(Exit::BadInput,
                    QStringLiteral("nothing was written; these messages cannot go to the unit: ") +
                        problems.join(QStringLiteral("; ")));
    return std::nullopt;
}

// Where read-all -o saves must be a table's name in a folder that takes it.
std::optional<int> checkSaveTarget(const QString& path) {
    const QFileInfo file(path);
    if (!file.fileName().endsWith(QLatin1String("sav")) && !isCsvName(file.fileName()))
        return fail(
            Exit::BadInput,
            QStringLiteral("the file name %1 must end in .sav or .csv").arg(file.filePath()));
    if (!QFileInfo(file.absolutePath()).isWritable())
        return fail(Exit::BadInput,
                    QStringLiteral("cannot save into %1: no such folder, or not writable")
                        .arg(file.absolutePath()));
    return std::nullopt;
}

// Bad input is refused before the port is touched, so nothing is sent and a
// slow read-all is not thrown away at the end.
std::optional<int> checkInput(Session& session, const UnitCommand& c) {
    if (c.name == QLatin1String("write")) {
        const QString why = c.text.isEmpty() ? QStringLiteral("the message is empty")
                                             : writeAllProblem(c.text, QString());
        if (!why.isEmpty())
            return fail(Exit::BadInput, QStringLiteral("cannot write slot %1: %2; a message holds "
                                                       "1 to 40 printable Windows-1252 characters")
                                            .arg(*c.slot)
                                            .arg(why));
    }
    if (c.name == QLatin1String("write-all"))
        return loadWriteAllTable(session, c.file);
    if (c.name == QLatin1String("read-all") && !c.file.isEmpty())
        return checkSaveTarget(c.file);
    return std::nullopt;
}

int execute(Session& session, const UnitCommand& c) {
    if (c.name == QLatin1String("read"))
        return readSlot(session, *c.slot);
    if (c.name == QLatin1String("write"))
        return editSlot(session, *c.slot, c.text);
    if (c.name == QLatin1String("erase"))
        return editSlot(session, *c.slot, std::nullopt);
    if (c.name == QLatin1String("read-all"))
        return readAll(session, c.file);
    BulkOperations ops(session.messages, session.transport(), session.table, session.op);
    const StopOnSignal stop(session.signalWatch, ops);
    const int unit = session.connection.unitAddress;
    return bulkStatus(c.name == QLatin1String("write-all") ? ops.writeAll(unit)
                                                           : ops.eraseAll(unit));
}

} // namespace

int runUnitCommand(const GlobalOptions& options, const QString& command, const QStringList& args) {
    UnitCommand c;
    if (const auto status = parseUnitCommand(command, args, c))
        return *status;
    Session session(options);
    if (const int status = session.loadConfiguration(); status != Exit::Done)
        return status;
    if (const auto status = checkInput(session, c))
        return *status;
    if (const int status = session.openPort(); status != Exit::Done)
        return status;
    // A signal ends the command between two requests: nothing is saved, and the
    // status tells the caller which signal it was.
    const int status = SignalWatch::first() ? Exit::NoAnswer : execute(session, c);
    if (const int sig = SignalWatch::first())
        return fail(SignalWatch::exitStatus(sig),
                    QStringLiteral("%1 stopped by %2")
                        .arg(c.name, QLatin1String(sig == SIGINT ? "SIGINT" : "SIGTERM")));
    return status;
}
