#pragma once
// A table (a file, a backup) against what a unit holds: compare reads all
// twenty slots and says which differ; restore makes the unit hold the table
// and proves it. An empty slot and the slot's default are the same here, as
// everywhere (UnitText::same).
//
// Both go over the Transport and the PDU builders as read all does (BulkRun):
// the pause before each request, the stop between two requests, the one
// report at the end through the Operator, the progress on the view. Neither
// changes a MessageTable: the caller decides what the table is afterwards.

#include "startup/LineActivity.h"
#include "startup/MessageLayout.h"
#include "startup/Operator.h"
#include "table/BulkRun.h"
#include "table/ProgressView.h"
#include "transport/Transport.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <optional>

// A slot whose content is not what the table says.
struct SlotDifference {
    int slot = 0;
    QString terminal;    // the slot's terminal caption, "42-3"
    QString onUnit;      // what the slot holds; empty for the empty slot
    QString inTable;     // the table's entry
    QString defaultText; // the slot's default, which an empty slot shows
    bool unread = false; // restore: the slot could not be read back; onUnit is unknown
};

// For the operator, one line: "interlock 42-3: on the unit "LOW GAS", in the file
// nothing (the default "DEFAULT 3")". Texts with \xHH for control characters.
QString differenceText(const SlotDifference& d);

struct CompareResult {
    BulkResult run; // outcome, silent and rejected slots, the line's error; done: slots read
    QVector<SlotDifference> differences;
    // Every slot was read, and each holds what the table says.
    bool matches() const;
};

struct RestoreResult {
    BulkResult run; // as compare's for the first read, then for the writes; done: slots changed
    QVector<int> written; // slots sent the table's text, confirmed and read back the same
    QVector<int> erased;  // slots erased (the table has their default), confirmed, read back empty
    QVector<int> unchanged;              // slots that held what the table says: nothing was sent
    QVector<int> invalid;                // entries no slot can hold: nothing at all was sent
    QVector<SlotDifference> differences; // slots that still do not hold the table's entry
    QVector<int> skipped;                // slots not chosen: neither read nor sent anything
    bool readFailed = false;             // a slot could not be read first: nothing was sent
    // Every slot was read and now holds what the table says, read back to prove it.
    bool restored() const;
};

// "20 of 20 slots as in the file", "3 of 20 slots differ, 1 not read".
QString compareSummary(const CompareResult& result);
// "2 written, 1 erased, 17 unchanged", then ", 1 still differs", ", 5 not
// chosen"; "stopped, 2 written, ..., 15 not written" after a stop; or
// "nothing written: 2 slots could not be read" when it failed.
QString restoreSummary(const RestoreResult& result);

// The entries of table no slot can hold, one line each ("interlock 47-48:
// the message has 41 characters, more than 40"), their slots in invalid:
// restore refuses such a table before anything is sent. For the command line,
// to refuse a file before the port is opened.
QStringList restoreProblems(const TextTable& table, const TextTable& defaults,
                            QVector<int>* invalid = nullptr);

class UnitSync {
public:
    // The window's: op is told, and asked whether to open a failed port again.
    UnitSync(Transport& transport, ProgressView& view, Operator& op,
             LineActivity* activity = nullptr);
    // The command line's and the whole line's: told, and deciding by policy.
    UnitSync(Transport& transport, ProgressView* progress, Notices& notices, RunPolicy policy,
             LineActivity* activity = nullptr);

    // Reads all twenty slots of unit and compares them with table.
    CompareResult compare(int unit, const TextTable& table, const TextTable& defaults);

    // Reads all twenty slots of unit; unless one could not be read, writes
    // every slot whose content differs from the table's entry (an entry equal
    // to its default erases the slot) and reads each back at once. A slot that
    // already matches is sent nothing, and no slot is written twice: a reply
    // that confirms is never followed by the same request. Entries no slot can
    // hold refuse the whole restore before anything is sent. Control
    // characters in the table (a unit's, kept as \xHH in its backup) are
    // written as they are: a restore puts back what the unit held.
    // Only the slots in chosen are read, written or checked; the others are
    // left as they are and listed as skipped.
    RestoreResult restore(int unit, const TextTable& table, const TextTable& defaults,
                          const QVector<int>& chosen = allSlots());
    static QVector<int> allSlots();

    // How the first read of compare and restore asks for the messages, as
    // BulkOperations::setBlockReads(); the read-backs after writes go one
    // slot per request.
    void setBlockReads(BlockReads mode) { blockReads_ = mode; }
    // A unit that gives no answer at all to the first request (a gateway's
    // "no answer" too) is absent: the run ends there, its silence is not
    // reported, and presence says so. A unit that answers anything, even
    // garbage or a refusal, is read on. Off, the first request is as any.
    void setEndIfAbsent(bool on) { endIfAbsent_ = on; }
    // As BulkOperations::setBlockReadMemory().
    void setBlockReadMemory(BlockReadMemory& memory) { blockMemory_ = &memory; }

    // Hears every write and erase of restore, with what the slot held before
    // (transport/ChangeRecord.h); null (the default) records nothing.
    void setChangeRecord(ChangeRecord* record) { record_ = record; }

    // As BulkOperations::requestStop().
    void requestStop() { stop_.requestStop(); }

private:
    BulkParts parts() {
        return {transport_, view_,         notices_,    policy_, activity_,
                stop_,      *blockMemory_, blockReads_, record_};
    }
    using UnitImage = std::array<std::optional<QString>, kInterlockCount>;
    bool readUnit(BulkRun& run, UnitImage& onUnit, BulkResult& r, int percentOfRead,
                  const QVector<int>& chosen);
    bool heldBack(const TextTable& table, const TextTable& defaults, const QVector<int>& chosen,
                  RestoreResult& r);
    void restoreSlot(BulkRun& run, int k, const QString& before, const QString& entry,
                     const QString& defaultText, RestoreResult& r);
    Transport& transport_;
    ProgressView* view_; // null: the progress is shown nowhere
    Notices& notices_;
    RunPolicy policy_;
    LineActivity* activity_;
    ChangeRecord* record_ = nullptr;
    RunStop stop_{transport_};
    BlockReadMemory ownBlockMemory_;
    BlockReadMemory* blockMemory_ = &ownBlockMemory_;
    BlockReads blockReads_ = BlockReads::Off;
    bool endIfAbsent_ = false;
};
