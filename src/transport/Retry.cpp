#include "transport/Retry.h"

#include "modbus/Pdu.h"

#include <QDateTime>

bool isReadRequest(const QByteArray& requestPdu) {
    if (requestPdu.isEmpty())
        return false;
    const quint8 function = quint8(requestPdu.at(0));
    return function == Pdu::kReadHoldingRegisters || function == Pdu::kReadInputRegisters;
}

bool mayResend(const QByteArray& requestPdu, const Transaction& t) {
    if (t.status != TransportStatus::Ok)
        return false;
    switch (t.check.verdict) {
    case ReplyCheck::Verdict::Confirmed:
    case ReplyCheck::Verdict::Exception:
        return false;
    case ReplyCheck::Verdict::Silent:
        return true;
    case ReplyCheck::Verdict::Garbled:
    case ReplyCheck::Verdict::OtherUnit:
    case ReplyCheck::Verdict::Unexpected:
        break;
    }
    return isReadRequest(requestPdu);
}

qint64 replyOrderClock() {
    return QDateTime::currentMSecsSinceEpoch();
}

namespace {

// Listens until the line owes unit nothing; Ok, or how the wait ended.
TransportStatus awaitTurn(Transport& line, ReplyOrder& order, int unit, QString& error,
                          TransactionObserver* observer) {
    for (;;) {
        const qint64 now = replyOrderClock();
        const qint64 until = order.sendAfter(unit, now);
        if (until <= now)
            return TransportStatus::Ok;
        const FailureWatch watch(line);
        const Overheard heard = line.overhear(int(until - now));
        if (heard.count > 0) {
            order.overheard(heard.count, quint8(heard.bytes.at(0)), now + heard.firstMs,
                            now + heard.lastMs);
            emit line.traceNote(
                QObject::tr("%1 bytes came while nothing was asked; dropped").arg(heard.count));
        }
        if (observer)
            observer->idleBytes(heard.bytes, replyOrderClock() - now);
        if (heard.status != TransportStatus::Ok) {
            error = watch.reason(heard.status);
            return heard.status;
        }
    }
}

// One try, in turn when an order is kept.
Transaction transactInOrder(Transport& line, ReplyOrder* order, int unit,
                            const QByteArray& requestPdu, ReplyEnd end,
                            TransactionObserver* observer) {
    if (!order || line.repliesNameTheirRequest())
        return line.transact(unit, requestPdu, end);
    Transaction t;
    t.status = awaitTurn(line, *order, unit, t.error, observer);
    if (t.status != TransportStatus::Ok)
        return t;
    const qint64 sentAt = replyOrderClock();
    t = line.transact(unit, requestPdu, end);
    if (!t.stale.isEmpty()) {
        order->overheard(int(t.stale.size()), quint8(t.stale.at(0)), sentAt, sentAt);
        if (observer)
            observer->idleBytes(t.stale, 0);
    }
    // A request that went and was stopped may still be answered.
    if (t.status != TransportStatus::Ok &&
        !(t.status == TransportStatus::Stopped && !t.sent.isEmpty()))
        return t;
    const bool usable =
        t.ok() && (t.check.confirmed() || t.check.verdict == ReplyCheck::Verdict::Exception);
    if (!order->settle(unit, requestPdu, sentAt, replyOrderClock(), t.deadlineMs, usable)) {
        t.framing = Framing::Untimely;
        t.check = checkReply(t, requestPdu); // judged again on what the order knows
        emit line.traceNote(
            QObject::tr("the reply may be the late answer to an earlier request; not taken"));
    }
    if (order->latenessNews())
        emit line.notice(QObject::tr("A reply came about %1 ms after its request, later than the "
                                     "tool waits. Late replies are dropped, never taken for "
                                     "another request's answer; a longer wait for the reply "
                                     "(qv840ctl --timeout-ms) may let them in.")
                             .arg(order->lateness()));
    return t;
}

void tell(TransactionObserver* observer, int unit, const QByteArray& requestPdu,
          const Transaction& t, int retry) {
    if (observer && t.status == TransportStatus::Ok)
        observer->transactionDone(unit, requestPdu, t, retry);
}

} // namespace

Transaction transactRetrying(Transport& line, int unit, const QByteArray& requestPdu, ReplyEnd end,
                             int retries, ReplyOrder* order, TransactionObserver* observer) {
    Transaction t = transactInOrder(line, order, unit, requestPdu, end, observer);
    tell(observer, unit, requestPdu, t, 0);
    if (end == ReplyEnd::Quick)
        return t;
    for (int retry = 1; retry <= retries && mayResend(requestPdu, t); ++retry) {
        emit line.traceNote(
            QObject::tr("no usable reply; trying again (%1 of %2)").arg(retry).arg(retries));
        const FailureWatch watch(line);
        const TransportStatus paused = line.bulkPause();
        if (paused != TransportStatus::Ok) {
            t.status = paused;
            t.error = watch.reason(paused);
            break;
        }
        t = transactInOrder(line, order, unit, requestPdu, end, observer);
        tell(observer, unit, requestPdu, t, retry);
    }
    return t;
}
