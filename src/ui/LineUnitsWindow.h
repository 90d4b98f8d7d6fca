#pragma once
// "Units on This Line": the units a scan of the line finds (address, first
// message, last backup or restore and its result), Back Up All into a folder,
// Compare All with a folder (the slots that differ, per unit), Restore All
// from a folder (asked first, naming the units it will change); one progress
// bar for the whole line with the unit and slot under way, and Stop. A
// double-click on a unit makes it the unit of every window (unitChosen).
//
// The work is line/LineRun's, on tables of its own: the main window's table
// is never touched. Nothing starts while another operation holds the line.

#include "line/LineRun.h"

#include <QDialog>
#include <functional>
#include <map>
#include <memory>

class ChangeRecord;
class Connection;
struct FoundUnit;
class MessageTable;
class Operator;
class QLabel;
class QLayout;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class Scanner;
class Transport;

class LineUnitsWindow : public QDialog, private LineProgress {
    Q_OBJECT
public:
    // startup: the table whose defaults and terminal names the line's own
    // tables take; it is only read.
    LineUnitsWindow(Transport& transport, Operator& op, const MessageTable& startup,
                    const Connection& connection, QWidget* parent = nullptr);
    ~LineUnitsWindow() override;

    // Asks for a folder (caption, the folder last chosen); empty for Cancel.
    // Tests replace the dialog with this.
    using FolderChooser = std::function<QString(const QString& caption, const QString& last)>;
    void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
    // Hears every write and erase of Restore All.
    void setChangeRecord(ChangeRecord* record) { record_ = record; }
    // What the units did with block reads, as the main window's operations know it.
    void setBlockReadMemory(BlockReadMemory* memory) { blockMemory_ = memory; }
    // What a "Reconnect" answer runs, when a run ends on a port that is no
    // longer open.
    void setReconnectAction(std::function<void()> f) { reconnect_ = std::move(f); }

    // The addresses listed, in order.
    QVector<int> units() const;

signals:
    // A double-click on a unit: it becomes the unit of every window.
    void unitChosen(int unit);

public slots:
    void scan();
    void backUpAll();
    void compareAll();
    void restoreAll();
    void stop();
    void reject() override; // while a run is under way it stops it instead

private:
    // The unit list's columns; a differing slot's line spans its unit's row.
    enum Column { kAddress, kFirstMessage, kLast, kLastResult, kCompare };
    void buildControls();
    QLayout* buildButtons();
    QTreeWidgetItem* row(int unit);
    void addFound(const FoundUnit& unit);
    // Nothing may start while a run of this window or another operation
    // holds the line: says so and returns false.
    bool mayStart();
    void setRunning(bool on);
    void updateButtons();
    // The folder's units for a compare or restore, or nothing after saying why.
    std::optional<QVector<UnitFile>> folderUnits(const QString& caption, bool forRestore);
    LineReport runLine(const std::function<LineReport(LineRun&)>& work);
    void showCompare(const LineUnitResult& r);
    void showLast(const LineUnitResult& r, const QString& what);
    QString askRestore(const QVector<UnitFile>& differing) const;
    void tell(const LineReport& r, const QString& what);
    // A box after a run; it offers Reconnect when the port the line names is
    // no longer open.
    void say(const QString& text, const QString& title, MsgIcon icon);

    // LineProgress
    void lineProgress(int unit, int slot, int percent) override;
    void unitFinished(const LineUnitResult& result) override;

    // The controls, each with its member's name as object name.
    QTreeWidget* unitList = nullptr;
    QProgressBar* lineProgressBar = nullptr;
    QLabel* underWayLabel = nullptr;
    QPushButton* scanButton = nullptr;
    QPushButton* backUpAllButton = nullptr;
    QPushButton* compareAllButton = nullptr;
    QPushButton* restoreAllButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* closeButton = nullptr;

    Transport& transport_;
    Operator& op_;
    const MessageTable& startup_;
    const Connection& connection_;
    ChangeRecord* record_ = nullptr;
    BlockReadMemory* blockMemory_ = nullptr;
    FolderChooser chooseFolder_;
    std::function<void()> reconnect_;
    QString lastFolder_;
    QString runFolder_; // the folder of the run under way or last run, named in each row
    QString running_;   // "Backup", "Compare", "Restore", "Scan" while one runs
    LineRun* run_ = nullptr;
    Scanner* scanner_ = nullptr;
};
