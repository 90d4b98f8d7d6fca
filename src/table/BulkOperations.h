#pragma once
// Read all, write all and erase all: one pass per interlock 0..19, a 300 ms
// pause before each request, the progress bar up 5 per interlock. Read all
// may take several interlocks in one request (setBlockReads).

#include "startup/LineActivity.h"
#include "startup/Operator.h"
#include "startup/UnitText.h"
#include "table/BulkRun.h"
#include "table/MessageTable.h"
#include "table/ProgressView.h"
#include "transport/Transport.h"

#include <QString>
#include <QStringList>
#include <QVector>

class BulkOperations {
public:
    // The window's: op is told, and asked after a silence and a failure.
    BulkOperations(MessageTable& table, Transport& transport, ProgressView& view, Operator& op,
                   LineActivity* activity = nullptr);
    // The command line's and the whole line's: told, and deciding by policy.
    BulkOperations(MessageTable& table, Transport& transport, ProgressView* progress,
                   Notices& notices, RunPolicy policy, LineActivity* activity = nullptr);

    // Each runs against the unit address it is given, start to end.
    // Read all leaves the table as the unit holds it: an empty slot's entry
    // is its default, as its label shows.
    BulkResult readAll(int unit);
    // Write all sends every entry that differs from its default; the others
    // are unchanged. With the read-back on, each slot written is read again
    // at once, and one that does not hold what was sent is a failure.
    BulkResult writeAll(int unit);
    BulkResult eraseAll(int unit);

    // Write all reads each slot back after writing it (LineOptions::verify).
    void setVerifyWrites(bool on) { verifyWrites_ = on; }
    bool verifyWrites() const { return verifyWrites_; }

    // How read all asks for the messages (LineOptions::blockReads): one per
    // request (off, the default), or six per request, falling back to one
    // per request for a unit that refuses (auto) or failing (on). The slots
    // a request covered are each reported as when read alone.
    void setBlockReads(BlockReads mode) { blockReads_ = mode; }
    BlockReads blockReads() const { return blockReads_; }
    // What the units did with block reads, shared with the owner's other
    // operations (by default this object's own).
    void setBlockReadMemory(BlockReadMemory& memory) { blockMemory_ = &memory; }

    // Hears every write and erase of write all and erase all, one change per
    // slot (transport/ChangeRecord.h); null (the default) records nothing.
    void setChangeRecord(ChangeRecord* record) { record_ = record; }

    // Ends the running operation: a pause or a wait for a reply under way ends
    // at once (Transport::requestStop), and no further request goes. A request
    // frame already going out is sent whole; its slot counts as not done. The
    // table keeps what the unit confirmed, and one box says which slots were
    // done. Each operation starts with no stop pending.
    void requestStop() { stop_.requestStop(); }
    bool stopRequested() const { return stop_.requested(); }

private:
    BulkParts parts() {
        return {transport_, view_,         notices_,    policy_, activity_,
                stop_,      *blockMemory_, blockReads_, record_};
    }
    bool readSlotsInto(BulkRun& run, int& next, bool& ask, BulkResult& r);
    bool askAfterSilence(const BulkRun& run, const SlotsRead& read, bool& ask, BulkResult& r);
    void writeSlotFrom(BulkRun& run, int i, BulkResult& r);
    MessageTable& table_;
    Transport& transport_;
    ProgressView* view_; // null: the progress is shown nowhere
    Notices& notices_;
    RunPolicy policy_;
    LineActivity* activity_;
    ChangeRecord* record_ = nullptr;
    RunStop stop_{transport_};
    BlockReadMemory ownBlockMemory_;
    BlockReadMemory* blockMemory_ = &ownBlockMemory_;
    bool verifyWrites_ = false;
    BlockReads blockReads_ = BlockReads::Off;
};

// A verdict on a text that should go to the unit, in words ("the message is
// empty", "41 characters, more than 40"); empty when it can go.
QString sendProblem(const UnitText::Verdict& verdict);

// Why a write-all entry cannot go to the unit, or an empty text when it can.
// An entry equal to its default is never sent, so it is never a problem; the
// others are judged as held texts (UnitText::judge).
QString writeAllProblem(const QString& entry, const QString& defaultText);

// The entries write all would hold back, one line each ("interlock 42-3:
// the message is empty"); their indices go to invalid.
QStringList writeAllProblems(const MessageTable& table, QVector<int>& invalid);

// What write all did, for a status line or the command line: "3 written, 17
// unchanged", and ", 2 not written" when some slot that should have been
// written was not (no answer, an unusable reply, a read-back that differs, a
// stop before it was reached, an entry held back).
QString writeAllSummary(const BulkResult& result);
