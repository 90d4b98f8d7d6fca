#include "link/CommsTest.h"

#include "link/CommsClock.h"
#include "link/Frames.h"
#include "startup/CodePage.h"
#include "startup/MessageText.h"

#include <vector>

namespace {

// Lights the window's indicators from the link's signals for one exchange.
class IndicatorWiring {
public:
    IndicatorWiring(Link& link, CommsTestView& view) {
        connections_.push_back(
            QObject::connect(&link, &Link::sending, [&view](bool on) { view.setSending(on); }));
        connections_.push_back(
            QObject::connect(&link, &Link::receiving, [&view](bool on) { view.setReceiving(on); }));
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

QString portLabel(const SerialPort& port) {
    return port.portName().isEmpty() ? QStringLiteral("(none chosen)") : port.portName();
}

} // namespace

CommsTest::CommsTest(SharedState& state, Link& link, CommsTestView& view, CommsClock* clock)
    : state_(state), link_(link), view_(view), clock_(clock) {}

bool CommsTest::begin(bool claimed, const QString& what) {
    if (!claimed) {
        view_.showProblem(QStringLiteral("Cannot %1: the serial link is busy with another "
                                         "operation. Try again when it has finished.")
                              .arg(what));
        return false;
    }
    if (!link_.port().isOpen()) {
        view_.showProblem(
            QStringLiteral(
                "Cannot %1: the serial port %2 is not open. Restart QV840N to choose a port.")
                .arg(what, portLabel(link_.port())));
        return false;
    }
    // The line must listen before anything else happens.
    const LinkStatus s = link_.RtsOff();
    if (s != LinkStatus::Ok) {
        report(what, s, {});
        return false;
    }
    return true;
}

void CommsTest::report(const QString& what, LinkStatus status, const QString& reason) {
    switch (status) {
    case LinkStatus::Ok:
        return;
    case LinkStatus::Busy:
        view_.showProblem(QStringLiteral("Cannot %1: the serial link is busy with another "
                                         "request. Try again when it has finished.")
                              .arg(what));
        return;
    case LinkStatus::NotOpen:
        view_.showProblem(QStringLiteral("Cannot %1: the serial port %2 is not open.")
                              .arg(what, portLabel(link_.port())));
        return;
    case LinkStatus::PortFailed:
        view_.showProblem(QStringLiteral("Cannot %1: the serial port %2 failed (%3) and is now "
                                         "closed.")
                              .arg(what, portLabel(link_.port()),
                                   reason.isEmpty() ? QStringLiteral("no reason given") : reason));
        return;
    }
}

void CommsTest::readMessage() {
    const QString what = QStringLiteral("read the message");
    LinkClaim claim(link_);
    if (!begin(claim.ok(), what))
        return;
    ClockHold hold(clock_);
    view_.setUnitAddressText(QString::number(state_.UnitAddress));
    const QByteArray frame =
        buildReadRequest(state_.CrcTable, state_.UnitAddress, state_.MsgAddress);
    view_.setTransmitted(QString());
    view_.setReceived(QString());
    exchange(frame, Link::Send::SendAll, link_.timing().replyGapMs, true, what);
}

void CommsTest::writeMessage() {
    const QString what = QStringLiteral("write the message");
    LinkClaim claim(link_);
    if (!begin(claim.ok(), what))
        return;
    const QString text = view_.messageText();
    // Nothing to send, or more than a slot holds: the button does nothing.
    if (text.isEmpty() || text.size() > kMessageMaxLength)
        return;
    if (const qsizetype bad = MessageText::firstUnsendable(text); bad >= 0) {
        view_.showProblem(QStringLiteral("Cannot %1: %2 at position %3 cannot be sent; the unit "
                                         "shows only printable characters.")
                              .arg(what, MessageText::describeUnsendable(text.at(bad)))
                              .arg(bad + 1));
        return;
    }
    const CodePage::Encoded encoded = CodePage::encode(text);
    if (!encoded.ok()) {
        view_.showProblem(QStringLiteral("Cannot %1: the character %2 at position %3 has no code "
                                         "in the Windows-1252 code page the unit uses.")
                              .arg(what, CodePage::describe(encoded.badCharacter))
                              .arg(encoded.badPosition + 1));
        return;
    }
    ClockHold hold(clock_);
    view_.setUnitAddressText(QString::number(state_.UnitAddress));
    const QByteArray frame =
        buildWriteRequest(state_.CrcTable, state_.UnitAddress, state_.MsgAddress, encoded.bytes);
    exchange(frame, Link::Send::WriteAll, link_.timing().commsTestGapMs, false, what);
}

void CommsTest::eraseMessage() {
    const QString what = QStringLiteral("erase the message");
    LinkClaim claim(link_);
    if (!begin(claim.ok(), what))
        return;
    view_.clearMessageText();
    ClockHold hold(clock_);
    view_.setUnitAddressText(QString::number(state_.UnitAddress));
    const QByteArray frame =
        buildEraseRequest(state_.CrcTable, state_.UnitAddress, state_.MsgAddress);
    exchange(frame, Link::Send::WriteAll, link_.timing().commsTestGapMs, false, what);
}

void CommsTest::exchange(const QByteArray& frame, Link::Send how, int gapMs, bool isRead,
                         const QString& what) {
    view_.setTransmitted(byteDump(frame));
    Exchange x;
    {
        IndicatorWiring lamps(link_, view_);
        x = link_.transact(frame, how, gapMs);
    }
    if (x.status == LinkStatus::Busy || x.status == LinkStatus::NotOpen) {
        report(what, x.status, x.error);
        return;
    }
    // Whatever arrived is shown as it came, also when the port failed on the
    // way: the bytes are what the operator needs to see.
    const int n = x.reply.count;
    const QByteArray bytes = x.reply.bytes();
    view_.setReceived(QString());
    if (isRead) {
        view_.setStoredText(QString());
        view_.setByteCount(withLeadingBlank(n));
        if (n > 0) {
            view_.setReceived(byteDump(bytes));
            const ReadText read = decodeReadReply(bytes);
            view_.setStoredText(read.empty ? QString::fromLatin1(kNoMessageStored) : read.text);
        }
    } else if (n > 0) {
        view_.setByteCount(withLeadingBlank(n));
        view_.setReceived(byteDump(bytes));
    }
    if (x.status == LinkStatus::PortFailed)
        report(what, x.status, x.error);
}
