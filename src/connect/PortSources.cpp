#include "connect/PortSources.h"

#include "connect/ApiRegistry.h"
#include "connect/RegistryApi.h"

#include <QCollator>
#include <QSerialPortInfo>
#include <algorithm>

QStringList systemPortNames() {
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        names << info.portName();
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    names.removeDuplicates();
    return names;
}

QString portLocation(const QString& nameOrPath) {
    if (nameOrPath.contains(QLatin1Char('/')))
        return nameOrPath;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        if (info.portName() == nameOrPath)
            return info.systemLocation();
    return nameOrPath;
}

QStringList listPortNames(Operator& op) {
    if (const std::unique_ptr<RegistryApi> registry = systemRegistry()) {
        ApiRegistry ports(*registry, op);
        return ports.ListSerialPorts();
    }
    return systemPortNames();
}
