#pragma once
// The comms-test window's transactions (read, write, erase one message),
// run against a view so that they work without a display. They show whatever
// comes back and never judge it.

#include "startup/LineActivity.h"
#include "startup/MessageLayout.h"
#include "transport/ChangeRecord.h"
#include "transport/Transport.h"
#include "transport/UnitRun.h"

#include <QString>

#include <optional>

class CommsTestView {
public:
    virtual ~CommsTestView() = default;
    virtual void setUnitAddressText(const QString& text) = 0;
    virtual void setTransmitted(const QString& dump) = 0; // the request's bytes
    virtual void setReceived(const QString& dump) = 0;    // the reply's bytes
    virtual void setStoredText(const QString& text) = 0;  // the message read
    virtual void setByteCount(const QString& text) = 0;   // bytes in the reply
    virtual void setSending(bool lit) = 0;                // the sending lamp
    virtual void setReceiving(bool lit) = 0;              // the receiving lamp
    virtual QString messageText() const = 0;              // the text to write
    virtual void clearMessageText() = 0;
    // A failure the transaction cannot show in its labels: a busy link, a
    // port that is closed or failed, a character that cannot be sent.
    virtual void showProblem(const QString& text) = 0;
    // The unit confirmed text (empty: an erase) for the whole of slot.
    virtual void slotWritten(int unit, int slot, const QString& text) = 0;
};

class CommsTest {
public:
    CommsTest(Transport& transport, CommsTestView& view, LineActivity* activity = nullptr);

    // Where the next request goes (each request's run takes it as it starts): the unit address and
    // the holding register of the slot's first character.
    void setUnit(int unit) { unit_ = unit; }
    int unit() const { return unit_; }
    void setRegister(int reg) { register_ = reg; }
    int messageRegister() const { return register_; }

    void readMessage();
    void writeMessage();
    void eraseMessage();

    // A confirmed write or erase at a slot's first register is read back at
    // once (LineOptions::verify); a slot that does not hold what was sent is
    // shown as a problem, naming it.
    void setVerifyWrites(bool on) { verifyWrites_ = on; }

    // Hears every write and erase of a whole slot (from its first register),
    // as it goes and then with its result (transport/ChangeRecord.h); null
    // records nothing.
    void setChangeRecord(ChangeRecord* record) { record_ = record; }

private:
    // Refuses (and says why) when the transport is held elsewhere or the
    // line is closed; otherwise readies the line.
    bool begin(UnitRun& run, const QString& what);
    void report(const QString& what, TransportStatus status, const QString& reason);
    Transaction exchange(UnitRun& run, const QByteArray& request, ReplyEnd end, bool isRead,
                         const QString& what);
    // After request wrote sent (empty: an erase) and was exchanged as t.
    void proveWrite(UnitRun& run, const Transaction& t, const QString& sent);
    // The read-back of slot after sent was confirmed; the change recorded.
    void readBack(UnitRun& run, int slot, const QString& sent);
    // The slot whose first register the test addresses; nothing for another register.
    std::optional<int> messageSlot() const;
    // Just before the write of sent (empty: an erase) goes: recorded as sent.
    void noteSending(UnitRun& run, const QString& sent);
    Transport& transport_;
    RunStop stop_{transport_}; // nothing stops a comms-test request
    CommsTestView& view_;
    LineActivity* activity_;
    ChangeRecord* record_ = nullptr;
    int unit_ = kFirstUnitAddress;
    int register_ = kFirstMessageRegister;
    bool verifyWrites_ = false;
};
