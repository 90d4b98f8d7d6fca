#pragma once
// Keeps every reply with its own request on a line where the unit may answer
// late. An RTU reply does not say which request it answers: a reply to a read
// that came after its wait ran out looks exactly like the answer to the next
// read. So a request that got no usable reply stays owed, and
//
//  - the next request to that unit goes only once the line has been quiet
//    long enough for the late reply to have come and ended (its horizon);
//    whatever comes meanwhile is dropped, counted, and taken as the late
//    reply of the oldest request owed, which teaches how late the unit is;
//  - a reply that does come to a later request while an owed request could
//    still be answered, and could pass for the owed request's answer, is not
//    taken: it may be the late one. A retry of the very same request asks the
//    same question, so its reply is taken, and the retry is owed in its turn.
//
// Before any lateness has been seen, an owed request is remembered for
// kMemoryMs, since a reply later than its horizon would otherwise be taken by
// the next request. Once the unit has shown how late it answers, a request
// whose horizon passes quietly is settled.
//
// Pure logic on a clock the caller gives (milliseconds, one time base), so
// the policy is tested without a line; transport/Retry.h applies it. Modbus
// TCP needs none of this: its replies carry their request's transaction id.

#include <QByteArray>
#include <QVector>

#include <utility>

class ReplyOrder {
public:
    // A reply later than this after its request is never attributed to it.
    static constexpr qint64 kMemoryMs = 5000;

    // quietMs: how long the line must stay quiet after a request's horizon
    // (the line's first-byte wait); gapMs: silence that ends a burst.
    explicit ReplyOrder(int quietMs = 500, int gapMs = 80) : quietMs_(quietMs), gapMs_(gapMs) {}

    // The moment from which a request to unit may go (<= now: at once).
    qint64 sendAfter(int unit, qint64 now) const;

    // Bytes that came while nothing was asked, from firstAt to lastAt:
    // dropped. address is their first byte (the unit they claim to come
    // from), -1 when unknown.
    void overheard(int bytes, int address, qint64 firstAt, qint64 lastAt);

    // The outcome of a request to unit that went at sentAt and was over at
    // doneAt, whose longest wait was deadlineMs. usable: the transport took a
    // whole reply from the unit that answers the request (or refuses it).
    // Returns false when that reply must not be taken: it may be the late
    // answer to an owed request. Call it for every request the order applies to.
    bool settle(int unit, const QByteArray& pdu, qint64 sentAt, qint64 doneAt, int deadlineMs,
                bool usable);

    // How late the unit has been seen to answer, 0 before any sign of it.
    qint64 lateness() const { return lateness_; }
    // True once, the first time the order has seen the unit answer late.
    bool latenessNews() { return lateness_ > 0 && !std::exchange(latenessTold_, true); }
    int droppedBytes() const { return droppedBytes_; }
    int droppedReplies() const { return droppedReplies_; }
    bool owes(int unit) const;

    // What another run of the tool needs to know of this line: the owed
    // requests and the lateness, as text. restore() takes that back (what
    // it cannot read is ignored); forget() drops what is settled by now.
    QByteArray save(qint64 now) const;
    void restore(const QByteArray& saved, qint64 now);

private:
    struct Owed {
        int unit = 0;
        QByteArray pdu;
        qint64 sentAt = 0;
        int deadlineMs = 0;
    };
    qint64 horizon(const Owed& o) const;
    void forget(qint64 now);
    void pay(int index, qint64 at);
    int oldest(int unit) const; // -1: none (unit -1: of any unit)

    int quietMs_;
    int gapMs_;
    QVector<Owed> owed_;
    qint64 lateness_ = 0;
    qint64 lastHeardAt_ = -1;  // the last byte overheard
    qint64 burstPaidFor_ = -1; // the burst under way paid the request sent then
    int droppedBytes_ = 0;
    int droppedReplies_ = 0;
    bool latenessTold_ = false;
};

// Whether a reply to earlier could pass for the answer to later: the same
// function, the same register count for a read (its reply has no register),
// the same first register and count for a write (its reply echoes them).
bool couldPassFor(const QByteArray& earlier, const QByteArray& later);
