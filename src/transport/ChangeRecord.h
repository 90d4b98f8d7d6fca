#pragma once
// The record of every change made to a unit: each write or erase of a slot
// is handed to a ChangeRecord twice, as a SlotChange "sent" before its request
// goes (noteSent) and as one with its outcome, confirmed or not, after
// (noteChange); so a program that ends between the two (killed, a power cut)
// still leaves a record of every write that may have reached the unit. The
// operations (BulkOperations, UnitSync, Editor, CommsTest) take an optional
// record; with none set, nothing is recorded. HistoryFile (table/) keeps them
// in a file.

#include "transport/Transport.h"

#include <QDateTime>
#include <QString>

struct SlotChange {
    QDateTime time;   // when the write was answered (or failed); for "sent", when it went
    QString endpoint; // the port or the gateway (Transport::endpointName())
    QString speed;    // the serial line's speed, "9600"; empty through a gateway
    int unit = 0;
    int slot = 0;
    QString terminal; // the slot's terminal caption, "42-3"
    QString before;   // what the slot held, when it was read first; else empty
    QString written;  // what was sent; empty for an erase
    QString result;   // "sent", "written", "erased", "no answer", "refused: ...", ...
    bool operator==(const SlotChange& o) const;
};

class ChangeRecord {
public:
    virtual ~ChangeRecord() = default;
    virtual void record(const SlotChange& change) = 0;
};

// The results a change may have.
namespace ChangeResult {
// The request is about to go; its outcome follows in a change of its own.
QString sent();
// A "sent" that no outcome followed, as the history shows it.
QString noOutcome();
// "written", or "erased" for an empty text.
QString done(const QString& written);
QString noAnswer();
QString refused(const QString& reason);
// "read back differs: <text>" (escaped), or "not read back" when unread.
QString differs(const QString& readBack, bool unread);
QString stopped();
QString lineFailed(const QString& reason);
// A reply that did not confirm the write: "no answer" or "refused: <reason>".
QString ofReply(const ReplyCheck& check);
// A transaction that did not go through: "stopped" or "line failed: <reason>".
QString ofLine(TransportStatus status, const QString& reason);
} // namespace ChangeResult

// Hands record (when set) the change of slot of unit over transport, timed now.
// noteSent() is noteChange() with the result sent(): called just before the
// request goes.
void noteChange(ChangeRecord* record, Transport& transport, int unit, int slot,
                const QString& before, const QString& written, const QString& result);
void noteSent(ChangeRecord* record, Transport& transport, int unit, int slot, const QString& before,
              const QString& written);
