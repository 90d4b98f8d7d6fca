// The runs of the Units on This Line window: scan, back up, compare, restore.

#include "connect/Connection.h"
#include "line/LineFolder.h"
#include "scan/Scanner.h"
#include "startup/MessageText.h"
#include "startup/Operator.h"
#include "table/MessageTable.h"
#include "transport/Transport.h"
#include "ui/LineUnitsWindow.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTime>
#include <QTreeWidget>
#include <algorithm>

void LineUnitsWindow::scan() {
    if (!mayStart())
        return;
    running_ = QStringLiteral("Scan");
    setRunning(true);
    unitList->clear();
    Scanner scanner(transport_, ScanLine{});
    scanner_ = &scanner;
    connect(&scanner, &Scanner::unitFound, this, &LineUnitsWindow::addFound);
    connect(&scanner, &Scanner::progress, this, [this](int done, int count, qint64 msLeft) {
        lineProgressBar->setValue(count > 0 ? done * 100 / count : 0);
        underWayLabel->setText(QStringLiteral("Scanning: address %1 of %2, %3 s left")
                                   .arg(qMin(done + 1, count))
                                   .arg(count)
                                   .arg((msLeft + 999) / 1000));
    });
    const ScanPlan plan; // every address at the line's speed
    const ScanResult r = scanner.run(plan);
    scanner_ = nullptr;
    setRunning(false);
    if (r.outcome == ScanResult::Outcome::Finished)
        lineProgressBar->setValue(100);
    if (r.outcome == ScanResult::Outcome::Refused || r.outcome == ScanResult::Outcome::PortFailed)
        say(QStringLiteral("The scan did not run through: %1").arg(r.error), windowTitle(),
            MsgIcon::Exclamation);
    underWayLabel->setText(
        QStringLiteral("%1 found%2")
            .arg(r.found.isEmpty() ? QStringLiteral("No unit")
                                   : unitNames(units()).replace(0, 1, QChar(u'U')))
            .arg(r.outcome == ScanResult::Outcome::Stopped ? QStringLiteral(" (stopped)")
                                                           : QString()));
    updateButtons();
}

LineReport LineUnitsWindow::runLine(const std::function<LineReport(LineRun&)>& work) {
    LineRun run(transport_, op_, startup_);
    run.setForwardBoxes(false); // each unit's outcome is listed in its row
    run.setProgress(this);
    run.setBlockReads(connection_.line.blockReads);
    run.setChangeRecord(record_);
    if (blockMemory_)
        run.setBlockReadMemory(*blockMemory_);
    run_ = &run;
    setRunning(true);
    lineProgressBar->setValue(0);
    // Each row shows this run's results only: what an earlier run (perhaps
    // into another folder) said of a unit is cleared.
    for (int i = 0; i < unitList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = unitList->topLevelItem(i);
        for (int column : {int(kLast), int(kLastResult), int(kCompare)}) {
            item->setText(column, QString());
            item->setToolTip(column, QString());
        }
        qDeleteAll(item->takeChildren());
    }
    const LineReport r = work(run);
    run_ = nullptr;
    setRunning(false);
    // A run that did not come to every unit is not shown as done.
    if (r.outcome != LineReport::Outcome::Finished && r.planned > 0)
        lineProgressBar->setValue(
            std::min(lineProgressBar->value(), int(r.units.size() * 100 / r.planned)));
    return r;
}

void LineUnitsWindow::lineProgress(int unit, int slot, int percent) {
    lineProgressBar->setValue(percent);
    underWayLabel->setText(slot < 0 ? QStringLiteral("%1: unit %2").arg(running_).arg(unit)
                                    : QStringLiteral("%1: unit %2, slot %3 (interlock %4)")
                                          .arg(running_)
                                          .arg(unit)
                                          .arg(slot)
                                          .arg(startup_.terminal(slot)));
}

void LineUnitsWindow::unitFinished(const LineUnitResult& r) {
    if (running_ == QLatin1String("Compare"))
        showCompare(r);
    else
        showLast(r, running_);
}

void LineUnitsWindow::showLast(const LineUnitResult& r, const QString& what) {
    QTreeWidgetItem* item = row(r.unit);
    if (!r.firstMessage.isEmpty())
        item->setText(kFirstMessage, MessageText::escaped(r.firstMessage));
    item->setText(kLast,
                  QStringLiteral("%1 %2").arg(what, r.time.toString(QStringLiteral("HH:mm:ss"))));
    item->setToolTip(kLast, QDir::toNativeSeparators(runFolder_)); // the folder of this run
    item->setText(kLastResult, r.result);
    item->setToolTip(kLastResult, r.box.isEmpty() ? r.file : r.box);
    if (what == QLatin1String("Restore"))
        showCompare(r);
}

void LineUnitsWindow::showCompare(const LineUnitResult& r) {
    QTreeWidgetItem* item = row(r.unit);
    qDeleteAll(item->takeChildren());
    item->setText(kCompare, r.result);
    item->setToolTip(kCompare, r.box.isEmpty() ? r.file : r.box);
    for (const SlotDifference& d : r.differences) {
        auto* child = new QTreeWidgetItem(item);
        child->setText(kAddress, differenceText(d)); // spans the row
        child->setFirstColumnSpanned(true);
    }
    item->setExpanded(!r.differences.isEmpty());
}

