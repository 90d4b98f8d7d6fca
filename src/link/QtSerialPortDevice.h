#pragma once
// The product's serial port on Linux: SerialPort on QSerialPort. Ports are named by a
// system name ("ttyUSB0") or a device path ("/dev/pts/4"), and locked by the
// device itself, so two names for one device are one port.

#include "link/LineSettings.h"
#include "link/PortNames.h"
#include "link/Rs485.h"
#include "link/SerialPort.h"

#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <optional>

class QtSerialPortDevice : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPortDevice(QObject* parent = nullptr);
    ~QtSerialPortDevice() override;

    QString portName() const override { return name_; }
    void setPortName(const QString& name) override { name_ = name; }
    PortStatus open() override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    PortStatus setSettings(const LineSettings& settings) override;
    LineSettings settings() const override { return line_; }
    bool setRts(bool on) override;
    bool drainOutput() override;
    qint64 inputCount() const override;
    void discardInput() override;
    int readByte() override;
    bool write(const QByteArray& bytes) override;
    PortStatus setKernelDirection() override;
    void setReadPaused(bool paused) override;

    // The driver requests (RS-485 mode, low latency, output queue) go
    // through io from now on (tests pass a fake).
    void setPortIoctl(PortIoctl& io) { io_ = &io; }

private:
    void restoreRs485();
    void restoreLatency();
    // A local event loop for ms, ended early when the port fails; false then.
    bool waitOutput(int ms);
    void onError(QSerialPort::SerialPortError error);
    void fail(const QString& reason);
    PortStatus apply(const LineSettings& s);
    QString location() const;
    QSerialPort port_;
    QString name_;
    LineSettings line_;
    bool quiet_ = false; // errors of an optional request (RTS) are not failures
    PortIoctl* io_ = &systemPortIoctl();
    std::optional<serial_rs485> rs485Before_; // the mode to restore on close
    bool lowLatencySet_ = false;              // turned on at open, off at close
    bool rtsRefused_ = false;                 // RTS cannot be switched on this opening
    QPointer<QSocketNotifier> pausedReader_;  // QSerialPort's, disabled by a pause
};
