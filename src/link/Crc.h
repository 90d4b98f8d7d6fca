#pragma once
// The Modbus CRC-16: the table read from CRC-16.table, the one-byte step, and
// the CRC of a request frame.

#include "startup/ConfigFiles.h"

#include <QByteArray>
#include <optional>
#include <utility>

// The table the reflected polynomial 0xA001 gives, laid out as CrcTable.
CrcTableArray standardCrcTable();

// Parses the text of CRC-16.table into table; its lines may end in CR LF, LF or
// CR. Gives an error when the text ends
// before the 512th field, or when its values are not the Modbus table: a wrong
// table would make every request fail without a word.
std::optional<ConfigError> parseCrcTable(const QByteArray& text, CrcTableArray& table);

// Fills table from CRC-16.table in folder.
std::optional<ConfigError> readCrcTableFile(const QString& folder, CrcTableArray& table);

// The value of a field by the numeric-prefix rule: blanks, tabs and line feeds
// skipped, &H hexadecimal, &O octal, or a signed decimal with an optional
// fraction and exponent; no number gives 0.
double numericPrefix(const QByteArray& field);

// One update step: d = lo ^ table(char + 1) ^ table(hi + 1); lo = d / 256; hi = d & 255.
void crcStep(const CrcTableArray& table, int ch, std::int32_t& hi, std::int32_t& lo);

// The two CRC bytes of a frame, in the order they are sent.
std::pair<quint8, quint8> frameCrc(const CrcTableArray& table, const QByteArray& frame);

// The CRC-16.table text an installation ships: an empty first line, then 512
// lines "&HXX", each ended by CR LF.
QByteArray formatCrcTable(const CrcTableArray& table);
