#include "table/BulkOperations.h"

#include "modbus/Pdu.h"
#include "startup/CodePage.h"
#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "startup/UnitText.h"

#include <QStringList>

namespace {

const QString kFaultTitle = QStringLiteral("Communication Fault");
const QString kNoDataText = QStringLiteral("No data received!\r\n"
                                           "Check connection, unit address, baud rate, com port\r\n"
                                           "And then try again later!");
const QString kHeldBackTitle = QStringLiteral("Messages Not Written");

} // namespace

QString sendProblem(const UnitText::Verdict& v) {
    using UnitText::Fault;
    switch (v.fault) {
    case Fault::None:
        break;
    case Fault::Empty:
        return QStringLiteral("the message is empty");
    case Fault::TooLong:
        return QStringLiteral("%1 characters, more than %2").arg(v.length).arg(kMessageMaxLength);
    case Fault::EndsText:
    case Fault::Control:
        return QStringLiteral("%1 at position %2 cannot be sent")
            .arg(MessageText::describeUnsendable(v.character))
            .arg(v.position + 1);
    case Fault::NoCode:
        return QStringLiteral("%1 has no code in Windows-1252")
            .arg(CodePage::describe(v.character));
    }
    return {};
}

QString writeAllProblem(const QString& entry, const QString& defaultText) {
    if (entry == defaultText)
        return {};
    // A table's control characters came from a unit (or a file's \xHH): they
    // go back as they are, as restore puts them back.
    return sendProblem(UnitText::judge(entry, UnitText::Source::Held));
}

QStringList writeAllProblems(const MessageTable& table, QVector<int>& invalid) {
    QStringList problems;
    for (int i = 0; i < kInterlockCount; ++i) {
        const QString why = writeAllProblem(table.text(i), table.defaultText(i));
        if (why.isEmpty())
            continue;
        invalid.append(i);
        problems << interlockName(i) + QStringLiteral(": ") + why;
    }
    return problems;
}

QString writeAllSummary(const BulkResult& result) {
    const int written = static_cast<int>(result.done.size());
    const int unchanged = static_cast<int>(result.unchanged.size());
    const int notWritten = kInterlockCount - written - unchanged;
    QString text = QStringLiteral("%1 written, %2 unchanged").arg(written).arg(unchanged);
    if (notWritten > 0)
        text += QStringLiteral(", %1 not written").arg(notWritten);
    return text;
}

BulkOperations::BulkOperations(MessageTable& table, Transport& transport, ProgressView& view,
                               Operator& op, LineActivity* activity)
    : BulkOperations(table, transport, &view, op, RunPolicy::asking(op), activity) {}

BulkOperations::BulkOperations(MessageTable& table, Transport& transport, ProgressView* progress,
                               Notices& notices, RunPolicy policy, LineActivity* activity)
    : table_(table), transport_(transport), view_(progress), notices_(notices), policy_(policy),
      activity_(activity) {}

// After a request nothing answered, as the policy says: the "No data
// received" box until the operator chooses Ignore All (false after Cancel),
// the same words told and on to the next slot, or the run ends there.
bool BulkOperations::askAfterSilence(const BulkRun& run, const SlotsRead& read, bool& ask,
                                     BulkResult& r) {
    if (!read.silent || !ask)
        return true;
    const int last = read.first + read.count() - 1;
    const QString which = read.count() == 1
                              ? interlockName(read.first)
                              : QStringLiteral("interlocks %1 to %2")
                                    .arg(terminalCaption(read.first), terminalCaption(last));
    const QString text =
        kNoDataText +
        QStringLiteral("\r\nNo answer for %1 at unit address %2.").arg(which).arg(run.unit());
    using After = RunPolicy::AfterSilence;
    MsgAnswer a = MsgAnswer::Ok;
    if (policy_.afterSilence == After::End) {
        r.silenceEnded = text;
        a = MsgAnswer::Cancel;
    } else if (policy_.afterSilence == After::Ask && policy_.asked) {
        a = policy_.asked->message(text, kFaultTitle, MsgIcon::Exclamation,
                                   MsgButtons::OkCancelIgnoreAll);
    } else {
        notices_.tellAboutSlot(read.first, text, kFaultTitle, MsgIcon::Exclamation);
    }
    if (a == MsgAnswer::Cancel) {
        r.outcome = BulkResult::Outcome::Cancelled;
        return false;
    }
    ask = a != MsgAnswer::IgnoreAll;
    return true;
}

