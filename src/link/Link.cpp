#include "link/Link.h"

#include "link/ActiveScope.h"
#include "link/LinkWait.h"

#include <cmath>

QByteArray Reply::bytes() const {
    QByteArray out;
    out.reserve(count);
    for (int i = 1; i <= count; ++i)
        out.append(static_cast<char>(cells[static_cast<std::size_t>(i)] & 0xFF));
    return out;
}

Link::Link(SerialPort& port, LinkTiming timing, QObject* parent)
    : QObject(parent), port_(port), timing_(timing) {
    connect(&port_, &SerialPort::failed, this, [this](const QString& reason) {
        lastFailure_ = reason;
        ++failures_;
        emit portFailed(reason);
    });
}

Link::~Link() = default;

QString Link::notOpenText() const {
    return tr("The serial port %1 is not open.").arg(port_.portName());
}

LinkStatus Link::failure(quint64 failuresBefore, const QString& fallback) {
    // The port reports its own failures (and the constructor forwards them);
    // a failure it did not report is announced here, once.
    if (failures_ == failuresBefore) {
        lastFailure_ = fallback;
        ++failures_;
        emit portFailed(fallback);
    }
    return LinkStatus::PortFailed;
}

// --- RTS and the transmit path ---

LinkStatus Link::raiseRts() {
    // An adapter or the driver switches the direction itself.
    if (direction_ != Direction::Rts)
        return port_.isOpen() ? LinkStatus::Ok : LinkStatus::PortFailed;
    if (!port_.setRts(true) && !rtsNoteGiven_) {
        rtsNoteGiven_ = true;
        emit traceNote(tr("RTS not switchable on %1; the adapter must switch direction by itself")
                           .arg(port_.portName()));
    }
    // The line driver needs a moment after RTS rises before the first bit.
    return pause(timing_.turnaroundMs);
}

LinkStatus Link::lowerRts() {
    if (!port_.drainOutput())
        return LinkStatus::PortFailed;
    if (direction_ == Direction::Rts)
        port_.setRts(false);
    return LinkStatus::Ok;
}

LinkStatus Link::releaseLine() {
    // Dropping RTS under another request's transmission would cut it off.
    if (active_)
        return LinkStatus::Busy;
    if (!port_.isOpen())
        return LinkStatus::NotOpen;
    ActiveScope scope(active_);
    const quint64 before = failures_;
    if (lowerRts() != LinkStatus::Ok)
        return failure(before, tr("Sending on %1 failed.").arg(port_.portName()));
    return LinkStatus::Ok;
}

LinkStatus Link::transmit(const QByteArray& bytes, int settleMs) {
    const quint64 before = failures_;
    emit sending(true);
    LinkStatus s = raiseRts();
    timedOut_ = 0;
    if (s == LinkStatus::Ok) {
        if (!port_.write(bytes)) {
            s = LinkStatus::PortFailed;
        } else {
            emit frameSent(bytes);
            if (settleMs > 0)
                s = pause(settleMs);
            if (s == LinkStatus::Ok)
                s = lowerRts();
        }
    }
    emit sending(false);
    // Announced once here, whichever step met the failure.
    if (s == LinkStatus::PortFailed)
        return failure(before, tr("Sending on %1 failed.").arg(port_.portName()));
    return s;
}

// --- Waits ---

LinkStatus Link::pause(int ms) {
    if (ms <= 0)
        return port_.isOpen() ? LinkStatus::Ok : LinkStatus::PortFailed;
    timedOut_ = 0;
    Wait wait(*this);
    wait.arm(ms);
    return wait.next() == Wait::End::Failed ? LinkStatus::PortFailed : LinkStatus::Ok;
}

LinkStatus Link::idle(int ms) {
    if (active_)
        return LinkStatus::Busy;
    ActiveScope scope(active_);
    stopPending_ = false;
    const quint64 before = failures_;
    timedOut_ = 0;
    // A pause needs no port; one that was open and fails ends it at once.
    Wait wait(*this, port_.isOpen(), true);
    wait.arm(ms);
    const Wait::End end = wait.next();
    if (end == Wait::End::Failed)
        return failure(before, tr("The serial port %1 closed.").arg(port_.portName()));
    return end == Wait::End::Stopped ? LinkStatus::Stopped : LinkStatus::Ok;
}

void Link::requestStop() {
    if (!active_)
        return;
    stopPending_ = true;
    emit stopAsked();
}

