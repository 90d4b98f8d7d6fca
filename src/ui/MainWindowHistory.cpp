// The main window's part in the history of changes: every operation that
// writes records into one file, and History... shows it.

#include "startup/Operator.h"
#include "ui/CommsTestWindow.h"
#include "ui/HelpWindow.h"
#include "ui/HistoryDialog.h"
#include "ui/MainWindow.h"

#include <QPushButton>

void MainWindow::setupHistory() {
    history_.setNotices(&op_);
    bulk_.setChangeRecord(&history_);
    sync_.setChangeRecord(&history_);
    editor_.setChangeRecord(&history_);
    commsTest_.setChangeRecord(&history_);
    historyButton->setToolTip(QStringLiteral("Every write and erase made to a unit: when, where, "
                                             "the text before and after, the result"));
    connect(historyButton, &QPushButton::clicked, this, &MainWindow::showHistory);
    // F1: the walk-through, from disk, at this window's part.
    addHelpKey(this, QStringLiteral("Main window. "), &op_);
}

void MainWindow::showHistory() {
    HistoryDialog dialog(history_.path(), this);
    dialog.exec();
}
