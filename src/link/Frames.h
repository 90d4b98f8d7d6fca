#pragma once
// The Modbus RTU requests the tool sends and the decoders of the replies it
// reads. Every request ends with the CRC-16, the low-order byte first.

#include "startup/SharedState.h"

#include <QByteArray>
#include <QString>

constexpr quint8 kReadHoldingRegisters = 3;
constexpr quint8 kWriteMultipleRegisters = 16;

// Read 20 registers (one 40-character message) from register reg: 8 bytes.
QByteArray buildReadRequest(const CrcTableArray& table, int unit, int reg);

// Write text (already in the code page) at register reg: N = B + 9 bytes where
// B is the text length rounded up to even, a 0 pad byte only for odd lengths.
// The caller keeps the text within 1..40 bytes.
QByteArray buildWriteRequest(const CrcTableArray& table, int unit, int reg, const QByteArray& text);

// Erase: one register of value 0 at reg, 11 bytes.
QByteArray buildEraseRequest(const CrcTableArray& table, int unit, int reg);

// " 01 03 01 90": each byte a blank and two upper-case hexadecimal digits.
QString byteDump(const QByteArray& bytes);

// Decimal with a leading blank for a non-negative number: " 45", " 0".
QString withLeadingBlank(int value);

constexpr auto kNoMessageStored = "NO MESSAGE STORED";

// The text of a reply to a read of one message, for every reader: the data
// bytes (after address, function and byte count, before the CRC) up to the
// first 0 or 0xFF, the two bytes the unit takes for "no character". The slot
// is empty when that byte is the first data byte. A reply with no data bytes
// (under 6 bytes) gives no text and is not an empty slot. Control characters
// come through as they are; whoever shows the text escapes them.
struct ReadText {
    QString text;
    bool empty = false;
};
ReadText decodeReadReply(const QByteArray& reply);

// A reply to one of the tool's own requests, judged as a Modbus RTU master
// judges it. Only a whole reply from the addressed unit confirms anything: a
// garbled reply, one from another unit, or an exception must never reach the
// message table or be told to the operator as a success.
struct ReplyCheck {
    enum class Verdict {
        Confirmed,  // the answer the request asked for
        Silent,     // nothing came
        Garbled,    // too short, or its CRC is wrong
        OtherUnit,  // a whole reply, but from another unit address (detail)
        Exception,  // the unit refused the request (detail: exception code)
        Unexpected, // whole, but not an answer to this request
    };
    Verdict verdict = Verdict::Silent;
    int detail = 0;
    int length = 0;
    bool confirmed() const { return verdict == Verdict::Confirmed; }
    // For the operator: "the reply's CRC is wrong (a garbled reply of 45 bytes)".
    QString reason() const;
};
ReplyCheck checkReply(const CrcTableArray& table, const QByteArray& request,
                      const QByteArray& reply);
