#pragma once
// The single-message editor's logic: write or erase the message of the
// selected interlock, with the rotating length-error messages.

#include "link/Link.h"
#include "startup/Operator.h"
#include "startup/SharedState.h"
#include "table/MessageTableView.h"

class CommsClock;

class EditorView {
public:
    virtual ~EditorView() = default;
    virtual QString newText() const = 0;                // Text1
    virtual void clearNewText() = 0;
    virtual void setCurrentValue(const QString& text) = 0; // lblCurrentValue
};

class Editor {
public:
    Editor(SharedState& state, Link& link, MessageTableView& table, Operator& op,
           CommsClock* clock = nullptr);

    // Opening: the terminal name and current message of SelectedInterlock.
    QString terminalName() const;
    QString currentMessage() const;

    void write(EditorView& view); // cmdWrite
    void erase(EditorView& view); // cmdErase

    // Kept for the whole run, across openings of the editor.
    int LengthErrorCount = 0;

private:
    SharedState& state_;
    Link& link_;
    MessageTableView& table_;
    Operator& op_;
    CommsClock* clock_;
};
