#include "table/BulkRunner.h"

#include <algorithm>

BulkResult BulkRunner::run(BulkKind kind, int unit) {
    BulkResult result;
    switch (kind) {
    case BulkKind::ReadAll:
        table_.forgetFile(); // the table now comes from the unit
        result = ops_.readAll(unit);
        break;
    case BulkKind::WriteAll:
        result = ops_.writeAll(unit);
        break;
    case BulkKind::EraseAll:
        result = ops_.eraseAll(unit);
        break;
    }
    noteOnUnit(kind, result);
    return result;
}

void BulkRunner::noteOnUnit(BulkKind kind, const BulkResult& result) {
    // A whole read or erase: every slot that did not fail. Write all sends
    // nothing for an entry at its default, so the unit may hold anything
    // there: only the slots written count. Any other end: the slots the unit
    // confirmed.
    for (int k = 0; k < kInterlockCount; ++k) {
        const bool failed = result.silent.contains(k) || result.invalid.contains(k) ||
                            std::any_of(result.rejected.cbegin(), result.rejected.cend(),
                                        [k](const RejectedReply& x) { return x.interlock == k; });
        const bool whole =
            result.outcome == BulkResult::Outcome::Completed && kind != BulkKind::WriteAll;
        const bool onUnit = whole ? !failed : result.done.contains(k);
        if (onUnit)
            table_.noteOnUnit(k);
    }
}

QString bulkVerb(BulkKind kind) {
    switch (kind) {
    case BulkKind::ReadAll:
        return QStringLiteral("Read All");
    case BulkKind::WriteAll:
        return QStringLiteral("Write All");
    case BulkKind::EraseAll:
        break;
    }
    return QStringLiteral("Erase All");
}

namespace {
QString howItEnded(BulkResult::Outcome outcome) {
    switch (outcome) {
    case BulkResult::Outcome::Completed:
        break;
    case BulkResult::Outcome::Stopped:
        return QStringLiteral("stopped, ");
    case BulkResult::Outcome::Cancelled:
        return QStringLiteral("cancelled, ");
    case BulkResult::Outcome::PortFailed:
        return QStringLiteral("port failed, ");
    case BulkResult::Outcome::Refused:
        return QStringLiteral("not started, ");
    }
    return {};
}
} // namespace

QString bulkOutcomeText(BulkKind kind, const BulkResult& result, const QTime& when) {
    if (kind == BulkKind::WriteAll) // "Write All: 3 written, 17 unchanged, 14:02"
        return QStringLiteral("%1: %2%3, %4")
            .arg(bulkVerb(kind), howItEnded(result.outcome), writeAllSummary(result),
                 when.toString(QStringLiteral("HH:mm")));
    const QString done = kind == BulkKind::ReadAll    ? QStringLiteral("read")
                         : kind == BulkKind::WriteAll ? QStringLiteral("written")
                                                      : QStringLiteral("erased");
    return QStringLiteral("%1: %2%3 of %4 %5, %6")
        .arg(bulkVerb(kind), howItEnded(result.outcome))
        .arg(result.done.size())
        .arg(kInterlockCount)
        .arg(done, when.toString(QStringLiteral("HH:mm")));
}
