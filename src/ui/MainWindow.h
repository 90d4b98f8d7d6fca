#pragma once
// The main window: the twenty interlock messages in their four groups, the
// bulk operations, the message-table files, the unit address and the exit.

#include "connect/Connection.h"
#include "diag/LineCounters.h"
#include "sheet/Sheet.h"
#include "table/BulkOperations.h"
#include "table/BulkRunner.h"
#include "table/Editor.h"
#include "table/HistoryFile.h"
#include "table/MessageTable.h"
#include "table/ProgressView.h"
#include "table/UnitSync.h"
#include "ui/ClickLabel.h"

#include <QLabel>
#include <QPointer>
#include <QSettings>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class CommsTestWindow;
class SerialPort;
class Transport;
class LoadedWindows;
class Operator;
class QGridLayout;
class QGroupBox;
class QLayout;
class QMenu;
class QProgressBar;
class QPushButton;
class QShortcut;
class QToolButton;
class UpDown;
class MessageEditorWindow;

// The file dialog: save or open, its filters, the name (or folder, ending in
// '/') it starts from. Empty for Cancel.
QString defaultFileChooser(QWidget* parent, bool save, const QString& filter,
                           const QString& lastName);

class MainWindow : public QWidget, public ProgressView, public TableListener {
    Q_OBJECT
public:
    MainWindow(MessageTable& table, Connection& connection, Transport& transport, Operator& op,
               LoadedWindows& windows, CommsTestWindow& commsTest, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Opening: the labels show the default messages, the address shows
    // the connection's unit address, and the window centres and shows itself.
    void load();

    // Asks for a file name: save or open, the filter text, the name last
    // chosen. An empty answer is Cancel. Tests replace the dialog with this.
    using FileChooser =
        std::function<QString(bool save, const QString& filter, const QString& lastName)>;
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    // How the program ends once the exit is confirmed and the port closed.
    void setEndProgram(std::function<void()> f) { endProgram_ = std::move(f); }
    // What Connect and Find Unit open; without them the buttons do nothing.
    void setConnectAction(std::function<void()> f) { connectAction_ = std::move(f); }
    void setFindUnitAction(std::function<void()> f) { findUnitAction_ = std::move(f); }
    // The serial port under the transport, for Line Health's idle line and scan.
    void setLinePort(SerialPort* port) { linePort_ = port; }
    // What the "Reconnect" answer of a port-failure box runs.
    void setReconnectAction(std::function<void()> f) { reconnectAction_ = std::move(f); }
    // Where the recent files and the sheets' site names are kept; by default
    // the user's settings, beside the remembered connection.
    void setSettings(QSettings* settings) { settings_ = settings; }
    // Asks for one line of text (label, prefilled); nothing for Cancel. Tests
    // replace the input dialog with this.
    using TextAsker =
        std::function<std::optional<QString>(const QString& label, const QString& prefill)>;
    void setTextAsker(TextAsker asker) { askText_ = std::move(asker); }

    // The status line: the connection and the last operation's outcome. The
    // port was opened, closed or renamed: the failure noted last is over.
    void connectionChanged();
    // A passing state in place of connected / not connected ("reconnecting").
    void setConnectionNote(const QString& note);
    // "ttyUSB0, 9600 baud, unit 1: connected", as the comms test shows it too.
    QString connectionText() const;

    // The one unit address of every window, as if the operator had set it
    // here: the connection, the comms test and the tooltips follow.
    void setUnitAddress(int unit);

    Editor& editor() { return editor_; }
    MessageEditorWindow* editorWindow() const; // the open editor, if any

    // ProgressView: while Write All runs, the labels of the slots not yet
    // come to are blank.
    void setProgress(int slot, int value) override;
    // TableListener: the slot's label shows its text.
    void textChanged(int slot) override;

signals:
    // The operator, the comms test or setUnitAddress changed the unit address.
    void unitAddressChanged(int unit);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Slot index's label shows text (a control character as \xHH).
    void showLabel(int index, const QString& text);
    void buildControls();
    QLayout* buildColumns();
    void connectControls();
    void connectCommsTest();
    QGroupBox* groupFrame(int group, const QColor& background, const QColor& caption);
    QLabel* terminalLabel(int k, QWidget* frame, int rowHeight);
    ClickLabel* messageLabel(int k, QWidget* frame, int rowHeight);
    QGroupBox* buildCommandCenter();
    void addLineUnitsButton(QGridLayout* grid, QWidget* commandCenter);
    QLayout* buildAddress(QWidget* commandCenter);
    QLayout* buildProgress();
    void messageClicked(int index);
    QString startName() const;
    QString chosenName(QString name, const QString& suffix);
    void saveFile();
    void openFile();
    // Open File's path after the name is known; the recent files' too.
    void openTable(const QString& name);
    void openRecent(const QString& name);
    bool mayDropTable(const QString& question); // asks before an unsaved table gives way
    // Open File and the small menu button beside it (ui/MainWindowFiles.cpp).
    QLayout* buildOpenFileRow(QPushButton* openFile, QWidget* parent);
    void fillRecentMenu(QMenu* menu);
    QSettings& settings();
    // The site or boiler name for the sheet, asked once per table; nothing
    // when the operator cancelled.
    std::optional<QString> askSiteName();
    void print();
    // Why leaving the table would lose something, or nothing.
    QString unsavedNote() const;
    void setOperationsEnabled(bool on);
    void showCommsTest();
    void exportPdf();
    void eraseAll();
    // Runs a bulk operation; its button reads "Stop" meanwhile and stops it,
    // as Escape does.
    void runBulk(QPushButton* button, BulkKind kind);
    // Runs body with button reading "Stop" meanwhile, stopping it as Escape does.
    void whileRunning(QPushButton* button, const std::function<void()>& body);
    void endProgram(); // after Quit was answered: the comms test unloaded, the program ended
    void stopRunning();
    // Compare with Unit: the slots that differ, then Write Selected for those chosen.
    void compareWithUnit();
    void writeChosen(int unit, const QVector<int>& chosen);
    void refreshStatus();
    // The table's source line and each slot's mark: as on the unit, differs, not read.
    void refreshSource();
    UnitKey currentUnit() const;
    bool mayWrite(const QString& name); // asks before replacing a file
    void onUnitAddressChanged(int value);
    // The history: recorded by every operation that writes; History... shows it
    // (ui/MainWindowHistory.cpp).
    void setupHistory();
    void showHistory();
    // Units on This Line: the whole line's backup, compare and restore, on
    // tables of its own (ui/LineUnitsWindow.*).
    void showLineUnits();
    // Line Health: the line's counters, every operation's (ui/LineHealthWindow.*).
    void showLineHealth();
    void updateTooltips();
    void updateTitle();
    SheetInfo sheetInfo() const; // what Print and Export PDF draw

    // The controls. Each bears its member's name as object name, the k-th of an
    // array with "_k" (the groups: group1 to group4, commandCenter); the tests
    // reach them by these names.
    std::array<ClickLabel*, kInterlockCount> messageLabels{};
    std::array<QLabel*, kInterlockCount> terminalLabels{};
    std::array<QGroupBox*, 5> groupBoxes{}; // the four interlock groups, then the command centre
    QPushButton* readAllButton = nullptr;
    QPushButton* writeAllButton = nullptr;
    QPushButton* eraseAllButton = nullptr;
    QPushButton* openFileButton = nullptr;
    QToolButton* recentFilesButton = nullptr; // its menu: the last five tables
    QPushButton* saveFileButton = nullptr;
    QPushButton* quitButton = nullptr;
    QPushButton* commsTestButton = nullptr;
    QPushButton* printButton = nullptr;
    QPushButton* exportPdfButton = nullptr;
    UpDown* addressSpinner = nullptr;
    QLabel* addressValue = nullptr;
    QLabel* addressCaption = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* progressCaption = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* findUnitButton = nullptr;
    QPushButton* compareButton = nullptr;
    QPushButton* historyButton = nullptr;
    QPushButton* lineUnitsButton = nullptr;
    QPushButton* lineHealthButton = nullptr;
    QLabel* sourceLine = nullptr; // where the table came from
    QLabel* statusLine = nullptr;

    MessageTable& table_;
    Connection& connection_;
    Transport& transport_;
    Operator& op_;
    LoadedWindows& windows_;
    CommsTestWindow& commsTest_;
    BulkOperations bulk_;
    BulkRunner run_;
    UnitSync sync_;               // compare with unit, write selected
    BlockReadMemory blockMemory_; // read all's, compare's, restore's, the line window's
    Editor editor_; // one for the whole run: its round of length refusals carries over
    QPointer<MessageEditorWindow> editorWindow_;
    HistoryFile history_; // every write and erase of this window and the comms test
    QString lastFolder_;  // of the last file chosen, for the next dialog
    FileChooser chooseFile_;
    TextAsker askText_;
    QSettings* settings_ = nullptr;
    std::unique_ptr<QSettings> ownSettings_; // the user's, when none was given
    std::function<void()> endProgram_;
    std::function<void()> connectAction_;
    std::function<void()> findUnitAction_;
    std::function<void()> reconnectAction_;
    QPushButton* running_ = nullptr; // the button of the bulk operation under way
    QString runningCaption_;         // its caption, "Write All Msgs", for Quit's question
    bool exitAfterRun_ = false;      // Quit was answered Yes while it ran: end when it stops
    // While Write All runs: the slot under way (-1 before the first); the
    // labels after it are blank. Nothing when Write All is not running.
    std::optional<int> writingAllAt_;
    QShortcut* escape_ = nullptr;
    QString failure_;     // why the port failed last, until it is opened again
    QString note_;        // a passing state
    QString lastOutcome_; // "Read All: 20 of 20 read, 14:02"
    bool exitConfirmed_ = false;
    bool framed_ = false; // centred once more when first active, with its frame known
    SerialPort* linePort_ = nullptr;
    LineCounters lineCounters_; // every request of every operation, while the program runs
};
