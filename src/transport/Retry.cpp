#include "transport/Retry.h"

#include "modbus/Pdu.h"

bool isReadRequest(const QByteArray& requestPdu) {
    if (requestPdu.isEmpty())
        return false;
    const quint8 function = quint8(requestPdu.at(0));
    return function == Pdu::kReadHoldingRegisters || function == 4;
}

bool mayResend(const QByteArray& requestPdu, const Transaction& t) {
    if (t.status != TransportStatus::Ok)
        return false;
    switch (checkReply(t, requestPdu).verdict) {
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

namespace {

void tell(TransactionObserver* observer, int unit, const QByteArray& requestPdu,
          const Transaction& t, int retry) {
    if (observer && t.status == TransportStatus::Ok)
        observer->transactionDone(unit, requestPdu, t, retry);
}

} // namespace

Transaction transactRetrying(Transport& line, int unit, const QByteArray& requestPdu, ReplyEnd end,
                             int retries, TransactionObserver* observer) {
    Transaction t = line.transact(unit, requestPdu, end);
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
        t = line.transact(unit, requestPdu, end);
        tell(observer, unit, requestPdu, t, retry);
    }
    return t;
}