void LineUnitsWindow::tell(const LineReport& r, const QString& what) {
    const bool noneAnswered =
        !r.units.isEmpty() && std::none_of(r.units.cbegin(), r.units.cend(),
                                           [](const LineUnitResult& u) { return u.answered; });
    QString text =
        QStringLiteral("%1: %2 of %3 units %4.")
            .arg(what)
            .arg(r.okCount())
            .arg(r.planned)
            .arg(what == QLatin1String("Back Up All")   ? QStringLiteral("saved")
                 : what == QLatin1String("Compare All") ? QStringLiteral("as in their files")
                                                        : QStringLiteral("restored"));
    if (noneAnswered) // "0 of 5 as in their files" would read as "all differ"
        text = QStringLiteral("%1: none of the %2 units answered.").arg(what).arg(r.units.size());
    if (r.outcome == LineReport::Outcome::Stopped)
        text += QStringLiteral(" Stopped after %1 units; what was finished is kept.")
                    .arg(r.units.size());
    if (!r.error.isEmpty())
        text += QStringLiteral("\r\n") + r.error;
    const bool bad = r.outcome == LineReport::Outcome::PortFailed ||
                     r.outcome == LineReport::Outcome::Refused || !r.error.isEmpty();
    underWayLabel->setText(text.section(QStringLiteral("\r\n"), 0, 0));
    say(text, what, bad ? MsgIcon::Exclamation : MsgIcon::Information);
}

void LineUnitsWindow::say(const QString& text, const QString& title, MsgIcon icon) {
    const bool closed = !transport_.isOpen() && !transport_.endpointName().isEmpty();
    if (op_.message(text, title, icon, closed ? MsgButtons::OkReconnect : MsgButtons::Ok) ==
            MsgAnswer::Reconnect &&
        reconnect_)
        reconnect_();
}

void LineUnitsWindow::backUpAll() {
    if (!mayStart())
        return;
    const QVector<int> listed = units();
    QString folder = chooseFolder_(QStringLiteral("Back Up All into"), lastFolder_);
    if (folder.isEmpty())
        return;
    lastFolder_ = folder;
    runFolder_ = folder;
    // A backup already there is not replaced unasked (No by default); a new
    // dated folder beside it is offered instead.
    if (const auto existing = backupIn(folder)) {
        const QString caption = QStringLiteral("Back Up All");
        const QString where = QDir::toNativeSeparators(folder);
        if (op_.message(QStringLiteral("%1 holds %2.\r\nReplace its files with this backup?")
                            .arg(where, *existing),
                        caption, MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Ok) {
            const QString fresh = QDir(folder).filePath(
                QDateTime::currentDateTime().toString(QStringLiteral("'backup-'yyyy-MM-dd-HHmm")));
            if (QFileInfo::exists(fresh) ||
                op_.message(QStringLiteral("Back up into a new folder, %1, instead?")
                                .arg(QDir::toNativeSeparators(fresh)),
                            caption, MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Ok)
                return;
            folder = fresh;
            runFolder_ = folder;
        }
    }
    running_ = QStringLiteral("Backup");
    const LineReport r = runLine([&](LineRun& run) { return run.backup(listed, folder); });
    tell(r, QStringLiteral("Back Up All"));
}

std::optional<QVector<UnitFile>> LineUnitsWindow::folderUnits(const QString& caption,
                                                              bool forRestore) {
    const QString folder = chooseFolder_(caption, lastFolder_);
    if (folder.isEmpty())
        return std::nullopt;
    lastFolder_ = folder;
    runFolder_ = folder;
    const LineFolder read = readLineFolder(folder, startup_.defaults(), forRestore);
    if (!read.error.isEmpty()) {
        op_.message(read.error, caption, MsgIcon::Exclamation, MsgButtons::Ok);
        return std::nullopt;
    }
    if (!read.notes.isEmpty()) // files left out, files read with a remark
        op_.message(read.notes.join(QStringLiteral("\r\n")), caption, MsgIcon::Information,
                    MsgButtons::Ok);
    return read.units;
}

void LineUnitsWindow::compareAll() {
    if (!mayStart())
        return;
    const auto files = folderUnits(QStringLiteral("Compare All with the backup in"), false);
    if (!files)
        return;
    running_ = QStringLiteral("Compare");
    const LineReport r = runLine([&](LineRun& run) { return run.compare(*files); });
    tell(r, QStringLiteral("Compare All"));
}

void LineUnitsWindow::restoreAll() {
    if (!mayStart())
        return;
    const auto files = folderUnits(QStringLiteral("Restore All from the backup in"), true);
    if (!files)
        return;
    // Read first: only the units that differ are named and changed.
    running_ = QStringLiteral("Compare");
    const LineReport read = runLine([&](LineRun& run) { return run.compare(*files); });
    if (read.outcome != LineReport::Outcome::Finished)
        return tell(read, QStringLiteral("Compare All"));
    QVector<UnitFile> differing;
    for (const LineUnitResult& u : read.units)
        if (u.answered && !u.ok)
            for (const UnitFile& f : *files)
                if (f.unit == u.unit)
                    differing << f;
    if (differing.isEmpty()) {
        op_.message(QStringLiteral("Every unit that answered holds what its file says: nothing "
                                   "to restore."),
                    QStringLiteral("Restore All"), MsgIcon::Information, MsgButtons::Ok);
        return;
    }
    if (op_.message(askRestore(differing), QStringLiteral("Restore All"), MsgIcon::Question,
                    MsgButtons::YesNo) != MsgAnswer::Ok)
        return;
    running_ = QStringLiteral("Restore");
    const LineReport r = runLine([&](LineRun& run) { return run.restore(differing); });
    tell(r, QStringLiteral("Restore All"));
}

QString LineUnitsWindow::askRestore(const QVector<UnitFile>& differing) const {
    QVector<int> units;
    for (const UnitFile& f : differing)
        units << f.unit;
    return QStringLiteral("Restore %1 from %2? The slots that differ from the unit's file are "
                          "written and read back; the other units are not changed.")
        .arg(unitNames(units), QDir::toNativeSeparators(QFileInfo(differing.first().file).path()));
}
