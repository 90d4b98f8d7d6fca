#include "connect/RegistryApi.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {
class Win32Registry : public RegistryApi {
public:
    qint32 openKey(Key root, const QString& path, Key& key) override {
        HKEY opened = nullptr;
        const QByteArray ansiPath = path.toLocal8Bit();
        const LONG status = RegOpenKeyExA(toHkey(root), ansiPath.constData(), 0, KEY_READ, &opened);
        key = reinterpret_cast<Key>(opened);
        return status;
    }

    qint32 queryInfoKey(Key key, quint32& valueCount) override {
        char className[50] = {};
        DWORD classLength = sizeof className;
        DWORD values = 0;
        const LONG status =
            RegQueryInfoKeyA(toHkey(key), className, &classLength, nullptr, nullptr, nullptr,
                             nullptr, &values, nullptr, nullptr, nullptr, nullptr);
        valueCount = values;
        return status;
    }

    qint32 enumValue(Key key, quint32 index, QByteArray& nameBuf, quint32& nameLength,
                     QByteArray& dataBuf, quint32& dataLength) override {
        DWORD nameSize = qMin<DWORD>(nameLength, DWORD(nameBuf.size()));
        DWORD dataSize = qMin<DWORD>(dataLength, DWORD(dataBuf.size()));
        DWORD type = 0;
        const LONG status =
            RegEnumValueA(toHkey(key), index, nameBuf.data(), &nameSize, nullptr, &type,
                          reinterpret_cast<LPBYTE>(dataBuf.data()), &dataSize);
        nameLength = nameSize;
        dataLength = dataSize;
        return status;
    }

    qint32 closeKey(Key key) override { return RegCloseKey(toHkey(key)); }

private:
    static HKEY toHkey(Key key) {
        return key == kLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key);
    }
};
} // namespace

std::unique_ptr<RegistryApi> systemRegistry() {
    return std::make_unique<Win32Registry>();
}

#else

std::unique_ptr<RegistryApi> systemRegistry() {
    return nullptr;
}

#endif
