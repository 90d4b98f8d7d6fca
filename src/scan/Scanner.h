#pragma once
// Finding a unit whose address or speed is not known: one probe per unit
// address and line speed, each reading the first message register. Any
// well-formed reply from the address asked counts as a unit there, a refusal
// (exception) too; garbled bytes or a reply from another address only hint
// that something answers at that speed. The probes run one at a time through
// the RTU transport, which the scan holds for its run and leaves at the speed
// and timing it found.

#include "link/Timing.h"

#include <QObject>
#include <QString>
#include <QVector>

class FailureWatch;
class RtuTransport;

struct ScanPlan {
    int firstUnit = 1;
    int lastUnit = 31;
    QVector<int> speeds; // line speeds, tried in this order
    int probeMs = 0;     // wait for a reply's first byte; 0: the line's own first-byte wait
    bool stopAtFirst = false;
    int probeCount() const { return (lastUnit - firstUnit + 1) * int(speeds.size()); }
};

struct FoundUnit {
    int unit = 0;
    int baud = 0;
    QString firstMessage; // as the unit holds it; empty for an empty slot or a refusal
    QString note;         // why the reply is not a message: "Modbus exception 2, ...", or empty
};

struct ScanResult {
    enum class Outcome {
        Finished,   // every probe ran, or the first unit was found when asked to stop there
        Stopped,    // requestStop(): ended between two probes
        Refused,    // nothing sent: the transport is busy or not open
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
    explicit Scanner(RtuTransport& transport, QObject* parent = nullptr);

    ScanResult run(const ScanPlan& plan);
    // Ends the scan before its next probe; the probe under way finishes first.
    void requestStop() { stopRequested_ = true; }

    // The longest a scan of probes at these speeds can take, in ms: every probe
    // waits out its first-byte wait after its request's time on the line.
    static qint64 worstCaseMs(const ScanPlan& plan, const LinkTiming& timing, int fromProbe = 0);

signals:
    void progress(int probesDone, int probeCount, qint64 msLeft);
    void unitFound(const FoundUnit& unit);
    void hint(int baud, const QString& what); // "a garbled reply of 9 bytes (its CRC is wrong)"

private:
    // False when the port would not take the speed (r says why).
    bool switchSpeed(int baud, const QString& settings, const FailureWatch& watch, ScanResult& r);
    // Probes one address; false when the scan is over (stopped, failed, or
    // the first unit found when that was asked).
    bool probe(int unit, int baud, const FailureWatch& watch, const ScanPlan& plan, ScanResult& r);

    RtuTransport& transport_;
    bool stopRequested_ = false;
};
