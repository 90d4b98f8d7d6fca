#pragma once
// The serial port as the link uses it: nine operations and two signals. The
// product runs on QtSerialPortDevice; fast tests run on a scripted port.

#include "link/LineSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

struct PortStatus {
    bool ok = true;
    bool permissionDenied = false; // tell the user which group may open the device
    QString reason;                // the system's words, when !ok
    static PortStatus failure(QString why, bool permission = false) {
        return {false, permission, std::move(why)};
    }
};

class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    // 1. The port's name: a system name ("ttyUSB0", "COM3") or a device path.
    virtual QString portName() const = 0;
    virtual void setPortName(const QString& name) = 0;

    // 2. Open and close. open() applies the current settings.
    virtual PortStatus open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // 3. Speed, parity, data bits, stop bits; 9600,N,8,1 until set. Applied at
    //    once when the port is open.
    virtual PortStatus setSettings(const LineSettings& settings) = 0;
    virtual LineSettings settings() const = 0;

    // 4. RTS, which drives the RS-485 direction. False when the device cannot
    //    switch it (pseudo-terminals, adapters that switch by themselves); that
    //    is not an error.
    virtual bool setRts(bool on) = 0;

    // 5. Output: returns once every byte handed to write() is on the wire (the
    //    output count has reached 0). False when the port failed.
    virtual bool drainOutput() = 0;

    // 6. Input count, and discarding the input not yet taken.
    virtual qint64 inputCount() const = 0;
    virtual void discardInput() = 0;

    // 7. The next received byte, 0..255, or -1 when none is waiting.
    virtual int readByte() = 0;

    // 8. Queue bytes for sending. False when the port failed or is closed.
    virtual bool write(const QByteArray& bytes) = 0;

    // 9. The driver's RS-485 mode, in which it raises RTS for each
    //    transmission itself; the previous mode comes back on close. The
    //    reason, when the device has no such mode.
    virtual PortStatus setKernelDirection() {
        return PortStatus::failure(QStringLiteral("%1 has no RS-485 mode").arg(portName()));
    }

    // 10. Fewer wake-ups while a reply comes: while paused, bytes that come
    //     wait in the port and readyRead is not emitted for them. Resuming
    //     first takes in what is waiting, so inputCount() counts it; readyRead
    //     may come from within the call, but not when it is made from a
    //     readyRead handler. A port that cannot pause ignores this and signals
    //     every byte.
    virtual void setReadPaused(bool paused) { Q_UNUSED(paused) }

signals:
    void readyRead();
    // The device failed or vanished (a USB adapter pulled). The port has been
    // closed by the time this is emitted.
    void failed(const QString& reason);
};
