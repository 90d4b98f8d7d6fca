#include "table/BulkOperations.h"

#include "modbus/Pdu.h"
#include "startup/CodePage.h"
#include "startup/MessageText.h"
#include "startup/Interlocks.h"
#include "transport/PortTexts.h"

#include <QStringList>

#include <algorithm>

namespace {

const QString kFaultTitle = QStringLiteral("Communication Fault");
const QString kNoDataText = QStringLiteral("No data received!\r\n"
                                           "Check connection, unit address, baud rate, com port\r\n"
                                           "And then try again later!");
const QString kHeldBackTitle = QStringLiteral("Messages Not Written");

QString interlockName(int k) {
    return QStringLiteral("interlock %1 (%2)").arg(k).arg(terminalCaption(k));
}

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

const QString kStoppedTitle = QStringLiteral("Stopped");

} // namespace

QString writeAllProblem(const QString& entry, const QString& defaultText) {
    if (entry == defaultText)
        return {};
    if (entry.isEmpty())
        return QStringLiteral("the message is empty");
    if (entry.size() > kMessageMaxLength)
        return QStringLiteral("%1 characters, more than %2")
            .arg(entry.size())
            .arg(kMessageMaxLength);
    if (const qsizetype at = MessageText::firstUnsendable(entry); at >= 0)
        return QStringLiteral("%1 at position %2 cannot be sent")
            .arg(MessageText::describeUnsendable(entry.at(at)))
            .arg(at + 1);
    const CodePage::Encoded e = CodePage::encode(entry);
    if (!e.ok())
        return QStringLiteral("%1 has no code in Windows-1252")
            .arg(CodePage::describe(e.badCharacter));
    return {};
}

QStringList writeAllProblems(const MessageTable& table, QVector<int>* invalid) {
    QStringList problems;
    for (int i = 0; i < kInterlockCount; ++i) {
        const QString why = writeAllProblem(table.text(i), table.defaultText(i));
        if (why.isEmpty())
            continue;
        if (invalid)
            invalid->append(i);
        problems << interlockName(i) + QStringLiteral(": ") + why;
    }
    return problems;
}

// One operation from its first step to step E: the progress value, the port's
// failure, and the end.
class BulkOperations::Run {
public:
    // The whole run goes to the unit addressed when it starts.
    Run(BulkOperations& ops, BulkResult& result, int unit)
        : ops_(ops), result_(result), unit_(unit), claim_(ops.transport_), watch_(ops.transport_) {
        ops.stopRequested_ = false;
        ops.running_ = true;
    }
    ~Run() { ops_.running_ = false; }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    int unit() const { return unit_; }

    // Nothing may be sent while another operation holds the transport or
    // without a port; the caller returns the result as it stands when this
    // gives false.
    bool available() {
        if (!claim_.ok()) {
            result_.outcome = BulkResult::Outcome::Refused;
            result_.error = PortTexts::busy();
            return false;
        }
        if (!ops_.transport_.isOpen()) {
            result_.outcome = BulkResult::Outcome::Refused;
            result_.error = PortTexts::notOpen();
            ops_.op_.message(result_.error, {}, MsgIcon::Exclamation, MsgButtons::Ok);
            return false;
        }
        return true;
    }

    // False (and the operation is over) when the transport did not do what was asked.
    bool lineOk(TransportStatus s) {
        if (s == TransportStatus::Ok)
            return true;
        if (s == TransportStatus::Stopped) { // the stop ended the pause or the wait for a reply
            result_.outcome = BulkResult::Outcome::Stopped;
            return false;
        }
        result_.outcome = BulkResult::Outcome::PortFailed;
        result_.error = watch_.reason(s);
        return false;
    }

    // Step P of every pass: the bar moves on to slot i.
    void advance(int i) { ops_.view_.setProgress(i, std::min(5 * (i + 1), 100)); }

