#include "scan/Scanner.h"

#include "modbus/Pdu.h"
#include "startup/MessageLayout.h"
#include "transport/PortTexts.h"
#include "transport/RtuTransport.h"

namespace {

constexpr int kRequestBytes = 8; // address, function, register, count, CRC
constexpr int kBitsPerByte = 10; // start, 8 data, stop

int probeWait(const ScanPlan& plan, const LinkTiming& timing) {
    return plan.probeMs > 0 ? plan.probeMs : timing.firstByteMs;
}

// The speed's place in a settings string: "9600,N,8,1" -> "4800,N,8,1".
QString withSpeed(const QString& settings, int baud) {
    QStringList parts = settings.split(QLatin1Char(','));
    if (parts.size() != 4)
        parts =
            QStringList{QString(), QStringLiteral("N"), QStringLiteral("8"), QStringLiteral("1")};
    parts[0] = QString::number(baud);
    return parts.join(QLatin1Char(','));
}

} // namespace

Scanner::Scanner(RtuTransport& transport, QObject* parent)
    : QObject(parent), transport_(transport) {}

qint64 Scanner::worstCaseMs(const ScanPlan& plan, const LinkTiming& timing, int fromProbe) {
    const int perSpeed = plan.lastUnit - plan.firstUnit + 1;
    qint64 ms = 0;
    for (int i = std::max(0, fromProbe); i < plan.probeCount(); ++i) {
        const int baud = std::max(1, plan.speeds[i / std::max(1, perSpeed)]);
        ms += probeWait(plan, timing) + (kRequestBytes * kBitsPerByte * 1000 + baud - 1) / baud;
    }
    return ms;
}

bool Scanner::switchSpeed(int baud, const QString& settings, const FailureWatch& watch,
                          ScanResult& r) {
    // A new speed is new port settings; the port applies them at once.
    if (const PortStatus set = transport_.port().setSettings(withSpeed(settings, baud)); !set.ok) {
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
    const ReplyCheck check = checkReply(t, request);
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
    emit progress(r.probes, plan.probeCount(), worstCaseMs(plan, transport_.timing(), r.probes));
    return more;
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
    FailureWatch watch(transport_);
    SerialPort& port = transport_.port();
    const QString settings = port.settings();
    const LinkTiming timing = transport_.timing();
    LinkTiming probing = timing;
    probing.firstByteMs = probeWait(plan, timing);
    transport_.setTiming(probing);

    bool more = true;
    for (int s = 0; s < plan.speeds.size() && more; ++s) {
        const int baud = plan.speeds[s];
        more = switchSpeed(baud, settings, watch, r);
        for (int unit = plan.firstUnit; unit <= plan.lastUnit && more; ++unit)
            more = probe(unit, baud, watch, plan, r);
    }
    // The line goes back to what it was; a failed port stays closed.
    transport_.setTiming(timing);
    if (port.isOpen())
        port.setSettings(settings);
    return r;
}
