#pragma once
// The serial link: the one component that owns the port, the timers and
// TimeOutFlag. It sends a request with the RTS turnaround and collects the
// reply the way the unit delimits it. One transaction at a time: a request
// made while another is in progress is refused as Busy, never nested.
//
// Every wait is a local QEventLoop ended by readyRead, a Qt::PreciseTimer or
// a port failure, so the windows stay live and the CPU idle meanwhile.

#include "link/SerialPort.h"
#include "link/Timing.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <memory>

class QEventLoop;
class QTimer;

// One reply as the unit delimited it. Cells 0..512 as the protocol counts:
// cells 1..40 are preset to 255, received bytes land in cells 1..count in
// arrival order. The reply ends once cell 512 is filled; bytes past it are
// dropped.
struct Reply {
    static constexpr int kCells = 512;
    std::array<qint16, kCells + 1> cells{};
    int count = 0;
    QByteArray bytes() const; // cells 1..count
    bool answered() const { return count > 0; }
};

enum class LinkStatus {
    Ok,
    Busy,       // another transaction is in progress; nothing was done
    NotOpen,    // the port is not open
    PortFailed, // the port failed or vanished; it is now closed
};

// Result of one exchange: what was sent, what came back, and whether the port
// held up.
struct Exchange {
    LinkStatus status = LinkStatus::Ok;
    QByteArray request;
    Reply reply;
    QString error; // the port's reason, for PortFailed and NotOpen
    bool ok() const { return status == LinkStatus::Ok; }
};

class Link : public QObject {
    Q_OBJECT
public:
    explicit Link(SerialPort& port, LinkTiming timing = {}, QObject* parent = nullptr);
    ~Link() override;

    SerialPort& port() { return port_; }
    const LinkTiming& timing() const { return timing_; }
    void setTiming(const LinkTiming& t) { timing_ = t; }

    // --- Operations: a bulk operation holds the link for its whole run. ---
    // Claims the link; false (and nothing changes) when it is already claimed.
    bool claim();
    void release();
    bool busy() const { return claimed_; }

    // --- The routines every transaction is made of. ---
    // RTS up, then yield once.
    void RtsOn();
    // Wait until the output is on the wire, RTS down, yield once.
    LinkStatus RtsOff();
    // Send the 8 cells of a read request with the turnaround; settles 5 ms
    // after the last byte before RTS drops.
    LinkStatus SendAll(const QByteArray& XmitFrame);
    // Send the bytes with the turnaround; RTS drops as soon as they are out.
    LinkStatus WriteAll(const QByteArray& Buffer);
    // Pause, windows responsive. Ok, or PortFailed when the port dies meanwhile.
    LinkStatus DelayLoop(int DelayTime);
    // Collect one reply: firstByteMs for the first byte, then gapMs of
    // silence ends it (gapMs < 0: the reply gap of the timing).
    LinkStatus GetRcveData(Reply& RcveBuff, int gapMs = -1);
    void discardInput();

    // --- A whole request and reply, the common case. ---
    enum class Send { SendAll, WriteAll };
    // Sends the request (SendAll or WriteAll), then collects its reply
    // (GetRcveData); pending input is left to the caller's own discard step.
    LinkStatus exchange(const QByteArray& request, Send how, Reply& reply, int gapMs = -1);
    // Discards pending input, sends, receives with the given gap. The caller
    // holds the link (LinkClaim) for its operation; a call made while a wait
    // is under way is refused as Busy.
    Exchange transact(const QByteArray& request, Send how, int gapMs = -1);

    // 1 once the armed timer has fired, 0 while a wait is under way.
    int TimeOutFlag() const { return timeOutFlag_; }

signals:
    void busyChanged(bool busy);
    void frameSent(const QByteArray& bytes);     // for --trace and the dumps
    void frameReceived(const QByteArray& bytes); // a whole reply, when count > 0
    void portFailed(const QString& reason);
    void traceNote(const QString& text); // e.g. "RTS not switchable on ..."
    void sending(bool on);               // the sending indicator
    void receiving(bool on);             // the receiving indicator, lit per byte

private:
    class Wait;
    LinkStatus transmit(const QByteArray& bytes, int settleMs);
    LinkStatus receive(Reply& RcveBuff, int gapMs);
    LinkStatus raiseRts();
    LinkStatus lowerRts();
    LinkStatus pause(int ms);
    LinkStatus failure(quint64 failuresBefore, const QString& fallback);
    QString notOpenText() const;
    SerialPort& port_;
    LinkTiming timing_;
    bool claimed_ = false;
    bool active_ = false; // a send or a wait is under way
    bool rtsNoteGiven_ = false;
    int timeOutFlag_ = 0;
    quint64 failures_ = 0; // port failures seen, to announce each once
    QString lastFailure_;
};

// Holds the link for a scope; check ok() before use.
class LinkClaim {
public:
    explicit LinkClaim(Link& link) : link_(link), ok_(link.claim()) {}
    ~LinkClaim() {
        if (ok_)
            link_.release();
    }
    LinkClaim(const LinkClaim&) = delete;
    LinkClaim& operator=(const LinkClaim&) = delete;
    bool ok() const { return ok_; }

private:
    Link& link_;
    bool ok_;
};
