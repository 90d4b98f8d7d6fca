#include "table/BulkRun.h"

#include "modbus/Pdu.h"
#include "startup/CodePage.h"
#include "startup/Interlocks.h"
#include "startup/MessageLayout.h"
#include "startup/MessageText.h"
#include "transport/PortTexts.h"

#include <QStringList>

#include <algorithm>

namespace {

const QString kFaultTitle = QStringLiteral("Communication Fault");
const QString kStoppedTitle = QStringLiteral("Stopped");

QString silentText(const QVector<int>& silent, const QString& verb) {
    QStringList names;
    for (int k : silent)
        names << terminalCaption(k);
    const bool one = silent.size() == 1;
    return QStringLiteral("The unit did not answer for %1 %2: %3.\r\n%4 %5 not %6.")
        .arg(silent.size())
        .arg(one ? QStringLiteral("interlock") : QStringLiteral("interlocks"))
        .arg(names.join(QStringLiteral(", ")))
        .arg(one ? QStringLiteral("That message") : QStringLiteral("Those messages"))
        .arg(one ? QStringLiteral("was") : QStringLiteral("were"))
        .arg(verb);
}

QString rejectedText(const QVector<RejectedReply>& rejected, const QString& verb) {
    const bool one = rejected.size() == 1;
    QStringList lines;
    lines << QStringLiteral("The unit's reply could not be used for %1 %2:")
                 .arg(rejected.size())
                 .arg(one ? QStringLiteral("interlock") : QStringLiteral("interlocks"));
    for (const RejectedReply& x : rejected)
        lines << terminalCaption(x.interlock) + QStringLiteral(": ") + x.reason;
    lines << QStringLiteral("%1 %2 not %3.")
                 .arg(one ? QStringLiteral("That message") : QStringLiteral("Those messages"))
                 .arg(one ? QStringLiteral("was") : QStringLiteral("were"))
                 .arg(verb);
    return lines.join(QStringLiteral("\r\n"));
}

QString stoppedText(const QVector<int>& done, const QString& verb) {
    QStringList names;
    for (int k : done)
        names << terminalCaption(k);
    return QStringLiteral("%1 of %2 interlocks %3%4; the others were not %3.")
        .arg(done.size())
        .arg(kInterlockCount)
        .arg(verb)
        .arg(names.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(names.join(", ")));
}

QString shown(const QString& text) {
    return text.isEmpty() ? QStringLiteral("nothing (an empty slot)")
                          : QLatin1Char('"') + MessageText::escaped(text) + QLatin1Char('"');
}

// The read-back of slot i, after text (empty: an erase) was written: nothing
// when it holds text, else the mismatch.
std::optional<SlotMismatch> judgedReadBack(int i, const QString& text, const Transaction& t) {
    SlotMismatch m{i, text, QString(), false};
    if (!t.check.confirmed()) {
        m.unread = true;
        return m;
    }
    const Pdu::ReadText decoded = Pdu::decodeReadReply(t.replyPdu);
    m.readBack = decoded.empty ? QString() : decoded.text;
    if (m.readBack == text)
        return std::nullopt;
    return m;
}

} // namespace

BlockReadMemory::Answer BlockReadMemory::answer(const QString& connection, int unit) const {
    return answers_.value({connection, unit}, Answer::Unknown);
}

void BlockReadMemory::note(const QString& connection, int unit, Answer answer) {
    answers_.insert({connection, unit}, answer);
}

QString interlockName(int k) {
    return QStringLiteral("interlock %1").arg(terminalCaption(k));
}

QString mismatchText(const QVector<SlotMismatch>& mismatched) {
    QStringList lines;
    const bool one = mismatched.size() == 1;
    lines << QStringLiteral("Read back after writing, %1 %2 not hold what was written:")
                 .arg(one ? QStringLiteral("1 interlock")
                          : QStringLiteral("%1 interlocks").arg(mismatched.size()))
                 .arg(one ? QStringLiteral("does") : QStringLiteral("do"));
    for (const SlotMismatch& m : mismatched) {
        const QString held = m.unread ? QStringLiteral("could not be read back")
                                      : QStringLiteral("holds ") + shown(m.readBack);
        lines << QStringLiteral("%1: written %2, %3")
                     .arg(interlockName(m.slot), shown(m.written), held);
    }
    return lines.join(QStringLiteral("\r\n"));
}

