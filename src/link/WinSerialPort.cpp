#include "link/WinSerialPort.h"

#ifdef _WIN32
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWinEventNotifier>

#include <algorithm>
#include <cmath>
#include <windows.h>

struct WinSerialPort::Io {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED read{}; // the read always pending while the port is open
    char readBuffer[4096];
    bool readPending = false;
    OVERLAPPED write{}; // the write under way
    bool writePending = false;

    Io() {
        read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Io() {
        closePort();
        CloseHandle(read.hEvent);
        CloseHandle(write.hEvent);
    }
    bool isOpen() const { return port != INVALID_HANDLE_VALUE; }
    // Cancels what is pending and waits for the cancellations, so that no
    // operation writes into these structures after the handle is gone.
    void closePort() {
        if (!isOpen())
            return;
        CancelIo(port);
        DWORD n = 0;
        if (readPending)
            GetOverlappedResult(port, &read, &n, TRUE);
        if (writePending)
            GetOverlappedResult(port, &write, &n, TRUE);
        readPending = writePending = false;
        CloseHandle(port);
        port = INVALID_HANDLE_VALUE;
        ResetEvent(read.hEvent);
        ResetEvent(write.hEvent);
    }
};

namespace {

QString systemError(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    QString words = text ? QString::fromWCharArray(text).trimmed()
                         : QStringLiteral("system error %1").arg(code);
    LocalFree(text);
    if (words.endsWith(QLatin1Char('.')))
        words.chop(1);
    return words;
}

BYTE parityCode(LineSettings::Parity p) {
    switch (p) {
    case LineSettings::EvenParity:
        return EVENPARITY;
    case LineSettings::OddParity:
        return ODDPARITY;
    case LineSettings::MarkParity:
        return MARKPARITY;
    case LineSettings::SpaceParity:
        return SPACEPARITY;
    case LineSettings::NoParity:
        break;
    }
    return NOPARITY;
}

BYTE stopCode(LineSettings::StopBits s) {
    return s == LineSettings::TwoStop          ? TWOSTOPBITS
           : s == LineSettings::OneAndHalfStop ? ONE5STOPBITS
                                               : ONESTOPBIT;
}

} // namespace

WinSerialPort::WinSerialPort(QObject* parent) : SerialPort(parent), io_(std::make_unique<Io>()) {
    readNotifier_ = new QWinEventNotifier(io_->read.hEvent, this);
    writeNotifier_ = new QWinEventNotifier(io_->write.hEvent, this);
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    connect(readNotifier_, &QWinEventNotifier::activated, this, &WinSerialPort::onReadDone);
    connect(writeNotifier_, &QWinEventNotifier::activated, this, &WinSerialPort::onWriteDone);
}

WinSerialPort::~WinSerialPort() {
    close();
}

bool WinSerialPort::isOpen() const {
    return io_->isOpen();
}

PortStatus WinSerialPort::apply(const LineSettings& s) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(io_->port, &dcb))
        return PortStatus::failure(systemError(GetLastError()));
    dcb.BaudRate = DWORD(s.baud);
    dcb.ByteSize = BYTE(s.dataBits);
    dcb.Parity = parityCode(s.parity);
    dcb.StopBits = stopCode(s.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = s.parity != LineSettings::NoParity;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = dcb.fInX = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE; // the link switches it (setRts)
    if (!SetCommState(io_->port, &dcb))
        return PortStatus::failure(QStringLiteral("the port refused the settings \"%1\": %2")
                                       .arg(s.text(), systemError(GetLastError())));
    return {};
}

PortStatus WinSerialPort::setSettings(const LineSettings& settings) {
    if (!settings.valid()) // never another speed than the tool offers
        return PortStatus::failure(invalidSettingsText(settings));
    line_ = settings;
    return isOpen() ? apply(line_) : PortStatus{};
}