    // The 300 ms pause, then one request and its reply. Bytes that come in during the pause (a late
    // answer to the previous request) are dropped with the request, or they would pass for its
    // reply.
    // A stop asked for before or during the pause ends the run here, between two requests.
    bool pauseAndExchange(const QByteArray& pdu, Transaction& t) {
        if (stopped() || !lineOk(ops_.transport_.bulkPause()) || stopped())
            return false;
        t = ops_.transport_.transact(unit_, pdu);
        return lineOk(t.status);
    }

    // True when the reply is the addressed unit's whole answer to pdu; else
    // the slot is noted as silent or rejected and must be left as it is.
    bool confirmed(int i, const QByteArray& pdu, const Transaction& t) {
        const ReplyCheck check = checkReply(t, pdu);
        if (check.confirmed()) {
            result_.done.append(i);
            return true;
        }
        if (check.verdict == ReplyCheck::Verdict::Silent)
            result_.silent.append(i);
        else
            result_.rejected.append({i, check.reason()});
        return false;
    }

    bool stopped() {
        if (!ops_.stopRequested_)
            return false;
        result_.outcome = BulkResult::Outcome::Stopped;
        return true;
    }

    // Step E, then the one report of what went wrong. Read all has already
    // asked about each silent slot as it came. A stopped run says all in one box.
    void finish(const QString& verb, bool reportSilent = true) {
        ops_.view_.setProgress(-1, 0);
        if (ops_.activity_)
            ops_.activity_->setLineBusy(false);
        if (result_.outcome == BulkResult::Outcome::Stopped) {
            QStringList parts{stoppedText(result_.done, verb)};
            if (reportSilent && !result_.silent.isEmpty())
                parts << silentText(result_.silent, verb);
            if (!result_.rejected.isEmpty())
                parts << rejectedText(result_.rejected, verb);
            ops_.op_.message(parts.join(QStringLiteral("\r\n")), kStoppedTitle,
                             MsgIcon::Information, MsgButtons::Ok);
            return;
        }
        if (result_.outcome == BulkResult::Outcome::PortFailed) {
            result_.reconnect =
                ops_.op_.message(PortTexts::failed(ops_.transport_.endpointName(), result_.error),
                                 PortTexts::failedTitle(), MsgIcon::Critical,
                                 MsgButtons::OkReconnect) == MsgAnswer::Reconnect;
        }
        if (reportSilent && !result_.silent.isEmpty()) {
            ops_.op_.message(silentText(result_.silent, verb), kFaultTitle, MsgIcon::Exclamation,
                             MsgButtons::Ok);
        }
        if (!result_.rejected.isEmpty()) {
            ops_.op_.message(rejectedText(result_.rejected, verb), kFaultTitle,
                             MsgIcon::Exclamation, MsgButtons::Ok);
        }
    }

private:
    BulkOperations& ops_;
    BulkResult& result_;
    const int unit_;
    TransportClaim claim_;
    FailureWatch watch_;
};

BulkOperations::BulkOperations(MessageTable& table, Transport& transport, MessageTableView& view,
                               Operator& op, LineActivity* activity)
    : table_(table), transport_(transport), view_(view), op_(op), activity_(activity) {}

void BulkOperations::requestStop() {
    stopRequested_ = true;
    if (running_) // else the wait under way is another client's
        transport_.requestStop();
}

