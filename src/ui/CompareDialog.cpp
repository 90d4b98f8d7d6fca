#include "ui/CompareDialog.h"

#include "startup/MessageText.h"
#include "startup/UnitText.h"
#include "ui/Contrast.h"
#include "ui/HelpWindow.h"
#include "ui/ScreenFit.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { Slot, OnUnit, InTable, ColumnCount };

// A slot that holds nothing shows its default: said so, in grey (legible on
// the table's background, light or dark).
QTableWidgetItem* textItem(const QString& text, const QString& defaultText, const QColor& base) {
    const bool atDefault = UnitText::slotContent(text, defaultText).isEmpty();
    auto* item = new QTableWidgetItem(atDefault ? QStringLiteral("(default) ") +
                                                      MessageText::escaped(defaultText)
                                                : MessageText::escaped(text));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setToolTip(atDefault ? QStringLiteral("Nothing stored: the unit shows the default \"%1\"")
                                     .arg(MessageText::escaped(defaultText))
                               : item->text());
    if (atDefault)
        item->setForeground(legibleOn(QColor(0x60, 0x60, 0x60), base));
    return item;
}

QString summaryText(const CompareResult& result, const QString& where) {
    const int unread = kInterlockCount - static_cast<int>(result.run.done.size());
    QString text = QStringLiteral("%1 of %2 slots of %3 differ from the table.")
                       .arg(result.differences.size())
                       .arg(kInterlockCount)
                       .arg(where);
    if (unread > 0)
        text += QStringLiteral(" %1 could not be read.").arg(unread);
    return text + QStringLiteral("\nWrite Selected gives the checked slots the table's text; a "
                                 "slot whose entry is its default is erased.");
}

} // namespace

CompareDialog::CompareDialog(const CompareResult& result, const QString& where, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CompareDialog"));
    setWindowTitle(QStringLiteral("Compare with Unit"));
    summaryLabel = new QLabel(summaryText(result, where), this);
    summaryLabel->setObjectName(QStringLiteral("summaryLabel"));
    summaryLabel->setWordWrap(true);
    differenceTable = new QTableWidget(0, ColumnCount, this);
    differenceTable->setObjectName(QStringLiteral("differenceTable"));
    differenceTable->setAccessibleName(QStringLiteral("Slots that differ"));
    differenceTable->setHorizontalHeaderLabels({QStringLiteral("Interlock"),
                                                QStringLiteral("On the unit"),
                                                QStringLiteral("In the table")});
    differenceTable->verticalHeader()->hide();
    differenceTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    differenceTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fillRows(result.differences);

    writeSelectedButton = new QPushButton(QStringLiteral("&Write Selected"), this);
    writeSelectedButton->setObjectName(QStringLiteral("writeSelectedButton"));
    writeSelectedButton->setToolTip(
        QStringLiteral("Write the table's text to the checked slots of %1").arg(where));
    closeButton = new QPushButton(QStringLiteral("&Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setToolTip(QStringLiteral("Leave the unit as it is"));
    closeButton->setDefault(true); // Return never writes by accident
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(writeSelectedButton);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summaryLabel);
    layout->addWidget(differenceTable, 1);
    layout->addLayout(buttons);

    connect(writeSelectedButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(differenceTable, &QTableWidget::itemChanged, this, &CompareDialog::updateWriteButton);
    updateWriteButton();
    // As wide as the texts need, as tall as twelve rows at most.
    int width = 0;
    for (int c = 0; c < ColumnCount; ++c)
        width += differenceTable->columnWidth(c);
    const int rowHeight = differenceTable->verticalHeader()->defaultSectionSize();
    differenceTable->setMinimumHeight(differenceTable->horizontalHeader()->sizeHint().height() +
                                      rowHeight * qMin(int(slots_.size()), 12) +
                                      2 * differenceTable->frameWidth());
    resizeWithinScreen(this, QSize(qMin(width + 60, 1200), minimumSizeHint().height()));
    addHelpKey(this, QStringLiteral("Compare with Unit. "));
}

void CompareDialog::fillRows(const QVector<SlotDifference>& differences) {
    differenceTable->setRowCount(int(differences.size()));
    for (int row = 0; row < differences.size(); ++row) {
        const SlotDifference& d = differences[row];
        auto* slot = new QTableWidgetItem(d.terminal);
        slot->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        slot->setCheckState(Qt::Checked);
        slot->setToolTip(
            QStringLiteral("Interlock %1, slot %2 on the unit").arg(d.terminal).arg(d.slot));
        differenceTable->setItem(row, Slot, slot);
        const QColor base = differenceTable->palette().color(QPalette::Base);
        differenceTable->setItem(row, OnUnit, textItem(d.onUnit, d.defaultText, base));
        differenceTable->setItem(row, InTable, textItem(d.inTable, d.defaultText, base));
        slots_ << d.slot;
    }
    differenceTable->resizeColumnsToContents();
    differenceTable->horizontalHeader()->setStretchLastSection(true);
}

QVector<int> CompareDialog::chosen() const {
    QVector<int> picked;
    for (int row = 0; row < differenceTable->rowCount(); ++row)
        if (differenceTable->item(row, Slot)->checkState() == Qt::Checked)
            picked << slots_[row];
    return picked;
}

void CompareDialog::updateWriteButton() {
    writeSelectedButton->setEnabled(!chosen().isEmpty());
}
