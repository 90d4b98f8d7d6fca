#include "line/LineRun.h"

#include "startup/Interlocks.h"
#include "startup/TextFile.h"
#include "table/BulkOperations.h"
#include "table/TableFiles.h"
#include "transport/Transport.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <tuple>

int LineReport::okCount() const {
    return int(
        std::count_if(units.cbegin(), units.cend(), [](const LineUnitResult& u) { return u.ok; }));
}

// What each unit's part tells, named by its address; the last of it is kept
// in the unit's result.
class LineRun::Boxes : public Notices {
public:
    explicit Boxes(Notices& notices) : notices_(notices) {}
    void startUnit(int unit) {
        unit_ = unit;
        last_.clear();
    }
    void tell(const QString& text, const QString& title, MsgIcon icon) override {
        last_ = text;
        if (!forward_)
            return;
        const bool named = text.startsWith(QStringLiteral("Unit %1 ").arg(unit_));
        notices_.tell(named ? text : QStringLiteral("unit %1: ").arg(unit_) + text, title, icon);
    }
    // Kept in the unit's result, not told.
    void keep(const QString& text) { last_ = text; }
    QString last() const { return last_; }
    bool forward_ = true;

private:
    Notices& notices_;
    int unit_ = 0;
    QString last_;
};

// The operations' progress, as the whole line's.
class LineRun::Slots : public ProgressView {
public:
    // An operation's progress starts again at 0 once it is over: the whole
    // line's never goes back.
    void setProgress(int slot, int value) override {
        done_ = std::max(done_, count_ > 0 ? (index_ * 100 + value) / count_ : 0);
        if (progress_)
            progress_->lineProgress(unit_, slot, done_);
    }
    void startRun(LineProgress* progress, int count) {
        progress_ = progress;
        count_ = count;
        done_ = 0;
    }
    void startUnit(int unit, int index) {
        unit_ = unit;
        index_ = index;
        setProgress(-1, 0);
    }
    void endUnit() {
        index_ += 1;
        setProgress(-1, 0);
    }

private:
    LineProgress* progress_ = nullptr;
    int count_ = 0;
    int unit_ = 0;
    int index_ = 0;
    int done_ = 0;
};

LineRun::LineRun(Transport& transport, Notices& notices, const MessageTable& startup)
    : transport_(transport), defaults_(startup.defaults()), boxes_(new Boxes(notices)),
      slots_(new Slots) {
    for (int k = 0; k < kInterlockCount; ++k)
        terminals_[size_t(k)] = startup.terminal(k);
}

LineRun::~LineRun() {
    delete boxes_;
    delete slots_;
}

void LineRun::setForwardBoxes(bool on) {
    boxes_->forward_ = on;
}

void LineRun::requestStop() {
    stop_ = true;
    if (ops_)
        ops_->requestStop();
    if (sync_)
        sync_->requestStop();
}

bool LineRun::startRun(LineReport& report, int planned) {
    stop_ = false;
    report.planned = planned;
    slots_->startRun(progress_, planned);
    if (!transport_.busy())
        return true;
    report.outcome = LineReport::Outcome::Refused;
    report.error = QStringLiteral("another operation holds the line; try again once it is over");
    return false;
}

bool LineRun::finishUnit(LineUnitResult r, LineReport& report, bool portFailed) {
    r.time = QDateTime::currentDateTime();
    r.box = boxes_->last();
    report.units << r;
    slots_->endUnit();
    if (progress_)
        progress_->unitFinished(r);
    if (portFailed) {
        report.outcome = LineReport::Outcome::PortFailed;
        report.error = r.box.isEmpty() ? r.result : r.box;
    } else if (stop_) {
        report.outcome = LineReport::Outcome::Stopped;
    }
    return !portFailed && !stop_;
}

namespace {

// A slot that does not answer ends that unit's part at once: part of a unit is
// no backup, and a unit that is not there is not asked twenty times. Nobody is
// asked anything during the run: its end says what became of each unit.
const RunPolicy kLinePolicy{RunPolicy::AfterSilence::End, nullptr};

// The result of a read all that did not read every slot.
QString unreadResult(const BulkResult& r) {
    using O = BulkResult::Outcome;
    if (r.outcome == O::Stopped)
        return QStringLiteral("stopped");
    if (r.outcome == O::PortFailed)
        return QStringLiteral("port failed");
    if (r.blockReadsRefused)
        return QStringLiteral("refused block reads");
    if (r.outcome == O::Refused)
        return QStringLiteral("not read: %1").arg(r.error);
    if (r.done.isEmpty())
        return r.rejected.isEmpty() ? QStringLiteral("no answer")
                                    : QStringLiteral("unusable replies");
    return QStringLiteral("incomplete (%1 of %2 slots read)")
        .arg(r.done.size())
        .arg(kInterlockCount);
}

bool lineEnds(const BulkResult& r) {
    using O = BulkResult::Outcome;
    return r.outcome == O::PortFailed || (r.outcome == O::Refused && !r.blockReadsRefused);
}

} // namespace

