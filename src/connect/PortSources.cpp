#include "connect/PortSources.h"

#include "connect/ApiRegistry.h"
#include "connect/RegistryApi.h"
#include "connect/SystemPorts.h"

#include <QCollator>
#include <QFileInfo>
#include <algorithm>

QStringList systemPortNames() {
    QStringList names;
    const auto ports = systemPorts();
    for (const SystemPortInfo& info : ports)
        names << info.name;
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
    const auto ports = systemPorts();
    for (const SystemPortInfo& info : ports)
        if (info.name == nameOrPath)
            return info.location;
    return nameOrPath;
}

QString portAdapterText(const QString& nameOrPath) {
    const QString target = QFileInfo(portLocation(nameOrPath)).canonicalFilePath();
    const auto ports = systemPorts();
    for (const SystemPortInfo& info : ports) {
        // A COM port has no file to resolve: it is the port of that name.
        const bool same = target.isEmpty() ? info.name == nameOrPath
                                           : QFileInfo(info.location).canonicalFilePath() == target;
        if (!same)
            continue;
        QStringList words;
        for (const QString& w : {info.manufacturer, info.description})
            if (!w.trimmed().isEmpty() && !words.contains(w.trimmed()))
                words << w.trimmed();
        QString text = words.join(QLatin1Char(' '));
        if (!info.serialNumber.isEmpty())
            text += (text.isEmpty() ? QString() : QStringLiteral(", ")) +
                    QStringLiteral("serial number ") + info.serialNumber;
        return text;
    }
    return {};
}

QString portDescription(const QString& nameOrPath) {
    const QString adapter = portAdapterText(nameOrPath);
    return adapter.isEmpty() ? nameOrPath : nameOrPath + QLatin1Char('\n') + adapter;
}

QStringList listPortNames(Operator& op) {
    if (const std::unique_ptr<RegistryApi> registry = systemRegistry()) {
        ApiRegistry ports(*registry, op);
        return ports.ListSerialPorts();
    }
    return systemPortNames();
}
