#include "commstest/CommsTest.h"

#include "modbus/Pdu.h"
#include "startup/CodePage.h"
#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "startup/UnitText.h"

#include <vector>

namespace {

// Lights the window's indicators from the transport's signals for one exchange.
class IndicatorWiring {
public:
    IndicatorWiring(Transport& transport, CommsTestView& view) {
        connections_.push_back(QObject::connect(&transport, &Transport::sending,
                                                [&view](bool on) { view.setSending(on); }));
        connections_.push_back(QObject::connect(&transport, &Transport::receiving,
                                                [&view](bool on) { view.setReceiving(on); }));
    }
    ~IndicatorWiring() {
        for (const auto& c : connections_)
            QObject::disconnect(c);
    }
    IndicatorWiring(const IndicatorWiring&) = delete;
    IndicatorWiring& operator=(const IndicatorWiring&) = delete;

private:
    std::vector<QMetaObject::Connection> connections_;
};

QString portLabel(const Transport& transport) {
    const QString name = transport.endpointName();
    return name.isEmpty() ? QStringLiteral("(none chosen)") : name;
}

} // namespace

CommsTest::CommsTest(Transport& transport, CommsTestView& view, LineActivity* activity)
    : transport_(transport), view_(view), activity_(activity) {}

bool CommsTest::begin(UnitRun& run, const QString& what) {
    if (!run.claimed()) {
        view_.showProblem(QStringLiteral("Cannot %1: the serial link is busy with another "
                                         "operation. Try again when it has finished.")
                              .arg(what));
        return false;
    }
    if (!run.isOpen()) {
        view_.showProblem(QStringLiteral("Cannot %1: the serial port %2 is not open. Choose one "
                                         "with Connect... in the main window.")
                              .arg(what, portLabel(transport_)));
        return false;
    }
    const TransportStatus s = run.prepare();
    if (s != TransportStatus::Ok) {
        report(what, s, {});
        return false;
    }
    return true;
}

void CommsTest::report(const QString& what, TransportStatus status, const QString& reason) {
    switch (status) {
    case TransportStatus::Ok:
    case TransportStatus::Stopped: // nothing stops a comms-test request
        return;
    case TransportStatus::Busy:
        view_.showProblem(QStringLiteral("Cannot %1: the serial link is busy with another "
                                         "request. Try again when it has finished.")
                              .arg(what));
        return;
    case TransportStatus::NotOpen:
        view_.showProblem(QStringLiteral("Cannot %1: the serial port %2 is not open.")
                              .arg(what, portLabel(transport_)));
        return;
    case TransportStatus::Failed:
        view_.showProblem(QStringLiteral("Cannot %1: the serial port %2 failed (%3) and is now "
                                         "closed.")
                              .arg(what, portLabel(transport_),
                                   reason.isEmpty() ? QStringLiteral("no reason given") : reason));
        return;
    }
}

void CommsTest::readMessage() {
    const QString what = QStringLiteral("read the message");
    UnitRun run(transport_, stop_, unit_, record_);
    if (!begin(run, what))
        return;
    LineBusyScope busy(activity_);
    view_.setUnitAddressText(QString::number(run.unit()));
    view_.setTransmitted(QString());
    view_.setReceived(QString());
    exchange(run, Pdu::readMessage(register_), ReplyEnd::Normal, true, what);
}

void CommsTest::writeMessage() {
    const QString what = QStringLiteral("write the message");
    UnitRun run(transport_, stop_, unit_, record_);
    if (!begin(run, what))
        return;
    const QString text = view_.messageText();
    using UnitText::Fault;
    const UnitText::Verdict v = UnitText::judge(text, UnitText::Source::Typed);
    // Nothing to send, or more than a slot holds: the button does nothing.
    if (v.fault == Fault::Empty || v.fault == Fault::TooLong)
        return;
    if (v.fault == Fault::EndsText || v.fault == Fault::Control) {
        view_.showProblem(QStringLiteral("Cannot %1: %2 at position %3 cannot be sent; the unit "
                                         "shows only printable characters.")
                              .arg(what, MessageText::describeUnsendable(v.character))
                              .arg(v.position + 1));
        return;
    }
    if (v.fault == Fault::NoCode) {
        view_.showProblem(QStringLiteral("Cannot %1: the character %2 at position %3 has no code "
                                         "in the Windows-1252 code page the unit uses.")
                              .arg(what, CodePage::describe(v.character))
                              .arg(v.position + 1));
        return;
    }
    const CodePage::Encoded encoded = CodePage::encode(text);
    LineBusyScope busy(activity_);
    view_.setUnitAddressText(QString::number(run.unit()));
    const QByteArray request = Pdu::writeMessage(register_, encoded.bytes);
    noteSending(run, text);
    proveWrite(run, exchange(run, request, ReplyEnd::Quick, false, what), text);
}