LineUnitResult LineRun::backupUnit(int unit, const QString& folder, bool& ends) {
    MessageTable table; // nothing of another unit, nor of the window's table
    table.reset(defaults_, terminals_);
    BulkOperations ops(table, transport_, slots_, *boxes_, kLinePolicy);
    ops.setBlockReads(blockReads_);
    ops.setBlockReadMemory(*blockMemory_);
    ops_ = &ops;
    const BulkResult r = ops.readAll(unit);
    ops_ = nullptr;
    if (!r.silenceEnded.isEmpty())
        boxes_->keep(r.silenceEnded);
    ends = lineEnds(r);
    LineUnitResult b;
    b.unit = unit;
    b.answered = !r.done.isEmpty();
    const bool whole = r.outcome == BulkResult::Outcome::Completed &&
                       r.done.size() == kInterlockCount && r.silent.isEmpty() &&
                       r.rejected.isEmpty();
    if (!whole) {
        b.result = unreadResult(r);
        return b;
    }
    b.firstMessage = table.text(0);
    const QString file = QDir(folder).filePath(lineUnitFileName(unit));
    const TableFileOutcome saved = saveTableFile(file, table.texts());
    b.ok = saved.ok;
    b.file = saved.ok ? file : QString();
    b.result =
        saved.ok ? QStringLiteral("saved") : QStringLiteral("not saved (%1)").arg(saved.message);
    return b;
}

LineReport LineRun::backup(const QVector<int>& units, const QString& folder) {
    LineReport report;
    if (!startRun(report, int(units.size())))
        return report;
    if (const auto why = backupFolderProblem(folder, units)) {
        report.outcome = LineReport::Outcome::Refused;
        report.error = *why;
        return report;
    }
    for (int i = 0; i < units.size() && !stop_; ++i) {
        boxes_->startUnit(units[i]);
        slots_->startUnit(units[i], i);
        bool ends = false;
        const LineUnitResult r = backupUnit(units[i], folder, ends);
        if (!finishUnit(r, report, ends))
            break;
    }
    if (stop_ && report.outcome == LineReport::Outcome::Finished)
        report.outcome = LineReport::Outcome::Stopped;
    // What was finished is listed, also after a stop or a failed port.
    QVector<IndexRow> rows;
    for (const LineUnitResult& u : report.units)
        rows << IndexRow{u.unit, u.result, u.time.toString(Qt::ISODate), u.firstMessage};
    const QString index = QDir(folder).filePath(kLineIndexName);
    if (const auto why = writeWholeFile(index, lineIndexCsv(rows, transport_.lineSpeed())))
        report.error = QStringLiteral("cannot save %1: %2").arg(index, *why);
    else
        report.indexFile = index;
    return report;
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

QString captions(QVector<int> interlocks) {
    std::sort(interlocks.begin(), interlocks.end());
    QStringList names;
    for (int k : interlocks)
        names << terminalCaption(k);
    return names.join(QStringLiteral(", "));
}

// A restore that ended under way: which slots it wrote, and which write may
// have reached the unit unconfirmed.
QString unfinishedRestore(const RestoreResult& r) {
    const QVector<int> changed = r.written + r.erased;
    QString text = unfinished(r.run) + QStringLiteral(": ") +
                   (changed.isEmpty() ? QStringLiteral("nothing written")
                                      : QStringLiteral("written ") + captions(changed));
    if (!r.run.unconfirmed.isEmpty())
        text += QStringLiteral("; %1 may have reached the unit").arg(captions(r.run.unconfirmed));
    return text;
}

} // namespace

LineUnitResult LineRun::syncUnit(const UnitFile& file, bool restore, bool& ends) {
    LineUnitResult u;
    u.unit = file.unit;
    u.file = file.file;
    // A unit that gives no answer at all to the first read (a gateway's "no
    // answer" too) costs that one request, not twenty.
    UnitSync sync(transport_, slots_, *boxes_, kLinePolicy);
    sync.setEndIfAbsent(true);
    sync.setBlockReads(blockReads_);
    sync.setBlockReadMemory(*blockMemory_);
    sync.setChangeRecord(restore ? record_ : nullptr); // a compare writes nothing
    sync_ = &sync;
    BulkResult run;
    QString summary, ended; // ended: a restore's slots, when it ended under way
    if (restore) {
        const RestoreResult r = sync.restore(file.unit, file.table, defaults_);
        std::tie(u.ok, u.differences, summary, run) =
            std::make_tuple(r.restored(), r.differences, restoreSummary(r), r.run);
        if (run.outcome == BulkResult::Outcome::Stopped ||
            run.outcome == BulkResult::Outcome::PortFailed)
            ended = unfinishedRestore(r);
    } else {
        const CompareResult r = sync.compare(file.unit, file.table, defaults_);
        std::tie(u.ok, u.differences, summary, run) =
            std::make_tuple(r.matches(), r.differences, compareSummary(r), r.run);
    }
    sync_ = nullptr;
    ends = run.outcome == BulkResult::Outcome::PortFailed;
    u.answered = run.presence == BulkResult::Presence::Answers;
    if (run.endedAbsent()) {
        u.result = QStringLiteral("did not answer");
        return u;
    }
    u.result = run.outcome == BulkResult::Outcome::Completed ? summary
               : ended.isEmpty()                             ? unfinished(run)
                                                             : ended;
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
