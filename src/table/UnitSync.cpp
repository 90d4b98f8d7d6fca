#include "table/UnitSync.h"

#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "startup/UnitText.h"

#include <QStringList>

#include <algorithm>

namespace {

const QString kHeldBackTitle = QStringLiteral("Messages Not Written");

QString shown(const QString& text, const QString& defaultText) {
    if (UnitText::slotContent(text, defaultText).isEmpty())
        return QStringLiteral("nothing (the default \"%1\")")
            .arg(MessageText::escaped(defaultText));
    return QLatin1Char('"') + MessageText::escaped(text) + QLatin1Char('"');
}

// Slot k is no longer one that did not answer or answered badly.
void forgetSlot(BulkResult& r, int k) {
    r.silent.removeAll(k);
    r.rejected.erase(std::remove_if(r.rejected.begin(), r.rejected.end(),
                                    [k](const RejectedReply& x) { return x.interlock == k; }),
                     r.rejected.end());
}

SlotDifference differenceAt(int k, const QString& onUnit, const QString& entry,
                            const QString& defaultText) {
    return SlotDifference{k, terminalCaption(k), onUnit, entry, defaultText, false};
}

} // namespace

QString differenceText(const SlotDifference& d) {
    const QString unit = d.unread ? QStringLiteral("could not be read")
                                  : QStringLiteral("on the unit ") + shown(d.onUnit, d.defaultText);
    return QStringLiteral("interlock %1: %2, in the file %3")
        .arg(d.terminal, unit, shown(d.inTable, d.defaultText));
}

bool CompareResult::matches() const {
    return run.outcome == BulkResult::Outcome::Completed && run.silent.isEmpty() &&
           run.rejected.isEmpty() && run.done.size() == kInterlockCount && differences.isEmpty();
}

bool RestoreResult::restored() const {
    return run.outcome == BulkResult::Outcome::Completed && !readFailed && invalid.isEmpty() &&
           differences.isEmpty() && run.silent.isEmpty() && run.rejected.isEmpty() &&
           written.size() + erased.size() + unchanged.size() + skipped.size() == kInterlockCount;
}

QString compareSummary(const CompareResult& result) {
    const int unread = kInterlockCount - static_cast<int>(result.run.done.size());
    if (result.matches())
        return QStringLiteral("%1 of %1 slots as in the file").arg(kInterlockCount);
    if (result.run.done.isEmpty()) // nothing was compared: say why, not "0 differ"
        return result.run.rejected.isEmpty()
                   ? QStringLiteral("the unit did not answer: no slot was compared")
                   : QStringLiteral("no reply of the unit could be used: no slot was compared");
    QString text =
        QStringLiteral("%1 of %2 slots differ").arg(result.differences.size()).arg(kInterlockCount);
    if (unread > 0)
        text += QStringLiteral(", %1 not read").arg(unread);
    return text;
}

QString restoreSummary(const RestoreResult& result) {
    if (!result.invalid.isEmpty())
        return QStringLiteral("nothing written: %1 no slot can hold")
            .arg(result.invalid.size() == 1
                     ? QStringLiteral("1 entry")
                     : QStringLiteral("%1 entries").arg(result.invalid.size()));
    if (result.readFailed) {
        const qsizetype unread = result.run.silent.size() + result.run.rejected.size();
        return QStringLiteral("nothing written: %1 could not be read")
            .arg(unread == 1 ? QStringLiteral("1 slot") : QStringLiteral("%1 slots").arg(unread));
    }
    const bool stopped = result.run.outcome == BulkResult::Outcome::Stopped;
    QString text = QStringLiteral("%1%2 written, %3 erased, %4 unchanged")
                       .arg(stopped ? QStringLiteral("stopped, ") : QString())
                       .arg(result.written.size())
                       .arg(result.erased.size())
                       .arg(result.unchanged.size());
    if (!result.differences.isEmpty())
        text += QStringLiteral(", %1 still %2")
                    .arg(result.differences.size())
                    .arg(result.differences.size() == 1 ? QStringLiteral("differs")
                                                        : QStringLiteral("differ"));
    if (!result.skipped.isEmpty())
        text += QStringLiteral(", %1 not chosen").arg(result.skipped.size());
    // A stop leaves chosen slots that were never sent (or sent and not confirmed).
    const qsizetype left = kInterlockCount - result.skipped.size() - result.written.size() -
                           result.erased.size() - result.unchanged.size() -
                           result.differences.size();
    if (stopped && left > 0)
        text += QStringLiteral(", %1 not written").arg(left);
    return text;
}

