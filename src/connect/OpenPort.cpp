#include "connect/OpenPort.h"

#include "connect/Connection.h"
#include "link/QtSerialPortDevice.h"
#include "link/SerialPort.h"
#include "startup/Operator.h"
#include "transport/Endpoint.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstring>

QString openPortErrorText(int number, const QString& reason) {
    const QString shown = number >= 0 ? QStringLiteral(" %1").arg(number) : QString::number(number);
    QString text = QStringLiteral("Error ") + shown + QStringLiteral(" detected 0");
    if (!reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    return text;
}

int portErrorNumber(const PortStatus& status, int fallback) {
    if (status.permissionDenied)
        return EACCES;
    if (status.reason == portInUseText())
        return EBUSY;
    // The port reports the system's own words for a failed open or ioctl;
    // those name the errno.
    static const int known[] = {ENOENT, EACCES, EPERM,  EBUSY,  EINVAL,  EIO,
                                ENXIO,  ENODEV, ENOTTY, EAGAIN, ENOTDIR, EROFS};
    for (int e : known) {
        const QString words = QString::fromLocal8Bit(std::strerror(e));
        if (!words.isEmpty() && status.reason.contains(words, Qt::CaseInsensitive))
            return e;
    }
    return fallback;
}

void OpenPort(Connection& connection, SerialPort& port, SpeedDialog& speedDialog, Operator& op) {
    // 1. A port opened before is closed first, and the close is let settle.
    if (port.isOpen()) {
        port.close();
        QCoreApplication::processEvents();
    }

    // A unit behind a network gateway has no speed and no serial port to
    // open: the port's name is its address, and the transport connects to
    // it at the first request.
    if (connection.network()) {
        if (!connection.endpoint()) {
            op.inform(connection.refusal());
            connection.setPort({});
        }
        port.setPortName(connection.portName());
        return;
    }

    // 2. The speed.
    speedDialog.showModal();

    // 3. The port by its full name or path: there is no port number.
    port.setPortName(connection.portName());

    // 4. The settings. An empty string (the speed dialog closed through its
    //    frame on the first opening) leaves the port at the settings in
    //    force, "9600,N,8,1" for a port never set.
    const PortStatus set = port.setSettings(connection.commSettings);
    if (!set.ok)
        op.inform(openPortErrorText(portErrorNumber(set, kSettingsStepError), set.reason));

    // 5. Open.
    const PortStatus opened = port.open();
    if (!opened.ok)
        op.inform(openPortErrorText(portErrorNumber(opened, kOpenStepError),
                                    describePortProblem(connection.portName(), opened)));
}
