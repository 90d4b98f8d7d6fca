#pragma once
// The serial ports the system lists now, with what it says of each: Qt's
// enumeration on Linux; on Windows the registry's serial-port key
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), the one list every Windows program
// reads, with the friendly name and maker the Ports class gives (SetupAPI),
// else the driver's device name the key gives.

#include <QList>
#include <QString>

struct SystemPortInfo {
    QString name;         // "ttyUSB0", "COM3"
    QString location;     // what it opens by: "/dev/ttyUSB0", "\\.\COM3"
    QString manufacturer; // empty where the system does not say
    QString description;  // the adapter's product, or the Windows driver's device name
    QString serialNumber; // empty: it has none
    quint16 vendorId = 0; // USB ids; 0: unknown
    quint16 productId = 0;
};

QList<SystemPortInfo> systemPorts();
