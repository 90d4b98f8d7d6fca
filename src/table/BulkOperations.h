#pragma once
// Read all, write all and erase all: one pass per interlock 0..19, a 300 ms
// pause before each request, the progress bar up 5 per interlock.

#include "startup/LineActivity.h"
#include "startup/Operator.h"
#include "table/MessageTable.h"
#include "table/MessageTableView.h"
#include "transport/Transport.h"

#include <QString>
#include <QStringList>
#include <QVector>

// A slot whose reply came but could not be taken as the unit's answer.
struct RejectedReply {
    int interlock = 0;
    QString reason; // ReplyCheck::reason()
};

struct BulkResult {
    enum class Outcome {
        Completed,  // every pass ran (some slots may not have answered)
        Cancelled,  // read all: Cancel in the "Communication Fault" box
        Refused,    // nothing sent: link busy, port not open, or bad entries
        PortFailed, // the port failed mid-operation
        Stopped     // requestStop(): ended between two requests
    };
    Outcome outcome = Outcome::Completed;
    QVector<int> silent;             // interlocks that did not answer
    QVector<RejectedReply> rejected; // interlocks whose reply was garbled, foreign or a refusal
    QVector<int> invalid;   // write all: entries held back (empty, over 40, or not encodable)
    QString error;          // the port's reason, for PortFailed and Refused
    QVector<int> done;      // interlocks the unit confirmed (read, written or erased)
    bool reconnect = false; // PortFailed: the operator asked to open the port again
};

class BulkOperations {
public:
    BulkOperations(MessageTable& table, Transport& transport, MessageTableView& view, Operator& op,
                   LineActivity* activity = nullptr);

    // Each runs against the unit address it is given, start to end.
    BulkResult readAll(int unit);
    BulkResult writeAll(int unit);
    BulkResult eraseAll(int unit);

    // Ends the running operation: a pause or a wait for a reply under way ends
    // at once (Transport::requestStop), and no further request goes. A request
    // frame already going out is sent whole; its slot counts as not done. The
    // table keeps what the unit confirmed, and one box says which slots were
    // done. Each operation starts with no stop pending.
    void requestStop();
    bool stopRequested() const { return stopRequested_; }

private:
    class Run;
    MessageTable& table_;
    Transport& transport_;
    MessageTableView& view_;
    Operator& op_;
    LineActivity* activity_;
    bool stopRequested_ = false;
    bool running_ = false; // an operation of this object holds the transport
};

// Why a write-all entry cannot go to the unit, or an empty text when it can.
// An entry equal to its default is never sent, so it is never a problem.
QString writeAllProblem(const QString& entry, const QString& defaultText);

// The entries write all would hold back, one line each ("interlock 3 (42-3):
// the message is empty"); their indices go to invalid.
QStringList writeAllProblems(const MessageTable& table, QVector<int>* invalid = nullptr);
