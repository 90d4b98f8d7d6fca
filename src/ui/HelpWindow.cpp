#include "ui/HelpWindow.h"

#include "startup/Operator.h"
#include "ui/ControlAccess.h"
#include "ui/MessageBoxOperator.h"
#include "ui/ScreenFit.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <optional>

namespace {
std::optional<QString>& chosenFolder() {
    static std::optional<QString> folder;
    return folder;
}
} // namespace

HelpWindow::HelpWindow(const QString& folder, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("QV840N Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    installControlAccess(); // a window to a screen reader
    helpText = new QTextBrowser(this);
    helpText->setObjectName(QStringLiteral("helpText"));
    helpText->setAccessibleName(QStringLiteral("Help"));
    helpText->setOpenExternalLinks(false); // no network: links stay inside the help
    helpText->setSearchPaths({folder});
    helpText->setSource(QUrl::fromLocalFile(QDir(folder).filePath(QStringLiteral("README.md"))),
                        QTextDocument::MarkdownResource);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(helpText);
    resizeWithinScreen(this, QSize(900, 700));
}

QString HelpWindow::findFolder(const QString& programFolder) {
    for (const QString& candidate :
         {QStringLiteral("help"), QStringLiteral("../share/qv840n/help")}) {
        const QString folder = QDir(programFolder).filePath(candidate);
        if (QFileInfo(QDir(folder).filePath(QStringLiteral("README.md"))).isFile())
            return QDir::cleanPath(folder);
    }
    return {};
}

void HelpWindow::setFolder(const QString& folder) {
    chosenFolder() = folder;
}

QString HelpWindow::folder() {
    if (!chosenFolder())
        chosenFolder() = findFolder(QCoreApplication::applicationDirPath());
    return *chosenFolder();
}

void HelpWindow::open(QWidget* from, const QString& topic, Operator* op) {
    const QString where = folder();
    if (where.isEmpty()) {
        MessageBoxOperator boxes(from);
        (op != nullptr ? *op : boxes)
            .message(QStringLiteral("The help is not installed: README.md was found neither in "
                                    "help/ beside the program nor in ../share/qv840n/help."),
                     {}, MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    // A child of the window asking, so that it takes input while that window is modal.
    QWidget* owner = from->window();
    auto* help = owner->findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (help == nullptr || !help->isVisible()) // a closed one is on its way out
        help = new HelpWindow(where, owner);
    help->showTopic(topic);
    centreOnScreen(help);
    help->show();
    centreOnScreen(help); // again, now that the window manager has framed it
    help->raise();
    help->activateWindow();
}

void HelpWindow::showTopic(const QString& topic) {
    topic_ = topic;
    const QTextCursor at = helpText->document()->find(topic, 0, QTextDocument::FindCaseSensitively);
    if (at.isNull() || !isVisible())
        return; // shown: showEvent scrolls there
    const QRectF block = helpText->document()->documentLayout()->blockBoundingRect(at.block());
    helpText->verticalScrollBar()->setValue(qRound(block.top()));
}

void HelpWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showTopic(topic_); // laid out at the window's width only now
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        close(); // the text passes Escape on
    else
        QWidget::keyPressEvent(event);
}

void addHelpKey(QWidget* window, const QString& topic, Operator* op) {
    auto* key = new QShortcut(QKeySequence::HelpContents, window);
    QObject::connect(key, &QShortcut::activated, window,
                     [window, topic, op] { HelpWindow::open(window, topic, op); });
}
