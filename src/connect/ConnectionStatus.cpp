#include "connect/ConnectionStatus.h"

#include "transport/Endpoint.h"

QString connectionSummary(const Connection& connection, const ConnectionState& state) {
    const QString& port = connection.portName();
    QString where;
    if (port.isEmpty())
        where = QStringLiteral("No port");
    else if (connection.network())
        where = QStringLiteral("Network unit %1").arg(port);
    else
        where = QStringLiteral("%1, %2 baud")
                    .arg(port, connection.commSettings.isEmpty()
                                   ? QStringLiteral("?")
                                   : connection.commSettings.section(QLatin1Char(','), 0, 0));
    QString how;
    if (!state.note.isEmpty())
        how = state.note;
    else if (!state.failure.isEmpty())
        how = QStringLiteral("failed: ") + state.failure;
    else
        how = state.open ? QStringLiteral("connected") : QStringLiteral("not connected");
    return QStringLiteral("%1, unit %2: %3").arg(where).arg(connection.unitAddress).arg(how);
}
