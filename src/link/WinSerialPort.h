#pragma once
// The product's serial port on Windows: SerialPort on the Win32 comm API,
// event-driven. A COM port is opened as \\.\COMn, exclusively (a port another
// program holds is "in use"), with overlapped I/O: one read is always
// pending (it completes once bytes came and the line paused for a moment) and
// its completion, like each write's, wakes the event loop through
// QWinEventNotifier; nothing polls. RTS is switched by EscapeCommFunction; the
// RS-485 mode of a Linux driver has no counterpart here (an adapter that
// switches the direction by itself needs nothing).

#include "link/LineSettings.h"
#include "link/PortNames.h"
#include "link/SerialPort.h"

#ifdef _WIN32
#include <QByteArray>
#include <memory>

class QWinEventNotifier;

class WinSerialPort : public SerialPort {
    Q_OBJECT
public:
    explicit WinSerialPort(QObject* parent = nullptr);
    ~WinSerialPort() override;

    QString portName() const override { return name_; }
    void setPortName(const QString& name) override { name_ = name; }
    PortStatus open() override;
    void close() override;
    bool isOpen() const override;
    PortStatus setSettings(const LineSettings& settings) override;
    LineSettings settings() const override { return line_; }
    bool setRts(bool on) override;
    bool drainOutput() override;
    qint64 inputCount() const override { return input_.size() - taken_; }
    void discardInput() override;
    int readByte() override;
    bool write(const QByteArray& bytes) override;
    void setReadPaused(bool paused) override;

    struct Io; // the handle and the two overlapped operations

private:
    PortStatus apply(const LineSettings& s);
    void armRead();
    void onReadDone();
    bool takeIn(); // the completed read into input_; false when the port failed
    void startWrite();
    void onWriteDone();
    bool waitOutput(int ms);
    void fail(const QString& reason);
    void signalInput();

    QString name_;
    LineSettings line_;
    std::unique_ptr<Io> io_;
    QWinEventNotifier* readNotifier_ = nullptr;
    QWinEventNotifier* writeNotifier_ = nullptr;
    QByteArray input_; // received, not yet taken
    qsizetype taken_ = 0;
    QByteArray output_;  // waiting for the write under way to finish
    QByteArray writing_; // handed to the write under way
    bool paused_ = false;
    bool inReadyRead_ = false;
    bool rtsRefused_ = false;
};
#endif
