#include "connect/SystemPorts.h"

#ifdef _WIN32
#include "connect/ApiRegistry.h"
#include "connect/RegistryApi.h"
#include "link/PortNames.h"

// Read quietly: the connection dialog's own listing (ApiRegistry) is the one
// that tells the operator when the key cannot be read.
QList<SystemPortInfo> systemPorts() {
    QList<SystemPortInfo> list;
    const std::unique_ptr<RegistryApi> registry = systemRegistry();
    RegistryApi::Key key = 0;
    if (!registry ||
        registry->openKey(RegistryApi::kLocalMachine, kSerialCommKey, key) != win32::kSuccess)
        return list;
    quint32 count = 0;
    if (registry->queryInfoKey(key, count) == win32::kSuccess) {
        for (quint32 i = 0; i < count && i < quint32(ApiRegistry::kMaxValues); ++i) {
            QByteArray name(ApiRegistry::kBufferLength + 1, '\0');
            QByteArray data(ApiRegistry::kBufferLength + 1, '\0');
            quint32 nameLength = quint32(name.size());
            quint32 dataLength = quint32(data.size());
            if (registry->enumValue(key, i, name, nameLength, data, dataLength) != win32::kSuccess)
                break;
            SystemPortInfo info;
            info.name = QString::fromLocal8Bit(data.constData()); // up to its terminating 0
            info.location = portDevicePath(info.name);
            // "\Device\Silabser0": the driver's device, the one name the key gives.
            const QString device = QString::fromLocal8Bit(name.constData(), int(nameLength));
            info.description = device.section(QLatin1Char('\\'), -1);
            if (!info.name.isEmpty())
                list.append(info);
        }
    }
    registry->closeKey(key);
    return list;
}
#else
#include <QSerialPortInfo>

QList<SystemPortInfo> systemPorts() {
    QList<SystemPortInfo> list;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        list.append({info.portName(), info.systemLocation(), info.manufacturer(),
                     info.description(), info.serialNumber(),
                     info.hasVendorIdentifier() ? info.vendorIdentifier() : quint16(0),
                     info.hasProductIdentifier() ? info.productIdentifier() : quint16(0)});
    return list;
}
#endif
