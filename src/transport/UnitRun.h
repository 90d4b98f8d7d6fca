#pragma once
// One operation on one unit. Whatever sends to a unit sends through a run:
// read, write and erase all, compare and restore, Write Selected, the
// editor's write, erase and Put Back, the line's runs, the comms test and
// the command line's read. A run holds the line for its operation, names its
// unit once, when it starts, and sends only to it; it ends at a stop between
// two requests, and hands each write and erase to the change record. (Find
// Unit and the line doctor ask many addresses by design, and only read.)

#include "transport/ChangeRecord.h"
#include "transport/Transport.h"

#include <QString>

// The stop of one caller's runs: requestStop() ends the run under way between
// two requests (a pause or a wait for a reply ends at once); between two runs
// it asks nothing of the transport, whose wait then is another client's. Each
// run starts with no stop pending.
class RunStop {
public:
    explicit RunStop(Transport& transport) : transport_(transport) {}
    void requestStop() {
        requested_ = true;
        if (running_)
            transport_.requestStop();
    }
    bool requested() const { return requested_; }

private:
    friend class UnitRun;
    Transport& transport_;
    bool requested_ = false;
    bool running_ = false; // a run of the owner holds the transport
};

class UnitRun {
public:
    // The run claims the line at once; record (may be null) hears each write and erase.
    UnitRun(Transport& transport, RunStop& stop, int unit, ChangeRecord* record = nullptr);
    ~UnitRun();
    UnitRun(const UnitRun&) = delete;
    UnitRun& operator=(const UnitRun&) = delete;

    int unit() const { return unit_; }
    // False when another operation held the line: nothing may be sent.
    bool claimed() const { return claim_.ok(); }
    bool isOpen() const { return transport_.isOpen(); }
    QString endpointName() const { return transport_.endpointName(); }
    // The line's reason for a status that is not Ok.
    QString reason(TransportStatus status) const { return watch_.reason(status); }
    bool stopRequested() const { return stop_.requested(); }

    // Readies the line (a serial line stops sending).
    TransportStatus prepare() { return transport_.prepare(); }
    // The line's pause before a request; a stop ends it at once.
    TransportStatus pause() { return transport_.bulkPause(); }
    // One request to the run's unit and its reply, judged (Transaction::check); Busy, with
    // nothing sent, for a run that was refused the line.
    Transaction exchange(const QByteArray& requestPdu, ReplyEnd end = ReplyEnd::Normal);

    // The change record's two notes of a write or erase of slot (text empty: an erase):
    // before its request goes, then with its result. before: what the slot held when read
    // first, else empty.
    void noteSent(int slot, const QString& before, const QString& written);
    void noteChange(int slot, const QString& before, const QString& written, const QString& result);

private:
    Transport& transport_;
    RunStop& stop_;
    const int unit_;
    ChangeRecord* record_;
    TransportClaim claim_;
    FailureWatch watch_;
};