BulkRun::BulkRun(BulkParts parts, BulkResult& result, int unit)
    : parts_(parts), result_(result), run_(parts.transport, parts.stop, unit, parts.record) {}

bool BulkRun::available() {
    if (!run_.claimed()) {
        result_.outcome = BulkResult::Outcome::Refused;
        result_.error = PortTexts::busy();
        return false;
    }
    if (!run_.isOpen()) {
        result_.outcome = BulkResult::Outcome::Refused;
        const QString name = run_.endpointName();
        result_.error = name.isEmpty() ? PortTexts::notOpen() : PortTexts::closed(name);
        result_.reconnect = PortTexts::tellNotOpen(parts_.notices, parts_.policy, name);
        return false;
    }
    return true;
}

bool BulkRun::lineOk(TransportStatus s) {
    if (s == TransportStatus::Ok)
        return true;
    if (s == TransportStatus::Stopped) { // the stop ended the pause or the wait for a reply
        result_.outcome = BulkResult::Outcome::Stopped;
        return false;
    }
    result_.outcome = BulkResult::Outcome::PortFailed;
    result_.error = run_.reason(s);
    return false;
}

bool BulkRun::prepare(bool busy) {
    if (!lineOk(run_.prepare()))
        return false;
    if (busy && parts_.activity)
        parts_.activity->setLineBusy(true);
    return true;
}

void BulkRun::advance(int i) {
    advanceTo(i, 100 * (i + 1) / kInterlockCount);
}

void BulkRun::advanceTo(int slot, int percent) {
    if (parts_.view)
        parts_.view->setProgress(slot, percent);
}

bool BulkRun::pauseAndExchange(const QByteArray& pdu, Transaction& t) {
    return paused() && exchange(pdu, t);
}

bool BulkRun::paused() {
    // Bytes that come in during the pause (a late answer to the previous
    // request) are dropped with the request, or they would pass for its reply.
    return !stopped() && lineOk(run_.pause()) && !stopped();
}

bool BulkRun::exchange(const QByteArray& pdu, Transaction& t) {
    t = run_.exchange(pdu);
    return lineOk(t.status);
}

bool BulkRun::answered(int i, const Transaction& t) {
    const ReplyCheck& check = t.check;
    if (check.confirmed())
        return true;
    if (check.verdict == ReplyCheck::Verdict::Silent)
        result_.silent.append(i);
    else
        result_.rejected.append({i, check.reason()});
    return false;
}

std::optional<SlotsRead> BulkRun::readSlots(int first, int last) {
    const int count = blockSize(first, last);
    return count > 1 ? readBlock(first, count) : readOne(first);
}

BlockReadMemory::Answer BulkRun::blockAnswer() {
    return parts_.blockMemory.answer(run_.endpointName(), run_.unit());
}

void BulkRun::noteBlockAnswer(BlockReadMemory::Answer answer) {
    parts_.blockMemory.note(run_.endpointName(), run_.unit(), answer);
}

// The slots the next read asks for: one, unless block reads are on (or on
// auto for a unit not known to refuse them).
int BulkRun::blockSize(int first, int last) {
    const BlockReads mode = parts_.blockReads;
    if (mode == BlockReads::Off ||
        (mode == BlockReads::Auto && blockAnswer() == BlockReadMemory::Answer::Refuses))
        return 1;
    return std::clamp(last - first + 1, 1, Pdu::kMessagesPerBlockRead);
}

std::optional<SlotsRead> BulkRun::readOne(int i) {
    const QByteArray request = Pdu::readMessage(messageRegister(i));
    Transaction t;
    if (!pauseAndExchange(request, t))
        return std::nullopt;
    SlotsRead read{i, {std::nullopt}, false};
    if (answered(i, t)) {
        const Pdu::ReadText decoded = Pdu::decodeReadReply(t.replyPdu);
        read.texts[0] = decoded.empty ? QString() : decoded.text;
    } else {
        read.silent = t.check.verdict == ReplyCheck::Verdict::Silent;
    }
    return read;
}

