#include "ui/HistoryDialog.h"

#include "startup/MessageText.h"
#include "ui/HelpWindow.h"
#include "ui/ScreenFit.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QStringList cells(const SlotChange& c) {
    return {c.time.toString(Qt::ISODate),
            c.endpoint,
            c.speed,
            QString::number(c.unit),
            QString::number(c.slot),
            c.terminal,
            MessageText::escaped(c.before),
            MessageText::escaped(c.written),
            c.result};
}

} // namespace

HistoryDialog::HistoryDialog(const QString& path, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("HistoryDialog"));
    setWindowTitle(QStringLiteral("History of Changes"));
    const HistoryRead read = readHistory(path);
    changes_ = read.changes;
    unitChoice_ = new QComboBox(this);
    unitChoice_->setObjectName(QStringLiteral("unitChoice"));
    unitChoice_->setAccessibleName(QStringLiteral("Units shown"));
    unitChoice_->addItem(QStringLiteral("All units"), -1);
    QVector<int> units;
    for (const SlotChange& c : changes_)
        if (!units.contains(c.unit))
            units << c.unit;
    std::sort(units.begin(), units.end());
    for (int u : units)
        unitChoice_->addItem(QStringLiteral("Unit %1").arg(u), u);
    rows_ = new QTableWidget(0, 9, this);
    rows_->setObjectName(QStringLiteral("historyTable"));
    rows_->setAccessibleName(QStringLiteral("Changes"));
    rows_->setHorizontalHeaderLabels(
        {"Time", "Port", "Speed", "Unit", "Slot", "Terminal", "Before", "Written", "Result"});
    rows_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rows_->setSelectionBehavior(QAbstractItemView::SelectRows);
    rows_->horizontalHeader()->setStretchLastSection(true);
    note_ = new QLabel(this);
    note_->setText(!read.error.isEmpty() ? QStringLiteral("%1 cannot be read: %2")
                                               .arg(QDir::toNativeSeparators(path), read.error)
                   : read.damaged > 0 ? QStringLiteral("%1 damaged lines skipped").arg(read.damaged)
                                      : QDir::toNativeSeparators(path));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(QStringLiteral("&Copy"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyButton"));
    connect(copy, &QPushButton::clicked, this, &HistoryDialog::copySelection);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(unitChoice_, &QComboBox::currentIndexChanged, this, [this] { fill(); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(unitChoice_);
    layout->addWidget(rows_);
    layout->addWidget(note_);
    layout->addWidget(buttons);
    resizeWithinScreen(this, QSize(900, 420));
    addHelpKey(this, QStringLiteral("History... shows the same changes"));
    fill();
}

void HistoryDialog::showUnit(std::optional<int> unit) {
    const int at = unitChoice_->findData(unit ? *unit : -1);
    unitChoice_->setCurrentIndex(std::max(at, 0));
}

void HistoryDialog::fill() {
    const int unit = unitChoice_->currentData().toInt();
    const QVector<SlotChange> shown =
        historyOf(changes_, unit < 0 ? std::nullopt : std::optional<int>(unit), {});
    rows_->setRowCount(int(shown.size()));
    for (int r = 0; r < shown.size(); ++r) {
        const QStringList texts = cells(shown[r]);
        for (int col = 0; col < texts.size(); ++col)
            rows_->setItem(r, col, new QTableWidgetItem(texts[col]));
        if (shown[r].result == ChangeResult::noOutcome())
            rows_->item(r, texts.size() - 1)
                ->setToolTip(QStringLiteral("The write was sent, and the program ended before its "
                                            "outcome was recorded: the slot may hold the text "
                                            "before or the text written."));
    }
    rows_->resizeColumnsToContents();
    rows_->scrollToBottom();
}

QString HistoryDialog::selectedText() const {
    QVector<int> picked;
    for (const QModelIndex& i : rows_->selectionModel()->selectedRows())
        picked << i.row();
    std::sort(picked.begin(), picked.end());
    QStringList lines;
    for (int r : picked) {
        QStringList row;
        for (int col = 0; col < rows_->columnCount(); ++col)
            row << rows_->item(r, col)->text();
        lines << row.join(QLatin1Char('\t'));
    }
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void HistoryDialog::copySelection() const {
    if (const QString text = selectedText(); !text.isEmpty())
        QApplication::clipboard()->setText(text);
}