BulkResult BulkOperations::readAll(int unit) {
    BulkResult r;
    Run run(*this, r, unit);
    if (!run.available())
        return r;
    bool ask = true; // until the operator chooses Ignore All for this run
    if (run.lineOk(transport_.prepare())) {
        for (int i = 0; i < kInterlockCount; ++i) {
            run.advance(i);
            const QByteArray request = Pdu::readMessage(messageRegister(i));
            Transaction t;
            if (!run.pauseAndExchange(request, t))
                break;
            if (!run.confirmed(i, request, t)) {
                // A gateway's "no answer" is silence too, though bytes came.
                if (checkReply(t, request).verdict != ReplyCheck::Verdict::Silent)
                    continue;
                if (!ask)
                    continue;
                const MsgAnswer a = op_.message(
                    kNoDataText + QStringLiteral("\r\nNo answer for %1 at unit address %2.")
                                      .arg(interlockName(i))
                                      .arg(run.unit()),
                    kFaultTitle, MsgIcon::None, MsgButtons::OkCancelIgnoreAll);
                if (a == MsgAnswer::Cancel) {
                    r.outcome = BulkResult::Outcome::Cancelled;
                    break;
                }
                ask = a != MsgAnswer::IgnoreAll;
                continue;
            }
            // An empty slot shows the default, but the table is not touched
            // for it. A text is taken as the unit holds it, control
            // characters too: the label shows them escaped.
            const Pdu::ReadText decoded = Pdu::decodeReadReply(t.replyPdu);
            if (decoded.empty) {
                view_.setMessageLabel(i, table_.defaultText(i));
            } else {
                view_.setMessageLabel(i, decoded.text);
                table_.setText(i, decoded.text);
            }
        }
    }
    // The slots passed over unasked are listed once at the end.
    run.finish(QStringLiteral("read"), !ask);
    return r;
}

BulkResult BulkOperations::writeAll(int unit) {
    BulkResult r;
    Run run(*this, r, unit);
    if (!run.available())
        return r;

    // An empty entry would ask for 0 registers and one over 40 characters would
    // run into the next slot, so nothing goes out until every entry can.
    const QStringList problems = writeAllProblems(table_, &r.invalid);
    if (!r.invalid.isEmpty()) {
        r.outcome = BulkResult::Outcome::Refused;
        op_.message(QStringLiteral("These messages cannot be written to the unit:\r\n") +
                        problems.join(QStringLiteral(".\r\n")) +
                        QStringLiteral(".\r\nNothing was written. Correct them and try again."),
                    kHeldBackTitle, MsgIcon::Exclamation, MsgButtons::Ok);
        return r;
    }

    int next = kInterlockCount; // the first blanked label not yet shown again
    if (run.lineOk(transport_.prepare())) {
        if (activity_)
            activity_->setLineBusy(true);
        for (int i = 0; i < kInterlockCount; ++i)
            view_.setMessageLabel(i, QString());
        next = 0;
        for (int i = 0; i < kInterlockCount; ++i) {
            run.advance(i);
            const QString text = table_.text(i);
            view_.setMessageLabel(i, text);
            next = i + 1;
            if (text == table_.defaultText(i))
                continue;
            // A file opened while this runs may have changed the entry since
            // it was checked; a bad frame must still never go out.
            if (!writeAllProblem(text, table_.defaultText(i)).isEmpty()) {
                r.invalid.append(i);
                continue;
            }
            const QByteArray request =
                Pdu::writeMessage(messageRegister(i), CodePage::encode(text).bytes);
            Transaction t;
            if (!run.pauseAndExchange(request, t))
                break;
            run.confirmed(i, request, t);
        }
    }
    // A stopped run must not leave the labels it blanked empty.
    for (int i = next; i < kInterlockCount; ++i)
        view_.setMessageLabel(i, table_.text(i));
    run.finish(QStringLiteral("written"));
    return r;
}

BulkResult BulkOperations::eraseAll(int unit) {
    BulkResult r;
    Run run(*this, r, unit);
    if (!run.available())
        return r;
    if (run.lineOk(transport_.prepare())) {
        if (activity_)
            activity_->setLineBusy(true);
        for (int i = 0; i < kInterlockCount; ++i) {
            run.advance(i);
            const QByteArray request = Pdu::eraseMessage(messageRegister(i));
            Transaction t;
            if (!run.pauseAndExchange(request, t))
                break;
            if (!run.confirmed(i, request, t))
                continue;
            table_.setText(i, table_.defaultText(i));
            view_.setMessageLabel(i, table_.text(i));
        }
    }
    run.finish(QStringLiteral("erased"));
    return r;
}
