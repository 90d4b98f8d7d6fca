#include "connect/ConnectionStatus.h"

#include "transport/Endpoint.h"

QStringList lineSettingsText(const LineOptions& line, bool network) {
    const LineOptions defaults;
    QStringList parts;
    if (!network && line.echo != defaults.echo)
        parts << QStringLiteral("echo ") + echoModeName(line.echo);
    if (!network && line.direction != defaults.direction)
        parts << QStringLiteral("direction ") + directionName(line.direction);
    if (line.pauseMs != defaults.pauseMs)
        parts << QStringLiteral("pause %1 ms").arg(line.pauseMs);
    if (line.retries != defaults.retries)
        parts << QStringLiteral("retries %1").arg(line.retries);
    if (line.verify != defaults.verify)
        parts << (line.verify ? QStringLiteral("verify on") : QStringLiteral("verify off"));
    return parts;
}

QString connectionSummary(const Connection& connection, const ConnectionState& state) {
    const QString& port = connection.portName();
    QString where;
    if (port.isEmpty())
        where = QStringLiteral("No port");
    else if (connection.network())
        where = QStringLiteral("Network unit %1").arg(port);
    else
        where =
            QStringLiteral("%1, %2 baud")
                .arg(port, connection.portSettings ? QString::number(connection.portSettings->baud)
                                                   : QStringLiteral("?"));
    QString how;
    if (!state.note.isEmpty())
        how = state.note;
    else if (!state.failure.isEmpty())
        how = QStringLiteral("failed: ") + state.failure;
    else
        how = state.open ? QStringLiteral("connected") : QStringLiteral("not connected");
    QStringList parts{where, QStringLiteral("unit %1").arg(connection.unitAddress)};
    parts << lineSettingsText(connection.line, connection.network());
    return parts.join(QStringLiteral(", ")) + QStringLiteral(": ") + how;
}
