#include "transport/PortTexts.h"

#include "startup/Operator.h"
#include "transport/Endpoint.h"

namespace PortTexts {

QString notOpen() {
    // The windows offer Connect; qv840ctl opens its -p port before any request.
    return QStringLiteral("No serial port is open. Choose one with Connect... in the Command "
                          "Center.");
}

QString closed(const QString& portName) {
    const QString what = isNetworkAddress(portName)
                             ? QStringLiteral("The connection to %1 is closed.").arg(portName)
                             : QStringLiteral("The serial port %1 is not open: it failed or was "
                                              "closed.")
                                   .arg(portName);
    return what + QStringLiteral("\r\nReconnect opens it again with the same settings; "
                                 "Connect... in the Command Center chooses another.");
}

bool tellNotOpen(Notices& notices, const RunPolicy& policy, const QString& portName) {
    if (portName.isEmpty()) {
        notices.tell(notOpen(), {}, MsgIcon::Exclamation);
        return false;
    }
    return policy.offerReconnect(notices, closed(portName), failedTitle(portName),
                                 MsgIcon::Exclamation);
}

QString busy() {
    return QStringLiteral("The serial link is busy with another operation. Try again when it "
                          "has finished.");
}

QString failed(const QString& portName, const QString& reason) {
    if (isNetworkAddress(portName)) {
        // The network transport's reasons name the gateway's host and port
        // already: said once, as a sentence of its own.
        const std::optional<Endpoint> e = parseEndpoint(portName);
        QString text =
            e && reason.contains(e->hostPort())
                ? reason.left(1).toUpper() + reason.mid(1)
                : QStringLiteral("The connection to %1 failed: %2")
                      .arg(portName, reason.isEmpty() ? QStringLiteral("it was closed") : reason);
        if (!text.endsWith(QLatin1Char('.')))
            text += QLatin1Char('.');
        return text + QStringLiteral("\r\nThe operation was stopped.");
    }
    return QStringLiteral("The serial port %1 failed: %2\r\nThe operation was stopped.")
        .arg(portName, reason.isEmpty() ? QStringLiteral("the port was closed") : reason);
}

const QString& failedTitle() {
    static const QString title = QStringLiteral("Serial Port Failure");
    return title;
}

QString failedTitle(const QString& portName) {
    return isNetworkAddress(portName) ? QStringLiteral("Connection Failure") : failedTitle();
}

} // namespace PortTexts
