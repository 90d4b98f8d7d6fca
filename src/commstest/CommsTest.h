#pragma once
// The comms-test window's transactions (read, write, erase one message),
// run against a view so that they work without a display. They show whatever
// comes back and never judge it.

#include "startup/SharedState.h"
#include "transport/Transport.h"

#include <QString>

class CommsClock;

class CommsTestView {
public:
    virtual ~CommsTestView() = default;
    virtual void setUnitAddressText(const QString& text) = 0; // Label8
    virtual void setTransmitted(const QString& dump) = 0;     // Label6(0)
    virtual void setReceived(const QString& dump) = 0;        // Label6(1)
    virtual void setStoredText(const QString& text) = 0;      // Label6(2)
    virtual void setByteCount(const QString& text) = 0;       // Label2
    virtual void setSending(bool lit) = 0;                    // Image1(0)
    virtual void setReceiving(bool lit) = 0;                  // Image1(1)
    virtual QString messageText() const = 0;                  // MsgText
    virtual void clearMessageText() = 0;
    // A failure the transaction cannot show in its labels: a busy link, a
    // port that is closed or failed, a character that cannot be sent.
    virtual void showProblem(const QString& text) = 0;
};

class CommsTest {
public:
    CommsTest(SharedState& state, Transport& transport, CommsTestView& view,
              CommsClock* clock = nullptr);

    void readMessage();  // CmdRdMsg
    void writeMessage(); // CmdWrtMsg
    void eraseMessage(); // CmdEraseMsg

private:
    // Refuses (and says why) when the transport is held elsewhere or the
    // line is closed; otherwise readies the line.
    bool begin(bool claimed, const QString& what);
    void report(const QString& what, TransportStatus status, const QString& reason);
    void exchange(const QByteArray& request, ReplyEnd end, bool isRead, const QString& what);
    SharedState& state_;
    Transport& transport_;
    CommsTestView& view_;
    CommsClock* clock_;
};
