#pragma once
// The windows' interfaces for the command line: message boxes become lines
// on stderr, the table's labels are not shown, and the questions get the
// answer a script needs.

#include "startup/Operator.h"
#include "table/Editor.h"
#include "table/MessageTableView.h"

#include <QString>

// Text in the locale's encoding; stdout carries only the data asked for.
// A stdout whose reader has gone ends the command (SignalWatch::deliver).
void printOut(const QString& line);
void printErr(const QString& line);
// Flushes stdout; the errno of the first write to it that failed, else 0.
int stdoutError();

// Follows the bulk operations' progress to know which slot is being worked on.
class TerminalTable : public MessageTableView {
public:
    void setMessageLabel(int, const QString&) override {}
    void setProgress(int slot, int value) override;
    int currentSlot() const { return slot_; } // -1 outside an operation

private:
    int slot_ = -1;
};

// Prints every box as "qv840ctl: Title: text" and answers OK: a read-all goes
// on past a silent slot, whose number it names.
class TerminalOperator : public Operator {
public:
    explicit TerminalOperator(const TerminalTable* table = nullptr) : table_(table) {}
    MsgAnswer message(const QString& text, const QString& title, MsgIcon icon,
                      MsgButtons buttons) override;

private:
    const TerminalTable* table_;
};

// The editor's text box holds the TEXT of the command line.
class TerminalEditorView : public EditorView {
public:
    explicit TerminalEditorView(QString text) : text_(std::move(text)) {}
    QString newText() const override { return text_; }
    void clearNewText() override { text_.clear(); }
    void setCurrentValue(const QString&) override {}

private:
    QString text_;
};
