#include "connect/ConnectionSwitch.h"

#include "connect/OpenPort.h"
#include "link/PortNames.h"
#include "link/SerialPort.h"
#include "startup/Operator.h"
#include "transport/PortTexts.h"
#include "transport/Transports.h"

SwitchResult ConnectionSwitch::switchTo(const QString& chosen) {
    SwitchResult result;
    Connection next = connection_;
    if (!next.setPort(chosen)) {
        op_.inform(next.refusal());
        result.outcome = SwitchOutcome::Refused;
        return result;
    }
    const InUse before = inUse();
    if (!next.network()) {
        // The speed dialog writes what it took into the connection in use;
        // that stays as it was until the choice is open.
        if (!speedDialog_.showModal())
            return result;
        next.portSettings = connection_.portSettings;
        next.line = connection_.line;
        connection_ = before.connection;
    }
    result.tried = true;
    if (next.network() ? openNetwork(next) : openSerial(next, before)) {
        connection_ = next;
        result.outcome = SwitchOutcome::Switched;
        return result;
    }
    result.outcome = SwitchOutcome::Refused;
    result.restoreFailure = restore(before);
    return result;
}

ConnectionSwitch::InUse ConnectionSwitch::inUse() const {
    InUse in{connection_, port_.settings(), false};
    if (connection_.network())
        in.open = connection_.endpoint().has_value() && transport_.isOpen();
    else
        in.open = port_.isOpen();
    return in;
}

void ConnectionSwitch::closeInUse(const InUse& before) {
    if (before.connection.network() && before.connection.endpoint())
        transport_.close(); // the transport is on the gateway in use
    if (port_.isOpen())
        port_.close();
}

bool ConnectionSwitch::openSerial(const Connection& next, const InUse& before) {
    closeInUse(before);
    transport_.choose(*next.endpoint());
    return openSerialPort(next, port_, op_);
}

bool ConnectionSwitch::openNetwork(const Connection& next) {
    // A serial port in use stays open until the gateway has taken the
    // connection. A gateway in use is left for another address, and kept
    // when it is chosen again.
    transport_.choose(*next.endpoint());
    const FailureWatch watch(transport_);
    const TransportStatus connected = transport_.prepare();
    if (connected == TransportStatus::Ok) {
        if (port_.isOpen())
            port_.close();
        return true;
    }
    op_.message(PortTexts::failed(next.portName(), watch.reason(connected))
                    .section(QStringLiteral("\r\n"), 0, 0),
                PortTexts::failedTitle(next.portName()), MsgIcon::Exclamation, MsgButtons::Ok);
    return false;
}

QString ConnectionSwitch::restore(const InUse& before) {
    connection_ = before.connection;
    const bool network = before.connection.network();
    if (const auto& endpoint = before.connection.endpoint())
        transport_.choose(*endpoint);
    if (!network)
        port_.setPortName(before.connection.portName());
    if (!before.open)
        return {};
    if (network) {
        const FailureWatch watch(transport_);
        const TransportStatus s = transport_.prepare();
        return s == TransportStatus::Ok ? QString() : watch.reason(s);
    }
    if (port_.isOpen())
        return {}; // never closed: the choice was a gateway that did not take the connection
    PortStatus s = port_.setSettings(before.settings);
    if (s.ok)
        s = port_.open();
    return s.ok ? QString() : describePortProblem(before.connection.portName(), s);
}
