#include "ui/HelpWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(const QString& folder, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("QV840N Help"));
    setAttribute(Qt::WA_DeleteOnClose);
    helpText = new QTextBrowser(this);
    helpText->setObjectName(QStringLiteral("helpText"));
    helpText->setOpenExternalLinks(false); // no network: links stay inside the help
    helpText->setSearchPaths({folder});
    helpText->setSource(QUrl::fromLocalFile(QDir(folder).filePath(QStringLiteral("README.md"))),
                        QTextDocument::MarkdownResource);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(helpText);
    resize(900, 700);
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
