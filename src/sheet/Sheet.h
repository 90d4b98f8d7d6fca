#pragma once
// The printed sheet of a message table, for the binder beside the unit: one
// page with the title (and the site or boiler, when given), the four groups as
// the main window shows them, each interlock's terminal caption and message, then the unit address,
// the port, the date and time and the file the table came from. One renderer serves the printer,
// the window's PDF export and `qv840ctl sheet`. QtGui only, no widgets.

#include "startup/MessageLayout.h"

#include <QDateTime>
#include <QPageSize>
#include <QString>

class QPainter;

struct SheetInfo {
    TextTable messages;
    int unitAddress = -1; // below 0: not known
    QString port;         // empty: not known
    QDateTime when;
    QString fileName; // empty: the table did not come from a file
    QString siteName; // the site or boiler, under the title; empty: none given
};

// Draws the sheet over the painter's whole device, whatever its size and
// resolution (a printer's page, a PDF page).
void paintSheet(QPainter& painter, const SheetInfo& info);

// A4 where the system's measurement is metric, else Letter.
QPageSize::PageSizeId defaultSheetPaper();

// Writes the sheet as a one-page PDF, atomically and only over a regular
// file; false with why set when it cannot.
bool writeSheetPdf(const QString& path, const SheetInfo& info, QPageSize::PageSizeId paper,
                   QString* why);
