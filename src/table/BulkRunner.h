#pragma once
// A bulk operation as the window runs it: one at a time, stoppable, and what
// it leaves behind: the table's file forgotten after a read, the slots the
// unit confirmed noted on the table, and a line for the status.

#include "table/BulkOperations.h"
#include "table/MessageTable.h"

#include <QString>
#include <QTime>

enum class BulkKind { ReadAll, WriteAll, EraseAll };

class BulkRunner {
public:
    BulkRunner(BulkOperations& ops, MessageTable& table) : ops_(ops), table_(table) {}

    // Ends the run under way between two requests.
    void requestStop() { ops_.requestStop(); }
    // Runs kind against unit to its end.
    BulkResult run(BulkKind kind, int unit);

private:
    void noteOnUnit(BulkKind kind, const BulkResult& result);
    BulkOperations& ops_;
    MessageTable& table_;
};

// "Read All", "Write All", "Erase All".
QString bulkVerb(BulkKind kind);
// For the status line: "Read All: 20 of 20 read, 14:02", "Write All: 3
// written, 17 unchanged, 14:02".
QString bulkOutcomeText(BulkKind kind, const BulkResult& result, const QTime& when);