std::optional<SlotsRead> BulkRun::readBlock(int first, int count) {
    const QByteArray request = Pdu::readMessages(messageRegister(first), count);
    Transaction t;
    if (!pauseAndExchange(request, t))
        return std::nullopt;
    const ReplyCheck& check = t.check;
    const QVector<QByteArray> parts =
        check.confirmed() ? Pdu::splitBlockReply(t.replyPdu, count) : QVector<QByteArray>();
    if (parts.isEmpty())
        return blockNotTaken(first, count, check);
    noteBlockAnswer(BlockReadMemory::Answer::Takes);
    SlotsRead read{first, {}, false};
    for (const QByteArray& part : parts) {
        const Pdu::ReadText decoded = Pdu::decodeReadReply(part);
        read.texts.append(decoded.empty ? QString() : decoded.text);
    }
    return read;
}

// A block read without a usable reply. A refusal (an exception, or a reply
// that does not answer it) ends the run on "on"; on auto it, or any other
// unusable reply, sends the unit back to one slot per request. Silence is
// the slots' own, unless on auto a unit not yet known to take block reads
// answers a read of one slot. Another unusable reply on "on" is each slot's.
std::optional<SlotsRead> BulkRun::blockNotTaken(int first, int count, const ReplyCheck& check) {
    using V = ReplyCheck::Verdict;
    const bool automatic = parts_.blockReads == BlockReads::Auto;
    if (check.verdict == V::Silent) {
        if (automatic && blockAnswer() == BlockReadMemory::Answer::Unknown)
            return readAloneAfterSilence(first, count);
        return notedForAll(first, count, check);
    }
    if (automatic) {
        noteBlockAnswer(BlockReadMemory::Answer::Refuses);
        return readOne(first);
    }
    // A refusal is an exception that says the unit cannot serve such a request
    // (1 to 3) or an answer that does not fit it; another exception (4, the
    // device failed; 6, busy) is a failure of the slots asked, as when read alone.
    const bool cannotServe =
        (check.verdict == V::Exception && check.detail >= 1 && check.detail <= 3) ||
        check.verdict == V::Unexpected;
    if (cannotServe) {
        refuseBlockReads(check);
        return std::nullopt;
    }
    return notedForAll(first, count, check);
}

// After a block read met silence: slot first alone. A unit that answers it
// ignores block reads; one silent to both is silent for the whole block.
std::optional<SlotsRead> BulkRun::readAloneAfterSilence(int first, int count) {
    std::optional<SlotsRead> alone = readOne(first);
    if (!alone || !alone->silent) {
        if (alone)
            noteBlockAnswer(BlockReadMemory::Answer::Refuses);
        return alone;
    }
    for (int i = first + 1; i < first + count; ++i) {
        result_.silent.append(i);
        alone->texts.append(std::nullopt);
    }
    return alone;
}

SlotsRead BulkRun::notedForAll(int first, int count, const ReplyCheck& check) {
    const bool silent = check.verdict == ReplyCheck::Verdict::Silent;
    SlotsRead read{first, {}, silent};
    for (int i = first; i < first + count; ++i) {
        if (silent)
            result_.silent.append(i);
        else
            result_.rejected.append({i, check.reason()});
        read.texts.append(std::nullopt);
    }
    return read;
}

void BulkRun::refuseBlockReads(const ReplyCheck& check) {
    const QString how = check.verdict == ReplyCheck::Verdict::Exception
                            ? QStringLiteral("exception %1, %2")
                                  .arg(check.detail)
                                  .arg(Pdu::exceptionName(check.detail))
                            : check.reason();
    result_.outcome = BulkResult::Outcome::Refused;
    result_.blockReadsRefused = true;
    result_.error = QStringLiteral("Unit %1 refused a read of several messages at once (%2); "
                                   "turn block reads off (--block-reads off) to read it one "
                                   "message per request.")
                        .arg(run_.unit())
                        .arg(how);
}

