#include "table/Editor.h"

#include "modbus/Pdu.h"
#include "startup/CodePage.h"
#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "startup/UnitText.h"
#include "table/BulkRun.h"
#include "transport/PortTexts.h"

#include <array>

namespace {

// Each rejected attempt shows the next of these, round and round.
const std::array<QString, 4> kLengthErrors = {
    QStringLiteral("The message length must be greater than 0 and no more than %1 characters")
        .arg(kMessageMaxLength),
    QStringLiteral("Still not correct length! Have you read QVIB-5170"),
    QStringLiteral("Hey, I can do this all day, can you?"),
    QStringLiteral("Are you losing your patience yet?"),
};

const QString kLengthErrorTitle = QStringLiteral("Write Message Length Error");

bool validIndex(int k) {
    return k >= 0 && k < kInterlockCount;
}

} // namespace

Editor::Editor(MessageTable& table, Transport& transport, Operator& op, LineActivity* activity)
    : Editor(table, transport, op, RunPolicy::asking(op), activity) {}

Editor::Editor(MessageTable& table, Transport& transport, Notices& notices, RunPolicy policy,
               LineActivity* activity)
    : table_(table), transport_(transport), notices_(notices), policy_(policy),
      activity_(activity) {}

QString Editor::terminalName() const {
    return validIndex(selected_) ? table_.terminal(selected_) : QString();
}

QString Editor::currentMessage() const {
    return validIndex(selected_) ? table_.text(selected_) : QString();
}

bool Editor::ready(const UnitRun& run) {
    if (!run.claimed()) {
        notices_.tell(PortTexts::busy(), {}, MsgIcon::Exclamation);
        return false;
    }
    if (!run.isOpen()) {
        // A port that failed while idle may come back.
        reconnectAsked_ = PortTexts::tellNotOpen(notices_, policy_, run.endpointName());
        return false;
    }
    return true;
}

void Editor::reportFailure(TransportStatus status, const QString& reason) {
    const bool busy = status == TransportStatus::Busy;
    // A port that failed may come back: the box offers to open it again.
    const QString name = transport_.endpointName();
    const QString text = PortTexts::failed(name, busy ? PortTexts::busy() : reason);
    if (busy)
        notices_.tell(text, PortTexts::failedTitle(name), MsgIcon::Critical);
    else
        reconnectAsked_ =
            policy_.offerReconnect(notices_, text, PortTexts::failedTitle(name), MsgIcon::Critical);
}

bool Editor::acceptText(int k, const QString& text, QByteArray& bytes, Outcome& refusal) {
    using UnitText::Fault;
    // A control character would reach the unit as a command and 'ÿ' reads
    // back as the end of the text: the unit takes printable characters only.
    const UnitText::Verdict v = UnitText::judge(
        text, keepControlCharacters_ ? UnitText::Source::Held : UnitText::Source::Typed);
    // The length rule holds whether or not a port is open.
    if (v.fault == Fault::Empty || v.fault == Fault::TooLong) {
        const size_t n = lengthErrors_ % kLengthErrors.size();
        lengthErrors_ = n + 1;
        notices_.tell(kLengthErrors[n], kLengthErrorTitle, MsgIcon::Exclamation);
        refusal = Outcome::LengthError;
        return false;
    }
    QString bad;
    if (v.fault == Fault::EndsText || v.fault == Fault::Control)
        bad = QStringLiteral("The message for interlock %1 holds %2 at position %3, "
                             "which cannot be sent: the unit shows only printable characters.")
                  .arg(terminalCaption(k), MessageText::describeUnsendable(v.character))
                  .arg(v.position + 1);
    else if (v.fault == Fault::NoCode)
        bad = QStringLiteral("The character %1 at position %2 has no code in Windows-1252, so "
                             "the unit cannot show it.")
                  .arg(CodePage::describe(v.character))
                  .arg(v.position + 1);
    if (!bad.isEmpty()) {
        notices_.tell(bad + QStringLiteral("\r\nNothing was sent."),
                      QStringLiteral("Write Message Character Error"), MsgIcon::Exclamation);
        refusal = Outcome::BadCharacter;
        return false;
    }
    bytes = CodePage::encode(text).bytes;
    return true;
}

// False, after its box, when the unit did not confirm a write.
bool Editor::delivered(UnitRun& run, const ReplyCheck& check, int k, const QString& text) {
    if (check.confirmed())
        return true;
    run.noteChange(k, QString(), text, ChangeResult::ofReply(check));
    const QString why =
        check.verdict == ReplyCheck::Verdict::Silent
            ? QStringLiteral("No reply received from QV840!\r\nCheck communications!")
            : QStringLiteral("The QV840 did not confirm the message: %1.\r\n"
                             "Check communications!")
                  .arg(check.reason());
    notices_.tell(why, QStringLiteral("Message Not Delivered"), MsgIcon::Exclamation);
    return false;
}

