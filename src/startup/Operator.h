#pragma once
// The operator as the logic sees them: message boxes with an exact text,
// title, icon and button set. The windows show QMessageBox; the command line
// prints; tests record and answer as scripted.

#include <QString>

enum class MsgIcon { None, Information, Exclamation, Question, Critical };
// YesNo answers Ok for Yes and Cancel for No, and defaults to No.
// OkCancelIgnoreAll adds "Ignore All": go on without asking again.
// OkReconnect adds "Reconnect" to a port failure: open the same port again.
enum class MsgButtons { Ok, OkCancel, YesNo, OkCancelIgnoreAll, OkReconnect };
enum class MsgAnswer { Ok, Cancel, IgnoreAll, Reconnect };

class Operator {
public:
    virtual ~Operator() = default;
    // Shows one box and returns the button pressed. An empty title means the
    // program's own title, "QV840N".
    virtual MsgAnswer message(const QString& text, const QString& title, MsgIcon icon,
                              MsgButtons buttons) = 0;

    void inform(const QString& text, const QString& title = {}, MsgIcon icon = MsgIcon::None) {
        message(text, title, icon, MsgButtons::Ok);
    }
    bool askOkCancel(const QString& text, const QString& title, MsgIcon icon = MsgIcon::None) {
        return message(text, title, icon, MsgButtons::OkCancel) == MsgAnswer::Ok;
    }
};
