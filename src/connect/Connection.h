#pragma once
// The connection in use: the port (or network address), its settings, the
// unit address every window talks to, and the line settings of the run.
// The port's name is read once, when it is chosen, into an endpoint that
// says serial or network; that value travels with the connection. Whoever
// opens the connection or puts it back hands the endpoint to the transport
// (LineTransport::choose), which goes to the line it names; the serial
// port's name never decides it.

#include "link/LineSettings.h"
#include "startup/LineOptions.h"
#include "transport/Endpoint.h"

#include <QString>
#include <optional>

class Connection {
public:
    // Takes the port the operator chose: a system name, a device path or a
    // network address. False when it is a network address that cannot be
    // used; refusal() then says why.
    bool setPort(const QString& name);
    const QString& portName() const { return portName_; }
    // Where the port's name leads; nothing for an unusable network address.
    const std::optional<Endpoint>& endpoint() const { return endpoint_; }
    // Not a serial line: a gateway, or an address that cannot be used.
    bool network() const { return !endpoint_ || endpoint_->network(); }
    const QString& refusal() const { return refusal_; }

    // Speed and framing; none for a network unit, or while none was chosen
    // (the port keeps the settings in force).
    std::optional<LineSettings> portSettings;
    int unitAddress = 0;
    LineOptions line; // echo, direction, pause, retries

private:
    QString portName_;
    std::optional<Endpoint> endpoint_ = Endpoint{};
    QString refusal_;
};
