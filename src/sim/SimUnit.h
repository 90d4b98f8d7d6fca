#pragma once
// The simulated unit on a new pseudo-terminal (on Windows, which has none, on
// a loopback gateway that carries the RTU frames over TCP): the tool opens the slave side
// as its serial port, and this object answers on the master side with the
// timing of a real RS-485 line. The line may carry many units (line()), each
// answering at its own address.
//
// Requests are delimited as a Modbus RTU slave does: 3.5 character times of
// silence (at least 2 ms) end a frame. Bytes are taken as arriving no faster
// than the configured speed allows, so a request the tool writes in one go
// still spends its wire time. Replies leave after a short turnaround, paced at
// 10 bits per byte: no byte is written earlier than it would have left a real
// line. The slave side stays open here too, so the tool may close and reopen
// it without the master seeing a hang-up.

#include "sim/SimFaults.h"
#include "sim/SimLine.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;
class SimNetServer;

struct SimConfig {
    int unit = 1; // the address of a line of one unit; a line of many keeps its own
    int baud = 9600;
    bool clearSlotOnWrite = false;   // a write at a slot's start clears the slot first
    bool singleMessageReads = false; // a read of several messages at once is refused
    bool pacing = true;
    int turnaroundMs = 2;
    QString linkPath; // also reachable as this symlink, when set
    // Faults:
    bool neverAnswer = false;
    int pauseInsideReplyMs = 0; // silence after the first half of every reply
    int lateMs = 0;             // added to the turnaround
    bool garbage = false;       // random bytes of a plausible length, no valid CRC
    bool echo = false;          // the line echoes every request before any reply
    // Hear the speed the tool set on its side of the line: at any other speed
    // than baud a reply arrives as garbled bytes, as it would on a real line.
    bool followLineSpeed = false;
    SimFaultConfig faults; // the faults of sim/SimFaults.h, each off unless asked for
};

class SimUnit : public QObject {
    Q_OBJECT
public:
    explicit SimUnit(QObject* parent = nullptr);
    ~SimUnit() override;

    // Opens the pseudo-terminal pair and starts answering. False, with the
    // system's reason in error, when the pair or the symlink cannot be made.
    bool start(const SimConfig& config, QString* error = nullptr);
    void stop();
    bool isRunning() const { return master_ >= 0 || gateway_ != nullptr; }

    QString devicePath() const {
        return devicePath_;
    } // the slave, e.g. /dev/pts/4 (Windows: rtu+tcp://127.0.0.1:PORT)
    // The speed the tool set on the line (tcgetattr on the slave), or 0.
    int lineSpeed() const;
    const SimConfig& config() const { return config_; }
    // The units on the line (set before start); model() is the first, the
    // only one unless the line was given more.
    SimLine& line() { return line_; }
    SimModel& model() { return line_.model(); }
    // What the faults made so far.
    const SimFaultCounts& injected() const { return faults_.counts(); }

signals:
    void requestSeen(const QByteArray& frame);
    void replySent(const QByteArray& frame);

private:
    void onReadable();
    void onSilence();
    void onTick();
    void answer(const QByteArray& request);
    void scheduleNextByte();
    qint64 nowNs() const { return clock_.nsecsElapsed(); }
    qint64 byteNs() const;
    qint64 dueNs(int index) const; // when byte index of the reply has left the line
    static int msUntil(qint64 delta);

    SimConfig config_;
    SimLine line_;
    QString devicePath_;
    int master_ = -1;
    SimNetServer* gateway_ = nullptr; // Windows: the loopback gateway instead of a pty
    int slaveKeep_ = -1;
    QSocketNotifier* readNotifier_ = nullptr;
    QTimer silence_; // ends a request frame
    QTimer tick_;    // writes the reply bytes that are due
    QTimer reopen_;  // retries reading after the master saw a hang-up
    QTimer idle_;    // puts the faults' bytes on the idle line
    SimFaults faults_;
    QElapsedTimer clock_;

    QByteArray frame_;         // request being gathered
    qint64 lastArrivalNs_ = 0; // when its last byte was fully on the line

    QByteArray reply_; // reply being sent
    qint64 replyStartNs_ = 0;
    int sent_ = 0;
};
