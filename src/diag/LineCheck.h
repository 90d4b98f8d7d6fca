#pragma once
// The line check: count reads of one message to each unit of a range, at the
// line options in force (echo, pause, retries...), listening to the idle line
// between the requests; then, for a unit that gave nothing usable, a short
// scan of the other speeds and parities; then the findings (diag/Findings.h).
// It talks to any Transport; the idle line is heard, and the speeds are
// scanned, only on a serial port it is given.

#include "diag/Findings.h"
#include "diag/LineCounters.h"
#include "startup/LineOptions.h"
#include "transport/Transport.h"

#include <QObject>

class QEventLoop;
class SerialPort;

struct CheckPlan {
    int firstUnit = 1;
    int lastUnit = 1;
    int count = 20;            // reads per unit
    int firstByteWaitMs = 500; // as the transport keeps it, for the slow-unit rule
    bool scanSettings = true;  // look for a silent or garbled unit at other settings
};

struct CheckResult {
    enum class Outcome { Finished, Stopped, LineFailed };
    Outcome outcome = Outcome::Finished;
    QString error; // for LineFailed
    CheckEvidence evidence;
    QVector<Finding> findings;
    qint64 elapsedMs = 0;
};

class LineCheck : public QObject {
    Q_OBJECT
public:
    // port: the serial port under the transport, or nullptr through a gateway.
    LineCheck(Transport& transport, SerialPort* port, const LineOptions& line,
              QObject* parent = nullptr);
    CheckResult run(const CheckPlan& plan);
    // Ends the check between two requests (and the wait under way).
    void requestStop();

signals:
    // After each read: the unit, how many of the plan's reads are done.
    void progress(int unit, int done, int total);

private:
    class Forward;
    bool readUnit(int unit, const CheckPlan& plan, CheckResult& r);
    bool listenIdle(int ms, int afterUnit, bool afterAnswer, CheckResult& r);
    bool hear(int ms, QByteArray& heard, QString& why);
    void scanSettings(const CheckPlan& plan, CheckResult& r);
    std::optional<LineSettings> answersAt(int unit, const LineSettings& settings);

    Transport& transport_;
    SerialPort* port_;
    LineOptions line_;
    bool stop_ = false;
    QString portError_;
    QEventLoop* listening_ = nullptr;  // the idle wait under way
    LineCounters* counters_ = nullptr; // the check's, while it runs
};
