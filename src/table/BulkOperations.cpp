#include "table/BulkOperations.h"

#include "link/CommsClock.h"
#include "link/Frames.h"
#include "startup/CodePage.h"
#include "startup/MessageText.h"
#include "table/Interlocks.h"

#include <QStringList>

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

} // namespace

namespace PortTexts {

QString notOpen() {
    // The port is chosen once, at start-up; after a Cancel or a failure only
    // a new start offers the connection dialog again.
    return QStringLiteral("No serial port is open. Restart QV840N and choose a port in the "
                          "connection dialog.");
}

QString busy() {
    return QStringLiteral("The serial link is busy with another operation. Try again when it "
                          "has finished.");
}

QString failed(const QString& portName, const QString& reason) {
    return QStringLiteral("The serial port %1 failed: %2\r\nThe operation was stopped.")
        .arg(portName, reason.isEmpty() ? QStringLiteral("the port was closed") : reason);
}

const QString& failedTitle() {
    static const QString title = QStringLiteral("Serial Port Failure");
    return title;
}

} // namespace PortTexts

PortFailureWatch::PortFailureWatch(Link& link) {
    auto note = [this](const QString& why) {
        if (reason_.isEmpty())
            reason_ = why;
    };
    connections_ << QObject::connect(&link, &Link::portFailed, note);
    connections_ << QObject::connect(&link.port(), &SerialPort::failed, note);
}

PortFailureWatch::~PortFailureWatch() {
    for (const auto& c : connections_)
        QObject::disconnect(c);
}

QString PortFailureWatch::reason(LinkStatus status) const {
    if (!reason_.isEmpty())
        return reason_;
    return status == LinkStatus::NotOpen ? QStringLiteral("the port is not open")
                                         : QStringLiteral("the port was closed");
}

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

