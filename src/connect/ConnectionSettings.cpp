#include "connect/ConnectionSettings.h"

#include "startup/ConfigFiles.h"
#include "startup/SharedState.h"

#include <QRegularExpression>
#include <QSettings>

namespace {

const QString kPort = QStringLiteral("connection/port");
const QString kSpeed = QStringLiteral("connection/speed");
const QString kFraming = QStringLiteral("connection/framing");
const QString kUnit = QStringLiteral("connection/unit");

bool validFraming(const QString& f) {
    static const QRegularExpression form(QStringLiteral("^[NEOMS],[5-8],(1|1\\.5|2)$"));
    return form.match(f).hasMatch();
}

int number(const QSettings& s, const QString& key) {
    bool ok = false;
    const int v = s.value(key).toString().toInt(&ok);
    return ok ? v : 0;
}

} // namespace

QString RememberedConnection::commSettings() const {
    if (speed == 0)
        return {};
    return QString::number(speed) + QLatin1Char(',') +
           (framing.isEmpty() ? QStringLiteral("N,8,1") : framing);
}

RememberedConnection ConnectionSettings::load() const {
    RememberedConnection c;
    c.port = settings_.value(kPort).toString().trimmed();
    if (const int speed = number(settings_, kSpeed); isLineSpeed(speed))
        c.speed = speed;
    if (const QString f = settings_.value(kFraming).toString(); validFraming(f))
        c.framing = f;
    if (const int unit = number(settings_, kUnit);
        unit >= kFirstUnitAddress && unit <= kLastUnitAddress)
        c.unit = unit;
    return c;
}

void ConnectionSettings::save(const RememberedConnection& c) {
    if (!c.port.trimmed().isEmpty())
        settings_.setValue(kPort, c.port.trimmed());
    if (isLineSpeed(c.speed))
        settings_.setValue(kSpeed, c.speed);
    if (validFraming(c.framing))
        settings_.setValue(kFraming, c.framing);
    if (c.unit >= kFirstUnitAddress && c.unit <= kLastUnitAddress)
        settings_.setValue(kUnit, c.unit);
    settings_.sync();
}

RememberedConnection ConnectionSettings::fromCommSettings(const QString& port,
                                                          const QString& settings, int unit) {
    RememberedConnection c;
    c.port = port;
    c.speed = settings.section(QLatin1Char(','), 0, 0).toInt();
    c.framing = settings.section(QLatin1Char(','), 1);
    c.unit = unit;
    return c;
}
