#include "connect/ConnectionSettings.h"

#include "startup/ConfigFiles.h"
#include "startup/MessageLayout.h"

#include <QRegularExpression>
#include <QSettings>

namespace {

const QString kPort = QStringLiteral("connection/port");
const QString kSpeed = QStringLiteral("connection/speed");
const QString kFraming = QStringLiteral("connection/framing");
const QString kUnit = QStringLiteral("connection/unit");
const QString kEcho = QStringLiteral("line/echo");
const QString kDirection = QStringLiteral("line/direction");
const QString kPauseMs = QStringLiteral("line/pause-ms");
const QString kRetries = QStringLiteral("line/retries");
const QString kVerify = QStringLiteral("line/verify");
const QString kBlockReads = QStringLiteral("line/block-reads");
constexpr int kMaxRetries = 9;

bool validFraming(const QString& f) {
    static const QRegularExpression form(QStringLiteral("^[NEOMS],[5-8],(1|1\\.5|2)$"));
    return form.match(f).hasMatch();
}

int number(const QSettings& s, const QString& key) {
    bool ok = false;
    const int v = s.value(key).toString().toInt(&ok);
    return ok ? v : 0;
}

// The line settings, the first four all valid, or nothing; the read-back and
// block reads, kept since, at their defaults where a file has none.
std::optional<LineOptions> loadLine(const QSettings& s) {
    const auto echo = echoModeNamed(s.value(kEcho).toString());
    const auto direction = directionNamed(s.value(kDirection).toString());
    bool pauseOk = false, retriesOk = false;
    const int pause = s.value(kPauseMs).toString().toInt(&pauseOk);
    const int retries = s.value(kRetries).toString().toInt(&retriesOk);
    if (!echo || !direction || !pauseOk || pause < 0 || pause > LineOptions::kMaxPauseMs ||
        !retriesOk || retries < 0 || retries > kMaxRetries)
        return std::nullopt;
    LineOptions line{*echo, *direction, pause, retries};
    line.verify = s.value(kVerify).toString() == QLatin1String("on");
    line.blockReads = blockReadsNamed(s.value(kBlockReads).toString()).value_or(BlockReads::Off);
    return line;
}

} // namespace

std::optional<LineSettings> RememberedConnection::portSettings() const {
    if (speed == 0)
        return std::nullopt;
    return parseLineSettings(QString::number(speed) + QLatin1Char(',') +
                             (framing.isEmpty() ? QStringLiteral("N,8,1") : framing));
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
    c.line = loadLine(settings_);
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
    if (c.line) {
        settings_.setValue(kEcho, echoModeName(c.line->echo));
        settings_.setValue(kDirection, directionName(c.line->direction));
        settings_.setValue(kPauseMs, c.line->pauseMs);
        settings_.setValue(kRetries, c.line->retries);
        settings_.setValue(kVerify, c.line->verify ? QStringLiteral("on") : QStringLiteral("off"));
        settings_.setValue(kBlockReads, blockReadsName(c.line->blockReads));
    }
    settings_.sync();
}

RememberedConnection
ConnectionSettings::fromPortSettings(const QString& port,
                                     const std::optional<LineSettings>& settings, int unit) {
    RememberedConnection c;
    c.port = port;
    if (settings) {
        c.speed = settings->baud;
        c.framing = settings->text().section(QLatin1Char(','), 1);
    }
    c.unit = unit;
    return c;
}
