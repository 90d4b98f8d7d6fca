#pragma once
// The single-message editor's logic: write or erase the message of the
// selected interlock, with the rotating length-error messages.

#include "startup/Operator.h"
#include "startup/SharedState.h"
#include "table/MessageTableView.h"
#include "transport/Transport.h"

class CommsClock;

class EditorView {
public:
    virtual ~EditorView() = default;
    virtual QString newText() const = 0; // Text1
    virtual void clearNewText() = 0;
    virtual void setCurrentValue(const QString& text) = 0; // lblCurrentValue
};

class Editor {
public:
    Editor(SharedState& state, Transport& transport, MessageTableView& table, Operator& op,
           CommsClock* clock = nullptr);

    // The interlock write and erase act on (SelectedInterlock).
    int selected() const { return state_.SelectedInterlock; }
    void select(int k) { state_.SelectedInterlock = static_cast<std::int16_t>(k); }
    int unitAddress() const { return state_.UnitAddress; }

    // Opening: the terminal name and current message of SelectedInterlock.
    QString terminalName() const;
    QString currentMessage() const;

    enum class Outcome {
        Delivered,    // the unit answered: the table and the labels changed
        NotDelivered, // no answer: nothing changed
        LengthError,  // write: 0 or over 40 characters, nothing sent
        BadCharacter, // write: a character that cannot be sent, nothing sent
        Refused,      // link busy, no port, or no valid selection: nothing sent
        PortFailed,   // the port failed during the exchange
    };

    // Each shows its one message box; the outcome is for the caller's use.
    Outcome write(EditorView& view); // cmdWrite
    Outcome erase(EditorView& view); // cmdErase

    // Kept for the whole run, across openings of the editor.
    int LengthErrorCount = 0;

    // After PortFailed: the operator asked, in the failure box, for the port
    // to be opened again.
    bool reconnectAsked() const { return reconnectAsked_; }

private:
    bool ready(const TransportClaim& claim);
    void reportFailure(TransportStatus status, const QString& reason);
    // The length and character rules for the text typed for interlock k:
    // false, after the one box, when it cannot go; else bytes holds it.
    bool acceptText(int k, const QString& text, QByteArray& bytes, Outcome& refusal);
    SharedState& state_;
    Transport& transport_;
    MessageTableView& table_;
    Operator& op_;
    CommsClock* clock_;
    bool reconnectAsked_ = false;
};
