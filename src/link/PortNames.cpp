#include "link/PortNames.h"

#ifdef _WIN32
// No group rule: a COM port held by nobody opens for every user.
namespace {
QString permissionHint(const QString&) {
    return QStringLiteral(" Your user may not open it: ask the computer's administrator for "
                          "access.");
}
} // namespace

QString portDevicePath(const QString& port) {
    if (port.startsWith(QLatin1String("\\\\")))
        return port;
    return QStringLiteral("\\\\.\\") + port;
}
#else
#include <grp.h>
#include <sys/stat.h>

namespace {
// Serial devices are opened through the group that owns them.
QString permissionHint(const QString& where) {
    struct stat st {};
    const group* g =
        ::stat(where.toLocal8Bit().constData(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
    if (g == nullptr || st.st_gid == 0)
        return QStringLiteral(" Your user may not open it: ask the computer's administrator "
                              "for access.");
    const QString name = QString::fromLocal8Bit(g->gr_name);
    return QStringLiteral(" Only members of the group %1 may open it: add your user with "
                          "\"sudo usermod -aG %1 $USER\", then log out and log in again.")
        .arg(name);
}
} // namespace

QString portDevicePath(const QString& port) {
    // The rule QSerialPort opens by: a path as given, any other name under /dev.
    if (port.startsWith(QLatin1Char('/')) || port.startsWith(QLatin1String("./")) ||
        port.startsWith(QLatin1String("../")))
        return port;
    return QStringLiteral("/dev/") + port;
}
#endif

const QString& portInUseText() {
    static const QString text = QStringLiteral("in use by another program");
    return text;
}

QString describePortProblem(const QString& port, const PortStatus& s) {
    const QString where = portDevicePath(port);
    QString reason = s.reason.trimmed();
    if (reason.isEmpty())
        reason = QStringLiteral("unknown error");
    if (!reason.endsWith(QLatin1Char('.')))
        reason += QLatin1Char('.');
    const QString text = QStringLiteral("Cannot open %1: %2").arg(where, reason);
    return s.permissionDenied ? text + permissionHint(where) : text;
}
