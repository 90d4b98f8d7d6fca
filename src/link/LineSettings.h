#pragma once
// The serial line's settings as the code carries them, on every system: each
// serial port maps them to its own driver's terms. Text such as "9600,N,8,1"
// is only where text is kept or shown: the files, the command line, the
// speeds offered, the reports.

#include <QString>
#include <QtGlobal>
#include <optional>

struct LineSettings {
    // The numbers are QSerialPort's, so that its port takes them as they are.
    enum Parity { NoParity = 0, EvenParity = 2, OddParity = 3, SpaceParity = 4, MarkParity = 5 };
    enum StopBits { OneStop = 1, TwoStop = 2, OneAndHalfStop = 3 };
    qint32 baud = 9600;
    Parity parity = NoParity;
    int dataBits = 8;
    StopBits stopBits = OneStop;
    // Bits on the wire per character, start and stop bits included.
    double bitsPerCharacter() const;
    // "9600,N,8,1": speed, parity letter, data bits, stop bits ("1.5" for one
    // and a half).
    QString text() const;
    LineSettings withBaud(qint32 speed) const {
        LineSettings s = *this;
        s.baud = speed;
        return s;
    }
    // A speed of kLineSpeeds and 5 to 8 data bits: what a port accepts. Every
    // value read from a text is valid; a port refuses any other.
    bool valid() const;
    bool operator==(const LineSettings& o) const {
        return baud == o.baud && parity == o.parity && dataBits == o.dataBits &&
               stopBits == o.stopBits;
    }
    bool operator!=(const LineSettings& o) const { return !(*this == o); }
};

// Why a port refuses settings that are not valid().
QString invalidSettingsText(const LineSettings& s);

// Speed, parity (N, E, O, M, S), data bits (5..8), stop bits (1, 1.5, 2);
// blanks around the fields are allowed. Nothing for a malformed string.
std::optional<LineSettings> parseLineSettings(const QString& text);
