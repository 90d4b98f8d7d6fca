#pragma once
// The single-message editor: writes or erases the message of the selected
// interlock. Modeless; the main window keeps at most one open.

#include "connect/Connection.h"
#include "table/Editor.h"

#include <QWidget>
#include <array>

class Transport;
class LoadedWindows;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class MessageEditorWindow : public QWidget, public EditorView {
    Q_OBJECT
public:
    // The editor logic outlives the window: it is kept for the whole run.
    MessageEditorWindow(Editor& editor, const Connection& connection, Transport& transport,
                        LoadedWindows& windows, QWidget* parent = nullptr);

    // Opening: the terminal name and current message of the selected interlock,
    // an empty newTextEdit, centred, shown, the focus in newTextEdit.
    void load();
    // A click on another message while the editor is open: the name, current
    // message and text box change to the selected interlock, and the editor comes
    // to the front. Writes always go to the interlock shown.
    void retarget();
    // The buttons' tooltips name the interlock and the unit address.
    void updateTooltips();
    // Says whether Current Msg is the unit's text or only the table's.
    void showCurrentSource();

    // EditorView
    QString newText() const override;
    void clearNewText() override;
    // The table changed a text: Current Msg shows the table's text of the interlock shown.
    void tableChanged(int slot);

signals:
    // The unit took a write or an erase of this interlock.
    void delivered(int interlock, const UnitKey& unit);
    // The port failed, and the operator asked for it to be opened again.
    void reconnectRequested();
    // For the status line: "Write 52-54: written", "Erase 42-3: not delivered".
    void reported(const QString& outcome);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setCurrentValue(const QString& text);
    void run(Editor::Outcome (Editor::*action)(EditorView&, int));
    void report(bool write, Editor::Outcome outcome);
    // Put Back: the text the slot held before the last write or erase here.
    void putBack();
    void setOperationsEnabled(bool on);
    // The unit and port a write from here goes to now.
    UnitKey target() const;
    // Put Back is offered only for the interlock shown, on the unit it was
    // written to, with what that unit held before.
    void refreshPutBack();
    void buildLayout();
    void buildButtons();
    void showInterlock();
    void updateCount();
    // The forty cells under the text box: the new message as the unit will
    // show it, a character it cannot show on red (table/UnitPreview.h).
    QFrame* buildPreview();
    void updatePreview();

    // The controls, each with its member's name as object name, by which the
    // tests reach it.
    QLabel* interlockCaption = nullptr;
    QLabel* interlockValue = nullptr;
    QLabel* unitValue = nullptr; // "unit 1 on /dev/ttyUSB0"
    QLabel* currentCaption = nullptr;
    QLabel* currentValue = nullptr;
    QLabel* currentSource = nullptr; // whose text currentValue shows
    QLabel* newCaption = nullptr;
    QLineEdit* newTextEdit = nullptr;
    QPushButton* writeButton = nullptr;
    QPushButton* eraseButton = nullptr;
    QPushButton* closeButton = nullptr;
    QPushButton* putBackButton = nullptr;
    QLabel* countLabel = nullptr; // "n/40", red when newTextEdit cannot be sent
    QLabel* previewCaption = nullptr;
    QFrame* previewRow = nullptr;
    // previewCell_0..39: each cell's text, its "marked" property true for a
    // character the unit cannot show, its note as tooltip.
    std::array<QLabel*, kMessageMaxLength> previewCells{};
    QLabel* previewBeyond = nullptr; // "+3": characters past the fortieth cell

    Editor& editor_;
    const Connection& connection_;
    Transport& transport_;
    LoadedWindows& windows_;
    UnitKey shown_;      // the unit and port unitValue names
    int interlock_ = -1; // the interlock shown
    // What was typed for each interlock and not yet written, kept while the
    // editor is open: a click on another message does not throw it away.
    std::array<QString, kInterlockCount> drafts_{};
    bool inTransaction_ = false;
    int putBackSlot_ = -1; // the interlock Put Back restores, on which unit, and what it held
    UnitKey putBackUnit_;
    QString putBackText_;
    bool puttingBack_ = false; // Put Back's erase does not ask again
};
