#pragma once
// The single-message editor's logic: write or erase the message of the
// selected interlock, with the rotating length-error messages.

#include "startup/LineActivity.h"
#include "startup/Operator.h"
#include "table/MessageTable.h"
#include "transport/ChangeRecord.h"
#include "transport/Transport.h"
#include "transport/UnitRun.h"

// The text box the write takes its text from, cleared once the unit has it. What the slot
// holds then is the table's: whoever shows it listens to the table.
class EditorView {
public:
    virtual ~EditorView() = default;
    virtual QString newText() const = 0;
    virtual void clearNewText() = 0;
};

class Editor {
public:
    // The window's: op is told, and asked whether to erase and whether to
    // open a failed port again.
    Editor(MessageTable& table, Transport& transport, Operator& op,
           LineActivity* activity = nullptr);
    // The command line's: told, and deciding by policy (nothing is asked
    // without someone to ask).
    Editor(MessageTable& table, Transport& transport, Notices& notices, RunPolicy policy,
           LineActivity* activity = nullptr);

    // The interlock write and erase act on.
    int selected() const { return selected_; }
    void select(int k) { selected_ = k; }

    // Opening: the terminal name and current message of the selected interlock.
    QString terminalName() const;
    QString currentMessage() const;
    const MessageTable& table() const { return table_; }

    enum class Outcome {
        Delivered,    // the unit answered: the table changed
        NotDelivered, // no answer: nothing changed
        LengthError,  // write: 0 or over 40 characters, nothing sent
        BadCharacter, // write: a character that cannot be sent, nothing sent
        Refused,      // link busy, no port, or no valid selection: nothing sent
        PortFailed,   // the port failed during the exchange
        NotVerified,  // confirmed, but the read-back differs or got no usable reply:
                      // the table holds what was read back, else what was sent
    };

    // Each shows its one message box; the outcome is for the caller's use.
    // Both go to the unit address given.
    Outcome write(EditorView& view, int unit);
    Outcome erase(EditorView& view, int unit);

    // A text that puts back what a unit held (the command line's TEXT with
    // \xHH escapes, as read prints it) may hold control characters: they go
    // as they are. Off, a control character is refused as a typing slip.
    void setControlCharactersKept(bool on) { keepControlCharacters_ = on; }

    // Each confirmed write or erase is read back at once (LineOptions::verify)
    // and a slot that does not hold what was sent is reported, naming it.
    void setVerifyWrites(bool on) { verifyWrites_ = on; }
    // Erase asks first ("Erase the message of interlock 52-54 on unit 1?"),
    // as the window's Erase does; No is Refused, with nothing sent.
    void setConfirmErase(bool on) { confirmErase_ = on; }
    bool verifyWrites() const { return verifyWrites_; }

    // Hears every write and erase as it goes, then with its result (transport/ChangeRecord.h);
    // null (the default) records nothing. The unit's text before is not read.
    void setChangeRecord(ChangeRecord* record) { record_ = record; }

    // After PortFailed: the operator asked, in the failure box, for the port
    // to be opened again.
    bool reconnectAsked() const { return reconnectAsked_; }

private:
    bool ready(const UnitRun& run);
    // (The failed write of text to slot k is recorded.)
    bool delivered(UnitRun& run, const ReplyCheck& check, int k, const QString& text);
    void reportFailure(TransportStatus status, const QString& reason);
    // The length and character rules for the text typed for interlock k:
    // false, after the one box, when it cannot go; else bytes holds it.
    bool acceptText(int k, const QString& text, QByteArray& bytes, Outcome& refusal);
    // The read-back of slot k after sent (empty: an erase) was confirmed:
    // false, after its box, when the slot does not hold it.
    bool verified(UnitRun& run, int k, const QString& sent);
    // The read-back when it is asked for; the change recorded either way.
    bool proven(UnitRun& run, int k, const QString& sent);
    MessageTable& table_;
    Transport& transport_;
    RunStop stop_{transport_}; // nothing stops a single write; each run is its own
    Notices& notices_;
    RunPolicy policy_;
    LineActivity* activity_;
    ChangeRecord* record_ = nullptr;
    int selected_ = 0;
    bool reconnectAsked_ = false;
    bool keepControlCharacters_ = false;
    bool verifyWrites_ = false;
    bool confirmErase_ = false;
    size_t lengthErrors_ = 0; // the run's length refusals so far: the next shows the next text
    bool eraseConfirmed(int k, int unit);
};