// One request of read all, for slot next (and with block reads the slots
// after it); next moves past the slots it covered. False when the run is
// over (the line, a stop, Cancel, a refusal of block reads).
bool BulkOperations::readSlotsInto(BulkRun& run, int& next, bool& ask, BulkResult& r) {
    run.advance(next);
    const std::optional<SlotsRead> read = run.readSlots(next, kInterlockCount - 1);
    if (!read)
        return false;
    next = read->first + read->count();
    // A gateway's "no answer" is silence too, though bytes came.
    if (!askAfterSilence(run, *read, ask, r))
        return false;
    for (int j = 0; j < read->count(); ++j) {
        const int i = read->first + j;
        if (j > 0)
            run.advance(i);
        const std::optional<QString>& text = read->texts[j];
        if (!text)
            continue;
        // The table holds what the unit holds: an empty slot is its default,
        // as its label shows, whatever the entry was before (a file opened). A
        // text is taken as the unit holds it, control characters too: the
        // label shows them escaped.
        r.done.append(i);
        table_.setText(i, UnitText::entryFor(*text, table_.defaultText(i)));
    }
    return true;
}

BulkResult BulkOperations::readAll(int unit) {
    BulkResult r;
    BulkRun run(parts(), r, unit);
    if (!run.available())
        return r;
    bool ask = true; // until the operator chooses Ignore All for this run
    if (run.prepare(false))
        for (int next = 0; next < kInterlockCount;)
            if (!readSlotsInto(run, next, ask, r))
                break;
    // The slots passed over unasked are listed once at the end.
    run.finish(QStringLiteral("read"), !ask);
    return r;
}

// One pass of write all: an entry equal to its default is unchanged, any
// other is sent, and read back when that is asked for.
void BulkOperations::writeSlotFrom(BulkRun& run, int i, BulkResult& r) {
    const QString text = table_.text(i);
    if (text == table_.defaultText(i)) {
        r.unchanged.append(i);
        return;
    }
    // A file opened while this runs may have changed the entry since it was
    // checked; a bad frame must still never go out.
    if (!writeAllProblem(text, table_.defaultText(i)).isEmpty()) {
        r.invalid.append(i);
        return;
    }
    if (!run.writeSlot(i, text))
        return;
    // A stop before the read-back leaves the write as the unit confirmed it.
    if (verifyWrites_) {
        if (const auto mismatch = run.readBack(i, text)) {
            r.mismatched.append(*mismatch);
            run.noteChange(i, {}, text,
                           ChangeResult::differs(mismatch->readBack, mismatch->unread));
            return;
        }
    }
    r.done.append(i);
    run.noteChange(i, {}, text, ChangeResult::done(text));
}

BulkResult BulkOperations::writeAll(int unit) {
    BulkResult r;
    BulkRun run(parts(), r, unit);
    if (!run.available())
        return r;

    // An empty entry would ask for 0 registers and one over 40 characters would
    // run into the next slot, so nothing goes out until every entry can.
    const QStringList problems = writeAllProblems(table_, r.invalid);
    if (!r.invalid.isEmpty()) {
        r.outcome = BulkResult::Outcome::Refused;
        notices_.tell(QStringLiteral("These messages cannot be written to the unit:\r\n") +
                          problems.join(QStringLiteral(".\r\n")) +
                          QStringLiteral(".\r\nNothing was written. Correct them and try again."),
                      kHeldBackTitle, MsgIcon::Exclamation);
        return r;
    }

    if (run.prepare(true)) {
        for (int next = 0; next < kInterlockCount && !run.ended(); ++next) {
            run.advance(next);
            writeSlotFrom(run, next, r);
        }
    }
    run.finish(QStringLiteral("written"));
    return r;
}

BulkResult BulkOperations::eraseAll(int unit) {
    BulkResult r;
    BulkRun run(parts(), r, unit);
    if (!run.available())
        return r;
    if (run.prepare(true)) {
        for (int i = 0; i < kInterlockCount; ++i) {
            run.advance(i);
            if (!run.writeSlot(i, QString())) {
                if (run.ended())
                    break;
                continue;
            }
            r.done.append(i);
            run.noteChange(i, {}, {}, ChangeResult::done({}));
            table_.setText(i, UnitText::entryFor({}, table_.defaultText(i)));
        }
    }
    run.finish(QStringLiteral("erased"));
    return r;
}
