// The main window's files: open and save a table, export the sheet as PDF,
// and the dialogs that choose them.
#include "ui/MainWindow.h"

#include "startup/Operator.h"
#include "table/TableFiles.h"
#include "ui/SheetPrinter.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

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
} // namespace

// The name the file dialogs start from: the table's file, else the last
// folder used, else the user's documents.
QString MainWindow::startName() const {
    if (!fileName_.isEmpty())
        return fileName_;
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
    fileName_ = name;
    const TableFileOutcome saved = saveTableFile(name, table_.texts());
    if (saved.written) {
        table_.noteFile(name);
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

void MainWindow::openFile() {
    // Another table in its place drops this one: asked as Quit does.
    if (const QString note = unsavedNote();
        !note.isEmpty() &&
        !op_.askOkCancel(note + QStringLiteral("\r\nOpen another table in its place?"), {},
                         MsgIcon::Question))
        return;
    const QString name = chooseFile_(false, kTableFilters, startName());
    if (name.isEmpty())
        return;
    lastFolder_ = QFileInfo(name).absolutePath();
    fileName_ = name;
    const TableFileOutcome opened = loadTableFile(name, table_.defaults(), table_.texts());
    for (int i = 0; i < opened.entriesRead; ++i)
        setMessageLabel(i, table_.text(i));
    if (opened.ok) {
        table_.noteFile(name);
        table_.setOrigin({TableOrigin::Kind::File, {}, name, {}});
    }
    updateTitle();
    if (!opened.message.isEmpty())
        op_.message(opened.message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}

void MainWindow::exportPdf() {
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
