#pragma once
// The single-message editor: writes or erases the message of the selected
// interlock. Modeless; the main window keeps at most one open.

#include "table/Editor.h"

#include <QWidget>

class Transport;
class LoadedWindows;
class QLabel;
class QLineEdit;
class QPushButton;

class frmWrite : public QWidget, public EditorView {
    Q_OBJECT
public:
    // The editor logic outlives the window: it is kept for the whole run.
    frmWrite(Editor& editor, Transport& transport, LoadedWindows& windows,
             QWidget* parent = nullptr);

    // Opening: the terminal name and current message of SelectedInterlock,
    // an empty Text1, centred, shown, the focus in Text1.
    void load();
    // A click on another message while the editor is open: the name, current
    // message and text box change to SelectedInterlock, and the editor comes
    // to the front. Writes always go to the interlock shown.
    void retarget();
    // The buttons' tooltips name the interlock and the unit address.
    void updateTooltips();

    // EditorView
    QString newText() const override;
    void clearNewText() override;
    void setCurrentValue(const QString& text) override;

    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* lblCurrentValue = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* cmdWrite = nullptr;
    QPushButton* cmdErase = nullptr;
    QPushButton* cmdDone = nullptr;
    QLabel* lblCount = nullptr; // "n/40", red when Text1 cannot be sent

signals:
    // The unit took a write or an erase of this interlock.
    void delivered(int interlock);
    // The port failed, and the operator asked for it to be opened again.
    void reconnectRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void run(Editor::Outcome (Editor::*action)(EditorView&));
    void setOperationsEnabled(bool on);
    void buildLayout();
    void showInterlock();
    void updateCount();

    Editor& editor_;
    LoadedWindows& windows_;
    int interlock_ = -1; // the interlock shown
    bool inTransaction_ = false;
};
