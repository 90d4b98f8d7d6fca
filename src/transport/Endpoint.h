#pragma once
// Where the unit is reached, from the one text the operator gives for it
// (qv840ctl -p, the connection dialog's "Other device" line, the remembered
// port name):
//   tcp://HOST[:PORT]     Modbus TCP through a gateway (port 502 by default)
//   rtu+tcp://HOST:PORT   RTU frames carried byte for byte over TCP
//   anything else         a serial port: a system name or a device path
// HOST is a name, an IPv4 address or a bracketed IPv6 address ([::1]).

#include <QString>
#include <optional>

struct Endpoint {
    enum class Kind { Serial, ModbusTcp, RtuOverTcp };
    Kind kind = Kind::Serial;
    QString host; // without brackets
    int port = 0;
    bool network() const { return kind != Kind::Serial; }
    // "host:port", an IPv6 host in brackets: for the operator's messages.
    QString hostPort() const;
};

constexpr int kModbusTcpPort = 502;

// The endpoint the text names; nothing, with the reason in error, for a
// network address that cannot be used. A text without a network scheme is a
// serial port and is never refused here.
std::optional<Endpoint> parseEndpoint(const QString& text, QString* error = nullptr);

// True when the text starts with a network scheme, whether or not the rest is valid.
bool isNetworkAddress(const QString& text);

// The address text for an endpoint, as parseEndpoint reads it back.
QString endpointText(const Endpoint& e);
