#include "connect/SystemPorts.h"

#ifdef _WIN32
#include "connect/ApiRegistry.h"
#include "connect/RegistryApi.h"
#include "link/PortNames.h"

#include <QHash>
#include <QPair>

#include <windows.h>
// After windows.h:
#include <devguid.h>
#include <setupapi.h>

namespace {

QString deviceText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t text[256] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<PBYTE>(text), sizeof text - 2, nullptr))
        return {};
    return QString::fromWCharArray(text);
}

// The friendly name and maker Windows shows for each port of the Ports
// class, by port name ("COM5"); empty where the system has none.
QHash<QString, QPair<QString, QString>> friendlyNames() {
    QHash<QString, QPair<QString, QString>> names;
    const HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return names;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        const HKEY key =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t port[64] = {};
        DWORD size = sizeof port - 2;
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, nullptr,
                                            reinterpret_cast<LPBYTE>(port), &size) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (named)
            names.insert(
                QString::fromWCharArray(port),
                {deviceText(set, device, SPDRP_FRIENDLYNAME), deviceText(set, device, SPDRP_MFG)});
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

} // namespace

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
    const auto friendly = friendlyNames();
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
            // "USB Serial Port (COM5)" where Windows has a friendly name; else
            // the driver's device ("\Device\Silabser0"), the one name the key gives.
            const QString device = QString::fromLocal8Bit(name.constData(), int(nameLength));
            const auto known = friendly.value(info.name);
            info.description =
                known.first.isEmpty() ? device.section(QLatin1Char('\\'), -1) : known.first;
            info.manufacturer = known.second;
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
