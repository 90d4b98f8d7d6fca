#include "connect/ApiRegistry.h"

#include "startup/Operator.h"

QString regStatusText(qint32 status, const QString& operation) {
    const QString where = QStringLiteral("(") + operation + QStringLiteral(")");
    switch (status) {
    case win32::kAccessDenied:
        return QStringLiteral("Registry: Access Denied ") + where;
    case win32::kInvalidParameter:
        return QStringLiteral("Registry: Invalid Parameter ") + where;
    case win32::kBadDb:
        return QStringLiteral("Registry: Corrupt Registry");
    case win32::kBadKey:
        return QStringLiteral("Registry: Invalid Key ") + where;
    case win32::kCantOpen:
        return QStringLiteral("Registry: Cannot Open ") + where;
    case win32::kCantRead:
        return QStringLiteral("Registry: Cannot Read ") + where;
    default:
        // Success, a name or data longer than the buffer, a missing key (no
        // serial ports at all) and anything unknown go by without a box.
        return {};
    }
}

namespace {
// A buffer's text runs up to its terminating NUL; a buffer the call did not
// write holds only the blanks it was prepared with.
QString bufferText(const QByteArray& buf) {
    const qsizetype nul = buf.indexOf('\0');
    return QString::fromLocal8Bit(nul < 0 ? buf : buf.left(nul));
}
} // namespace

ApiRegistry::ApiRegistry(RegistryApi& api, Operator& op) : api_(api), operator_(op) {
    clearBuffers();
}

bool ApiRegistry::CheckRegStatus(qint32 status, const QString& operation) {
    const QString text = regStatusText(status, operation);
    if (!text.isEmpty())
        operator_.inform(text);
    return status == win32::kSuccess;
}

void ApiRegistry::clearBuffers() {
    ValueNameBuf = QByteArray(kBufferLength, ' ');
    ValueDataBuf = QByteArray(kBufferLength, ' ');
    ValueNameLength = kBufferLength;
    ValueDataLength = kBufferLength;
}

bool ApiRegistry::openKey(RegistryApi::Key root, const QString& path) {
    RootKey = root;
    SubKeyPath = path;
    KeyHandle = 0;
    return CheckRegStatus(api_.openKey(RootKey, SubKeyPath, KeyHandle),
                          QStringLiteral("RegOpenKeyEx"));
}

bool ApiRegistry::QueryKeyInfo(RegistryApi::Key root, const QString& path) {
    ValueCount = 0;
    if (!openKey(root, path))
        return false;
    // After the open, a failing call is reported and the listing goes on
    // with what it has.
    CheckRegStatus(api_.queryInfoKey(KeyHandle, ValueCount), QStringLiteral("RegQueryInfoKey"));
    clearBuffers();
    CheckRegStatus(api_.closeKey(KeyHandle), QStringLiteral("RegCloseKey"));
    return true;
}

void ApiRegistry::EnumerateValues(RegistryApi::Key root, const QString& path) {
    RegValues.fill(RegValue{});
    ValueCount = 0;
    if (!openKey(root, path))
        return;
    CheckRegStatus(api_.queryInfoKey(KeyHandle, ValueCount), QStringLiteral("RegQueryInfoKey"));
    clearBuffers();
    RegValues[0] = RegValue{ValueCount, {}, {}};
    const quint32 n = qMin<quint32>(ValueCount, kMaxValues);
    for (quint32 i = 0; i < n; ++i) {
        CheckRegStatus(api_.enumValue(KeyHandle, i, ValueNameBuf, ValueNameLength, ValueDataBuf,
                                      ValueDataLength),
                       QStringLiteral("RegEnumValue"));
        RegValues[i + 1] = RegValue{i + 1, bufferText(ValueNameBuf), bufferText(ValueDataBuf)};
        // Every call is offered the full buffers again.
        clearBuffers();
    }
    CheckRegStatus(api_.closeKey(KeyHandle), QStringLiteral("RegCloseKey"));
}

QStringList ApiRegistry::ListSerialPorts() {
    RegValues.fill(RegValue{});
    // A key that cannot be opened (none at all on a machine without serial
    // ports) is reported once and not asked again.
    if (!QueryKeyInfo(RegistryApi::kLocalMachine, kSerialCommKey))
        return {};
    quint32 n = ValueCount;
    EnumerateValues(RegistryApi::kLocalMachine, kSerialCommKey);
    // A port that vanished between the two looks would leave a record
    // unfilled; list only what was enumerated.
    n = qMin<quint32>(n, qMin<quint32>(ValueCount, kMaxValues));
    QStringList names;
    for (quint32 k = 1; k <= n; ++k)
        names << RegValues[k].ValueData;
    return names;
}
