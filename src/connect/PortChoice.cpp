#include "connect/PortChoice.h"

#include "connect/Reconnect.h"

QString simulatedEntryText(const QString& path) {
    return path + QStringLiteral(" (simulated unit)");
}

PortEntries makePortEntries(const QStringList& portNames, const QString& simulatedPath) {
    PortEntries entries;
    auto add = [&](const QString& text, const QString& port) {
        entries.append({QStringLiteral("Item%1").arg(entries.size() + 1), text, port});
    };
    if (!simulatedPath.isEmpty())
        add(simulatedEntryText(simulatedPath), simulatedPath);
    for (const QString& name : portNames)
        add(name, name);
    return entries;
}

const PortEntry* PortChoice::entry(const QString& key) const {
    for (const PortEntry& e : entries_)
        if (e.Key == key)
            return &e;
    return nullptr;
}

std::optional<QString> PortChoice::chosenPort() const {
    QString port;
    if (SelectedKey == kOtherKey) {
        port = otherPath_;
    } else if (const PortEntry* e = entry(SelectedKey)) {
        port = e->Port;
    } else {
        return std::nullopt;
    }
    port = port.trimmed();
    if (port.isEmpty())
        return std::nullopt;
    return port;
}

PortEntries withStableNames(PortEntries entries, const QString& byIdFolder) {
    for (PortEntry& e : entries)
        if (const QString link = stableNameFor(e.Port, byIdFolder); !link.isEmpty())
            e.Port = link;
    return entries;
}