PortStatus WinSerialPort::open() {
    if (isOpen())
        return {};
    const QString path = portDevicePath(name_);
    io_->port =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (!isOpen()) {
        const DWORD e = GetLastError();
        // A COM port is opened exclusively: denied access is another holder.
        if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
            return PortStatus::failure(portInUseText());
        return PortStatus::failure(systemError(e));
    }
    // A read waits for the first byte as long as it takes, then ends when
    // the line pauses for a millisecond (in practice the system's timer tick)
    // or its buffer is full.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 1;
    SetupComm(io_->port, 4096, 4096);
    const PortStatus s = apply(line_);
    if (!s.ok || !SetCommTimeouts(io_->port, &t)) {
        const QString why = s.ok ? systemError(GetLastError()) : s.reason;
        io_->closePort();
        return PortStatus::failure(why);
    }
    PurgeComm(io_->port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    input_.clear();
    taken_ = 0;
    output_.clear();
    writing_.clear();
    rtsRefused_ = paused_ = false;
    readNotifier_->setEnabled(true);
    writeNotifier_->setEnabled(true);
    armRead();
    return isOpen() ? PortStatus{} : PortStatus::failure(QStringLiteral("the port failed at once"));
}

void WinSerialPort::close() {
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    io_->closePort();
    input_.clear();
    taken_ = 0;
    output_.clear();
    writing_.clear();
    rtsRefused_ = paused_ = false;
}

void WinSerialPort::fail(const QString& reason) {
    if (!isOpen())
        return;
    close();
    emit failed(reason);
}

void WinSerialPort::armRead() {
    if (!isOpen() || io_->readPending)
        return;
    ResetEvent(io_->read.hEvent);
    DWORD n = 0;
    if (!ReadFile(io_->port, io_->readBuffer, sizeof io_->readBuffer, &n, &io_->read)) {
        const DWORD e = GetLastError();
        if (e != ERROR_IO_PENDING) {
            fail(systemError(e));
            return;
        }
    }
    io_->readPending = true; // done at once or later, the event is set and the notifier reports it
}

void WinSerialPort::onReadDone() {
    if (!isOpen() || !io_->readPending || paused_)
        return;
    if (!takeIn())
        return;
    armRead();
    signalInput();
}

// The completed read's bytes join input_. A vanished adapter ends the read
// with an error; a read that ends empty is taken again after a moment, unless
// the port no longer answers at all.
bool WinSerialPort::takeIn() {
    DWORD got = 0;
    const BOOL done = GetOverlappedResult(io_->port, &io_->read, &got, FALSE);
    if (!done && GetLastError() == ERROR_IO_INCOMPLETE)
        return false;
    io_->readPending = false;
    ResetEvent(io_->read.hEvent); // the notifier would fire again for a set event
    if (!done) {
        fail(systemError(GetLastError()));
        return false;
    }
    if (got == 0) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(io_->port, &errors, &stat)) {
            fail(systemError(GetLastError()));
            return false;
        }
        QTimer::singleShot(10, this, &WinSerialPort::armRead);
        return false;
    }
    if (taken_ > 0) { // drop what was taken before growing
        input_.remove(0, taken_);
        taken_ = 0;
    }
    input_.append(io_->readBuffer, qsizetype(got));
    return true;
}

void WinSerialPort::signalInput() {
    if (inputCount() == 0 || inReadyRead_)
        return;
    inReadyRead_ = true;
    emit readyRead();
    inReadyRead_ = false;
}

void WinSerialPort::setReadPaused(bool paused) {
    if (!isOpen() || paused == paused_)
        return;
    paused_ = paused;
    readNotifier_->setEnabled(!paused); // no wake-ups while paused
    if (paused || !io_->readPending || WaitForSingleObject(io_->read.hEvent, 0) != WAIT_OBJECT_0)
        return;
    // What came during the pause is taken in now.
    if (!takeIn())
        return;
    armRead();
    signalInput();
}

int WinSerialPort::readByte() {
    if (taken_ >= input_.size())
        return -1;
    return static_cast<unsigned char>(input_.at(taken_++));
}

