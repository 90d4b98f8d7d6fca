#include "transport/UnitRun.h"

#include "transport/PortTexts.h"

UnitRun::UnitRun(Transport& transport, RunStop& stop, int unit, ChangeRecord* record)
    : transport_(transport), stop_(stop), unit_(unit), record_(record), claim_(transport),
      watch_(transport) {
    // A run refused the line leaves the stop to the run that holds it.
    if (claim_.ok()) {
        stop_.requested_ = false;
        stop_.running_ = true;
    }
}

UnitRun::~UnitRun() {
    if (claim_.ok())
        stop_.running_ = false;
}

Transaction UnitRun::exchange(const QByteArray& requestPdu, ReplyEnd end) {
    if (claim_.ok())
        return transport_.transact(unit_, requestPdu, end);
    Transaction t;
    t.status = TransportStatus::Busy;
    t.error = PortTexts::busy();
    return t;
}

void UnitRun::noteSent(int slot, const QString& before, const QString& written) {
    ::noteSent(record_, transport_, unit_, slot, before, written);
}

void UnitRun::noteChange(int slot, const QString& before, const QString& written,
                         const QString& result) {
    ::noteChange(record_, transport_, unit_, slot, before, written, result);
}
