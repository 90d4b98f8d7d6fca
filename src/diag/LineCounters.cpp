#include "diag/LineCounters.h"

#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "transport/Deadline.h"

#include <algorithm>
#include <cmath>

namespace {

// The shortest whole RTU reply: address, function, exception code, CRC.
constexpr int kExceptionFrameBytes = 5;
constexpr int kKeptSamples = 8;
// The times and garbled replies kept per unit: the latest, so that a window
// open for days does not grow without end.
constexpr int kKeptTimes = 4096;
constexpr int kKeptGarbled = 256;

template <class T> void keepLatest(QVector<T>& v, int most) {
    if (v.size() >= 2 * most)
        v.remove(0, v.size() - most);
}

bool checkSumOk(const QByteArray& frame) {
    static const CrcTableArray table = standardCrcTable();
    if (frame.size() < 4)
        return false;
    const auto [first, second] = frameCrc(table, frame.left(frame.size() - 2));
    return quint8(frame.at(frame.size() - 2)) == first &&
           quint8(frame.at(frame.size() - 1)) == second;
}

// The length of a well-formed frame starting at at, or 0: a request of
// function 3, 4 or 6 (8 bytes) or 16, or a read reply.
int frameAt(const QByteArray& b, int at, bool* request) {
    const int left = int(b.size()) - at;
    if (left < 5 || quint8(b.at(at)) == 0 || quint8(b.at(at)) > 247)
        return 0;
    const auto function = quint8(b.at(at + 1));
    QVector<QPair<int, bool>> lengths;
    if (function == 3 || function == 4 || function == 6)
        lengths = {{8, true}, {5 + quint8(b.at(at + 2)), false}};
    else if (function == 16 && left >= 7)
        lengths = {{9 + quint8(b.at(at + 6)), true}, {8, false}};
    else if ((function & 0x80) != 0)
        lengths = {{kExceptionFrameBytes, false}};
    for (const auto& [n, isRequest] : lengths)
        if (n <= left && checkSumOk(b.mid(at, n))) {
            *request = isRequest;
            return n;
        }
    return 0;
}

// When the reply's first and last bytes came, when the line told.
void keepTimes(UnitCounters& c, const Transaction& t) {
    if (t.firstByteMs < 0)
        return;
    c.firstByteMs << t.firstByteMs;
    c.lastByteMs << std::max(t.firstByteMs, t.lastByteMs);
    keepLatest(c.firstByteMs, kKeptTimes);
    keepLatest(c.lastByteMs, kKeptTimes);
}

} // namespace

TimeSpread TimeSpread::of(QVector<int> samples) {
    TimeSpread s;
    s.count = int(samples.size());
    if (samples.isEmpty())
        return s;
    std::sort(samples.begin(), samples.end());
    const auto at = [&samples](double q) {
        const int i = int(std::ceil(q * double(samples.size()))) - 1;
        return samples.at(std::clamp(i, 0, int(samples.size()) - 1));
    };
    s.min = samples.first();
    s.median = at(0.5);
    s.p95 = at(0.95);
    s.max = samples.last();
    return s;
}

QString TimeSpread::text() const {
    if (count == 0)
        return QStringLiteral("-");
    return QStringLiteral("%1/%2/%3/%4 ms").arg(min).arg(median).arg(p95).arg(max);
}

TryOutcome classifyTry(const Transaction& t, const QByteArray& requestPdu) {
    const QByteArray& r = t.received;
    if (!t.sent.isEmpty() && r.startsWith(t.sent))
        return TryOutcome::Echo;
    const ReplyCheck c = t.check;
    switch (c.verdict) {
    case ReplyCheck::Verdict::Silent:
        return TryOutcome::Silent;
    case ReplyCheck::Verdict::OtherUnit:
        return TryOutcome::OtherUnit;
    case ReplyCheck::Verdict::Garbled:
        break;
    default:
        return TryOutcome::Answered;
    }
    if (t.pastDeadline)
        return TryOutcome::TooLong;
    const int n = int(r.size());
    const int whole = expectedReplyBytes(requestPdu);
    if (!t.checkSummed || (n < whole && n != kExceptionFrameBytes))
        return TryOutcome::TooShort;
    return n > whole ? TryOutcome::TooLong : TryOutcome::CrcWrong;
}

void UnitCounters::add(const UnitCounters& o) {
    requests += o.requests;
    answered += o.answered;
    silent += o.silent;
    crcWrong += o.crcWrong;
    tooShort += o.tooShort;
    tooLong += o.tooLong;
    otherUnit += o.otherUnit;
    echoed += o.echoed;
    retries += o.retries;
    savedByRetry += o.savedByRetry;
    confirmed += o.confirmed;
    for (auto i = o.exceptions.begin(); i != o.exceptions.end(); ++i)
        exceptions[i.key()] += i.value();
    for (auto i = o.otherAddresses.begin(); i != o.otherAddresses.end(); ++i)
        otherAddresses[i.key()] += i.value();
    firstByteMs += o.firstByteMs;
    lastByteMs += o.lastByteMs;
    garbled += o.garbled;
}

