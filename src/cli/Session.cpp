#include "cli/Session.h"

#include "link/Crc.h"
#include "link/Timing.h"
#include "modbus/Pdu.h"
#include "startup/ConfigFiles.h"
#include "startup/DataFolder.h"
#include "startup/TextFile.h"
#include "transport/Endpoint.h"
#include "transport/NetTransport.h"
#include "transport/Transports.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

void traceOnStderr(Transport& transport) {
    QObject::connect(&transport, &Transport::frameSent,
                     [](const QByteArray& b) { printErr(QStringLiteral("TX") + byteDump(b)); });
    QObject::connect(&transport, &Transport::frameReceived,
                     [](const QByteArray& b) { printErr(QStringLiteral("RX") + byteDump(b)); });
    QObject::connect(&transport, &Transport::traceNote, [](const QString& t) { printErr(t); });
}

} // namespace

Session::Session(const GlobalOptions& options)
    : options_(options),
      transport_(makeTransport(port_, crcTable_,
                               {options.timeoutMs, &connection.line, defaultLineStateFile()})) {
    connection.line = options.line;
    if (connection.setPort(options.port))
        transport_->choose(*connection.endpoint());
    QObject::connect(transport_.get(), &Transport::notice,
                     [](const QString& t) { printErr(QStringLiteral("qv840ctl: ") + t); });
    if (options.trace)
        traceOnStderr(*transport_);
    if (!options.traceFile.isEmpty())
        traffic_ = std::make_unique<TrafficLog>(*transport_, 0);
}

std::optional<int> Session::checkTraceTarget() const {
    if (options_.traceFile.isEmpty())
        return std::nullopt;
    const QFileInfo file(options_.traceFile);
    if (!QFileInfo(file.absolutePath()).isWritable() || (file.exists() && !file.isFile()))
        return fail(Exit::BadInput, QStringLiteral("--trace-file cannot write %1: not a regular "
                                                   "file in a folder that can be written")
                                        .arg(options_.traceFile));
    return std::nullopt;
}

std::optional<int> Session::saveTrace() const {
    if (!traffic_)
        return std::nullopt;
    if (const auto why = writeWholeFile(options_.traceFile, traffic_->text()))
        return fail(Exit::OutputFailed,
                    QStringLiteral("cannot save %1: %2").arg(options_.traceFile, *why));
    return std::nullopt;
}

Session::~Session() = default;

QString Session::configFolder() const {
    return options_.configFolder.isEmpty() ? dataFolder() : options_.configFolder;
}

SerialPort* Session::serialPort() {
    return connection.network() ? nullptr : &port_;
}

int Session::firstByteMs() const {
    if (options_.timeoutMs > 0)
        return options_.timeoutMs;
    return connection.network() ? NetTiming{}.firstByteMs : LinkTiming{}.firstByteMs;
}

int Session::loadConfiguration() {
    const QString folder = configFolder();
    if (const auto why = folderProblem(folder))
        return fail(Exit::BadInput, *why);
    if (auto err = readCrcTableFile(folder, crcTable_))
        return fail(Exit::BadInput, err->text());
    if (auto err = readFileData(folder, fileData_))
        return fail(Exit::BadInput, err->text());
    TextTable defaults;
    if (auto err = readDefaults(folder, defaults))
        return fail(Exit::BadInput, err->text());
    messages.reset(defaults, fileData_.terminalNames);
    connection.unitAddress = options_.unit;
    connection.portSettings = LineSettings{}.withBaud(options_.baud); // -b: N,8,1 at a line speed
    return Exit::Done;
}

int Session::openPort() {
    if (options_.port.isEmpty())
        return fail(Exit::BadInput,
                    QStringLiteral("no port given: use -p PORT (see qv840ctl ports)"));
    if (connection.network())
        return connectGateway();
    port_.setPortName(options_.port);
    PortStatus s =
        connection.portSettings ? port_.setSettings(*connection.portSettings) : PortStatus{};
    if (s.ok)
        s = port_.open();
    if (!s.ok)
        return fail(Exit::PortProblem, describePortProblem(options_.port, s));
    return Exit::Done;
}

// A network address: the connection is made now, so that a host not found
// or a refusal is told before anything else.
int Session::connectGateway() {
    if (!connection.endpoint())
        return fail(Exit::BadInput, connection.refusal());
    const FailureWatch watch(*transport_);
    const TransportStatus s = transport_->prepare();
    return s == TransportStatus::Ok ? Exit::Done : fail(Exit::PortProblem, watch.reason(s));
}

int withUnit(const GlobalOptions& options, const QString& name, const UnitCheck& check,
             const UnitWork& work) {
    Session session(options);
    if (const int status = session.loadConfiguration(); status != Exit::Done)
        return status;
    if (check)
        if (const auto status = check(session))
            return *status;
    if (const auto status = session.checkTraceTarget())
        return *status;
    if (const int status = session.openPort(); status != Exit::Done)
        return status;
    // A signal also ends the wait for a reply under way, within a moment.
    QObject::connect(&session.signalWatch, &SignalWatch::caught, &session.transport(),
                     &Transport::requestStop);
    // A signal ends the command between two requests: nothing is saved, and the
    // status tells the caller which signal it was.
    int status = SignalWatch::first() ? Exit::NoAnswer : work(session);
    if (SignalWatch::first() == kSigPipe)
        return Exit::OutputFailed; // main() says so
    if (const auto saved = session.saveTrace(); saved && status == Exit::Done)
        status = *saved;
    if (const int sig = SignalWatch::first())
        return fail(SignalWatch::exitStatus(sig),
                    QStringLiteral("%1 stopped by %2%3")
                        .arg(name, SignalWatch::name(sig), session.stoppedDetail));
    return status;
}
