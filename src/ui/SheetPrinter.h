#pragma once
// The main window's "Print..." through the system's print dialog.

#include "sheet/Sheet.h"

class QWidget;

// Asks for a printer and prints the sheet on one page; false when cancelled.
bool printSheet(QWidget* parent, const SheetInfo& info);
