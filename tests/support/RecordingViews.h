#pragma once
// Recorders of the main window's message table and of the editor window.

#include "table/Editor.h"
#include "table/MessageTableView.h"

#include <QPair>
#include <QString>
#include <QVector>
#include <array>

class RecordingTableView : public MessageTableView {
public:
    void setMessageLabel(int index, const QString& text) override;
    void setProgress(int value) override;

    std::array<QString, 20> labels;            // Label1(i) as it stands
    QVector<QPair<int, QString>> labelHistory; // every caption set, in order
    QVector<int> progressHistory;              // every progress value set, in order
    int progress = 0;
    int badIndices = 0; // calls with an index outside 0..19
};

class FakeEditorView : public EditorView {
public:
    QString newText() const override { return text; }
    void clearNewText() override;
    void setCurrentValue(const QString& value) override { currentValue = value; }

    QString text;         // Text1
    QString currentValue; // lblCurrentValue
    int clears = 0;
};
