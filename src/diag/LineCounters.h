#pragma once
// The line's counters: what every request to every unit brought, per unit and
// for the whole connection, whatever operation sent it. They are kept while
// the program runs (reset() starts them again) and fed by the transport,
// which tells them each try (setObserver, transport/Transport.h), and by a
// listener on the idle line (noteIdleBytes).

#include "transport/Transport.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>

// Minimum, median, 95th percentile and maximum of some times in ms.
struct TimeSpread {
    int count = 0;
    int min = 0, median = 0, p95 = 0, max = 0;
    static TimeSpread of(QVector<int> samples);
    QString text() const; // "12/14/20/31 ms", or "-" when there are none
};

// What one try brought, as the counters class it.
enum class TryOutcome {
    Answered,  // whole, from the unit asked (a confirmation, an exception or an odd PDU)
    Silent,    // nothing came (or a gateway said the unit did not answer)
    Echo,      // the request itself came back first, whatever followed
    TooShort,  // fewer bytes than the reply
    TooLong,   // more bytes than the reply, or still coming at its deadline
    CrcWrong,  // the reply's length, but its check sum is wrong
    OtherUnit, // whole, from another address
};
TryOutcome classifyTry(const Transaction& t, const QByteArray& requestPdu);

struct UnitCounters {
    int requests = 0; // tries sent, retries included
    int answered = 0;
    int silent = 0;
    int crcWrong = 0;
    int tooShort = 0;
    int tooLong = 0;
    int otherUnit = 0;
    int echoed = 0;            // the request came back first (whether or not the line expected it)
    int retries = 0;           // tries that were retries
    int savedByRetry = 0;      // requests a retry answered after a failed try
    int confirmed = 0;         // tries the unit confirmed
    QMap<int, int> exceptions; // by code
    QMap<int, int> otherAddresses; // the addresses other units' replies carried
    QVector<int> firstByteMs; // of the replies that came, from the end of the request (the latest)
    QVector<int> lastByteMs;
    // Replies whose CRC failed (the latest), with the request they answered:
    // two units at one address garble the same request's reply the same way
    // each time.
    QVector<QPair<QByteArray, QByteArray>> garbled;
    int failed() const { return requests - answered; }
    void add(const UnitCounters& other);
};

// Bytes that came while the tool sent nothing, sorted into frames.
struct IdleTraffic {
    int bytes = 0;           // all of them
    int noiseBytes = 0;      // in no well-formed frame
    int foreignRequests = 0; // well-formed requests this tool did not send
    int strayReplies = 0;    // well-formed replies that came after their request was over
    QVector<int> strayFrom;  // the addresses those replies carried
    QVector<QByteArray> requestSamples; // the first few foreign requests
    qint64 listenedMs = 0;              // how long the line was listened to
    void add(const IdleTraffic& other);
};

// Sorts the bytes of one stretch of idle line into well-formed Modbus RTU
// frames (requests of functions 3, 4, 6 and 16, and read replies) and noise.
IdleTraffic sortIdleBytes(const QByteArray& bytes);

class LineCounters : public TransactionObserver {
public:
    void transactionDone(int unit, const QByteArray& requestPdu, const Transaction& t,
                         int retry) override;
    // Bytes heard on the idle line over listenedMs.
    void noteIdleBytes(const QByteArray& bytes, qint64 listenedMs);
    void reset();

    QVector<int> units() const { return units_.keys().toVector(); }
    UnitCounters unit(int address) const { return units_.value(address); }
    UnitCounters total() const;
    const IdleTraffic& idle() const { return idle_; }
    // Bumped on every change, for a window that shows them live.
    quint64 generation() const { return generation_; }

private:
    QMap<int, UnitCounters> units_;
    IdleTraffic idle_;
    QMap<int, bool> lastFailed_; // per unit: the last try failed
    quint64 generation_ = 0;
};

// One line of counters for a unit: "unit 3: 20 requests, 18 answered, ...".
QString countersLine(const QString& who, const UnitCounters& c);
