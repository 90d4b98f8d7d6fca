#pragma once
// The windows' interfaces for the command line: what the logic tells becomes
// lines on stderr; there is no bar or label to keep up. Nothing is asked:
// the commands run with plain policy values (kTerminalPolicy).

#include "startup/Operator.h"
#include "table/Editor.h"

#include <QString>

// Text in the locale's encoding; stdout carries only the data asked for.
// A stdout whose reader has gone ends the command (SignalWatch::deliver).
void printOut(const QString& line);
void printErr(const QString& line);
// Flushes stdout; the errno of the first write to it that failed, else 0.
int stdoutError();

// Prints every notice as "qv840ctl: Title: text", and one about a slot as
// "qv840ctl: slot 3 (42-3): Title: text".
class TerminalNotices : public Notices {
public:
    void tell(const QString& text, const QString& title, MsgIcon icon) override;
    void tellAboutSlot(int slot, const QString& text, const QString& title, MsgIcon icon) override;
};

// A command goes on past a silent slot (each is told), and nobody is asked
// to reconnect or to confirm.
inline const RunPolicy kTerminalPolicy{RunPolicy::AfterSilence::GoOn, nullptr};

// The editor's text box holds the TEXT of the command line.
class TerminalEditorView : public EditorView {
public:
    explicit TerminalEditorView(QString text) : text_(std::move(text)) {}
    QString newText() const override { return text_; }
    void clearNewText() override { text_.clear(); }

private:
    QString text_;
};
