#pragma once
// The serial link: the one component that owns the port, the timers and
// the time-out flag. It sends a request with the RTS turnaround and collects the
// reply the way the unit delimits it. One transaction at a time: a request
// made while another is in progress is refused as Busy, never nested.
//
// Every wait is a local QEventLoop ended by readyRead, a Qt::PreciseTimer or
// a port failure, so the windows stay live and the CPU idle meanwhile.

#include "link/SerialPort.h"
#include "link/Timing.h"
#include "startup/LineOptions.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <functional>
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
    Stopped,    // requestStop() ended the wait for the reply, or the pause
};

// Result of one exchange: what was sent, what came back, and whether the port
// held up.
struct Exchange {
    LinkStatus status = LinkStatus::Ok;
    QByteArray request;
    Reply reply;
    QString error;             // the port's reason, for PortFailed and NotOpen
    bool echoed = false;       // an exact copy of the request came first, and was dropped
    QByteArray stale;          // waiting when the request went, and dropped
    bool pastDeadline = false; // the reply was still coming at the rule's deadline
    // When the reply's first and last bytes were taken, in ms from the end of
    // the request on the line; -1 when none came.
    int firstByteMs = -1;
    int lastByteMs = -1;
    bool ok() const { return status == LinkStatus::Ok; }
};

// How the link reads what comes back for one request.
struct ReplyRule {
    EchoMode echo = EchoMode::Off;
    // True for bytes that make a whole reply: it ends at once, without
    // waiting for the silence after it. Empty: only silence ends a reply.
    std::function<bool(const QByteArray&)> complete;
    // The reply is over this long after the request went, whatever still
    // comes (transport/Deadline.h); 0: only the waits end it.
    int deadlineMs = 0;
    // Fewer wake-ups: the length of the whole reply, judged from its bytes
    // so far (0: not known), and the line's time per byte (0: every byte is
    // signalled). While the line brings bytes at its speed, the link pauses
    // the port (SerialPort::setReadPaused) and takes them a batch at a time.
    std::function<int(const QByteArray& taken)> wholeLength;
    double msPerByte = 0;
};

class Link : public QObject {
    Q_OBJECT
public:
    explicit Link(SerialPort& port, LinkTiming timing = {}, QObject* parent = nullptr);
    ~Link() override;

    SerialPort& port() { return port_; }
    const SerialPort& port() const { return port_; }
    const LinkTiming& timing() const { return timing_; }
    void setTiming(const LinkTiming& t) { timing_ = t; }
    // Rts: RTS turns the line around. Adapter and Kernel: RTS is never
    // touched and there is no turnaround pause or settling time.
    Direction direction() const { return direction_; }
    void setDirection(Direction d) { direction_ = d; }

    // Wait until the output is on the wire, RTS down, yield once.
    LinkStatus releaseLine();
    // Pause, windows responsive. Ok, or PortFailed when the port dies meanwhile.
    LinkStatus idle(int ms);
    // Listens for ms, dropping what comes and noting it; stoppable as idle().
    struct Heard {
        LinkStatus status = LinkStatus::Ok;
        QByteArray bytes;    // what came (the first kHeardKept of them), dropped
        int count = 0;       // how many came
        qint64 firstMs = -1; // from the call
        qint64 lastMs = -1;
    };
    Heard overhear(int ms);

    // SendAll settles 5 ms after the last byte before RTS drops; WriteAll
    // drops RTS as soon as the bytes are out.
    enum class Send { SendAll, WriteAll };
    // Discards pending input, sends the request with the turnaround, then
    // collects its reply: firstByteMs for the first byte, then gapMs of
    // silence ends it (gapMs < 0: the reply gap of the timing), or sooner a
    // whole reply by the rule. An echo of the request the rule allows for is
    // dropped, and the first-byte wait starts again after it. A call made
    // while a wait is under way is refused as Busy.
    Exchange transact(const QByteArray& request, Send how, int gapMs = -1,
                      const ReplyRule& rule = {});

    // Ends the wait for a reply, or idle(), under way: it comes back Stopped.
    // A request being sent goes out whole first, and its reply is then not
    // awaited. Does nothing while nothing is under way.
    void requestStop();

signals:
    void frameSent(const QByteArray& bytes);     // for --trace and the dumps
    void frameReceived(const QByteArray& bytes); // a whole reply, when count > 0
    void portFailed(const QString& reason);
    void traceNote(const QString& text); // e.g. "RTS not switchable on ..."
    void sending(bool on);               // the sending indicator
    void receiving(bool on);             // the receiving indicator, lit per byte
    void stopAsked();                    // requestStop() during a send or a wait

private:
    class Wait;
    class Collector;
    LinkStatus exchange(Exchange& x, Send how, int gapMs, const ReplyRule& rule);
    LinkStatus transmit(const QByteArray& bytes, int settleMs);
    LinkStatus receive(Exchange& x, int gapMs, const ReplyRule& rule);
    LinkStatus raiseRts();
    LinkStatus lowerRts();
    LinkStatus pause(int ms);
    LinkStatus failure(quint64 failuresBefore, const QString& fallback);
    // Reads out and drops what the port holds; what it held.
    QByteArray dropInput();
    QString notOpenText() const;
    SerialPort& port_;
    LinkTiming timing_;
    Direction direction_ = Direction::Rts;
    bool active_ = false;      // a send or a wait is under way
    bool stopPending_ = false; // asked during this send or wait
    bool rtsNoteGiven_ = false;
    int timedOut_ = 0;     // the wait under way timed out; each wait clears it as it starts
    quint64 failures_ = 0; // port failures seen, to announce each once
    QString lastFailure_;
};