bool BulkRun::writeSlot(int i, const QString& text, const QString& before) {
    const QByteArray request =
        text.isEmpty() ? Pdu::eraseMessage(messageRegister(i))
                       : Pdu::writeMessage(messageRegister(i), CodePage::encode(text).bytes);
    Transaction t;
    bool went = paused();
    if (went) {
        // Recorded before it goes: a program killed while the unit answers
        // leaves the write in the history all the same.
        run_.noteSent(i, before, text);
        went = exchange(request, t);
        if (!went)
            result_.unconfirmed.append(i);
    }
    if (!went) {
        noteChange(i, before, text,
                   result_.outcome == BulkResult::Outcome::Stopped
                       ? ChangeResult::stopped()
                       : ChangeResult::lineFailed(result_.error));
        return false;
    }
    if (answered(i, t))
        return true;
    noteChange(i, before, text, ChangeResult::ofReply(t.check));
    return false;
}

void BulkRun::noteChange(int i, const QString& before, const QString& written,
                         const QString& result) {
    run_.noteChange(i, before, written, result);
}

std::optional<SlotMismatch> BulkRun::readBack(int i, const QString& text) {
    const QByteArray request = Pdu::readMessage(messageRegister(i));
    Transaction t;
    if (!pauseAndExchange(request, t))
        return std::nullopt;
    return judgedReadBack(i, text, t);
}

bool BulkRun::ended() const {
    return result_.outcome == BulkResult::Outcome::Stopped ||
           result_.outcome == BulkResult::Outcome::PortFailed;
}

bool BulkRun::stopped() {
    if (!run_.stopRequested())
        return false;
    result_.outcome = BulkResult::Outcome::Stopped;
    return true;
}

void BulkRun::finish(const QString& verb, bool reportSilent) {
    if (parts_.view)
        parts_.view->setProgress(-1, 0);
    if (parts_.activity)
        parts_.activity->setLineBusy(false);
    if (result_.outcome == BulkResult::Outcome::Stopped) {
        QStringList parts{stoppedText(result_.done, verb)};
        if (reportSilent && !result_.silent.isEmpty())
            parts << silentText(result_.silent, verb);
        if (!result_.rejected.isEmpty())
            parts << rejectedText(result_.rejected, verb);
        if (!result_.mismatched.isEmpty())
            parts << mismatchText(result_.mismatched);
        parts_.notices.tell(parts.join(QStringLiteral("\r\n")), kStoppedTitle,
                            MsgIcon::Information);
        return;
    }
    if (result_.blockReadsRefused)
        parts_.notices.tell(result_.error, kFaultTitle, MsgIcon::Exclamation);
    if (result_.outcome == BulkResult::Outcome::PortFailed) {
        // What was done before the line failed is said, as after a stop.
        const QString done = result_.done.isEmpty() ? QString()
                                                    : QStringLiteral("\r\nBefore it failed, ") +
                                                          stoppedText(result_.done, verb);
        const QString name = run_.endpointName();
        result_.reconnect = parts_.policy.offerReconnect(
            parts_.notices, PortTexts::failed(name, result_.error) + done,
            PortTexts::failedTitle(name), MsgIcon::Critical);
    }
    if (reportSilent && !result_.silent.isEmpty())
        parts_.notices.tell(silentText(result_.silent, verb), kFaultTitle, MsgIcon::Exclamation);
    if (!result_.rejected.isEmpty())
        parts_.notices.tell(rejectedText(result_.rejected, verb), kFaultTitle,
                            MsgIcon::Exclamation);
    if (!result_.mismatched.isEmpty())
        parts_.notices.tell(mismatchText(result_.mismatched), kFaultTitle, MsgIcon::Exclamation);
}

std::optional<SlotMismatch> readBackWritten(UnitRun& run, int slot, const QString& text,
                                            TransportStatus* status) {
    const QByteArray request = Pdu::readMessage(messageRegister(slot));
    Transaction t;
    t.status = run.pause();
    if (t.status == TransportStatus::Ok)
        t = run.exchange(request);
    if (status)
        *status = t.status;
    if (!t.ok())
        return SlotMismatch{slot, text, QString(), true};
    return judgedReadBack(slot, text, t);
}
