#pragma once
// Getting a failed port back within one run, and only the same adapter. An
// unplugged USB adapter comes back under the same name or another (ttyUSB0,
// then ttyUSB1), and another adapter may come under the old name. What tells
// the adapter is its /dev/serial/by-id link, which names it whichever device
// it gets, or else its USB serial number. A port with neither (a pseudo-
// terminal, a built-in port) is reopened only when the operator, told what
// was found under its name, agrees.

#include "link/SerialPort.h"
#include "transport/Endpoint.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class Connection;
class LineTransport;
class Operator;
class QEventLoop;

inline const QString kSerialByIdFolder = QStringLiteral("/dev/serial/by-id");

// The link in byIdFolder that points to device now (a system name or a path),
// or empty when none does.
QString stableNameFor(const QString& device, const QString& byIdFolder = kSerialByIdFolder);

// An adapter as the system lists it.
struct AdapterIdentity {
    QString location;     // its device file, "/dev/ttyUSB0"
    QString serialNumber; // empty: it has none
    quint16 vendorId = 0; // USB ids; 0: unknown
    quint16 productId = 0;
};
using AdapterLister = std::function<QList<AdapterIdentity>()>;
// The serial ports the system lists now (SystemPorts).
QList<AdapterIdentity> systemAdapters();

// How long Reconnect looks for the adapter (or the gateway) before it gives up.
constexpr int kReconnectTimeoutMs = 30000;

// Reopens a port with the name and settings it had when remember() was called,
// or connects to a gateway again.
class Reconnector : public QObject {
    Q_OBJECT
public:
    explicit Reconnector(SerialPort& port, QObject* parent = nullptr)
        : QObject(parent), port_(port), adapters_(&systemAdapters) {}

    // Who is asked before a port without an identity is reopened; none: such
    // a port is never reopened.
    void setOperator(Operator* op) { operator_ = op; }
    // Tests: where the adapters and their serial numbers come from.
    void setAdapterLister(AdapterLister lister) { adapters_ = std::move(lister); }

    // Takes the open port's name, or its by-id link when one points to it, its
    // adapter's serial number, and its settings. Call it after each
    // successful open.
    void remember(const QString& byIdFolder = kSerialByIdFolder);
    // The gateway of a network connection, reached through transport:
    // reconnect() puts the transport on it and connects again.
    void rememberGateway(const Connection& gateway, LineTransport& transport);
    // What is reopened: the by-id link, or the device where the adapter with
    // the serial number was found last, or the name the port had.
    QString name() const { return name_; }

    // Tries to reopen every intervalMs until the port opens or timeoutMs has
    // passed; the wait is event-driven, and cancel() ends it, as does the
    // operator's No to a port without an identity. The last failure when it
    // did not open.
    PortStatus reconnect(int timeoutMs, int intervalMs = 250);
    void cancel();
    // The last reconnect() ended by cancel() or by the operator's No.
    bool cancelled() const { return cancelled_; }

signals:
    void attemptFailed(const QString& reason); // for a status line
    void waiting(int msLeft);                  // before each pause between attempts

private:
    PortStatus tryOnce();
    PortStatus connectGateway();
    // Where the same adapter is now: the device to open, or why there is none.
    PortStatus locate(QString& device);
    PortStatus locateBySerialNumber(QString& device) const;
    PortStatus askAboutUnknown(QString& device);

    SerialPort& port_;
    AdapterLister adapters_;
    Operator* operator_ = nullptr;
    QPointer<LineTransport> gateway_;
    Endpoint gatewayEndpoint_;
    QString name_;
    LineSettings settings_;
    bool byId_ = false;      // name_ is a by-id link
    AdapterIdentity serial_; // the adapter's serial number and ids, when it has one
    bool agreed_ = false;    // the operator took the device without an identity
    QEventLoop* loop_ = nullptr;
    bool cancelled_ = false;
};
