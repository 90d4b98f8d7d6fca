#pragma once
// The whole line, one unit after another over the one transport: back up
// every unit into a folder, compare each unit with its file, restore the
// units that differ. A unit that does not answer is listed as such and the
// others go on; a stop ends the run between two requests and what was
// finished is kept and listed. The run works on a table of its own, never
// on the window's.
//
// The window and the command line hear the run through LineProgress and are
// told through Notices; nothing is asked while it runs.

#include "line/LineFolder.h"
#include "startup/LineOptions.h"
#include "startup/Operator.h"
#include "table/MessageTable.h"
#include "table/UnitSync.h"

#include <QDateTime>
#include <QString>
#include <QVector>

class BulkOperations;
class ChangeRecord;
class Transport;

// What became of one unit.
struct LineUnitResult {
    int unit = 0;
    QString file;         // its unit-NN.sav
    QString result;       // "saved", "no answer", "2 of 20 slots differ", "did not answer", ...
    QDateTime time;       // when its part of the run ended
    QString firstMessage; // a backup: slot 0 as read
    QVector<SlotDifference> differences; // a compare or restore: the slots that (still) differ
    QString box; // the last box the unit's part raised, for the operator to read
    bool answered = false;
    bool ok = false; // saved; as in its file; restored
};

struct LineReport {
    enum class Outcome {
        Finished,   // every unit was come to
        Stopped,    // requestStop(): ended between two requests
        PortFailed, // the port failed; the units after it were not come to
        Refused,    // nothing sent: the line is busy or the folder cannot be written
    };
    Outcome outcome = Outcome::Finished;
    QVector<LineUnitResult> units; // the units come to, in order
    int planned = 0;               // the units the run was to come to
    QString error;                 // why it was refused, the port failed, or index.csv not saved
    QString indexFile;             // a backup: its index.csv, once written
    int okCount() const;
};

// The run under way, for a progress bar and a list.
class LineProgress {
public:
    virtual ~LineProgress() = default;
    // Unit under way, its slot (-1 between two slots) and the whole line's
    // part done, 0..100.
    virtual void lineProgress(int unit, int slot, int percent) = 0;
    // One unit is over, whatever became of it.
    virtual void unitFinished(const LineUnitResult& result) = 0;
};

class LineRun {
public:
    // startup: its defaults and terminal names make the run's own table; it
    // is read only here.
    LineRun(Transport& transport, Notices& notices, const MessageTable& startup);
    ~LineRun();
    LineRun(const LineRun&) = delete;
    LineRun& operator=(const LineRun&) = delete;

    void setProgress(LineProgress* progress) { progress_ = progress; }
    // Each unit's boxes go to the operator (the command line prints them);
    // off, they are only kept in the unit's result (the window lists them).
    void setForwardBoxes(bool on);
    void setBlockReads(BlockReads mode) { blockReads_ = mode; }
    // What the units did with block reads, shared with the window's
    // operations (by default the run's own).
    void setBlockReadMemory(BlockReadMemory& memory) { blockMemory_ = &memory; }
    // Hears every write and erase of a restore; null records nothing.
    void setChangeRecord(ChangeRecord* record) { record_ = record; }

    // Reads each unit whole into folder/unit-NN.sav (a unit read in part is
    // saved nowhere) and lists them all in folder/index.csv, also after a
    // stop or a failed port.
    LineReport backup(const QVector<int>& units, const QString& folder);
    // Reads each unit and compares it with its file.
    LineReport compare(const QVector<UnitFile>& files);
    // Makes each unit hold its file: only the slots that differ are written,
    // each read back.
    LineReport restore(const QVector<UnitFile>& files);

    // Ends the run between two requests (the wait under way ends at once).
    void requestStop();
    bool stopRequested() const { return stop_; }

private:
    class Boxes;
    class Slots;
    LineUnitResult backupUnit(int unit, const QString& folder, bool& ends);
    LineUnitResult syncUnit(const UnitFile& file, bool restore, bool& ends);
    LineReport syncLine(const QVector<UnitFile>& files, bool restore);
    bool startRun(LineReport& report, int planned);
    // Ends the unit's part: the time, the box, the listeners; false when the
    // run is over after it.
    bool finishUnit(LineUnitResult r, LineReport& report, bool portFailed);

    Transport& transport_;
    TextTable defaults_;
    TextTable terminals_;
    Boxes* boxes_;
    Slots* slots_;
    LineProgress* progress_ = nullptr;
    ChangeRecord* record_ = nullptr;
    BlockReads blockReads_ = BlockReads::Off;
    BlockReadMemory ownBlockMemory_;
    BlockReadMemory* blockMemory_ = &ownBlockMemory_;
    BulkOperations* ops_ = nullptr; // the unit's operation under way, for a stop
    UnitSync* sync_ = nullptr;
    bool stop_ = false;
};
