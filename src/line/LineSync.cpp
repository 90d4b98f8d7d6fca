// The line's compare and restore: each unit's file against the unit.

#include "line/LineRun.h"

#include "modbus/Pdu.h"
#include "transport/ChangeRecord.h"
#include "transport/Transport.h"

#include <tuple>

// One read of slot 0, after the pause: a unit that gives no answer at all (a
// gateway's "no answer" too) costs one request, not twenty.
LineRun::Presence LineRun::presence(int unit, QString& why) {
    const FailureWatch watch(transport_);
    const QByteArray request = Pdu::readMessage(messageRegister(0));
    const TransportClaim claim(transport_);
    Transaction t;
    t.status = claim.ok() ? transport_.bulkPause() : TransportStatus::Busy;
    if (t.status == TransportStatus::Ok)
        t = transport_.transact(unit, request);
    if (t.ok())
        return checkReply(t, request).verdict == ReplyCheck::Verdict::Silent ? Presence::Silent
                                                                             : Presence::Answers;
    why = t.status == TransportStatus::Stopped ? QString() : watch.reason(t.status);
    return Presence::Ended;
}

namespace {

// How a compare or restore of one unit ended when it did not run through.
QString unfinished(const BulkResult& r) {
    if (r.outcome == BulkResult::Outcome::Stopped)
        return QStringLiteral("stopped");
    if (r.outcome == BulkResult::Outcome::PortFailed)
        return QStringLiteral("the port failed");
    return r.blockReadsRefused ? QStringLiteral("refused block reads") : r.error;
}

} // namespace

LineUnitResult LineRun::syncUnit(const UnitFile& file, bool restore, bool& ends) {
    LineUnitResult u;
    u.unit = file.unit;
    u.file = file.file;
    QString why;
    const Presence there = presence(file.unit, why);
    ends = there == Presence::Ended && !why.isEmpty();
    if (there != Presence::Answers) {
        u.result = there == Presence::Silent ? QStringLiteral("did not answer")
                   : ends                    ? why
                                             : QStringLiteral("stopped");
        return u;
    }
    u.answered = true;
    UnitSync sync(transport_, *slots_, *boxes_);
    sync.setBlockReads(blockReads_);
    sync.setChangeRecord(restore ? record_ : nullptr); // a compare writes nothing
    sync_ = &sync;
    BulkResult run;
    QString summary;
    if (restore) {
        const RestoreResult r = sync.restore(file.unit, file.table, defaults_);
        std::tie(u.ok, u.differences, summary, run) =
            std::make_tuple(r.restored(), r.differences, restoreSummary(r), r.run);
    } else {
        const CompareResult r = sync.compare(file.unit, file.table, defaults_);
        std::tie(u.ok, u.differences, summary, run) =
            std::make_tuple(r.matches(), r.differences, compareSummary(r), r.run);
    }
    sync_ = nullptr;
    ends = run.outcome == BulkResult::Outcome::PortFailed;
    u.result = run.outcome == BulkResult::Outcome::Completed ? summary : unfinished(run);
    return u;
}

LineReport LineRun::syncLine(const QVector<UnitFile>& files, bool restore) {
    LineReport report;
    if (!startRun(report, int(files.size())))
        return report;
    for (int i = 0; i < files.size() && !stop_; ++i) {
        boxes_->startUnit(files[i].unit);
        slots_->startUnit(files[i].unit, i);
        bool ends = false;
        const LineUnitResult r = syncUnit(files[i], restore, ends);
        if (!finishUnit(r, report, ends))
            break;
    }
    if (stop_ && report.outcome == LineReport::Outcome::Finished)
        report.outcome = LineReport::Outcome::Stopped;
    return report;
}

LineReport LineRun::compare(const QVector<UnitFile>& files) {
    return syncLine(files, false);
}

LineReport LineRun::restore(const QVector<UnitFile>& files) {
    return syncLine(files, true);
}
