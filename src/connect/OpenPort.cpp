#include "connect/OpenPort.h"

#include "connect/Connection.h"
#include "link/PortNames.h"
#include "link/SerialPort.h"
#include "startup/Operator.h"

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

bool openSerialPort(const Connection& connection, SerialPort& port, Operator& op) {
    // The port by its full name or path: there is no port number.
    port.setPortName(connection.portName());

    if (connection.portSettings)
        if (const PortStatus set = port.setSettings(*connection.portSettings); !set.ok)
            op.inform(openPortErrorText(portErrorNumber(set, kSettingsStepError), set.reason));

    const PortStatus opened = port.open();
    if (!opened.ok)
        op.inform(openPortErrorText(portErrorNumber(opened, kOpenStepError),
                                    describePortProblem(connection.portName(), opened)));
    return opened.ok;
}
