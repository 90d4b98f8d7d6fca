#pragma once
// Getting a failed port back within one run. An unplugged USB adapter comes
// back under the same name or another (ttyUSB0, then ttyUSB1), but its
// /dev/serial/by-id link names it whichever it gets, so the port is reopened
// by that link when it has one.

#include "link/SerialPort.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QEventLoop;
class Transport;

inline const QString kSerialByIdFolder = QStringLiteral("/dev/serial/by-id");

// The link in byIdFolder that points to device now (a system name or a path),
// or empty when none does.
QString stableNameFor(const QString& device, const QString& byIdFolder = kSerialByIdFolder);

// Reopens a port with the name and settings it had when remember() was called,
// or connects to a gateway again.
class Reconnector : public QObject {
    Q_OBJECT
public:
    explicit Reconnector(SerialPort& port, QObject* parent = nullptr)
        : QObject(parent), port_(port) {}

    // Takes the open port's name, or its by-id link when one points to it, and
    // its settings. Call it after each successful open.
    void remember(const QString& byIdFolder = kSerialByIdFolder);
    // The gateway named address, reached through transport (which follows
    // the port's name): reconnect() connects the transport to it again.
    void rememberGateway(const QString& address, Transport& transport);
    QString name() const { return name_; }
    QString settings() const { return settings_; }

    // Tries to reopen every intervalMs until the port opens or timeoutMs has
    // passed; the wait is event-driven, and cancel() ends it. The last
    // failure when it did not open.
    PortStatus reconnect(int timeoutMs, int intervalMs = 250);
    void cancel();
    // The last reconnect() ended by cancel().
    bool cancelled() const { return cancelled_; }

signals:
    void attemptFailed(const QString& reason); // for a status line
    void waiting(int msLeft);                  // before each pause between attempts

private:
    PortStatus tryOnce();
    PortStatus connectGateway();
    SerialPort& port_;
    QPointer<Transport> gateway_;
    QString name_;
    QString settings_;
    QEventLoop* loop_ = nullptr;
    bool cancelled_ = false;
};
