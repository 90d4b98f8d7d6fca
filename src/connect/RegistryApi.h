#pragma once
// The four registry calls the port listing makes, as Win32 status codes. The
// product uses the system's registry on Windows; tests use a fake one.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

namespace win32 {
// Status codes the listing tells apart.
constexpr qint32 kSuccess = 0;
constexpr qint32 kFileNotFound = 2;
constexpr qint32 kAccessDenied = 5;
constexpr qint32 kInvalidParameter = 87;
constexpr qint32 kMoreData = 234;
constexpr qint32 kBadDb = 1009;
constexpr qint32 kBadKey = 1010;
constexpr qint32 kCantOpen = 1011;
constexpr qint32 kCantRead = 1012;
} // namespace win32

class RegistryApi {
public:
    using Key = quintptr;
    // Stands for HKEY_LOCAL_MACHINE; the system's implementation maps it.
    static constexpr Key kLocalMachine = 0x80000002u;

    virtual ~RegistryApi() = default;

    // Opens the key for reading.
    virtual qint32 openKey(Key root, const QString& path, Key& key) = 0;
    // Only the number of values is used.
    virtual qint32 queryInfoKey(Key key, quint32& valueCount) = 0;
    // The name and data of the value at index, written into the two buffers
    // in place (never resized). On entry the lengths give the buffer sizes;
    // on return the number of bytes written, as the system reports them.
    virtual qint32 enumValue(Key key, quint32 index, QByteArray& nameBuf, quint32& nameLength,
                             QByteArray& dataBuf, quint32& dataLength) = 0;
    virtual qint32 closeKey(Key key) = 0;
};

// The system's registry on Windows; nothing elsewhere.
std::unique_ptr<RegistryApi> systemRegistry();
