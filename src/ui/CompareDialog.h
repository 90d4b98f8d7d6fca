#pragma once
// "Compare with Unit": the slots where the unit and the table differ, side by
// side, each with a check box; Write Selected gives the chosen ones the
// table's text (an entry at its default erases the slot).

#include "table/UnitSync.h"

#include <QDialog>
#include <QVector>

class QLabel;
class QPushButton;
class QTableWidget;

class CompareDialog : public QDialog {
    Q_OBJECT
public:
    // result: the compare just made of unit; where: "unit 1 on ttyUSB0".
    CompareDialog(const CompareResult& result, const QString& where, QWidget* parent = nullptr);

    // The slots checked, in slot order.
    QVector<int> chosen() const;

private:
    void fillRows(const QVector<SlotDifference>& differences);
    void updateWriteButton();

    // The controls, each with its member's name as object name.
    QLabel* summaryLabel = nullptr;
    QTableWidget* differenceTable = nullptr;
    QPushButton* writeSelectedButton = nullptr;
    QPushButton* closeButton = nullptr;

    QVector<int> slots_; // the slot of each row
};
