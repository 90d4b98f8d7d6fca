#pragma once
// The history of changes as a table: one row per write or erase, newest
// last, shown for all units or one; Copy puts the selected rows on the
// clipboard as tab-separated text.

#include "table/HistoryFile.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QTableWidget;

class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    explicit HistoryDialog(const QString& path, QWidget* parent = nullptr);

    // The rows shown, by unit (all units when unset).
    void showUnit(std::optional<int> unit);
    // The selected rows, tab-separated, one line each.
    QString selectedText() const;
    void copySelection() const;

private:
    void fill();
    QVector<SlotChange> changes_;
    QComboBox* unitChoice_ = nullptr;
    QTableWidget* rows_ = nullptr;
    QLabel* note_ = nullptr;
};
