#include "ui/SheetPrinter.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

bool printSheet(QWidget* parent, const SheetInfo& info) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(defaultSheetPaper()));
    printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    printer.setDocName(QStringLiteral("QV840 Interlock Annunciator Table"));
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    paintSheet(painter, info);
    painter.end();
    return true;
}
