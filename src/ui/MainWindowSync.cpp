// The main window against the unit: Compare with Unit and Write Selected, and
// the line that says where the table came from.
#include "ui/MainWindow.h"

#include "startup/Operator.h"
#include "transport/Transport.h"
#include "ui/CompareDialog.h"
#include "ui/ElidedText.h"
#include "ui/MessageEditorWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>

namespace {

// For the status line: "Compare: 3 of 20 slots differ, 14:02".
QString compareOutcomeText(const CompareResult& r, const QTime& when) {
    QString what;
    if (r.run.outcome == BulkResult::Outcome::Stopped)
        what = QStringLiteral("stopped");
    else if (r.run.outcome != BulkResult::Outcome::Completed)
        what = QStringLiteral("not finished");
    else if (r.matches())
        what = QStringLiteral("the unit holds the table");
    else
        what =
            QStringLiteral("%1 of %2 slots differ").arg(r.differences.size()).arg(kInterlockCount);
    if (const qsizetype unread = kInterlockCount - r.run.done.size();
        r.run.outcome == BulkResult::Outcome::Completed && unread > 0)
        what += QStringLiteral(", %1 not read").arg(unread);
    return QStringLiteral("Compare: %1, %2").arg(what, when.toString(QStringLiteral("HH:mm")));
}

} // namespace

void MainWindow::compareWithUnit() {
    if (running_) {
        stopRunning();
        return;
    }
    // The unit compared is the one chosen now, whatever is chosen while it runs.
    const UnitKey key = currentUnit();
    const int unit = key.unit;
    sync_.setBlockReads(connection_.line.blockReads);
    CompareResult compared;
    whileRunning(compareButton,
                 [&] { compared = sync_.compare(unit, table_.texts(), table_.defaults()); });
    // What the compare read is known of that unit now.
    table_.beginUnit(key);
    for (int k : compared.run.done)
        table_.noteOnUnit(k);
    for (const SlotDifference& d : compared.differences)
        table_.noteUnitHolds(d.slot, d.onUnit);
    refreshSource();
    lastOutcome_ = compareOutcomeText(compared, QTime::currentTime());
    refreshStatus();
    if (compared.run.reconnect && reconnectAction_)
        reconnectAction_();
    if (compared.run.outcome != BulkResult::Outcome::Completed)
        return; // stopped or failed: its box said so
    const QString where = QStringLiteral("unit %1 on %2").arg(unit).arg(transport_.endpointName());
    if (compared.differences.isEmpty()) {
        // Slots that could not be read were named in their own box.
        if (compared.matches())
            op_.message(QStringLiteral("All %1 slots of %2 hold what the table says.")
                            .arg(kInterlockCount)
                            .arg(where),
                        QStringLiteral("Compare with Unit"), MsgIcon::Information, MsgButtons::Ok);
        return;
    }
    CompareDialog dialog(compared, where, this);
    if (dialog.exec() == QDialog::Accepted && !dialog.chosen().isEmpty())
        writeChosen(unit, dialog.chosen());
}

void MainWindow::writeChosen(int unit, const QVector<int>& chosen) {
    RestoreResult restored;
    whileRunning(compareButton, [&] {
        restored = sync_.restore(unit, table_.texts(), table_.defaults(), chosen);
    });
    table_.beginUnit({unit, transport_.endpointName()});
    for (const QVector<int>* done : {&restored.written, &restored.erased, &restored.unchanged})
        for (int k : *done)
            table_.noteOnUnit(k);
    if (restored.restored())
        table_.noteWritten({unit, transport_.endpointName()}, QTime::currentTime());
    updateTitle();
    lastOutcome_ =
        QStringLiteral("Write Selected: %1, %2")
            .arg(restoreSummary(restored), QTime::currentTime().toString(QStringLiteral("HH:mm")));
    refreshStatus();
    if (restored.run.reconnect && reconnectAction_)
        reconnectAction_();
}

UnitKey MainWindow::currentUnit() const {
    return {connection_.unitAddress, transport_.endpointName()};
}

void MainWindow::refreshSource() {
    if (!sourceLine)
        return; // still building
    const UnitKey unit = currentUnit();
    QString text = tableSourceText(table_, unit);
    // Marks only where something is known: a table fresh from a file or the
    // defaults stays plain until a unit is read, compared or written; then
    // another unit chosen shows grey.
    const bool marked = table_.origin().kind == TableOrigin::Kind::Unit || table_.knowsAUnit();
    for (int k = 0; k < kInterlockCount; ++k) {
        const SlotState state = marked ? table_.slotState(k, unit) : SlotState::AsOnUnit;
        ClickLabel* label = messageLabels[size_t(k)];
        QPalette p = label->palette();
        p.setColor(QPalette::Window, state == SlotState::Edited    ? QColor(0xFF, 0xF0, 0x9A)
                                     : state == SlotState::NotRead ? QColor(0xD8, 0xD8, 0xD8)
                                                                   : QColor(Qt::white));
        label->setPalette(p);
        label->setProperty("slotState", int(state));
        // The colour's meaning in words, for whoever does not see it.
        const bool known = marked && state != SlotState::NotRead;
        label->setAccessibleDescription(QStringLiteral("%1 unit %2")
                                            .arg(!known ? QStringLiteral("not read from")
                                                 : state == SlotState::AsOnUnit
                                                     ? QStringLiteral("as on")
                                                     : QStringLiteral("differs from"))
                                            .arg(unit.unit));
    }
    // What the colours mean, where they show.
    QStringList legend;
    if (marked && table_.countIn(SlotState::Edited, unit) > 0)
        legend << QStringLiteral("yellow: differs from the unit");
    if (marked && table_.countIn(SlotState::NotRead, unit) > 0)
        legend << QStringLiteral("grey: not read from it");
    if (!legend.isEmpty())
        text += QStringLiteral(" (") + legend.join(QStringLiteral(", ")) + QLatin1Char(')');
    setElidedText(sourceLine, text);
    if (editorWindow_) // its Current Msg says whether the unit holds it
        editorWindow_->showCurrentSource();
}
