#pragma once
// What the connection dialog offers and what the operator picked: one entry
// per port, keyed "Item1", "Item2"... in list order, plus a device path the
// operator may type. The last pick counts.

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

struct PortEntry {
    QString Key;  // "Item" + position from 1
    QString Text; // what the list shows
    QString Port; // what the port is opened by: a system name or a device path
};
using PortEntries = QVector<PortEntry>;

// The system does not list pseudo-terminals, so a simulated unit's port is
// put first when one runs.
PortEntries makePortEntries(const QStringList& portNames, const QString& simulatedPath = {});
QString simulatedEntryText(const QString& path);

// Each entry whose port has a link in byIdFolder is opened by that link,
// which names the adapter whatever name it gets when plugged in again.
PortEntries withStableNames(PortEntries entries,
                            const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

class PortChoice {
public:
    // The key of a typed device path.
    static inline const QString kOtherKey = QStringLiteral("Other");

    // Listing again keeps the last pick, which may then find no entry.
    void setEntries(PortEntries entries) { entries_ = std::move(entries); }
    const PortEntries& entries() const { return entries_; }
    const PortEntry* entry(const QString& key) const;

    void click(const QString& key) { SelectedKey = key; }
    void typeOther(const QString& path) {
        otherPath_ = path;
        SelectedKey = kOtherKey;
    }
    QString otherPath() const { return otherPath_; }

    // The port the last pick names, trimmed; none when nothing was picked,
    // the key lists nothing, or the name is blank.
    std::optional<QString> chosenPort() const;

    QString SelectedKey; // empty until the operator picks

private:
    PortEntries entries_;
    QString otherPath_;
};