// Takes the bytes of one reply as they come, in whichever event loop is
// running: a message box opened during the wait runs its own loop, and the
// bytes that arrive meanwhile still count, each against its own deadline.
class Link::Collector {
public:
    Collector(Link& link, Exchange& x, const ReplyRule& rule, Wait& wait, int gapMs)
        : link_(link), x_(x), rule_(rule), wait_(wait), gapMs_(gapMs),
          matching_(rule.echo != EchoMode::Off && !x.request.isEmpty()) {
        taken_.reserve(Reply::kCells);
        check_.setTimerType(Qt::PreciseTimer);
        check_.setSingleShot(true);
        QObject::connect(&check_, &QTimer::timeout, &check_, [this] { takeHeldBack(); });
    }

    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    bool over() const { return over_; }

    // Ends a batch: what came during the pause is taken now. Called when
    // the batch's time is up, and before a timer ends the wait.
    void takeHeldBack() {
        if (!batching_)
            return;
        batching_ = false;
        check_.stop();
        const int before = x_.reply.count;
        fetching_ = true;
        link_.port_.setReadPaused(false);
        // Taken in whether or not the port said so: inside a readyRead
        // handler it takes them in without a signal.
        absorb();
        fetching_ = false;
        if (over_ || link_.timedOut_ != 0)
            return;
        // A batch that came whole: the unit is still sending. One that came
        // short: the unit paused or is slower than the line, so the rest of
        // the reply is signalled byte by byte, and the silence counts from
        // its last byte.
        if (x_.reply.count - before >= batchBytes_)
            planBatch();
        else
            slow_ = true;
    }

    // Takes what is waiting; the reply is over once it is full or whole.
    void absorb() {
        SerialPort& port = link_.port_;
        if (over_ || link_.timedOut_ != 0 || !port.isOpen() || port.inputCount() <= 0)
            return;
        if (batching_ && !fetching_) { // signalled during a pause: the batch ends
            takeHeldBack();
            return;
        }
        if (!lit_) {
            lit_ = true;
            emit link_.receiving(true);
        }
        Reply& r = x_.reply;
        bool echoEnded = false;
        for (int b; (b = port.readByte()) >= 0;)
            echoEnded = step(b) || echoEnded;
        // A full buffer ends the reply without waiting for its gap: a unit that
        // never falls silent would otherwise hold the link for good. What it
        // sends after this is dropped by the next discard.
        if (r.count >= Reply::kCells ||
            (!matching_ && r.count > 0 && rule_.complete && rule_.complete(taken_))) {
            over_ = true;
            wait_.quit();
            return;
        }
        if (fetching_) {
            // They came during the pause, at moments the port cannot tell.
            // The silence counts from now, so a reply is never cut before the
            // gap has passed since its last byte; at worst it ends a batch's
            // time later.
            wait_.arm(gapMs_);
            return;
        }
        // The unit's time to answer counts from the end of the echo, which is
        // where the request ended on the line.
        wait_.arm(echoEnded && r.count == 0 ? link_.timing_.firstByteMs : gapMs_);
        planBatch();
    }

    // A beginning of the request and then silence: that was what came.
    void flushHeld() {
        if (matching_)
            for (qsizetype i = 0; i < held_; ++i)
                take(static_cast<quint8>(x_.request.at(i)));
        matching_ = false;
    }

private:
    // While a reply comes at the line's speed, the port is paused for a
    // batch's time on the line (kMaxBatch bytes, or a quarter of the gap's
    // worth, plus kBatchSlackMs) and the link wakes once for the batch, not
    // for each byte.
    static constexpr int kMaxBatch = 16;
    static constexpr int kBatchSlackMs = 1;
    static constexpr double kTailMs = 2;

    void planBatch() {
        const int count = x_.reply.count;
        if (matching_ || slow_ || count == 0 || rule_.msPerByte <= 0)
            return;
        const int most = std::min(kMaxBatch, int(gapMs_ / 4 / rule_.msPerByte));
        int end = count + most;
        const int whole = rule_.wholeLength ? rule_.wholeLength(taken_) : 0;
        const bool endsWhole = whole > count && whole <= end;
        if (endsWhole)
            end = whole;
        // The last bytes of a whole reply (kTailMs of them on the line) are
        // signalled as they come, so the reply is over as its last byte
        // comes, not when a batch's time is up; the batch before them is
        // taken as its bytes are due.
        const int tail = endsWhole ? std::max(1, int(std::ceil(kTailMs / rule_.msPerByte))) : 0;
        batchBytes_ = end - count - tail;
        if (batchBytes_ <= 1)
            return;
        batching_ = true;
        link_.port_.setReadPaused(true);
        check_.start(int(std::ceil(batchBytes_ * rule_.msPerByte)) +
                     (endsWhole ? 0 : kBatchSlackMs));
    }

