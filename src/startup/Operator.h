#pragma once
// The operator as the logic sees them: message boxes with an exact text,
// title, icon and button set. The windows show QMessageBox and ask; the
// command line and the whole line are only told (Notices), and their runs
// decide by a policy value; tests record and answer as scripted.

#include <QString>

enum class MsgIcon { None, Information, Exclamation, Question, Critical };
// YesNo answers Ok for Yes and Cancel for No, and defaults to No.
// OkCancelIgnoreAll adds "Ignore All": go on without asking again.
// OkReconnect adds "Reconnect" to a port failure: open the same port again.
enum class MsgButtons { Ok, OkCancel, YesNo, OkCancelIgnoreAll, OkReconnect };
enum class MsgAnswer { Ok, Cancel, IgnoreAll, Reconnect };

// What the logic tells, and asks nothing: a box the window shows, a line the
// command line prints, a note the whole line's list keeps. An empty title
// means the program's own title, "QV840N".
class Notices {
public:
    virtual ~Notices() = default;
    virtual void tell(const QString& text, const QString& title, MsgIcon icon) = 0;
    // A notice about one slot while a run works on it (the command line
    // names the slot before the text).
    virtual void tellAboutSlot(int slot, const QString& text, const QString& title, MsgIcon icon) {
        (void)slot;
        tell(text, title, icon);
    }
};

// The technician at the window, who is told and asked.
class Operator : public Notices {
public:
    // Shows one box and returns the button pressed.
    virtual MsgAnswer message(const QString& text, const QString& title, MsgIcon icon,
                              MsgButtons buttons) = 0;
    void tell(const QString& text, const QString& title, MsgIcon icon) override {
        message(text, title, icon, MsgButtons::Ok);
    }

    void inform(const QString& text, const QString& title = {}, MsgIcon icon = MsgIcon::None) {
        message(text, title, icon, MsgButtons::Ok);
    }
    bool askOkCancel(const QString& text, const QString& title, MsgIcon icon = MsgIcon::None) {
        return message(text, title, icon, MsgButtons::OkCancel) == MsgAnswer::Ok;
    }
};

// How an operation decides where the window asks the technician. The window's
// policy asks; the command line's and the whole line's are plain values.
struct RunPolicy {
    // After a request nothing answered: ask ("No data received" with OK,
    // Cancel and Ignore All), go on to the next slot (the silence is told), or
    // end the run there (the silence is only kept in the result).
    enum class AfterSilence { Ask, GoOn, End };
    AfterSilence afterSilence = AfterSilence::GoOn;
    // Who is asked: after silence (Ask), whether to open a failed port again,
    // whether to erase. Null: nobody is asked; a failed port is only told.
    Operator* asked = nullptr;

    static RunPolicy asking(Operator& op) { return {AfterSilence::Ask, &op}; }

    // Tells text; with someone to ask, the box offers Reconnect too. True
    // when Reconnect was chosen.
    bool offerReconnect(Notices& notices, const QString& text, const QString& title,
                        MsgIcon icon) const {
        if (!asked) {
            notices.tell(text, title, icon);
            return false;
        }
        return asked->message(text, title, icon, MsgButtons::OkReconnect) == MsgAnswer::Reconnect;
    }
};
