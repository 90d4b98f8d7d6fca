// The whole line from the command line: qv840ctl backup reads every unit of
// an address range into DIR/unit-NN.sav and lists them in DIR/index.csv;
// verify DIR and restore DIR take each unit-NN.sav of a folder back to its
// unit. One unit after another over the one port; a unit that does not
// answer is listed as such and the others go on.

#include "cli/Commands.h"
#include "cli/Session.h"

#include "modbus/Pdu.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"
#include "table/BulkOperations.h"
#include "table/CsvRecords.h"
#include "table/CsvTable.h"
#include "table/TableFiles.h"
#include "table/UnitSync.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <tuple>

namespace {

const QString kIndexName = QStringLiteral("index.csv");

// Each unit's boxes on stderr, named by its address. A slot that does not
// answer ends that unit's read at once (Cancel): part of a unit is no backup,
// and a unit that is not there is not asked twenty times.
class LineOperator : public Operator {
public:
    explicit LineOperator(Operator& terminal) : terminal_(terminal) {}
    void setUnit(int unit) { unit_ = unit; }
    MsgAnswer message(const QString& text, const QString& title, MsgIcon icon,
                      MsgButtons buttons) override {
        if (buttons == MsgButtons::OkCancelIgnoreAll)
            return MsgAnswer::Cancel;
        const QString unit = QStringLiteral("unit %1: ").arg(unit_);
        const bool named = text.startsWith(QStringLiteral("Unit %1 ").arg(unit_));
        return terminal_.message(named ? text : unit + text, title, icon, buttons);
    }

private:
    Operator& terminal_;
    int unit_ = 0;
};

// What became of one unit of a backup.
struct UnitBackup {
    int unit = 0;
    QString result; // "saved", "no answer", ...
    QString time;   // when its read ended, local time, ISO 8601
    QString firstMessage;
    bool saved = false;
    bool portFailed = false;
};

struct BackupPlan {
    int first = kFirstUnitAddress;
    int last = kLastUnitAddress;
    QString folder;
};

// index.csv: UTF-8, CR LF, a header row, one row per unit the backup came to.
QByteArray indexCsv(const QVector<UnitBackup>& units, const QString& speed) {
    QString text = QStringLiteral("unit,speed,result,time,first message\r\n");
    for (const UnitBackup& u : units)
        text +=
            QStringLiteral("%1,%2,%3,%4,%5\r\n")
                .arg(u.unit)
                .arg(speed, csvField(u.result), u.time, csvField(csvMessageCell(u.firstMessage)));
    return text.toUtf8();
}

// The result of a read all that did not read every slot.
QString unreadResult(const BulkResult& r) {
    using O = BulkResult::Outcome;
    if (r.outcome == O::Stopped)
        return QStringLiteral("stopped");
    if (r.outcome == O::PortFailed)
        return QStringLiteral("port failed");
    if (r.blockReadsRefused)
        return QStringLiteral("refused block reads");
    if (r.done.isEmpty())
        return r.rejected.isEmpty() ? QStringLiteral("no answer")
                                    : QStringLiteral("unusable replies");
    return QStringLiteral("incomplete (%1 of %2 slots read)")
        .arg(r.done.size())
        .arg(kInterlockCount);
}

UnitBackup backupUnit(Session& s, BulkOperations& ops, const QString& folder, int unit) {
    s.messages.texts() = s.messages.defaults(); // nothing of the unit before
    const BulkResult r = ops.readAll(unit);
    UnitBackup b;
    b.unit = unit;
    b.time = QDateTime::currentDateTime().toString(Qt::ISODate);
    b.portFailed = r.outcome == BulkResult::Outcome::PortFailed;
    const bool whole = r.outcome == BulkResult::Outcome::Completed &&
                       r.done.size() == kInterlockCount && r.silent.isEmpty() &&
                       r.rejected.isEmpty();
    if (!whole) {
        b.result = unreadResult(r);
        return b;
    }
    b.firstMessage = s.messages.text(0);
    const TableFileOutcome saved =
        saveTableFile(QDir(folder).filePath(unitFileName(unit)), s.messages.texts());
    b.saved = saved.ok;
    b.result =
        saved.ok ? QStringLiteral("saved") : QStringLiteral("not saved (%1)").arg(saved.message);
    return b;
}

int backupLine(Session& s, const BackupPlan& plan) {
    LineOperator op(s.op);
    BulkOperations ops(s.messages, s.transport(), s.table, op);
    ops.setBlockReads(s.connection.line.blockReads);
    const StopOnSignal stop(s.signalWatch, [&ops] { ops.requestStop(); });
    QVector<UnitBackup> units;
    int saved = 0;
    for (int unit = plan.first; unit <= plan.last && !SignalWatch::first(); ++unit) {
        op.setUnit(unit);
        units << backupUnit(s, ops, plan.folder, unit);
        const UnitBackup& b = units.last();
        saved += b.saved;
        printOut(QStringLiteral("%1\t%2\t%3")
                     .arg(b.unit)
                     .arg(b.result, MessageText::escaped(b.firstMessage)));
        if (b.portFailed)
            break;
    }
    // What was finished is listed, also after a stop or a failed port.
    const QString speed = s.connection.network() ? QString() : QString::number(s.options().baud);
    const QString index = QDir(plan.folder).filePath(kIndexName);
    if (const auto why = writeWholeFile(index, indexCsv(units, speed)))
        return fail(Exit::BadInput, QStringLiteral("cannot save %1: %2").arg(index, *why));
    const int all = plan.last - plan.first + 1;
    if (SignalWatch::first()) {
        const auto finished = std::count_if(units.cbegin(), units.cend(), [](const UnitBackup& u) {
            return u.result != QLatin1String("stopped");
        });
        s.stoppedDetail = QStringLiteral(" after %1 of %2 units, %3 saved; %4 lists them")
                              .arg(finished)
                              .arg(all)
                              .arg(saved)
                              .arg(index);
        return Exit::NoAnswer;
    }
    printErr(QStringLiteral("qv840ctl: %1 of %2 units saved in %3")
                 .arg(saved)
                 .arg(all)
                 .arg(QDir::toNativeSeparators(plan.folder)));
    if (!units.isEmpty() && units.last().portFailed)
        return Exit::PortProblem;
    return saved == all ? Exit::Done : Exit::NoAnswer;
}

// The folder a backup goes to, made when missing, and every file it will
// write there: refused before anything is sent when one cannot be written.
std::optional<int> checkBackupFolder(const BackupPlan& plan) {
    const QFileInfo folder(plan.folder);
    if (folder.exists() && !folder.isDir())
        return fail(Exit::BadInput, QStringLiteral("%1 is not a folder").arg(plan.folder));
    if (!QDir().mkpath(plan.folder) || !QFileInfo(plan.folder).isWritable())
        return fail(Exit::BadInput,
                    QStringLiteral("cannot save into %1: the folder cannot be made or written")
                        .arg(plan.folder));
    const QFileInfo index(QDir(plan.folder).filePath(kIndexName));
    if (index.exists() && !index.isFile())
        return fail(
            Exit::BadInput,
            QStringLiteral("cannot save %1: it is not a regular file").arg(index.filePath()));
    for (int unit = plan.first; unit <= plan.last; ++unit)
        if (const auto why = tableSaveTargetProblem(QDir(plan.folder).filePath(unitFileName(unit))))
            return fail(Exit::BadInput, *why);
    return std::nullopt;
}

// A unit's table from the folder, to verify or restore.
struct UnitTable {
    int unit = 0;
    QString file;
    TextTable table;
};

// The unit files of a folder by address, named as backup names them. Nothing,
// after saying why, when there is none, or when a name gives no address the
// tool can use or the same address as another.
std::optional<std::map<int, QString>> unitFiles(const QString& folder) {
    static const QRegularExpression form(QStringLiteral("^unit-(\\d+)\\.sav$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QDir dir(folder);
    std::map<int, QString> files;
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const auto m = form.match(name);
        if (!m.hasMatch())
            continue; // index.csv, notes
        const int unit = m.captured(1).toInt();
        const bool named = name.compare(unitFileName(unit), Qt::CaseInsensitive) == 0;
        if (!named || unit < kFirstUnitAddress || unit > kLastUnitAddress || files.count(unit)) {
            fail(Exit::BadInput, QStringLiteral("%1: a unit's file is unit-NN.sav, NN its "
                                                "address from %2 to %3, one file a unit")
                                     .arg(dir.filePath(name))
                                     .arg(kFirstUnitAddress)
                                     .arg(kLastUnitAddress));
            return std::nullopt;
        }
        files[unit] = dir.filePath(name);
    }
    if (files.empty())
        fail(Exit::BadInput, QStringLiteral("%1 holds no unit-NN.sav file").arg(folder));
    return files.empty() ? std::nullopt : std::optional<std::map<int, QString>>(files);
}

// Every unit file read (and for a restore checked), before the port is opened.
std::optional<int> loadUnitTables(Session& s, const QString& folder, bool restore,
                                  QVector<UnitTable>& tables) {
    if (!QFileInfo(folder).isDir())
        return fail(Exit::BadInput, QStringLiteral("%1 is not a folder").arg(folder));
    const auto files = unitFiles(folder);
    if (!files)
        return Exit::BadInput;
    const TextTable& defaults = s.messages.defaults();
    for (const auto& [unit, file] : *files) {
        UnitTable u{unit, file, defaults};
        if (const auto status = loadTableArgument(file, defaults, u.table))
            return status;
        const QStringList problems = restore ? restoreProblems(u.table, defaults) : QStringList();
        if (!problems.isEmpty())
            return fail(Exit::BadInput,
                        QStringLiteral("nothing was written; these messages of %1 cannot go to "
                                       "the unit: %2")
                            .arg(file, problems.join(QStringLiteral("; "))));
        tables << u;
    }
    return std::nullopt;
}

enum class Presence { Answers, Silent, Ended };

// One read of slot 0, after the pause: a unit that gives no answer at all (a
// gateway's "no answer" too) costs one request, not twenty.
Presence presence(Session& s, int unit) {
    Transport& transport = s.transport();
    const FailureWatch watch(transport);
    const QByteArray request = Pdu::readMessage(messageRegister(0));
    const TransportClaim claim(transport);
    Transaction t;
    t.status = claim.ok() ? transport.bulkPause() : TransportStatus::Busy;
    if (t.status == TransportStatus::Ok)
        t = transport.transact(unit, request);
    if (t.ok())
        return checkReply(t, request).verdict == ReplyCheck::Verdict::Silent ? Presence::Silent
                                                                             : Presence::Answers;
    if (t.status != TransportStatus::Stopped)
        fail(Exit::PortProblem, watch.reason(t.status));
    return Presence::Ended;
}

// How a verify or restore of one unit ended when it did not run through.
QString unfinished(const BulkResult& r) {
    if (r.outcome == BulkResult::Outcome::Stopped)
        return QStringLiteral("stopped");
    if (r.outcome == BulkResult::Outcome::PortFailed)
        return QStringLiteral("the port failed");
    return r.blockReadsRefused ? QStringLiteral("refused block reads") : r.error;
}

// One unit's verify or restore: its differing slots as they come; its line
// for the end; ok when it matches (or was restored).
QString syncUnit(Session& s, UnitSync& sync, const UnitTable& u, bool restore, bool& ok) {
    const TextTable& defaults = s.messages.defaults();
    QVector<SlotDifference> differences;
    QString summary;
    BulkResult run;
    if (restore) {
        const RestoreResult r = sync.restore(u.unit, u.table, defaults);
        std::tie(ok, differences, summary, run) =
            std::make_tuple(r.restored(), r.differences, restoreSummary(r), r.run);
    } else {
        const CompareResult r = sync.compare(u.unit, u.table, defaults);
        std::tie(ok, differences, summary, run) =
            std::make_tuple(r.matches(), r.differences, compareSummary(r), r.run);
    }
    for (const SlotDifference& d : differences)
        printOut(QStringLiteral("unit %1: %2").arg(u.unit).arg(differenceText(d)));
    return run.outcome == BulkResult::Outcome::Completed ? summary : unfinished(run);
}

int syncLine(Session& s, const QVector<UnitTable>& tables, bool restore) {
    LineOperator op(s.op);
    UnitSync sync(s.transport(), s.table, op);
    sync.setBlockReads(s.connection.line.blockReads);
    sync.setChangeRecord(&s.history); // verify writes nothing, so nothing is recorded
    const StopOnSignal stop(s.signalWatch, [&sync] { sync.requestStop(); });
    QStringList lines;
    int good = 0, status = Exit::Done;
    for (const UnitTable& u : tables) {
        op.setUnit(u.unit);
        const Presence there = SignalWatch::first() ? Presence::Ended : presence(s, u.unit);
        if (there == Presence::Ended) {
            status = SignalWatch::first() ? Exit::NoAnswer : Exit::PortProblem;
            break;
        }
        bool ok = false;
        const QString said = there == Presence::Silent ? QStringLiteral("did not answer")
                                                       : syncUnit(s, sync, u, restore, ok);
        lines << QStringLiteral("unit %1 (%2): %3")
                     .arg(u.unit)
                     .arg(QFileInfo(u.file).fileName(), said);
        good += ok;
    }
    for (const QString& line : lines)
        printOut(line);
    s.stoppedDetail = QStringLiteral(" after %1 of %2 units").arg(lines.size()).arg(tables.size());
    if (status != Exit::Done)
        return status;
    return good == tables.size() ? Exit::Done : Exit::NoAnswer;
}

} // namespace

QString unitFileName(int unit) {
    return QStringLiteral("unit-%1.sav").arg(unit, 2, 10, QLatin1Char('0'));
}

std::optional<std::pair<int, int>> unitRangeArgument(const QString& text, int low, int high) {
    static const QRegularExpression form(QStringLiteral("^(\\d{1,3})(?:-(\\d{1,3}))?$"));
    const auto m = form.match(text);
    const int a = m.captured(1).toInt(), b = m.hasCaptured(2) ? m.captured(2).toInt() : a;
    if (!m.hasMatch() || a < low || b > high || a > b) {
        fail(Exit::BadInput, QStringLiteral("--units takes A-B, unit addresses from %1 to %2 "
                                            "with A no more than B, not \"%3\"")
                                 .arg(low)
                                 .arg(high)
                                 .arg(text));
        return std::nullopt;
    }
    return std::make_pair(a, b);
}

int runBackup(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser p;
    const QCommandLineOption units(QStringLiteral("units"), QStringLiteral("Unit addresses."),
                                   QStringLiteral("A-B"));
    p.addOption(units);
    if (!p.parse(QStringList{QStringLiteral("qv840ctl backup")} + args))
        return fail(Exit::BadInput, p.errorText());
    if (p.positionalArguments().size() != 1)
        return fail(Exit::BadInput, QStringLiteral("usage: qv840ctl [options] backup "
                                                   "[--units A-B] DIR"));
    BackupPlan plan;
    plan.folder = p.positionalArguments().constFirst();
    if (p.isSet(units)) {
        const auto range = unitRangeArgument(p.value(units), kFirstUnitAddress, kLastUnitAddress);
        if (!range)
            return Exit::BadInput;
        std::tie(plan.first, plan.last) = *range;
    }
    return withUnit(
        options, QStringLiteral("backup"), [&](Session&) { return checkBackupFolder(plan); },
        [&](Session& s) { return backupLine(s, plan); });
}

int runLineSync(const GlobalOptions& options, const QString& folder, bool restore) {
    QVector<UnitTable> tables; // read before the port is opened
    return withUnit(
        options, restore ? QStringLiteral("restore") : QStringLiteral("verify"),
        [&](Session& s) { return loadUnitTables(s, folder, restore, tables); },
        [&](Session& s) { return syncLine(s, tables, restore); });
}
