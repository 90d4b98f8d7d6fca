#include "link/LineSettings.h"

#include "startup/ConfigFiles.h"

#include <QStringList>

double LineSettings::bitsPerCharacter() const {
    double bits = 1 + dataBits;
    if (parity != NoParity)
        bits += 1;
    bits += stopBits == OneStop ? 1 : stopBits == TwoStop ? 2 : 1.5;
    return bits;
}

bool LineSettings::valid() const {
    return isLineSpeed(baud) && dataBits >= 5 && dataBits <= 8;
}

QString invalidSettingsText(const LineSettings& s) {
    return QStringLiteral("invalid port settings \"%1\" (expected speed,parity,data bits,stop "
                          "bits such as \"9600,N,8,1\")")
        .arg(s.text());
}

QString LineSettings::text() const {
    const char letter = parity == EvenParity    ? 'E'
                        : parity == OddParity   ? 'O'
                        : parity == MarkParity  ? 'M'
                        : parity == SpaceParity ? 'S'
                                                : 'N';
    const QString stop = stopBits == TwoStop          ? QStringLiteral("2")
                         : stopBits == OneAndHalfStop ? QStringLiteral("1.5")
                                                      : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QLatin1Char(letter)).arg(dataBits).arg(stop);
}

std::optional<LineSettings> parseLineSettings(const QString& text) {
    const QStringList f = text.split(QLatin1Char(','));
    if (f.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baud = f[0].trimmed().toInt(&ok);
    if (!ok || !isLineSpeed(s.baud)) // never another speed than the one asked for
        return std::nullopt;

    const QString parity = f[1].trimmed().toUpper();
    if (parity == QLatin1String("N"))
        s.parity = LineSettings::NoParity;
    else if (parity == QLatin1String("E"))
        s.parity = LineSettings::EvenParity;
    else if (parity == QLatin1String("O"))
        s.parity = LineSettings::OddParity;
    else if (parity == QLatin1String("M"))
        s.parity = LineSettings::MarkParity;
    else if (parity == QLatin1String("S"))
        s.parity = LineSettings::SpaceParity;
    else
        return std::nullopt;

    const int data = f[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        return std::nullopt;
    s.dataBits = data;

    const QString stop = f[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = LineSettings::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = LineSettings::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = LineSettings::TwoStop;
    else
        return std::nullopt;
    return s;
}
