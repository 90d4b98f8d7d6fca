#include "connect/SpeedChoice.h"

QString acceptedSettings(const QString& v) {
    return kAcceptedSettings.contains(v, Qt::CaseSensitive) ? v : kDefaultSettings;
}

QString settingsForChoice(const std::array<QString, 5>& BaudRates, int index) {
    const int entry = index + 1;
    if (entry < 0 || entry >= int(BaudRates.size()))
        return kDefaultSettings;
    return acceptedSettings(BaudRates[std::size_t(entry)]);
}
