#include "transport/ChangeRecord.h"

#include "startup/Interlocks.h"
#include "startup/MessageText.h"

bool SlotChange::operator==(const SlotChange& o) const {
    return time == o.time && endpoint == o.endpoint && speed == o.speed && unit == o.unit &&
           slot == o.slot && terminal == o.terminal && before == o.before && written == o.written &&
           result == o.result;
}

namespace ChangeResult {

QString sent() {
    return QStringLiteral("sent");
}

QString noOutcome() {
    return QStringLiteral("sent, no outcome recorded");
}

QString done(const QString& written) {
    return written.isEmpty() ? QStringLiteral("erased") : QStringLiteral("written");
}

QString noAnswer() {
    return QStringLiteral("no answer");
}

QString refused(const QString& reason) {
    return QStringLiteral("refused: ") + reason;
}

QString differs(const QString& readBack, bool unread) {
    if (unread)
        return QStringLiteral("not read back");
    return QStringLiteral("read back differs: ") + MessageText::escaped(readBack);
}

QString stopped() {
    return QStringLiteral("stopped");
}

QString lineFailed(const QString& reason) {
    return QStringLiteral("line failed: ") + reason;
}

QString ofReply(const ReplyCheck& check) {
    return check.verdict == ReplyCheck::Verdict::Silent ? noAnswer() : refused(check.reason());
}

QString ofLine(TransportStatus status, const QString& reason) {
    return status == TransportStatus::Stopped ? stopped() : lineFailed(reason);
}

} // namespace ChangeResult

void noteChange(ChangeRecord* record, Transport& transport, int unit, int slot,
                const QString& before, const QString& written, const QString& result) {
    if (!record)
        return;
    SlotChange c;
    c.time = QDateTime::currentDateTime();
    c.endpoint = transport.endpointName();
    c.speed = transport.lineSpeed();
    c.unit = unit;
    c.slot = slot;
    c.terminal = terminalCaption(slot);
    c.before = before;
    c.written = written;
    c.result = result;
    record->record(c);
}

void noteSent(ChangeRecord* record, Transport& transport, int unit, int slot, const QString& before,
              const QString& written) {
    noteChange(record, transport, unit, slot, before, written, ChangeResult::sent());
}
