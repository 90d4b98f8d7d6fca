#pragma once
// The commands of qv840ctl, their options and exit statuses. Each returns the
// process's exit status.

#include "startup/LineOptions.h"
#include "startup/MessageLayout.h"
#include "table/BulkRun.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace Exit {
constexpr int Done = 0;
constexpr int NoAnswer = 1;     // the unit did not answer, or its reply was unusable
constexpr int OutputFailed = 1; // stdout did not take the output
constexpr int BadInput = 2;     // bad usage or input; the message says what
constexpr int PortProblem = 3;  // the port could not be opened or failed
} // namespace Exit

struct GlobalOptions {
    QString port;
    int baud = 9600;
    int unit = 1;
    int timeoutMs = 0; // the first-byte wait; 0: the line's own
    QString configFolder;
    bool trace = false;
    QString traceFile; // the traffic log goes there when the command ends
    bool baudGiven = false;
    bool unitGiven = false;
    LineOptions line;
};

// "qv840ctl: " + text on stderr, and the status to exit with.
int fail(int status, const QString& text);

// The status of a bulk run whose boxes have already told the operator what
// went wrong: Done only when every slot it went to answered.
int bulkStatus(const BulkResult& result);

// Reads the table a command names into messages, by what the file holds
// (a .sav or CSV table, whatever its name); a warning goes to stderr. The
// status to exit with, after saying why, when it cannot be read: then
// messages is as it was.
std::optional<int> loadTableArgument(const QString& file, const TextTable& defaults,
                                     TextTable& messages);

// The commands' handlers (CommandTable.h lists them): each takes the global
// options and the words after its name, and returns the exit status.
int runPorts(const GlobalOptions& options, const QStringList& args);
int runRead(const GlobalOptions& options, const QStringList& args);
int runWrite(const GlobalOptions& options, const QStringList& args);
int runErase(const GlobalOptions& options, const QStringList& args);
int runReadAll(const GlobalOptions& options, const QStringList& args);
int runWriteAll(const GlobalOptions& options, const QStringList& args);
int runEraseAll(const GlobalOptions& options, const QStringList& args);
int runScan(const GlobalOptions& options, const QStringList& args);
int runSimulate(const GlobalOptions& options, const QStringList& args);
int runSheet(const GlobalOptions& options, const QStringList& args);   // cli/Sheet.cpp
int runVerify(const GlobalOptions& options, const QStringList& args);  // cli/VerifyRestore.cpp
int runRestore(const GlobalOptions& options, const QStringList& args); // cli/VerifyRestore.cpp
int runBackup(const GlobalOptions& options, const QStringList& args);  // cli/LineBackup.cpp
int runHistory(const GlobalOptions& options, const QStringList& args); // cli/History.cpp
int runCheck(const GlobalOptions& options, const QStringList& args);   // cli/Check.cpp

// verify DIR and restore DIR: each DIR/unit-NN.sav against its unit, one unit
// after another, then one line per unit (cli/LineBackup.cpp, over line/LineRun).
// verify DIR and restore DIR: the units chosen (all the folder's when empty).
int runLineSync(const GlobalOptions& options, const QString& folder, bool restore,
                const QVector<int>& chosen);
// The units -a or --units A-B (its value, when given) choose; empty for
// neither; nothing, said why, when they are wrong or both given.
std::optional<QVector<int>> chosenUnits(const GlobalOptions& options, const QString& range,
                                        bool rangeGiven);

// The file of a unit's table in a line's folder: unit-07.sav, unit-123.sav
// (line/LineFolder.h).
QString unitFileName(int unit);
// --units A-B (or A alone), addresses from low to high: the first and the
// last, or nothing after saying why (the one parser, line/LineFolder.h).
std::optional<std::pair<int, int>> unitRangeArgument(const QString& text, int low, int high);

// The line as a scan of the session's sees it: its serial port (none through
// a gateway), first-byte wait and retries (cli/Scan.cpp).
class Session;
struct ScanLine;
ScanLine sessionScanLine(Session& session);
