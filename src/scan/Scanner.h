#pragma once
// Finding a unit whose address or speed is not known: one probe per unit
// address and line speed, each reading the first message register. Any
// well-formed reply from the address asked counts as a unit there, a refusal
// (exception) too; garbled bytes or a reply from another address only hint
// that something answers at that speed. The probes run one at a time through
// the transport, which the scan holds for its run. On a serial port the scan
// switches the port's speed and leaves the port as it found it; through a
// gateway, which runs its line at the speed set on it, each address is
// probed once.

#include "link/LineSettings.h"
#include "link/Timing.h"

#include <QObject>
#include <QString>
#include <QVector>

class FailureWatch;
class RtuTransport;
class SerialPort;
class Transport;

struct ScanPlan {
    int firstUnit = 1;
    int lastUnit = 31;
    // Line speeds, tried in this order. None: one pass at the speed the line
    // has (the only way through a gateway).
    QVector<int> speeds;
    int probeMs = 0; // wait for a reply's first byte; 0: the line's own first-byte wait
    bool stopAtFirst = false;
    int passes() const { return speeds.isEmpty() ? 1 : int(speeds.size()); }
    int probeCount() const { return (lastUnit - firstUnit + 1) * passes(); }
};

// What the scan may do with the line besides sending probes through the
// transport, and how long a probe lasts there.
struct ScanLine {
    // The serial port under the transport, whose speed the scan switches;
    // nothing through a gateway.
    SerialPort* port = nullptr;
    // As the transport keeps them, for the time estimates: the wait for a
    // reply's first byte, and the retries of a probe that got no usable reply,
    // each after a pause.
    int firstByteMs = LinkTiming{}.firstByteMs;
    int retries = 0;
    int retryPauseMs = 0;
};

struct FoundUnit {
    int unit = 0;
    int baud = 0;         // 0: not known (through a gateway)
    QString firstMessage; // as the unit holds it; empty for an empty slot or a refusal
    QString note;         // why the reply is not a message: "Modbus exception 2, ...", or empty
};

struct ScanResult {
    enum class Outcome {
        Finished,   // every probe ran, or the first unit was found when asked to stop there
        Stopped,    // requestStop(): ended between two probes
        Refused,    // nothing sent: the transport is busy or not open, or the plan asks
                    // for speeds on a line whose speed the scan cannot switch
        PortFailed, // the port failed, or would not take a speed
    };
    Outcome outcome = Outcome::Finished;
    QVector<FoundUnit> found;
    QVector<int> hintSpeeds; // speeds at which something answered that was not a unit found
    int probes = 0;          // probes made
    QString error;           // for Refused and PortFailed
};

class Scanner : public QObject {
    Q_OBJECT
public:
    // A serial port through its RTU transport: the speed is switched on its
    // port, and plan.probeMs (when set) is the link's first-byte wait for the
    // run.
    explicit Scanner(RtuTransport& transport, QObject* parent = nullptr);
    // Any transport, with its own first-byte wait and retries (plan.probeMs
    // is not applied); line says whether the speed can be switched.
    Scanner(Transport& transport, const ScanLine& line, QObject* parent = nullptr);

    ScanResult run(const ScanPlan& plan);
    // Ends the scan before its next probe; the probe under way finishes first.
    void requestStop() { stopRequested_ = true; }

    // The longest a scan of probes at these speeds can take, in ms: every probe
    // waits out its first-byte wait (and its retries) after its request's
    // time on the line.
    static qint64 worstCaseMs(const ScanPlan& plan, const ScanLine& line, int fromProbe = 0);
    static qint64 worstCaseMs(const ScanPlan& plan, const LinkTiming& timing, int fromProbe = 0);

signals:
    void progress(int probesDone, int probeCount, qint64 msLeft);
    void unitFound(const FoundUnit& unit);
    void hint(int baud, const QString& what); // "a garbled reply of 9 bytes (its CRC is wrong)"

private:
    // The line as this run sees it: the RTU transport's timing, or line_.
    ScanLine lineFor(const ScanPlan& plan) const;
    // Readies the line for a pass at baud (0: as it is); false when the port
    // would not take the speed or failed (r says why).
    bool startPass(int baud, const LineSettings& settings, const FailureWatch& watch,
                   ScanResult& r);
    // Probes one address; false when the scan is over (stopped, failed, or
    // the first unit found when that was asked).
    bool probe(int unit, int baud, const FailureWatch& watch, const ScanPlan& plan, ScanResult& r);
    void runPasses(const ScanPlan& plan, const FailureWatch& watch, ScanResult& r);

    Transport& transport_;
    RtuTransport* rtu_ = nullptr; // whose timing the run sets
    ScanLine line_;
    ScanLine running_; // for the run under way
    bool stopRequested_ = false;
};