bool Editor::proven(UnitRun& run, int k, const QString& sent) {
    if (verifyWrites_)
        return verified(run, k, sent);
    run.noteChange(k, QString(), sent, ChangeResult::done(sent));
    return true;
}

bool Editor::verified(UnitRun& run, int k, const QString& sent) {
    const auto mismatch = readBackWritten(run, k, sent);
    run.noteChange(k, QString(), sent,
                   mismatch ? ChangeResult::differs(mismatch->readBack, mismatch->unread)
                            : ChangeResult::done(sent));
    if (!mismatch)
        return true;
    // The table holds what the unit holds, when that is known.
    if (!mismatch->unread)
        table_.setText(k, UnitText::entryFor(mismatch->readBack, table_.defaultText(k)));
    notices_.tell(mismatchText({*mismatch}), QStringLiteral("Message Not Verified"),
                  MsgIcon::Exclamation);
    return false;
}

Editor::Outcome Editor::write(EditorView& view, int unit) {
    reconnectAsked_ = false;
    const int k = selected_;
    if (!validIndex(k))
        return Outcome::Refused;
    UnitRun run(transport_, stop_, unit, record_);
    if (!run.claimed()) {
        ready(run);
        return Outcome::Refused;
    }
    if (run.isOpen()) {
        const TransportStatus s = run.prepare();
        if (s != TransportStatus::Ok) {
            reportFailure(s, run.reason(s));
            return Outcome::PortFailed;
        }
    }

    const QString text = view.newText();
    QByteArray bytes;
    Outcome refusal = Outcome::Refused;
    if (!acceptText(k, text, bytes, refusal))
        return refusal;
    if (!ready(run))
        return Outcome::Refused;

    LineBusyScope busy(activity_);
    const QByteArray request = Pdu::writeMessage(messageRegister(k), bytes);
    run.noteSent(k, QString(), text); // before it goes
    const Transaction t = run.exchange(request);
    if (!t.ok()) {
        run.noteChange(k, QString(), text, ChangeResult::ofLine(t.status, run.reason(t.status)));
        reportFailure(t.status, run.reason(t.status));
        return Outcome::PortFailed;
    }
    if (!delivered(run, t.check, k, text))
        return Outcome::NotDelivered;
    table_.setText(k, text);
    view.clearNewText();
    if (!proven(run, k, text))
        return Outcome::NotVerified;
    notices_.tell(QStringLiteral("Seems like message received and stored in QV840"),
                  QStringLiteral("Message Delivered"), MsgIcon::Information);
    return Outcome::Delivered;
}

bool Editor::eraseConfirmed(int k, int unit) {
    return !confirmErase_ || !policy_.asked ||
           policy_.asked->message(
               QStringLiteral("Erase the message of interlock %1 on unit %2?\r\nThe unit "
                              "shows its default \"%3\" again.")
                   .arg(terminalCaption(k))
                   .arg(unit)
                   .arg(MessageText::escaped(table_.defaultText(k))),
               QStringLiteral("Erase Message"), MsgIcon::Question,
               MsgButtons::YesNo) == MsgAnswer::Ok;
}

Editor::Outcome Editor::erase(EditorView& view, int unit) {
    reconnectAsked_ = false;
    const int k = selected_;
    if (!validIndex(k) || !eraseConfirmed(k, unit))
        return Outcome::Refused;
    const int reg = messageRegister(k);
    UnitRun run(transport_, stop_, unit, record_);
    if (!ready(run))
        return Outcome::Refused;
    const TransportStatus s = run.prepare();
    if (s != TransportStatus::Ok) {
        reportFailure(s, run.reason(s));
        return Outcome::PortFailed;
    }
    view.clearNewText();
    LineBusyScope busy(activity_);
    const QByteArray request = Pdu::eraseMessage(reg);
    run.noteSent(k, QString(), QString()); // before it goes
    const Transaction t = run.exchange(request);
    if (!t.ok()) {
        run.noteChange(k, QString(), QString(),
                       ChangeResult::ofLine(t.status, run.reason(t.status)));
        reportFailure(t.status, run.reason(t.status));
        return Outcome::PortFailed;
    }
    Outcome outcome = Outcome::NotDelivered;
    QString text = QStringLiteral("Erase Not Completed");
    const ReplyCheck check = t.check;
    if (check.confirmed()) {
        table_.setText(k, UnitText::entryFor({}, table_.defaultText(k)));
        if (!proven(run, k, QString()))
            return Outcome::NotVerified;
        text = QStringLiteral("Erase Successfully Completed");
        outcome = Outcome::Delivered;
    } else {
        run.noteChange(k, QString(), QString(), ChangeResult::ofReply(check));
        if (check.verdict != ReplyCheck::Verdict::Silent)
            text +=
                QStringLiteral("\r\nThe unit's reply could not be used: %1.").arg(check.reason());
    }
    notices_.tell(text, {}, MsgIcon::None);
    return outcome;
}
