#pragma once
// Recorders of the main window's message table, the editor window and the comms-test window.

#include "commstest/CommsTest.h"
#include "table/Editor.h"
#include "table/MessageTable.h"
#include "table/ProgressView.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

// The bar, and the labels as the main window draws them from the table it watches.
class RecordingTableView : public ProgressView, public TableListener {
public:
    void watch(MessageTable& table);
    void setProgress(int slot, int value) override;
    void textChanged(int slot) override;

    std::array<QString, 20> labels;            // each slot's label as it stands (unset: empty)
    QVector<QPair<int, QString>> labelHistory; // every change, in order
    QVector<int> progressHistory;              // every progress value set, in order
    int progress = 0;

private:
    const MessageTable* table_ = nullptr;
};

class FakeEditorView : public EditorView {
public:
    QString newText() const override { return text; }
    void clearNewText() override;

    QString text; // the new text typed
};

// The comms-test window's labels, MsgText and the problems it was told.
class RecordingCommsTestView : public CommsTestView {
public:
    void setUnitAddressText(const QString& t) override { labels[0] = t; }
    void setTransmitted(const QString& d) override { labels[1] = d; }
    void setReceived(const QString& d) override { labels[2] = d; }
    void setByteCount(const QString& t) override { labels[3] = t; }
    void setStoredText(const QString& t) override { labels[4] = t; }
    void setSending(bool) override {}
    void setReceiving(bool) override {}
    QString messageText() const override { return text; }
    void clearMessageText() override { text.clear(); }
    void showProblem(const QString& t) override { problems << t; }
    void slotWritten(int unit, int slot, const QString& t) override {
        written << QString("%1:%2 %3").arg(unit).arg(slot).arg(t);
    }

    QStringList labels =
        QStringList(5, "old"); // unit, transmitted, received, byte count, stored text
    QString text;              // MsgText
    QStringList problems;
    QStringList written; // "unit:slot text", each write the unit confirmed
};
