#include "transport/PortTexts.h"

#include "transport/Endpoint.h"

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
    if (isNetworkAddress(portName))
        return QStringLiteral("The connection to %1 failed: %2\r\nThe operation was stopped.")
            .arg(portName, reason.isEmpty() ? QStringLiteral("it was closed") : reason);
    return QStringLiteral("The serial port %1 failed: %2\r\nThe operation was stopped.")
        .arg(portName, reason.isEmpty() ? QStringLiteral("the port was closed") : reason);
}

const QString& failedTitle() {
    static const QString title = QStringLiteral("Serial Port Failure");
    return title;
}

} // namespace PortTexts
