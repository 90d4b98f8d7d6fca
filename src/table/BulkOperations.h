#pragma once
// Read all, write all and erase all: one pass per interlock 0..19, a 300 ms
// pause before each request, the progress bar up 5 per interlock.

#include "link/Link.h"
#include "startup/Operator.h"
#include "startup/SharedState.h"
#include "table/MessageTableView.h"

#include <QVector>

class CommsClock;

struct BulkResult {
    enum class Outcome {
        Completed, // every pass ran (some slots may not have answered)
        Cancelled, // read all: Cancel in the "Communication Fault" box
        Refused,   // nothing sent: link busy, port not open, or bad entries
        PortFailed // the port failed mid-operation
    };
    Outcome outcome = Outcome::Completed;
    QVector<int> silent;  // interlocks that did not answer
    QVector<int> invalid; // write all: entries held back (empty, over 40, or not encodable)
    QString error;        // the port's reason, for PortFailed and Refused
};

class BulkOperations {
public:
    BulkOperations(SharedState& state, Link& link, MessageTableView& view, Operator& op,
                   CommsClock* clock = nullptr);

    BulkResult readAll();  // cmdReadAll
    BulkResult writeAll(); // cmdWriteAll
    BulkResult eraseAll(); // cmdEraseAll

private:
    SharedState& state_;
    Link& link_;
    MessageTableView& view_;
    Operator& op_;
    CommsClock* clock_;
};
