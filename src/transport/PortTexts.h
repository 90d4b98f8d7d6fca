#pragma once
// Texts shared by the clients' transactions for a line that is not there.

#include <QString>

#include "startup/Operator.h"

namespace PortTexts {
QString notOpen();
QString busy();
// The port named was open once but is not now (it failed while idle, or
// during another window's run): the box offers to open it again.
QString closed(const QString& portName);
// Tells that the port is not open: notOpen() when none was ever chosen, else
// closed(portName), with Reconnect offered when policy has someone to ask.
// True when Reconnect was asked.
bool tellNotOpen(Notices& notices, const RunPolicy& policy, const QString& portName);
// "The serial port P failed: R", or for a network address the reason as a
// sentence of its own when it names the gateway (the network transport's
// reasons all do); then "The operation was stopped." on a line of its own.
QString failed(const QString& portName, const QString& reason);
const QString& failedTitle();
// The title of a failure box for the line named: "Connection Failure" for a
// network unit, else "Serial Port Failure".
QString failedTitle(const QString& portName);
} // namespace PortTexts
