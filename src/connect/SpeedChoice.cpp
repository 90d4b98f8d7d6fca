#include "connect/SpeedChoice.h"

#include "startup/ConfigFiles.h"

QStringList acceptedSettingsList() {
    QStringList list;
    for (int speed : kLineSpeeds)
        list << QStringLiteral("%1,N,8,1").arg(speed);
    return list;
}

QString acceptedSettings(const QString& v) {
    static const QStringList accepted = acceptedSettingsList();
    return accepted.contains(v, Qt::CaseSensitive) ? v : kDefaultSettings;
}

LineSettings settingsForChoice(const std::array<QString, 5>& BaudRates, int index) {
    const int entry = index + 1;
    const QString text = entry < 0 || entry >= int(BaudRates.size())
                             ? kDefaultSettings
                             : acceptedSettings(BaudRates[std::size_t(entry)]);
    // Every accepted text reads: a speed of kLineSpeeds, N,8,1.
    return parseLineSettings(text).value_or(LineSettings{});
}