// Also what the driver holds and what the pending read has taken so far: the
// read is ended and started again.
void WinSerialPort::discardInput() {
    input_.clear();
    taken_ = 0;
    if (!isOpen())
        return;
    if (io_->readPending) {
        CancelIoEx(io_->port, &io_->read);
        DWORD n = 0;
        GetOverlappedResult(io_->port, &io_->read, &n, TRUE);
        io_->readPending = false;
    }
    PurgeComm(io_->port, PURGE_RXCLEAR);
    armRead();
}

bool WinSerialPort::write(const QByteArray& bytes) {
    if (!isOpen())
        return false;
    output_ += bytes;
    if (!io_->writePending)
        startWrite();
    return isOpen();
}

void WinSerialPort::startWrite() {
    if (!isOpen() || io_->writePending || output_.isEmpty())
        return;
    writing_ = output_;
    output_.clear();
    ResetEvent(io_->write.hEvent);
    DWORD n = 0;
    if (!WriteFile(io_->port, writing_.constData(), DWORD(writing_.size()), &n, &io_->write)) {
        const DWORD e = GetLastError();
        if (e != ERROR_IO_PENDING) {
            fail(systemError(e));
            return;
        }
    }
    io_->writePending = true; // finished or not, the notifier reports it
}

void WinSerialPort::onWriteDone() {
    if (!isOpen() || !io_->writePending)
        return;
    DWORD n = 0;
    const BOOL done = GetOverlappedResult(io_->port, &io_->write, &n, FALSE);
    if (!done && GetLastError() == ERROR_IO_INCOMPLETE)
        return;
    io_->writePending = false;
    ResetEvent(io_->write.hEvent);
    if (!done || n != DWORD(writing_.size())) {
        fail(done ? QStringLiteral("the port took %1 of %2 bytes").arg(n).arg(writing_.size())
                  : systemError(GetLastError()));
        return;
    }
    writing_.clear();
    startWrite();
}

bool WinSerialPort::setRts(bool on) {
    if (!isOpen() || rtsRefused_)
        return false;
    if (EscapeCommFunction(io_->port, on ? SETRTS : CLRRTS))
        return true;
    // A port that cannot switch RTS is not asked again before it is reopened;
    // one that no longer answers at all has vanished.
    const DWORD e = GetLastError();
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(io_->port, &errors, &stat))
        fail(systemError(e));
    else
        rtsRefused_ = true;
    return false;
}

bool WinSerialPort::waitOutput(int ms) {
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &SerialPort::failed, &loop, &QEventLoop::quit);
    timer.start(std::max(ms, 1));
    loop.exec();
    return isOpen();
}

// As on Linux: waits, event loop running, for the time the bytes still
// queued (here, in the driver: cbOutQue) need at the line speed, and looks
// again; the last character leaving is FlushFileBuffers', a character time.
bool WinSerialPort::drainOutput() {
    if (!isOpen())
        return false;
    const double msPerByte = line_.bitsPerCharacter() * 1000.0 / line_.baud;
    const qint64 queuedHere = output_.size() + writing_.size();
    const int budgetMs = 250 + static_cast<int>(msPerByte * double(queuedHere + 64));
    const QDeadlineTimer deadline(budgetMs, Qt::PreciseTimer);
    for (;;) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(io_->port, &errors, &stat)) {
            fail(systemError(GetLastError()));
            return false;
        }
        const qint64 pending = output_.size() + writing_.size() + qint64(stat.cbOutQue);
        if (pending == 0 && !io_->writePending)
            break;
        if (deadline.hasExpired()) {
            fail(QStringLiteral("the output did not leave the port within %1 ms").arg(budgetMs));
            return false;
        }
        const auto ms =
            static_cast<qint64>(std::ceil(msPerByte * double(std::max<qint64>(pending, 1))));
        if (!waitOutput(static_cast<int>(std::min(ms, deadline.remainingTime()))))
            return false;
    }
    if (!FlushFileBuffers(io_->port)) {
        fail(systemError(GetLastError()));
        return false;
    }
    return true;
}
#endif
