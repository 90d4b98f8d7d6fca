#pragma once
// The registry access that lists the serial ports on Windows: the values of
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, whose data are the port names. Every
// call's status goes through CheckRegStatus, which tells the operator about
// the failures it knows.

#include "connect/RegistryApi.h"

#include <QString>
#include <QStringList>
#include <array>

class Operator;

inline const QString kSerialCommKey = QStringLiteral("HARDWARE\\DEVICEMAP\\SERIALCOMM");

// The box text for a registry status, empty when it shows none.
QString regStatusText(qint32 status, const QString& operation);

struct RegValue {
    qint64 Number = 0;
    QString ValueName;
    QString ValueData;
};

class ApiRegistry {
public:
    static constexpr int kMaxValues = 100;
    static constexpr int kBufferLength = 255;

    ApiRegistry(RegistryApi& api, Operator& op);

    // True for success; otherwise false, after a box for the known failures.
    bool CheckRegStatus(qint32 status, const QString& operation);

    // Opens the key, takes its value count into ValueCount, closes it. False
    // when the key could not be opened.
    bool QueryKeyInfo(RegistryApi::Key root, const QString& path);
    // Opens the key again and fills RegValues: record 0 the count, records
    // 1.. the values in enumeration order, at most kMaxValues of them.
    void EnumerateValues(RegistryApi::Key root, const QString& path);
    // The port names in the order the registry enumerates them. A key with
    // more than kMaxValues values yields the first kMaxValues.
    QStringList ListSerialPorts();

    // State of the last listing, kept between calls.
    RegistryApi::Key RootKey = 0;
    QString SubKeyPath;
    RegistryApi::Key KeyHandle = 0;
    quint32 ValueCount = 0;
    QByteArray ValueNameBuf;
    QByteArray ValueDataBuf;
    quint32 ValueNameLength = 0;
    quint32 ValueDataLength = 0;
    std::array<RegValue, kMaxValues + 1> RegValues;

private:
    bool openKey(RegistryApi::Key root, const QString& path);
    void clearBuffers();

    RegistryApi& api_;
    Operator& operator_;
};
