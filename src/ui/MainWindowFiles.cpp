// The main window's files: open and save a table, the recent files, print
// and export the sheet as PDF with its site name, and the dialogs that choose
// them.
#include "ui/Controls.h"
#include "ui/MainWindow.h"

#include "startup/Operator.h"
#include "table/RememberedTables.h"
#include "table/TableFiles.h"
#include "ui/SheetPrinter.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QToolButton>

QString defaultFileChooser(QWidget* parent, bool save, const QString& filter,
                           const QString& lastName) {
    QFileDialog dialog(parent);
    dialog.setNameFilter(filter); // filters apart by ";;"
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Open does not insist that the file exists: a missing one fails when it
    // is read, with a message that says so.
    dialog.setFileMode(QFileDialog::AnyFile);
    // The main window asks before a file is replaced, for every way a name
    // comes in.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // A name typed without a suffix gets the chosen filter's.
    const auto suffixOf = [](const QString& f) {
        return f.section(QStringLiteral("(*."), 1).section(QLatin1Char(')'), 0, 0);
    };
    dialog.setDefaultSuffix(suffixOf(filter.section(QStringLiteral(";;"), 0, 0)));
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog, suffixOf](const QString& f) { dialog.setDefaultSuffix(suffixOf(f)); });
    if (lastName.endsWith(QLatin1Char('/')))
        dialog.setDirectory(lastName); // the last folder used, no file yet
    else if (!lastName.isEmpty())
        dialog.selectFile(lastName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

namespace {
const QString kTableFilters = QStringLiteral("Message table (*.sav);;CSV table (*.csv)");
const QString kOpenInstead = QStringLiteral("Open another table in its place?");
} // namespace

// The name the file dialogs start from: the table's file, else the last
// folder used, else the user's documents.
QString MainWindow::startName() const {
    if (!table_.fileName().isEmpty())
        return table_.fileName();
    QString folder = lastFolder_;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    return folder + QLatin1Char('/');
}

// A name without a suffix gets suffix; the folder is remembered.
QString MainWindow::chosenName(QString name, const QString& suffix) {
    if (name.isEmpty())
        return name;
    if (QFileInfo(name).suffix().isEmpty())
        name += QLatin1Char('.') + suffix;
    lastFolder_ = QFileInfo(name).absolutePath();
    return name;
}

void MainWindow::saveFile() {
    const QString name =
        chosenName(chooseFile_(true, kTableFilters, startName()), QStringLiteral("sav"));
    if (name.isEmpty() || !mayWrite(name))
        return;
    const TableFileOutcome saved = saveTableFile(name, table_.texts());
    if (saved.written) {
        table_.noteFile(name);
        RecentFiles(settings()).add(name);
        // The site given for the table goes with it to its new name.
        if (const auto site = table_.siteName())
            SiteNames(settings()).remember(name, *site);
        updateTitle();
    }
    if (!saved.message.isEmpty())
        op_.message(saved.message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}

QString MainWindow::unsavedNote() const {
    if (table_.unsavedChanges())
        return QStringLiteral("The table holds changes that are neither saved to a file nor "
                              "written to the unit.");
    if (table_.modified())
        return QStringLiteral("The table is not saved to a file.");
    return {};
}

bool MainWindow::mayDropTable(const QString& question) {
    // Another table in its place drops this one: asked as Quit does.
    const QString note = unsavedNote();
    return note.isEmpty() ||
           op_.askOkCancel(note + QStringLiteral("\r\n") + question, {}, MsgIcon::Question);
}

void MainWindow::openFile() {
    if (!mayDropTable(kOpenInstead))
        return;
    const QString name = chooseFile_(false, kTableFilters, startName());
    if (!name.isEmpty())
        openTable(name);
}

void MainWindow::openRecent(const QString& name) {
    if (const auto gone = RecentFiles(settings()).dropIfMissing(name)) {
        op_.message(*gone, {}, MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    if (mayDropTable(kOpenInstead))
        openTable(name);
}

void MainWindow::openTable(const QString& name) {
    lastFolder_ = QFileInfo(name).absolutePath();
    TextTable texts = table_.texts();
    const TableFileOutcome opened = loadTableFile(name, table_.defaults(), texts);
    table_.setTexts(texts); // the labels follow the table
    if (opened.ok) {
        table_.noteOpened(name);
        table_.setSiteName(std::nullopt); // another table: its sheet's site is asked again
        RecentFiles(settings()).add(name);
    }
    updateTitle();
    if (!opened.message.isEmpty())
        op_.message(opened.message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}

QSettings& MainWindow::settings() {
    if (!settings_) { // the user's settings, where start-up keeps the connection
        ownSettings_ =
            std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                        QStringLiteral("qv840n"), QStringLiteral("qv840n"));
        settings_ = ownSettings_.get();
    }
    return *settings_;
}

QLayout* MainWindow::buildOpenFileRow(QPushButton* openFile, QWidget* parent) {
    auto* b = new QToolButton(parent);
    recentFilesButton = b;
    b->setObjectName(QStringLiteral("recentFilesButton"));
    b->setArrowType(Qt::DownArrow);
    b->setFocusPolicy(Qt::StrongFocus);
    b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    b->setToolTip(QStringLiteral("Recent files: the last five tables opened or saved"));
    b->setAccessibleName(QStringLiteral("Recent files"));
    legibleArrow(b); // on the Command Center's fixed grey, under a dark theme too
    auto* menu = new QMenu(b);
    menu->setObjectName(QStringLiteral("recentFilesMenu"));
    menu->setToolTipsVisible(true);
    // A click or Space opens it under the button (the arrow is its only mark).
    connect(b, &QToolButton::clicked, this, [this, b, menu] {
        fillRecentMenu(menu);
        menu->exec(b->mapToGlobal(QPoint(0, b->height())));
    });
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(openFile, 1);
    row->addWidget(b);
    QWidget::setTabOrder(openFile, b); // Tab goes from Open File to its menu
    return row;
}

// "&1 boiler2.sav" and so on: a digit opens it; the folder is in its tooltip.
void MainWindow::fillRecentMenu(QMenu* menu) {
    menu->clear();
    const QStringList files = RecentFiles(settings()).files();
    if (files.isEmpty())
        menu->addAction(QStringLiteral("No recent files"))->setEnabled(false);
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        QString shown = shortTableName(path, files);
        QAction* a = menu->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(shown.replace('&', QStringLiteral("&&"))));
        a->setObjectName(QStringLiteral("recentFile_%1").arg(i));
        a->setToolTip(QDir::toNativeSeparators(path));
        a->setStatusTip(QStringLiteral("Open %1").arg(QDir::toNativeSeparators(path)));
        connect(a, &QAction::triggered, this, [this, path] { openRecent(path); });
    }
}

std::optional<QString> MainWindow::askSiteName() {
    if (table_.siteName())
        return table_.siteName();
    const QString file = table_.fileName();
    const QString last = file.isEmpty() ? QString() : SiteNames(settings()).nameFor(file);
    const QString label = QStringLiteral("Site or boiler name for the sheet (may stay empty):");
    std::optional<QString> given;
    if (askText_) {
        given = askText_(label, last);
    } else {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Sheet"), label,
                                                   QLineEdit::Normal, last, &ok);
        if (ok)
            given = text;
    }
    if (!given)
        return std::nullopt;
    table_.setSiteName(given->trimmed());
    if (!file.isEmpty())
        SiteNames(settings()).remember(file, given->trimmed());
    return table_.siteName();
}

void MainWindow::print() {
    if (askSiteName())
        printSheet(this, sheetInfo());
}

void MainWindow::exportPdf() {
    if (!askSiteName())
        return;
    const QString folder = QFileInfo(startName()).absolutePath() + QLatin1Char('/');
    QString name = chooseFile_(true, QStringLiteral("PDF (*.pdf)"), folder);
    if (!name.isEmpty() && !name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        name += QStringLiteral(".pdf"); // a PDF always says so
    name = chosenName(name, QStringLiteral("pdf"));
    if (name.isEmpty() || !mayWrite(name))
        return;
    QString why;
    if (!writeSheetPdf(name, sheetInfo(), defaultSheetPaper(), &why))
        op_.message(QStringLiteral("Cannot write %1: %2").arg(name, why), {}, MsgIcon::Exclamation,
                    MsgButtons::Ok);
}

bool MainWindow::mayWrite(const QString& name) {
    if (!QFileInfo::exists(name))
        return true;
    return op_.message(QStringLiteral("%1 already exists.\r\nReplace it?")
                           .arg(QDir::toNativeSeparators(name)),
                       QStringLiteral("Save File"), MsgIcon::Question,
                       MsgButtons::YesNo) == MsgAnswer::Ok;
}