QStringList writeAllProblems(const SharedState& state, QVector<int>* invalid) {
    QStringList problems;
    for (int i = 0; i < kInterlockCount; ++i) {
        const auto k = static_cast<size_t>(i);
        const QString why = writeAllProblem(state.InterlockMessages[k], state.DefaultMessages[k]);
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
    Run(BulkOperations& ops, BulkResult& result) : ops_(ops), result_(result), watch_(ops.link_) {}

    // False (and the operation is over) when the link did not do what was asked.
    bool linkOk(LinkStatus s) {
        if (s == LinkStatus::Ok)
            return true;
        result_.outcome = BulkResult::Outcome::PortFailed;
        result_.error = watch_.reason(s);
        return false;
    }

    // Steps D and P of every pass.
    void discardAndAdvance() {
        ops_.link_.discardInput();
        if (progress_ < 96)
            progress_ += 5;
        ops_.view_.setProgress(progress_);
    }

    // The 300 ms pause, then one request and its reply. Bytes that come in during the pause (a late
    // answer to the previous request) are dropped too, or they would pass for this request's reply.
    bool pauseAndExchange(const QByteArray& frame, Link::Send how, Reply& reply) {
        Link& link = ops_.link_;
        if (!linkOk(link.DelayLoop(link.timing().bulkPauseMs)))
            return false;
        link.discardInput();
        return linkOk(link.exchange(frame, how, reply));
    }

    // True when the reply is the addressed unit's whole answer to frame; else
    // the slot is noted as silent or rejected and must be left as it is.
    bool confirmed(int i, const QByteArray& frame, const Reply& reply) {
        const ReplyCheck check = checkReply(ops_.state_.CrcTable, frame, reply.bytes());
        if (check.confirmed())
            return true;
        if (check.verdict == ReplyCheck::Verdict::Silent)
            result_.silent.append(i);
        else
            result_.rejected.append({i, check.reason()});
        return false;
    }

    // Step E, then the one report of what went wrong. Read all has already
    // asked about each silent slot as it came.
    void finish(const QString& verb, bool reportSilent = true) {
        ops_.view_.setProgress(0);
        if (ops_.clock_)
            ops_.clock_->setEnabled(true);
        if (result_.outcome == BulkResult::Outcome::PortFailed) {
            ops_.op_.message(PortTexts::failed(ops_.link_.port().portName(), result_.error),
                             PortTexts::failedTitle(), MsgIcon::Critical, MsgButtons::Ok);
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
    PortFailureWatch watch_;
    int progress_ = 0;
};

BulkOperations::BulkOperations(SharedState& state, Link& link, MessageTableView& view, Operator& op,
                               CommsClock* clock)
    : state_(state), link_(link), view_(view), op_(op), clock_(clock) {}

namespace {

// Nothing may be sent while another operation holds the link or without a
// port; the caller returns the result as it stands when this gives false.
bool available(const LinkClaim& claim, Link& link, Operator& op, BulkResult& r) {
    if (!claim.ok()) {
        r.outcome = BulkResult::Outcome::Refused;
        r.error = PortTexts::busy();
        return false;
    }
    if (!link.port().isOpen()) {
        r.outcome = BulkResult::Outcome::Refused;
        r.error = PortTexts::notOpen();
        op.message(r.error, {}, MsgIcon::Exclamation, MsgButtons::Ok);
        return false;
    }
    return true;
}

} // namespace

BulkResult BulkOperations::readAll() {
    BulkResult r;
    LinkClaim claim(link_);
    if (!available(claim, link_, op_, r))
        return r;

    Run run(*this, r);
    const std::int16_t unit = state_.UnitAddress; // the whole run goes to one unit
    bool ask = true; // until the operator chooses Ignore All for this run
    if (run.linkOk(link_.RtsOff())) {
        for (int i = 0; i < kInterlockCount; ++i) {
            run.discardAndAdvance();
            const QByteArray XmitFrame =
                buildReadRequest(state_.CrcTable, unit, messageRegister(i));
            Reply reply;
            if (!run.pauseAndExchange(XmitFrame, Link::Send::SendAll, reply))
                break;
            if (!run.confirmed(i, XmitFrame, reply)) {
                if (reply.answered())
                    continue;
                if (!ask)
                    continue;
                const MsgAnswer a = op_.message(
                    kNoDataText + QStringLiteral("\r\nNo answer for %1 at unit address %2.")
                                      .arg(interlockName(i))
                                      .arg(unit),
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
            const ReadText decoded = decodeReadReply(reply.bytes());
            if (decoded.empty) {
                view_.setMessageLabel(i, state_.DefaultMessages[static_cast<size_t>(i)]);
            } else {
                view_.setMessageLabel(i, decoded.text);
                state_.InterlockMessages[static_cast<size_t>(i)] = decoded.text;
            }
        }
    }
    // The slots passed over unasked are listed once at the end.
    run.finish(QStringLiteral("read"), !ask);
    return r;
}

BulkResult BulkOperations::writeAll() {
    BulkResult r;
    LinkClaim claim(link_);
    if (!available(claim, link_, op_, r))
        return r;

    // An empty entry would ask for 0 registers and one over 40 characters would
    // run into the next slot, so nothing goes out until every entry can.
    const QStringList problems = writeAllProblems(state_, &r.invalid);
    if (!r.invalid.isEmpty()) {
        r.outcome = BulkResult::Outcome::Refused;
        op_.message(QStringLiteral("These messages cannot be written to the unit:\r\n") +
                        problems.join(QStringLiteral(".\r\n")) +
                        QStringLiteral(".\r\nNothing was written. Correct them and try again."),
                    kHeldBackTitle, MsgIcon::Exclamation, MsgButtons::Ok);
        return r;
    }

    Run run(*this, r);
    int next = kInterlockCount; // the first blanked label not yet shown again
    // The whole run goes to one unit.
    const std::int16_t unit = state_.UnitAddress;
    if (run.linkOk(link_.RtsOff())) {
        if (clock_)
            clock_->setEnabled(false);
        for (int i = 0; i < kInterlockCount; ++i)
            view_.setMessageLabel(i, QString());
        next = 0;
        for (int i = 0; i < kInterlockCount; ++i) {
            const auto k = static_cast<size_t>(i);
            run.discardAndAdvance();
            const QString t = state_.InterlockMessages[k];
            view_.setMessageLabel(i, t);
            next = i + 1;
            if (t == state_.DefaultMessages[k])
                continue;
            // A file opened while this runs may have changed the entry since
            // it was checked; a bad frame must still never go out.
            if (!writeAllProblem(t, state_.DefaultMessages[k]).isEmpty()) {
                r.invalid.append(i);
                continue;
            }
            const QByteArray frame = buildWriteRequest(state_.CrcTable, unit, messageRegister(i),
                                                       CodePage::encode(t).bytes);
            Reply reply;
            if (!run.pauseAndExchange(frame, Link::Send::WriteAll, reply))
                break;
            run.confirmed(i, frame, reply);
        }
    }
    // A stopped run must not leave the labels it blanked empty.
    for (int i = next; i < kInterlockCount; ++i)
        view_.setMessageLabel(i, state_.InterlockMessages[static_cast<size_t>(i)]);
    run.finish(QStringLiteral("written"));
    return r;
}

BulkResult BulkOperations::eraseAll() {
    BulkResult r;
    LinkClaim claim(link_);
    if (!available(claim, link_, op_, r))
        return r;

    Run run(*this, r);
    const std::int16_t unit = state_.UnitAddress; // the whole run goes to one unit
    if (run.linkOk(link_.RtsOff())) {
        if (clock_)
            clock_->setEnabled(false);
        for (int i = 0; i < kInterlockCount; ++i) {
            const auto k = static_cast<size_t>(i);
            run.discardAndAdvance();
            const QByteArray frame = buildEraseRequest(state_.CrcTable, unit, messageRegister(i));
            Reply reply;
            if (!run.pauseAndExchange(frame, Link::Send::WriteAll, reply))
                break;
            if (!run.confirmed(i, frame, reply))
                continue;
            state_.InterlockMessages[k] = state_.DefaultMessages[k];
            view_.setMessageLabel(i, state_.InterlockMessages[k]);
        }
    }
    run.finish(QStringLiteral("erased"));
    return r;
}