UnitSync::UnitSync(Transport& transport, ProgressView& view, Operator& op, LineActivity* activity)
    : UnitSync(transport, &view, op, RunPolicy::asking(op), activity) {}

UnitSync::UnitSync(Transport& transport, ProgressView* progress, Notices& notices, RunPolicy policy,
                   LineActivity* activity)
    : transport_(transport), view_(progress), notices_(notices), policy_(policy),
      activity_(activity) {}

QVector<int> UnitSync::allSlots() {
    QVector<int> all(kInterlockCount);
    for (int k = 0; k < kInterlockCount; ++k)
        all[k] = k;
    return all;
}

// Reads each chosen slot into onUnit (an empty text for the empty slot,
// nothing for a slot that did not answer usably), the bar going up to
// percentOfRead; neighbouring slots go in one request where block reads are
// on. The slots read count as done. True when every one was read.
bool UnitSync::readUnit(BulkRun& run, UnitImage& onUnit, BulkResult& r, int percentOfRead,
                        const QVector<int>& chosen) {
    const auto percent = [&](int j) { return percentOfRead * (j + 1) / int(chosen.size()); };
    for (int j = 0; j < chosen.size() && !run.ended();) {
        int last = j; // the run of neighbours from chosen[j]
        while (last + 1 < chosen.size() && chosen[last + 1] == chosen[last] + 1)
            ++last;
        run.advanceTo(chosen[j], percent(j));
        const std::optional<SlotsRead> read = run.readSlots(chosen[j], chosen[last]);
        if (!read || read->count() == 0)
            break;
        if (j == 0)
            r.presence =
                read->silent ? BulkResult::Presence::Absent : BulkResult::Presence::Answers;
        if (j == 0 && read->silent && endIfAbsent_) {
            r.outcome = BulkResult::Outcome::Cancelled;
            return false;
        }
        for (int i = 0; i < read->count(); ++i) {
            const int k = read->first + i;
            if (i > 0)
                run.advanceTo(k, percent(j + i));
            onUnit[size_t(k)] = read->texts[i];
            if (onUnit[size_t(k)])
                r.done.append(k);
        }
        j += read->count();
    }
    return r.done.size() == chosen.size();
}

CompareResult UnitSync::compare(int unit, const TextTable& table, const TextTable& defaults) {
    CompareResult r;
    BulkRun run(parts(), r.run, unit);
    if (!run.available())
        return r;
    UnitImage onUnit;
    if (run.prepare(false)) {
        if (!readUnit(run, onUnit, r.run, 100, allSlots()) && r.run.endedAbsent()) {
            run.finish(QStringLiteral("compared"), false);
            return r;
        }
        for (int k = 0; k < kInterlockCount; ++k) {
            const auto& held = onUnit[size_t(k)];
            if (held && !UnitText::same(*held, table[size_t(k)], defaults[size_t(k)]))
                r.differences << differenceAt(k, *held, table[size_t(k)], defaults[size_t(k)]);
        }
    }
    run.finish(QStringLiteral("compared"));
    return r;
}

QStringList restoreProblems(const TextTable& table, const TextTable& defaults,
                            QVector<int>* invalid) {
    QStringList problems;
    for (int k = 0; k < kInterlockCount; ++k) {
        const QString content = UnitText::slotContent(table[size_t(k)], defaults[size_t(k)]);
        if (const QString why = UnitText::holdProblem(content); !why.isEmpty()) {
            if (invalid)
                invalid->append(k);
            problems << interlockName(k) + QStringLiteral(": ") + why;
        }
    }
    return problems;
}