void CommsTest::eraseMessage() {
    const QString what = QStringLiteral("erase the message");
    UnitRun run(transport_, stop_, unit_, record_);
    if (!begin(run, what))
        return;
    view_.clearMessageText();
    LineBusyScope busy(activity_);
    view_.setUnitAddressText(QString::number(run.unit()));
    const QByteArray request = Pdu::eraseMessage(register_);
    noteSending(run, QString());
    proveWrite(run, exchange(run, request, ReplyEnd::Quick, false, what), QString());
}

namespace {
QString quoted(const QString& text) {
    return text.isEmpty() ? QStringLiteral("nothing (an empty slot)")
                          : QLatin1Char('"') + MessageText::escaped(text) + QLatin1Char('"');
}
} // namespace

std::optional<int> CommsTest::messageSlot() const {
    const int offset = register_ - kFirstMessageRegister;
    // Only a whole slot written from its first register is a message.
    if (offset < 0 || offset % kRegistersPerMessage != 0 ||
        offset / kRegistersPerMessage >= kInterlockCount)
        return std::nullopt;
    return offset / kRegistersPerMessage;
}

void CommsTest::noteSending(UnitRun& run, const QString& sent) {
    if (const auto slot = messageSlot())
        run.noteSent(*slot, QString(), sent);
}

void CommsTest::proveWrite(UnitRun& run, const Transaction& t, const QString& sent) {
    const auto at = messageSlot();
    if (!at)
        return;
    const int slot = *at;
    if (!t.ok()) {
        run.noteChange(slot, QString(), sent, ChangeResult::ofLine(t.status, t.error));
        return;
    }
    const ReplyCheck check = t.check;
    if (!check.confirmed()) {
        run.noteChange(slot, QString(), sent, ChangeResult::ofReply(check));
        return;
    }
    view_.slotWritten(run.unit(), slot, sent);
    if (verifyWrites_)
        readBack(run, slot, sent);
    else
        run.noteChange(slot, QString(), sent, ChangeResult::done(sent));
}

void CommsTest::readBack(UnitRun& run, int slot, const QString& sent) {
    const QString name = QStringLiteral("slot %1 (%2)").arg(slot).arg(terminalCaption(slot));
    const QByteArray read = Pdu::readMessage(register_);
    Transaction back;
    back.status = run.pause();
    if (back.status == TransportStatus::Ok)
        back = run.exchange(read);
    if (!back.ok() || !back.check.confirmed()) {
        run.noteChange(slot, QString(), sent, ChangeResult::differs(QString(), true));
        view_.showProblem(QStringLiteral("The unit confirmed the write, but %1 could not be read "
                                         "back to prove it.")
                              .arg(name));
        return;
    }
    const Pdu::ReadText held = Pdu::decodeReadReply(back.replyPdu);
    const QString onUnit = held.empty ? QString() : held.text;
    run.noteChange(slot, QString(), sent,
                   onUnit == sent ? ChangeResult::done(sent)
                                  : ChangeResult::differs(onUnit, false));
    if (onUnit != sent)
        view_.showProblem(QStringLiteral("Read back after writing, %1 does not hold what was "
                                         "written: written %2, holds %3.")
                              .arg(name, quoted(sent), quoted(onUnit)));
}

Transaction CommsTest::exchange(UnitRun& run, const QByteArray& request, ReplyEnd end, bool isRead,
                                const QString& what) {
    Transaction t;
    {
        IndicatorWiring lamps(transport_, view_);
        // What goes on the wire is shown before the answer is awaited.
        const QMetaObject::Connection shown =
            QObject::connect(&transport_, &Transport::frameSent, [this](const QByteArray& sent) {
                view_.setTransmitted(byteDump(sent));
            });
        t = run.exchange(request, end);
        QObject::disconnect(shown);
    }
    view_.setTransmitted(byteDump(t.sent)); // also when the port refused the bytes
    if (t.status == TransportStatus::Busy || t.status == TransportStatus::NotOpen) {
        report(what, t.status, t.error);
        return t;
    }
    // Whatever arrived is shown as it came, also when the port failed on the
    // way: the bytes are what the operator needs to see.
    const auto n = static_cast<int>(t.received.size());
    view_.setReceived(QString());
    if (isRead) {
        view_.setStoredText(QString());
        view_.setByteCount(withLeadingBlank(n));
        if (n > 0) {
            view_.setReceived(byteDump(t.received));
            const Pdu::ReadText read = Pdu::decodeReadReply(t.replyPdu);
            view_.setStoredText(read.empty ? QString::fromLatin1(Pdu::kNoMessageStored)
                                           : read.text);
        }
    } else if (n > 0) {
        view_.setByteCount(withLeadingBlank(n));
        view_.setReceived(byteDump(t.received));
    }
    if (t.status == TransportStatus::Failed)
        report(what, t.status, t.error);
    else if (t.status == TransportStatus::Ok && n == 0) // empty fields alone say too little
        view_.showProblem(QStringLiteral("No reply from unit %1 on %2. Check the connection, the "
                                         "unit address and the speed.")
                              .arg(run.unit())
                              .arg(portLabel(transport_)));
    return t;
}