    // One byte; true when it completed an echo of the request.
    bool step(int b) {
        // While the bytes that came are a beginning of the request, they may
        // be its echo; held until they are the whole copy or prove not to be.
        if (matching_ && b == static_cast<quint8>(x_.request.at(held_))) {
            if (++held_ < x_.request.size())
                return false;
            matching_ = false;
            x_.echoed = true;
            return true;
        }
        flushHeld(); // not a copy: what was held begins the reply
        take(b);
        return false;
    }

    void take(int b) {
        // What came in with the byte that filled the last cell is dropped with it.
        Reply& r = x_.reply;
        using namespace std::chrono;
        x_.lastByteMs = int(duration_cast<milliseconds>(steady_clock::now() - sent_).count());
        x_.firstByteMs = r.count == 0 ? x_.lastByteMs : x_.firstByteMs;
        if (r.count < Reply::kCells) {
            r.cells[static_cast<std::size_t>(++r.count)] = static_cast<qint16>(b);
            taken_.append(static_cast<char>(b));
        }
    }

    Link& link_;
    Exchange& x_;
    const ReplyRule& rule_;
    Wait& wait_;
    int gapMs_;
    bool matching_;
    QByteArray taken_; // the reply's bytes so far, for the rule without a copy per byte
    const std::chrono::steady_clock::time_point sent_ = std::chrono::steady_clock::now();
    qsizetype held_ = 0;
    bool lit_ = false;
    bool over_ = false;
    QTimer check_;          // the batch's time on the line is up
    bool batching_ = false; // the port is paused for a batch
    bool fetching_ = false; // taking what came during the pause
    int batchBytes_ = 0;    // the batch's length
    bool slow_ = false;     // a batch came short: no more batches
};

LinkStatus Link::receive(Exchange& x, int gapMs, const ReplyRule& rule) {
    Reply& received = x.reply;
    received.count = 0;
    for (int i = 1; i <= 40; ++i)
        received.cells[static_cast<std::size_t>(i)] = 255;
    timedOut_ = 0;

    const quint64 before = failures_;
    Wait wait(*this, true, true);
    Collector collector(*this, x, rule, wait, gapMs < 0 ? timing_.replyGapMs : gapMs);
    const QMetaObject::Connection bytes =
        connect(&port_, &SerialPort::readyRead, this, [&collector] { collector.absorb(); });
    wait.setBeforeEnd([&collector] { collector.takeHeldBack(); });
    // The first byte may take firstByteMs from now, the request being on the
    // wire; after that, gapMs of silence ends the reply, and the deadline
    // ends it whatever still comes. Once a timer has fired the reply is over:
    // bytes arriving at that moment belong to the next exchange, which
    // discards them.
    wait.arm(timing_.firstByteMs);
    wait.setDeadline(rule.deadlineMs);
    Wait::End end = Wait::End::Bytes;
    for (collector.absorb(); !collector.over() && timedOut_ == 0; collector.absorb()) {
        end = wait.next();
        if (end == Wait::End::Failed || end == Wait::End::Stopped)
            break;
    }
    disconnect(bytes);
    port_.setReadPaused(false); // what comes later waits for the next discard
    collector.flushHeld();
    x.pastDeadline = wait.pastDeadline();
    emit receiving(false);
    if (received.count > 0)
        emit frameReceived(received.bytes());
    if (end == Wait::End::Failed)
        return failure(before, tr("The serial port %1 closed.").arg(port_.portName()));
    return end == Wait::End::Stopped && !collector.over() ? LinkStatus::Stopped : LinkStatus::Ok;
}

// --- A whole exchange ---

LinkStatus Link::exchange(Exchange& x, Send how, int gapMs, const ReplyRule& rule) {
    if (active_)
        return LinkStatus::Busy;
    if (!port_.isOpen())
        return LinkStatus::NotOpen;
    ActiveScope scope(active_);
    stopPending_ = false;
    // The settling time holds RTS up; without RTS there is nothing to hold.
    const bool settle = how == Send::SendAll && direction_ == Direction::Rts;
    const LinkStatus s = transmit(x.request, settle ? timing_.sendAllSettleMs : 0);
    return s == LinkStatus::Ok ? receive(x, gapMs, rule) : s;
}

Exchange Link::transact(const QByteArray& request, Send how, int gapMs, const ReplyRule& rule) {
    Exchange x;
    x.request = request;
    if (!active_ && port_.isOpen())
        x.stale = dropInput();
    x.status = exchange(x, how, gapMs, rule);
    if (x.status == LinkStatus::Busy)
        x.error = tr("The serial link is busy with another request.");
    else if (x.status == LinkStatus::NotOpen)
        x.error = notOpenText();
    else if (x.status == LinkStatus::PortFailed)
        x.error = lastFailure_;
    else if (x.status == LinkStatus::Stopped)
        x.error = tr("the request was stopped");
    return x;
}
