#pragma once
// What every operation over all the unit's slots is made of (read, write and
// erase all, compare and restore): the claim on the transport, the pause
// before each request, the verdict on each reply, the stop between two
// requests, the progress bar, and the one report at the end. A bulk read may
// ask for several messages in one request (block reads, LineOptions).

#include "startup/LineActivity.h"
#include "startup/LineOptions.h"
#include "startup/Operator.h"
#include "table/ProgressView.h"
#include "transport/ChangeRecord.h"
#include "transport/Transport.h"
#include "transport/UnitRun.h"

#include <QHash>
#include <QPair>
#include <QString>
#include <QVector>

#include <optional>

// A slot whose reply came but could not be taken as the unit's answer.
struct RejectedReply {
    int interlock = 0;
    QString reason; // ReplyCheck::reason()
};

// A slot whose read-back after a confirmed write is not what was written.
struct SlotMismatch {
    int slot = 0;
    QString written;     // what was sent; empty for an erase
    QString readBack;    // what the slot held then; empty for the empty slot
    bool unread = false; // the read-back got no usable reply
};

struct BulkResult {
    enum class Outcome {
        Completed,  // every pass ran (some slots may not have answered)
        Cancelled,  // read all: Cancel in the "Communication Fault" box, or a
                    // silence ended it (RunPolicy::AfterSilence::End); compare
                    // and restore: the unit is absent (UnitSync::setEndIfAbsent)
        Refused,    // nothing sent: link busy, port not open, or bad entries
        PortFailed, // the port failed mid-operation
        Stopped     // requestStop(): ended between two requests
    };
    Outcome outcome = Outcome::Completed;
    QVector<int> silent;             // interlocks that did not answer
    QVector<RejectedReply> rejected; // interlocks whose reply was garbled, foreign or a refusal
    QVector<int> invalid;   // write all: entries held back (empty, over 40, or not encodable)
    QString error;          // the port's reason, for PortFailed and Refused
    QVector<int> done;      // interlocks the unit confirmed (read, written or erased)
    bool reconnect = false; // PortFailed: the operator asked to open the port again
    // Cancelled by a silence (RunPolicy::AfterSilence::End): the words the
    // window's box would have said.
    QString silenceEnded;
    // Compare and restore: what the unit made of the run's first request.
    // NotAsked: no reply was judged (a stop, a failed port, nothing chosen).
    enum class Presence { NotAsked, Answers, Absent };
    Presence presence = Presence::NotAsked;
    // The run ended at its first request, the unit being absent.
    bool endedAbsent() const {
        return presence == Presence::Absent && outcome == Outcome::Cancelled;
    }
    // Writes and erases sent whose reply was no longer awaited (a stop, a
    // failed port): they may have reached the unit.
    QVector<int> unconfirmed;
    // Write all: the entries not sent because they equal their default.
    QVector<int> unchanged;
    // Write all with the read-back on: the slots written whose read-back
    // differs (they are not in done).
    QVector<SlotMismatch> mismatched;
    // Refused: with block reads on, the unit refused a read of several
    // messages (error says how); the slots read before it are in done.
    bool blockReadsRefused = false;
};

// What the units of a connection did with a read of several messages, kept
// for the session: with block reads on auto, a unit that refused one is read
// one message per request from then on. Keyed by the connection (the
// transport's endpoint name) and the unit address; the window keeps one for
// all its operations (BulkOperations::setBlockReadMemory), each other owner
// one of its own.
class BlockReadMemory {
public:
    enum class Answer { Unknown, Takes, Refuses };
    Answer answer(const QString& connection, int unit) const;
    void note(const QString& connection, int unit, Answer answer);

private:
    QHash<QPair<QString, int>, Answer> answers_;
};

// What one read request brought for the slots it covered, from first on.
struct SlotsRead {
    int first = 0;
    // One per slot covered: its text (empty for the empty slot), or nothing
    // when it was not answered usably (noted as silent or rejected).
    QVector<std::optional<QString>> texts;
    bool silent = false; // nothing came for them (a gateway's "no answer" too)
    int count() const { return int(texts.size()); }
};

// The parts of the caller a run works through.
struct BulkParts {
    Transport& transport;
    ProgressView* view; // null: the progress is shown nowhere
    Notices& notices;
    RunPolicy policy; // what is asked, and what is decided without asking
    LineActivity* activity;
    RunStop& stop;
    BlockReadMemory& blockMemory;
    BlockReads blockReads = BlockReads::Off; // how readSlots() asks
    ChangeRecord* record = nullptr;          // hears each write and erase; may be null
};

