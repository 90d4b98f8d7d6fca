#pragma once
// The history of changes as a file: one CSV row per SlotChange, appended and
// never rewritten, so that two copies of the tool running at once may both
// add to it. Each row is written whole by one write() on a file opened for
// appending, and ends with a checksum of the rest of the row: a row cut short
// by a crash (or damaged after) is skipped on reading and counted.
//
// The row: time (ISO 8601, local time with its offset), port or gateway,
// speed, unit, slot, terminal, before, written, result, checksum (four hex
// digits, CRC-16 of the row's bytes before the comma ahead of it). Message
// texts carry \xHH for control characters (MessageText::escaped); a field
// that a spreadsheet would take for a formula has an apostrophe before it
// (formulaGuarded), dropped on reading. The file starts with a header row of
// the names.
//
// Each write has two rows: one with the result "sent", appended before its
// request goes, and one with its outcome. Reading joins the two into one
// change (files from before the sent rows have the outcome alone); a sent row
// that no outcome followed, because the program ended between the two, reads
// as a change with the result "sent, no outcome recorded".

#include "startup/Operator.h"
#include "transport/ChangeRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <optional>

class HistoryFile : public ChangeRecord {
public:
    // op (may be null) hears once when the file cannot be written.
    explicit HistoryFile(QString path = defaultPath(), Notices* notices = nullptr);
    // "history.csv" in the folder QV840N_DATA_DIR names, else in the user's
    // data folder (~/.local/share/qv840n), the same for the window and qv840ctl.
    static QString defaultPath();
    QString path() const { return path_; }
    void setNotices(Notices* notices) { notices_ = notices; }
    // Appends the row; a file that cannot take it is reported once, and the
    // caller's write goes ahead all the same.
    void record(const SlotChange& change) override;
    bool failed() const { return reported_; }

private:
    QString path_;
    Notices* notices_;
    bool reported_ = false;
};

// The row of a change with its checksum and the line end.
QByteArray historyRow(const SlotChange& change);
// The change of one row (without its line end); nothing for a row cut short,
// one whose checksum fails, or the header.
std::optional<SlotChange> historyChange(const QByteArray& row, bool* header = nullptr);

// Appends row to the file at path (created, with its folder and the header,
// when missing); false with why when it could not.
bool appendHistoryRow(const QString& path, const QByteArray& row, QString& why);

struct HistoryRead {
    QVector<SlotChange> changes; // in the order of the file, each sent row joined to its outcome
    int damaged = 0;             // rows cut short or failing their checksum
    QString error;               // the file could not be read; a missing file is no error
};
HistoryRead readHistory(const QString& path);
// The changes of rows as read: a sent row and the first outcome after it of
// the same write (endpoint, unit, slot and text) are one change, the outcome,
// in the place of the sent row; an outcome without a sent row stands alone.
QVector<SlotChange> joinedChanges(const QVector<SlotChange>& rows);

// The changes of unit (all units when unset) at since or later (all when invalid).
QVector<SlotChange> historyOf(const QVector<SlotChange>& changes, std::optional<int> unit,
                              const QDateTime& since);
