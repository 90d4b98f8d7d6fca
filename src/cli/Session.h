#pragma once
// Everything a command that talks to a unit needs, set up one way for all of
// them: the configuration files, the port named by -p (a serial port or a
// gateway), the transport over it with the line options and the first-byte
// wait, the trace, and the signals that stop the command between two requests.

#include "cli/Commands.h"
#include "cli/Signals.h"
#include "cli/Terminal.h"
#include "connect/Connection.h"
#include "diag/TrafficLog.h"
#include "link/SystemSerialPort.h"
#include "startup/ConfigFiles.h"
#include "table/HistoryFile.h"
#include "table/MessageTable.h"
#include "transport/Transports.h"

#include <csignal>
#include <functional>
#include <memory>
#include <optional>

class Session {
public:
    explicit Session(const GlobalOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The start-up files, as the window reads them: the CRC table, filedata.fm
    // (a speed the tool cannot run at stops here, naming the file and line)
    // and the default messages; exit status or Done.
    int loadConfiguration();
    const FileData& fileData() const { return fileData_; }
    // Opens the serial port, or connects to the gateway; exit status or Done.
    int openPort();

    Transport& transport() { return *transport_; }
    QString portName() const { return options_.port; }
    const GlobalOptions& options() const { return options_; }
    // The folder of the start-up files: --config, or the program's.
    QString configFolder() const;
    // The serial port under the transport; nothing through a gateway.
    SerialPort* serialPort();
    // The wait for a reply's first byte that the transport keeps: --timeout-ms,
    // else the line's own (500 ms on a serial port, 1500 ms through a gateway).
    int firstByteMs() const;

    // A closed terminal (SIGHUP) stops a command as Ctrl+C and SIGTERM do.
    SignalWatch signalWatch{{SIGINT, SIGTERM, kSigHangUp}};
    Connection connection;
    MessageTable messages;
    TerminalNotices notices;
    // Every write and erase the command makes, in the user's history file.
    HistoryFile history{HistoryFile::defaultPath(), &notices};
    // Said after "stopped by SIGxxx" when a signal ends the command.
    QString stoppedDetail;

    // --trace-file: the traffic log written to its file; an exit status after
    // saying why when it cannot be.
    std::optional<int> checkTraceTarget() const;
    std::optional<int> saveTrace() const;

private:
    int connectGateway();

    GlobalOptions options_;
    FileData fileData_;
    SystemSerialPort port_;
    CrcTableArray crcTable_{};
    std::unique_ptr<LineTransport> transport_;
    std::unique_ptr<TrafficLog> traffic_; // with --trace-file: every frame
};

// While it lives, SIGINT, SIGTERM or SIGHUP calls stop (an operation's
// requestStop), which ends the operation between two requests.
class StopOnSignal {
public:
    StopOnSignal(SignalWatch& watch, const std::function<void()>& stop)
        : connection_(QObject::connect(&watch, &SignalWatch::caught, stop)) {}
    ~StopOnSignal() { QObject::disconnect(connection_); }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

private:
    QMetaObject::Connection connection_;
};

// The command's input checked against the configuration, before the port is
// touched; a status to exit with when it cannot go.
using UnitCheck = std::function<std::optional<int>(Session&)>;
using UnitWork = std::function<int(Session&)>;

// Runs a command against the unit: the configuration, the check (may be
// empty), the port, then the work. SIGINT, SIGTERM or SIGHUP ends it between
// two requests: "NAME stopped by SIGxxx" on stderr, and the signal's exit
// status (SignalWatch::exitStatus).
int withUnit(const GlobalOptions& options, const QString& name, const UnitCheck& check,
             const UnitWork& work);