// For the operator, by its terminals: "interlock 42-3".
QString interlockName(int k);

// The box that lists slots whose read-back differs, each with both texts.
QString mismatchText(const QVector<SlotMismatch>& mismatched);

// The read-back for a single write outside a bulk run (the editor), made in
// the write's run: after text (empty: an erase) was written to slot and
// confirmed, the line's pause, then a read of the slot. Nothing when the slot
// holds what was written; else the mismatch, which mismatchText() names for
// the operator (unread when no usable reply came, or the line failed: status
// then says how).
std::optional<SlotMismatch> readBackWritten(UnitRun& run, int slot, const QString& text,
                                            TransportStatus* status = nullptr);

class BulkRun {
public:
    // The whole run goes to the unit addressed when it starts.
    BulkRun(BulkParts parts, BulkResult& result, int unit);
    BulkRun(const BulkRun&) = delete;
    BulkRun& operator=(const BulkRun&) = delete;

    int unit() const { return run_.unit(); }

    // Nothing may be sent while another operation holds the transport or
    // without a port; the caller returns the result as it stands when this
    // gives false.
    bool available();
    // False (and the operation is over) when the transport did not do what was asked.
    bool lineOk(TransportStatus s);
    // The transport's prepare(), with the line marked busy when busy is set.
    bool prepare(bool busy);

    // The bar moves on to slot i, an equal share per slot; or to percent (0 to 100) while at
    // slot.
    void advance(int i);
    void advanceTo(int slot, int percent);

    // The pause, then one request and its reply. A stop asked for before or
    // during the pause ends the run here, between two requests.
    bool pauseAndExchange(const QByteArray& pdu, Transaction& t);
    // Its two halves: the pause (false when a stop or the line ended the
    // run), then the request and its reply (false when the line failed).
    bool paused();
    bool exchange(const QByteArray& pdu, Transaction& t);
    // True when the reply is the addressed unit's whole answer to its request; else
    // slot i is noted as silent or rejected.
    bool answered(int i, const Transaction& t);

    // One request of a bulk read, after the pause: slot first alone, or with
    // block reads the slots after it too, up to last and at most six. On
    // auto, a unit that answers a block read with an exception or an unusable
    // reply (or is silent to it and answers a read of one slot) is remembered
    // and read one slot per request, starting again at first; on, such a
    // refusal ends the run (Refused, blockReadsRefused). Nothing when the run
    // ended (ended() says so for a stop or a failed port).
    std::optional<SlotsRead> readSlots(int first, int last);
    // Writes text to slot i (an empty text erases it); true when confirmed.
    // The write is recorded (BulkParts::record) as sent just before its
    // request goes, and a write that fails with its outcome, each with before,
    // what the slot held when that was read first; the caller records the
    // outcome of the rest.
    bool writeSlot(int i, const QString& text, const QString& before = QString());
    // Records the change of slot i (BulkParts::record), when a record is set.
    void noteChange(int i, const QString& before, const QString& written, const QString& result);
    // After a confirmed write of text (empty: an erase) to slot i: the pause,
    // then a read of it. Nothing when it holds what was written; else the
    // mismatch. A silent or unusable reply is a mismatch too (unread), and is
    // not noted as the slot's silence. Nothing as well when the run ended
    // (ended() says so).
    std::optional<SlotMismatch> readBack(int i, const QString& text);

    // The run is over: stopped, or the port failed.
    bool ended() const;
    bool stopped();

    // The end: the bar is reset, then the one report of what went wrong.
    void finish(const QString& verb, bool reportSilent = true);

private:
    int blockSize(int first, int last);
    std::optional<SlotsRead> readOne(int i);
    std::optional<SlotsRead> readBlock(int first, int count);
    std::optional<SlotsRead> blockNotTaken(int first, int count, const ReplyCheck& check);
    std::optional<SlotsRead> readAloneAfterSilence(int first, int count);
    SlotsRead notedForAll(int first, int count, const ReplyCheck& check);
    void refuseBlockReads(const ReplyCheck& check);
    BlockReadMemory::Answer blockAnswer();
    void noteBlockAnswer(BlockReadMemory::Answer answer);

    BulkParts parts_;
    BulkResult& result_;
    UnitRun run_;
};
