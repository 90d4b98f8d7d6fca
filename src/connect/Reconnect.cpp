#include "connect/Reconnect.h"

#include "connect/Connection.h"
#include "connect/PortSources.h"
#include "connect/SystemPorts.h"
#include "startup/Operator.h"
#include "transport/Transports.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace {
QString canonical(const QString& nameOrPath) {
    return QFileInfo(portLocation(nameOrPath)).canonicalFilePath();
}
} // namespace

QString stableNameFor(const QString& device, const QString& byIdFolder) {
    const QString target = canonical(device);
    if (target.isEmpty())
        return {};
    const QDir folder(byIdFolder);
    const QStringList links = folder.entryList(QDir::System | QDir::Files, QDir::Name);
    for (const QString& link : links) {
        const QFileInfo info(folder.filePath(link));
        if (info.isSymLink() && info.canonicalFilePath() == target)
            return info.filePath();
    }
    return {};
}

QList<AdapterIdentity> systemAdapters() {
    QList<AdapterIdentity> list;
    const auto ports = systemPorts();
    for (const SystemPortInfo& info : ports)
        list.append({info.location, info.serialNumber, info.vendorId, info.productId});
    return list;
}

void Reconnector::remember(const QString& byIdFolder) {
    gateway_ = nullptr;
    agreed_ = false;
    serial_ = {};
    const QString name = port_.portName();
    const QString stable = stableNameFor(name, byIdFolder);
    byId_ = !stable.isEmpty();
    name_ = byId_ ? stable : name;
    settings_ = port_.settings();
    if (byId_)
        return;
    const QString target = canonical(name);
    for (const AdapterIdentity& a : adapters_())
        if (!target.isEmpty() && canonical(a.location) == target && !a.serialNumber.isEmpty())
            serial_ = a;
}

void Reconnector::rememberGateway(const Connection& gateway, LineTransport& transport) {
    gateway_ = &transport;
    // Only a usable address becomes the connection; one that is not fails as
    // a serial line that is not open would.
    gatewayEndpoint_ = gateway.endpoint().value_or(Endpoint{});
    name_ = gateway.portName();
    settings_ = {};
}

PortStatus Reconnector::connectGateway() {
    gateway_->choose(gatewayEndpoint_);
    const FailureWatch watch(*gateway_);
    const TransportStatus s = gateway_->prepare();
    return s == TransportStatus::Ok ? PortStatus{} : PortStatus::failure(watch.reason(s));
}

PortStatus Reconnector::locateBySerialNumber(QString& device) const {
    for (const AdapterIdentity& a : adapters_()) {
        const bool sameIds = (serial_.vendorId == 0 || a.vendorId == serial_.vendorId) &&
                             (serial_.productId == 0 || a.productId == serial_.productId);
        if (a.serialNumber == serial_.serialNumber && sameIds) {
            device = a.location;
            return {};
        }
    }
    return PortStatus::failure(QStringLiteral("the adapter with serial number %1 is not plugged in")
                                   .arg(serial_.serialNumber));
}

PortStatus Reconnector::askAboutUnknown(QString& device) {
    const QString target = canonical(name_);
    if (target.isEmpty())
        return PortStatus::failure(QStringLiteral("%1 is not there").arg(name_));
    device = name_;
    if (agreed_)
        return {};
    QString found = target;
    if (const QString adapter = portAdapterText(target); !adapter.isEmpty())
        found += QStringLiteral(" (") + adapter + QLatin1Char(')');
    const QString question =
        QStringLiteral("%1 is there again, now %2.\r\nNothing tells whether it is the adapter "
                       "that failed: it has no serial number.\r\nOpen it?")
            .arg(name_, found);
    agreed_ = operator_ != nullptr &&
              operator_->askOkCancel(question, QStringLiteral("Reconnect"), MsgIcon::Question);
    if (agreed_)
        return {};
    cancelled_ = true;
    return PortStatus::failure(
        QStringLiteral("%1 was not taken: it may be another device").arg(name_));
}

PortStatus Reconnector::locate(QString& device) {
    if (byId_) {
        device = name_; // the link names the adapter
        return {};
    }
    if (!serial_.serialNumber.isEmpty())
        return locateBySerialNumber(device);
    return askAboutUnknown(device);
}

PortStatus Reconnector::tryOnce() {
    if (gateway_)
        return connectGateway();
    if (port_.isOpen())
        port_.close();
    QString device;
    PortStatus s = locate(device);
    if (!s.ok)
        return s;
    port_.setPortName(device);
    s = port_.setSettings(settings_);
    if (s.ok)
        s = port_.open();
    if (s.ok && !byId_)
        name_ = device; // where the adapter is now
    return s;
}

PortStatus Reconnector::reconnect(int timeoutMs, int intervalMs) {
    cancelled_ = false;
    agreed_ = false;
    QElapsedTimer clock;
    clock.start();
    PortStatus s = tryOnce();
    QTimer retry;
    retry.setTimerType(Qt::PreciseTimer);
    retry.setSingleShot(true);
    QEventLoop loop;
    loop_ = &loop;
    QObject::connect(&retry, &QTimer::timeout, &loop, &QEventLoop::quit);
    while (!s.ok && !cancelled_ && clock.elapsed() + intervalMs <= timeoutMs) {
        emit attemptFailed(s.reason);
        emit waiting(int(timeoutMs - clock.elapsed()));
        retry.start(intervalMs);
        if (loop.exec() != 0) // cancelled
            break;
        s = tryOnce();
    }
    loop_ = nullptr;
    return s;
}

void Reconnector::cancel() {
    cancelled_ = true;
    if (gateway_)
        gateway_->requestStop(); // a connection under way
    if (loop_)
        loop_->exit(1);
}