// Chosen entries no slot can hold refuse the restore, in one box; true then.
bool UnitSync::heldBack(const TextTable& table, const TextTable& defaults,
                        const QVector<int>& chosen, RestoreResult& r) {
    TextTable checked = defaults; // a slot not chosen gets nothing, so it is no problem
    for (int k : chosen)
        checked[size_t(k)] = table[size_t(k)];
    const QStringList problems = restoreProblems(checked, defaults, &r.invalid);
    if (problems.isEmpty())
        return false;
    r.run.outcome = BulkResult::Outcome::Refused;
    r.run.invalid = r.invalid;
    notices_.tell(QStringLiteral("These messages cannot be restored to the unit:\r\n") +
                      problems.join(QStringLiteral(".\r\n")) +
                      QStringLiteral(".\r\nNothing was written."),
                  kHeldBackTitle, MsgIcon::Exclamation);
    return true;
}

// Slot k held before; it is written (or erased), then read back.
void UnitSync::restoreSlot(BulkRun& run, int k, const QString& before, const QString& entry,
                           const QString& defaultText, RestoreResult& r) {
    const QString content = UnitText::slotContent(entry, defaultText);
    const bool confirmed = run.writeSlot(k, content, before);
    if (!confirmed && run.ended())
        return;
    // A write the unit did not confirm may still have been stored: what the
    // slot holds is read again, never assumed.
    const auto mismatch = run.readBack(k, content);
    if (!confirmed && !mismatch && !run.ended()) {
        forgetSlot(r.run, k); // it holds the entry: the write took, though unconfirmed
    } else if (!confirmed) {
        if (mismatch) {
            SlotDifference d = differenceAt(k, mismatch->readBack, entry, defaultText);
            d.unread = mismatch->unread;
            r.differences << d;
        }
        return;
    }
    r.run.done << k;
    // Confirmed by the unit: written, even when a stop came before the read-back.
    if (mismatch) {
        run.noteChange(k, before, content,
                       ChangeResult::differs(mismatch->readBack, mismatch->unread));
        r.run.mismatched << *mismatch;
        SlotDifference d = differenceAt(k, mismatch->readBack, entry, defaultText);
        d.unread = mismatch->unread;
        r.differences << d;
        return;
    }
    run.noteChange(k, before, content, ChangeResult::done(content));
    (content.isEmpty() ? r.erased : r.written) << k;
}

RestoreResult UnitSync::restore(int unit, const TextTable& table, const TextTable& defaults,
                                const QVector<int>& choice) {
    RestoreResult r;
    QVector<int> chosen; // in slot order, each once
    for (int k = 0; k < kInterlockCount; ++k)
        (choice.contains(k) ? chosen : r.skipped) << k;
    BulkRun run(parts(), r.run, unit);
    if (!run.available() || heldBack(table, defaults, chosen, r))
        return r;
    UnitImage onUnit;
    const bool read = run.prepare(true) && readUnit(run, onUnit, r.run, 50, chosen);
    r.run.done.clear(); // from here on: the slots changed
    if (!read) {
        r.readFailed = !run.ended() && r.run.outcome == BulkResult::Outcome::Completed;
        run.finish(r.readFailed ? QStringLiteral("read; nothing was written")
                                : QStringLiteral("restored"),
                   !r.run.endedAbsent());
        return r;
    }
    QVector<int> todo;
    for (int k : chosen) {
        if (UnitText::same(*onUnit[size_t(k)], table[size_t(k)], defaults[size_t(k)]))
            r.unchanged << k;
        else
            todo << k;
    }
    for (int j = 0; j < todo.size() && !run.ended(); ++j) {
        const size_t k = size_t(todo[j]);
        run.advanceTo(todo[j], 50 + 50 * (j + 1) / int(todo.size()));
        restoreSlot(run, todo[j], *onUnit[k], table[k], defaults[k], r);
    }
    run.finish(QStringLiteral("restored"));
    return r;
}
