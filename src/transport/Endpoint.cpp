#include "transport/Endpoint.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

const QString kTcp = QStringLiteral("tcp://");
const QString kRtuTcp = QStringLiteral("rtu+tcp://");

std::optional<Endpoint> refuse(QString* error, const QString& why) {
    if (error)
        *error = why;
    return std::nullopt;
}

// A host name as the resolver takes it: labels of letters, digits and dashes.
bool hostName(const QString& host) {
    static const QRegularExpression name(
        QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\.?$"));
    return name.match(host).hasMatch();
}

// The host and the port's text of an address after its scheme; why not,
// when they cannot be told apart.
std::optional<QString> splitHost(const QString& rest, bool rtu, QString& host, QString& portText) {
    if (rest.startsWith(QLatin1Char('['))) {
        const int close = int(rest.indexOf(QLatin1Char(']')));
        if (close < 0)
            return QStringLiteral("has no ] after its IPv6 address");
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return QStringLiteral("has \"%1\" after its IPv6 address").arg(after);
        if (!after.isEmpty())
            portText = after.mid(1);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return QStringLiteral("has no IPv6 address in its brackets");
        if (after.isEmpty() && rtu)
            return QStringLiteral("names no port");
    } else {
        const int colon = int(rest.lastIndexOf(QLatin1Char(':')));
        if (colon >= 0 && rest.indexOf(QLatin1Char(':')) != colon)
            return QStringLiteral("has an IPv6 address without brackets");
        host = colon >= 0 ? rest.left(colon) : rest;
        if (colon >= 0)
            portText = rest.mid(colon + 1);
        else if (rtu)
            return QStringLiteral("names no port");
        if (host.isEmpty())
            return QStringLiteral("names no host");
        if (!hostName(host))
            return QStringLiteral("has \"%1\", which is no host name").arg(host);
    }
    return std::nullopt;
}

} // namespace

QString Endpoint::hostPort() const {
    const QString h =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("%1:%2").arg(h).arg(port);
}

bool isNetworkAddress(const QString& text) {
    const QString t = text.trimmed();
    return t.startsWith(kTcp, Qt::CaseInsensitive) || t.startsWith(kRtuTcp, Qt::CaseInsensitive);
}

QString endpointText(const Endpoint& e) {
    switch (e.kind) {
    case Endpoint::Kind::Serial:
        return e.host;
    case Endpoint::Kind::ModbusTcp:
        return kTcp + e.hostPort();
    case Endpoint::Kind::RtuOverTcp:
        return kRtuTcp + e.hostPort();
    }
    return {};
}

std::optional<Endpoint> parseEndpoint(const QString& text, QString* error) {
    const QString t = text.trimmed();
    Endpoint e;
    if (!isNetworkAddress(t)) {
        e.host = t;
        return e;
    }
    const bool rtu = t.startsWith(kRtuTcp, Qt::CaseInsensitive);
    e.kind = rtu ? Endpoint::Kind::RtuOverTcp : Endpoint::Kind::ModbusTcp;
    const QString scheme = rtu ? kRtuTcp : kTcp;
    QString rest = t.mid(scheme.size());
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    const QString form =
        rtu ? QStringLiteral("rtu+tcp://HOST:PORT") : QStringLiteral("tcp://HOST[:PORT]");
    const auto bad = [&](const QString& why) {
        return refuse(error, QStringLiteral("the address \"%1\" %2 (write %3; HOST is a name, an "
                                            "IPv4 address or an IPv6 address in brackets)")
                                 .arg(t, why, form));
    };
    QString portText;
    if (const auto why = splitHost(rest, rtu, e.host, portText))
        return bad(*why);
    e.port = kModbusTcpPort;
    if (!portText.isNull()) {
        bool ok = false;
        e.port = portText.toInt(&ok);
        if (!ok || e.port < 1 || e.port > 65535 || portText.startsWith(QLatin1Char('+')))
            return bad(QStringLiteral("has the port \"%1\"; a port is 1 to 65535").arg(portText));
    }
    return e;
}
