// The main window's part in the history of changes: every operation that
// writes records into one file, and History... shows it.

#include "startup/Operator.h"
#include "ui/CommsTestWindow.h"
#include "ui/HelpWindow.h"
#include "ui/HistoryDialog.h"
#include "ui/MainWindow.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QShortcut>

void MainWindow::setupHistory() {
    history_.setOperator(&op_);
    bulk_.setChangeRecord(&history_);
    sync_.setChangeRecord(&history_);
    editor_.setChangeRecord(&history_);
    commsTest_.setChangeRecord(&history_);
    historyButton->setToolTip(QStringLiteral("Every write and erase made to a unit: when, where, "
                                             "the text before and after, the result"));
    connect(historyButton, &QPushButton::clicked, this, &MainWindow::showHistory);
    // F1: the walk-through, from disk.
    helpFolder_ = HelpWindow::findFolder(QCoreApplication::applicationDirPath());
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, &MainWindow::showHelp);
}

void MainWindow::showHelp() {
    if (helpFolder_.isEmpty()) {
        op_.message(QStringLiteral("The help is not installed: README.md was found neither in "
                                   "help/ beside the program nor in ../share/qv840n/help."),
                    {}, MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    auto* window = new HelpWindow(helpFolder_, this);
    window->show();
    window->raise();
    window->activateWindow();
}

void MainWindow::showHistory() {
    HistoryDialog dialog(history_.path(), this);
    dialog.exec();
}