void IdleTraffic::add(const IdleTraffic& o) {
    bytes += o.bytes;
    noiseBytes += o.noiseBytes;
    foreignRequests += o.foreignRequests;
    strayReplies += o.strayReplies;
    strayFrom += o.strayFrom;
    for (const QByteArray& r : o.requestSamples)
        if (requestSamples.size() < kKeptSamples)
            requestSamples << r;
    listenedMs += o.listenedMs;
}

IdleTraffic sortIdleBytes(const QByteArray& bytes) {
    IdleTraffic idle;
    idle.bytes = int(bytes.size());
    for (int at = 0; at < bytes.size();) {
        bool request = false;
        const int n = frameAt(bytes, at, &request);
        if (n == 0) {
            ++idle.noiseBytes;
            ++at;
            continue;
        }
        if (request) {
            ++idle.foreignRequests;
            if (idle.requestSamples.size() < kKeptSamples)
                idle.requestSamples << bytes.mid(at, n);
        } else {
            ++idle.strayReplies;
            idle.strayFrom << quint8(bytes.at(at));
        }
        at += n;
    }
    return idle;
}

void LineCounters::transactionDone(int unit, const QByteArray& requestPdu, const Transaction& t,
                                   int retry) {
    UnitCounters& c = units_[unit];
    ++c.requests;
    if (retry > 0)
        ++c.retries;
    const TryOutcome outcome = classifyTry(t, requestPdu);
    if (t.echoed) // the line dropped it; the tool had to expect it
        ++c.echoed;
    switch (outcome) {
    case TryOutcome::Answered: {
        ++c.answered;
        const ReplyCheck check = t.check;
        if (check.verdict == ReplyCheck::Verdict::Exception)
            ++c.exceptions[check.detail];
        if (check.confirmed())
            ++c.confirmed;
        if (retry > 0 && lastFailed_.value(unit))
            ++c.savedByRetry;
        break;
    }
    case TryOutcome::Silent:
        ++c.silent;
        break;
    case TryOutcome::Echo:
        ++c.echoed;
        break;
    case TryOutcome::TooShort:
        ++c.tooShort;
        break;
    case TryOutcome::TooLong:
        ++c.tooLong;
        break;
    case TryOutcome::CrcWrong:
        ++c.crcWrong;
        c.garbled << qMakePair(t.sent, t.received);
        keepLatest(c.garbled, kKeptGarbled);
        break;
    case TryOutcome::OtherUnit:
        ++c.otherUnit;
        ++c.otherAddresses[t.otherUnit];
        break;
    }
    lastFailed_[unit] = outcome != TryOutcome::Answered;
    if (outcome != TryOutcome::Silent)
        keepTimes(c, t);
    ++generation_;
}

void LineCounters::noteIdleBytes(const QByteArray& bytes, qint64 listenedMs) {
    IdleTraffic idle = sortIdleBytes(bytes);
    idle.listenedMs = listenedMs;
    idle_.add(idle);
    ++generation_;
}

void LineCounters::reset() {
    units_.clear();
    idle_ = {};
    lastFailed_.clear();
    ++generation_;
}

UnitCounters LineCounters::total() const {
    UnitCounters all;
    for (const UnitCounters& c : units_)
        all.add(c);
    return all;
}

QString countersLine(const QString& who, const UnitCounters& c) {
    QStringList exceptions;
    for (auto i = c.exceptions.begin(); i != c.exceptions.end(); ++i)
        exceptions << QStringLiteral("%1x%2").arg(i.value()).arg(i.key());
    return QStringLiteral("%1: %2 requests, %3 answered, %4 silent, %5 CRC wrong, %6 too short, "
                          "%7 too long, %8 from another unit, %9 echoed, exceptions %10, "
                          "%11 retries (%12 saved a request), first byte %13, last byte %14")
        .arg(who)
        .arg(c.requests)
        .arg(c.answered)
        .arg(c.silent)
        .arg(c.crcWrong)
        .arg(c.tooShort)
        .arg(c.tooLong)
        .arg(c.otherUnit)
        .arg(c.echoed)
        .arg(exceptions.isEmpty() ? QStringLiteral("none") : exceptions.join(QLatin1Char(' ')))
        .arg(c.retries)
        .arg(c.savedByRetry)
        .arg(TimeSpread::of(c.firstByteMs).text(), TimeSpread::of(c.lastByteMs).text());
}
