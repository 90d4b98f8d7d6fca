#include "connect/Reconnect.h"

#include "connect/PortSources.h"
#include "transport/Transport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

QString stableNameFor(const QString& device, const QString& byIdFolder) {
    const QString target = QFileInfo(portLocation(device)).canonicalFilePath();
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

void Reconnector::remember(const QString& byIdFolder) {
    gateway_ = nullptr;
    const QString name = port_.portName();
    const QString stable = stableNameFor(name, byIdFolder);
    name_ = stable.isEmpty() ? name : stable;
    settings_ = port_.settings();
}

void Reconnector::rememberGateway(const QString& address, Transport& transport) {
    gateway_ = &transport;
    name_ = address;
    settings_.clear();
}

PortStatus Reconnector::connectGateway() {
    port_.setPortName(name_);
    const FailureWatch watch(*gateway_);
    const TransportStatus s = gateway_->prepare();
    return s == TransportStatus::Ok ? PortStatus{} : PortStatus::failure(watch.reason(s));
}

PortStatus Reconnector::tryOnce() {
    if (gateway_)
        return connectGateway();
    if (port_.isOpen())
        port_.close();
    port_.setPortName(name_);
    PortStatus s = port_.setSettings(settings_);
    if (s.ok)
        s = port_.open();
    return s;
}

PortStatus Reconnector::reconnect(int timeoutMs, int intervalMs) {
    cancelled_ = false;
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
