#include "diag/Findings.h"

#include "modbus/Pdu.h"

#include <QSet>

namespace {

QString share(int part, int whole) {
    return QStringLiteral("%1 of %2").arg(part).arg(whole);
}

QString percent(int part, int whole) {
    return whole > 0 ? QStringLiteral("%1%").arg(qRound(100.0 * part / whole))
                     : QStringLiteral("0%");
}

// Garbled replies equal to an earlier one to the same request: two units at
// one address collide the same way every time, noise never does.
int repeatedGarbles(const UnitCounters& c) {
    QSet<QByteArray> seen;
    int repeats = 0;
    for (const auto& [request, reply] : c.garbled) {
        const QByteArray key = request + '\0' + reply;
        if (seen.contains(key))
            ++repeats;
        seen.insert(key);
    }
    return repeats;
}

bool collides(const UnitCounters& c) {
    return c.garbled.size() >= 2 && 2 * repeatedGarbles(c) >= c.garbled.size();
}

int slowReplies(const UnitCounters& c, int waitMs) {
    int slow = 0;
    for (int ms : c.firstByteMs)
        if (ms > kSlowShare * waitMs)
            ++slow;
    return slow;
}

Finding finding(const char* word, int unit, QString evidence, QString advice) {
    return {QString::fromLatin1(word), unit, std::move(evidence), std::move(advice)};
}

std::optional<Finding> garbleCause(int u, const UnitCounters& c, const CheckEvidence& e);

// The one finding that explains a unit's failures, when there is one.
std::optional<Finding> causeOf(int u, const UnitCounters& c, const CheckEvidence& e) {
    if (e.otherSettings.contains(u))
        return finding(
            "wrong-speed", u,
            QStringLiteral("%1 requests got no usable reply; a read at %2 was "
                           "answered")
                .arg(share(c.requests - c.answered, c.requests), e.otherSettings.value(u).text()),
            QStringLiteral("set the line to %1 (-b, or Connect...), or the unit to the "
                           "line's speed")
                .arg(e.otherSettings.value(u).text()));
    if (c.requests > 0 && c.silent == c.requests)
        return finding(
            "silent", u,
            QStringLiteral("%1 requests brought no reply at all").arg(share(c.silent, c.requests)),
            QStringLiteral("check the unit address, the line speed, the wiring (A/B "
                           "swapped?) and the unit's power"));
    if (c.echoed > 0)
        return finding("echo", u,
                       QStringLiteral("%1 replies began with the request itself")
                           .arg(share(c.echoed, c.requests)),
                       QStringLiteral("the adapter echoes what it sends: use --echo on (Line "
                                      "Settings: Echo on)"));
    if (c.otherUnit > 0) {
        QStringList from;
        for (auto i = c.otherAddresses.begin(); i != c.otherAddresses.end(); ++i)
            from << QString::number(i.key());
        return finding("other-unit", u,
                       QStringLiteral("%1 replies carried address %2")
                           .arg(share(c.otherUnit, c.requests), from.join(QStringLiteral(", "))),
                       QStringLiteral("the unit answers at another address, or another unit "
                                      "answers for it: check the address set on each unit"));
    }
    return garbleCause(u, c, e);
}

// Replies that came damaged: two units at once, or noise.
std::optional<Finding> garbleCause(int u, const UnitCounters& c, const CheckEvidence& e) {
    const int repeats = repeatedGarbles(c);
    if (collides(c) || e.repliedTwice.value(u) > 0)
        return finding("duplicate-address", u,
                       QStringLiteral("%1 replies began with address %2 but failed their CRC, "
                                      "%3 of them garbled alike; %4 came twice")
                           .arg(share(c.crcWrong, c.requests))
                           .arg(u)
                           .arg(repeats)
                           .arg(e.repliedTwice.value(u)),
                       QStringLiteral("two units answer at address %1: give each its own "
                                      "address")
                           .arg(u));
    if (c.crcWrong + c.tooShort + c.tooLong > 0)
        return finding("noise", u,
                       QStringLiteral("%1 replies were damaged (%2 CRC wrong, %3 too short, %4 "
                                      "too long), each in its own way")
                           .arg(share(c.crcWrong + c.tooShort + c.tooLong, c.requests))
                           .arg(c.crcWrong)
                           .arg(c.tooShort)
                           .arg(c.tooLong),
                       QStringLiteral("check the termination (120 ohm at both ends only), the "
                                      "bias resistors, the shield and the cable's route"));
    return std::nullopt;
}

void unitFindings(int u, const UnitCounters& c, const CheckEvidence& e, QVector<Finding>& out) {
    if (const auto cause = causeOf(u, c, e)) {
        out << *cause;
        return;
    }
    const int slow = slowReplies(c, e.firstByteWaitMs);
    if (slow > 0 && 4 * slow >= c.firstByteMs.size()) {
        out << finding("slow-unit", u,
                       QStringLiteral("%1 replies began after %2 ms, more than two thirds of "
                                      "the %3 ms wait (first byte %4)")
                           .arg(share(slow, int(c.firstByteMs.size())))
                           .arg(qRound(kSlowShare * e.firstByteWaitMs))
                           .arg(e.firstByteWaitMs)
                           .arg(TimeSpread::of(c.firstByteMs).text()),
                       QStringLiteral("raise --timeout-ms (Line Settings) to at least %1")
                           .arg(2 * TimeSpread::of(c.firstByteMs).max));
        return;
    }
    if (c.failed() > 0 && c.answered > 0)
        out << finding("intermittent", u,
                       QStringLiteral("%1 tries failed (%2); %3 retries saved a request")
                           .arg(share(c.failed(), c.requests), percent(c.failed(), c.requests))
                           .arg(c.savedByRetry),
                       QStringLiteral("check the connectors and the cable; meanwhile --retries "
                                      "2 rides it out"));
}

} // namespace

bool mayRunElsewhere(const UnitCounters& c) {
    return c.requests > 0 && c.answered == 0 && c.otherUnit == 0 && c.echoed == 0 && !collides(c);
}

QString Finding::where() const {
    return unit > 0 ? QStringLiteral("unit %1").arg(unit) : QStringLiteral("line");
}

QString Finding::text() const {
    return QStringLiteral("%1\t%2\t%3\t%4").arg(word, where(), evidence, advice);
}

QVector<Finding> findFaults(const CheckEvidence& e) {
    QVector<Finding> out;
    for (auto i = e.units.begin(); i != e.units.end(); ++i)
        unitFindings(i.key(), i.value(), e, out);
    const IdleTraffic& idle = e.idle;
    if (idle.noiseBytes > 0)
        out << finding("noise", 0,
                       QStringLiteral("%1 bytes in no frame while the line was idle (%2 ms "
                                      "listened)")
                           .arg(idle.noiseBytes)
                           .arg(idle.listenedMs),
                       QStringLiteral("check the bias resistors (the line floats when nobody "
                                      "sends), the termination and the shield"));
    if (idle.foreignRequests > 0) {
        QStringList samples;
        for (const QByteArray& r : idle.requestSamples.mid(0, 2))
            samples << byteDump(r).trimmed();
        out << finding("second-master", 0,
                       QStringLiteral("%1 well-formed requests this tool did not send (%2)")
                           .arg(idle.foreignRequests)
                           .arg(samples.join(QStringLiteral("; "))),
                       QStringLiteral("another master polls this line: stop it (a PLC, a "
                                      "panel, another laptop) while this tool works"));
    }
    return out;
}
