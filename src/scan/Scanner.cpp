#include "scan/Scanner.h"

#include "modbus/Pdu.h"
#include "startup/MessageLayout.h"
#include "transport/PortTexts.h"
#include "transport/RtuTransport.h"

#include <algorithm>

namespace {

constexpr int kRequestBytes = 8; // address, function, register, count, CRC
constexpr int kBitsPerByte = 10; // start, 8 data, stop

int probeWait(const ScanPlan& plan, const LinkTiming& timing) {
    return plan.probeMs > 0 ? plan.probeMs : timing.firstByteMs;
}

} // namespace

Scanner::Scanner(RtuTransport& transport, QObject* parent)
    : QObject(parent), transport_(transport), rtu_(&transport) {
    line_.port = &transport.port();
}

Scanner::Scanner(Transport& transport, const ScanLine& line, QObject* parent)
    : QObject(parent), transport_(transport), line_(line) {}

qint64 Scanner::worstCaseMs(const ScanPlan& plan, const ScanLine& line, int fromProbe) {
    const int perSpeed = std::max(1, plan.lastUnit - plan.firstUnit + 1);
    const int tries = 1 + std::max(0, line.retries);
    qint64 ms = 0;
    for (int i = std::max(0, fromProbe); i < plan.probeCount(); ++i) {
        // Through a gateway the request's time on its line is part of the wait.
        const int baud = plan.speeds.value(i / perSpeed, 0);
        const int wireMs = baud > 0 ? (kRequestBytes * kBitsPerByte * 1000 + baud - 1) / baud : 0;
        ms += qint64(tries) * (line.firstByteMs + wireMs) + qint64(tries - 1) * line.retryPauseMs;
    }
    return ms;
}

qint64 Scanner::worstCaseMs(const ScanPlan& plan, const LinkTiming& timing, int fromProbe) {
    ScanLine line;
    line.firstByteMs = probeWait(plan, timing);
    return worstCaseMs(plan, line, fromProbe);
}

ScanLine Scanner::lineFor(const ScanPlan& plan) const {
    ScanLine line = line_;
    if (rtu_)
        line.firstByteMs = probeWait(plan, rtu_->timing());
    return line;
}

bool Scanner::startPass(int baud, const LineSettings& settings, const FailureWatch& watch,
                        ScanResult& r) {
    // A new speed is new port settings; the port applies them at once.
    if (baud > 0 && line_.port)
        if (const PortStatus set = line_.port->setSettings(settings.withBaud(baud)); !set.ok) {
            r.outcome = ScanResult::Outcome::PortFailed;
            r.error = QStringLiteral("%1 would not run at %2 baud: %3")
                          .arg(transport_.endpointName())
                          .arg(baud)
                          .arg(set.reason);
            return false;
        }
    if (const TransportStatus st = transport_.prepare(); st != TransportStatus::Ok) {
        r.outcome = ScanResult::Outcome::PortFailed;
        r.error = watch.reason(st);
        return false;
    }
    return true;
}

bool Scanner::probe(int unit, int baud, const FailureWatch& watch, const ScanPlan& plan,
                    ScanResult& r) {
    if (stopRequested_) {
        r.outcome = ScanResult::Outcome::Stopped;
        return false;
    }
    const QByteArray request = Pdu::readMessage(messageRegister(0));
    const Transaction t = transport_.transact(unit, request);
    if (!t.ok()) {
        r.outcome = ScanResult::Outcome::PortFailed;
        r.error = watch.reason(t.status);
        return false;
    }
    ++r.probes;
    const ReplyCheck check = t.check;
    using V = ReplyCheck::Verdict;
    bool more = true;
    // Any whole reply from the address asked is a unit there, a refusal too.
    if (check.verdict == V::Confirmed || check.verdict == V::Exception ||
        check.verdict == V::Unexpected) {
        FoundUnit f{unit, baud, {}, {}};
        if (check.confirmed())
            f.firstMessage = Pdu::decodeReadReply(t.replyPdu).text;
        else
            f.note = check.reason();
        r.found.append(f);
        emit unitFound(f);
        more = !plan.stopAtFirst;
    } else if (check.verdict != V::Silent) {
        if (!r.hintSpeeds.contains(baud))
            r.hintSpeeds.append(baud);
        emit hint(baud, check.reason());
    }
    emit progress(r.probes, plan.probeCount(), worstCaseMs(plan, running_, r.probes));
    return more;
}

void Scanner::runPasses(const ScanPlan& plan, const FailureWatch& watch, ScanResult& r) {
    const LineSettings settings = line_.port ? line_.port->settings() : LineSettings{};
    // Without speeds to try, the one pass is at the port's speed (none known
    // through a gateway).
    const int speedAsIs = line_.port ? settings.baud : 0;
    bool more = true;
    for (int s = 0; s < plan.passes() && more; ++s) {
        const int baud = plan.speeds.value(s, 0);
        more = startPass(baud, settings, watch, r);
        for (int unit = plan.firstUnit; unit <= plan.lastUnit && more; ++unit)
            more = probe(unit, baud > 0 ? baud : speedAsIs, watch, plan, r);
    }
    // The line goes back to what it was; a failed port stays closed.
    if (line_.port && line_.port->isOpen())
        line_.port->setSettings(settings);
}

ScanResult Scanner::run(const ScanPlan& plan) {
    ScanResult r;
    stopRequested_ = false;
    TransportClaim claim(transport_);
    if (!claim.ok() || !transport_.isOpen()) {
        r.outcome = ScanResult::Outcome::Refused;
        r.error = claim.ok() ? PortTexts::notOpen() : PortTexts::busy();
        return r;
    }
    if (!plan.speeds.isEmpty() && !line_.port) {
        r.outcome = ScanResult::Outcome::Refused;
        r.error = QStringLiteral("%1 runs its line at the speed set on it: the scan cannot "
                                 "switch speeds there")
                      .arg(transport_.endpointName());
        return r;
    }
    FailureWatch watch(transport_);
    running_ = lineFor(plan);
    // On an RTU transport the probe wait is the link's for the run.
    const LinkTiming timing = rtu_ ? rtu_->timing() : LinkTiming{};
    if (rtu_) {
        LinkTiming probing = timing;
        probing.firstByteMs = running_.firstByteMs;
        rtu_->setTiming(probing);
    }
    runPasses(plan, watch, r);
    if (rtu_)
        rtu_->setTiming(timing);
    return r;
}
