#include "transport/Transport.h"

#include "modbus/Pdu.h"

bool Transport::claim() {
    if (claimed_)
        return false;
    claimed_ = true;
    emit busyChanged(true);
    return true;
}

void Transport::release() {
    if (!claimed_)
        return;
    claimed_ = false;
    emit busyChanged(false);
}

QString ReplyCheck::reason() const {
    switch (verdict) {
    case Verdict::Confirmed:
        return {};
    case Verdict::Silent:
        if (isGatewayNoAnswer(detail))
            return QStringLiteral("no reply: the gateway answered for the unit (Modbus exception "
                                  "%1, %2)")
                .arg(detail)
                .arg(Pdu::exceptionName(detail));
        return noEcho ? QStringLiteral("the line did not echo") : QStringLiteral("no reply");
    case Verdict::Garbled:
        if (untimely)
            return QStringLiteral("a reply of %1 bytes that may be the late answer to an earlier "
                                  "request")
                .arg(length);
        if (deadlineMs > 0)
            return QStringLiteral("a garbled reply of %1 bytes (still coming when its %2 ms "
                                  "were up)")
                .arg(length)
                .arg(deadlineMs);
        return QStringLiteral("a garbled reply of %1 bytes (%2)")
            .arg(length)
            .arg(detail == 1 ? QStringLiteral("cut short, or its MBAP header is wrong")
                             : QStringLiteral("its CRC is wrong"));
    case Verdict::OtherUnit:
        return QStringLiteral("the reply came from unit address %1").arg(detail);
    case Verdict::Exception:
        return QStringLiteral("the unit refused the request (Modbus exception %1, %2)")
            .arg(detail)
            .arg(Pdu::exceptionName(detail));
    case Verdict::Unexpected:
        return QStringLiteral("a reply of %1 bytes that does not answer the request").arg(length);
    }
    return {};
}

bool isGatewayNoAnswer(int exceptionCode) {
    return exceptionCode == kGatewayPathUnavailable || exceptionCode == kGatewayTargetSilent;
}

ReplyCheck checkReply(const Transaction& t, const QByteArray& requestPdu) {
    ReplyCheck c;
    c.length = static_cast<int>(t.received.size());
    c.noEcho = t.noEcho;
    // Whatever came by the deadline is not an answer the unit gave in time.
    if (t.pastDeadline && !t.received.isEmpty()) {
        c.verdict = ReplyCheck::Verdict::Garbled;
        c.deadlineMs = t.deadlineMs;
        return c;
    }
    switch (t.framing) {
    case Framing::Silent:
        return c;
    case Framing::Garbled:
        c.verdict = ReplyCheck::Verdict::Garbled;
        c.detail = t.checkSummed ? 0 : 1;
        return c;
    case Framing::OtherUnit:
        c.verdict = ReplyCheck::Verdict::OtherUnit;
        c.detail = t.otherUnit;
        return c;
    case Framing::Untimely:
        c.verdict = ReplyCheck::Verdict::Garbled;
        c.untimely = true;
        return c;
    case Framing::Whole:
        break;
    }
    const Pdu::Verdict v = Pdu::judge(requestPdu, t.replyPdu);
    c.verdict = v.kind == Pdu::Verdict::Kind::Confirmed   ? ReplyCheck::Verdict::Confirmed
                : v.kind == Pdu::Verdict::Kind::Exception ? ReplyCheck::Verdict::Exception
                                                          : ReplyCheck::Verdict::Unexpected;
    c.detail = v.code;
    if (c.verdict == ReplyCheck::Verdict::Exception && isGatewayNoAnswer(v.code))
        c.verdict = ReplyCheck::Verdict::Silent;
    return c;
}

Transaction Transport::transact(int unit, const QByteArray& requestPdu, ReplyEnd end) {
    Transaction t = exchange(unit, requestPdu, end);
    if (!t.judged) {
        t.check = checkReply(t, requestPdu);
        t.judged = true;
    }
    return t;
}

FailureWatch::FailureWatch(Transport& transport) {
    connection_ = QObject::connect(&transport, &Transport::failed, [this](const QString& why) {
        if (reason_.isEmpty())
            reason_ = why;
    });
}

FailureWatch::~FailureWatch() {
    QObject::disconnect(connection_);
}

QString FailureWatch::reason(TransportStatus status) const {
    if (status == TransportStatus::Stopped)
        return QStringLiteral("the request was stopped");
    if (!reason_.isEmpty())
        return reason_;
    return status == TransportStatus::NotOpen ? QStringLiteral("the port is not open")
                                              : QStringLiteral("the port was closed");
}
