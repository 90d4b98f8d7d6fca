#pragma once
// The Modbus PDU: the function code and its data, as every transport carries
// it. Builders of the requests the tool sends, the one verdict on a reply to
// them, and the decoder of a read message. Nothing here knows of unit
// addresses, CRCs, RTS or silence: that is the transport's business.

#include "startup/MessageLayout.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Pdu {

constexpr quint8 kReadHoldingRegisters = 3;
// Read input registers: the tool never asks it of the unit, but a request
// with it is a read all the same (it may be sent again; its reply names
// only its byte count).
constexpr quint8 kReadInputRegisters = 4;
constexpr quint8 kWriteMultipleRegisters = 16;
constexpr quint8 kExceptionFlag = 0x80;

// Function 3: count registers from reg.
QByteArray readHoldingRegisters(int reg, int count);
// Function 16: data (an even number of bytes) from reg on.
QByteArray writeMultipleRegisters(int reg, const QByteArray& data);

// The most registers one read may ask for, and so the most whole messages one
// read may carry: six (120 registers).
constexpr int kMaxReadRegisters = 125;
constexpr int kMessagesPerBlockRead = kMaxReadRegisters / kRegistersPerMessage;

// The unit's message forms. A read asks for one whole slot; a write sends the
// text (already in the code page, 1..40 bytes) and, when it is shorter than
// the slot, a 0 that ends it (its pad byte for an odd length, one more
// register of 0 for an even one); an erase writes one register of 0.
QByteArray readMessage(int reg);
// A block read: count whole slots (1..kMessagesPerBlockRead) from the one at reg.
QByteArray readMessages(int reg, int count);
QByteArray writeMessage(int reg, const QByteArray& text);
QByteArray eraseMessage(int reg);

// The standard Modbus name of an exception code, "unknown" for another code.
QString exceptionName(int code);

// A reply PDU judged against the request PDU it should answer.
struct Verdict {
    enum class Kind {
        Confirmed,  // the answer the request asked for
        Exception,  // the unit refused the request (code)
        Unexpected, // not an answer to this request
        Unusable,   // too short to be any reply (reason)
    };
    Kind kind = Kind::Unusable;
    int code = 0;
    QString reason; // empty when confirmed
    bool confirmed() const { return kind == Kind::Confirmed; }
};
Verdict judge(const QByteArray& request, const QByteArray& reply);

constexpr auto kNoMessageStored = "NO MESSAGE STORED";

// The text of a reply to a read of one message, for every reader: the data
// bytes (after the function and byte count) up to the first 0 or 0xFF, the two
// bytes the unit takes for "no character". The slot is empty when that byte
// is the first data byte. A reply with no data bytes gives no text and is not
// an empty slot. Control characters come through as they are; whoever shows
// the text escapes them.
struct ReadText {
    QString text;
    bool empty = false;
};
ReadText decodeReadReply(const QByteArray& reply);

// A confirmed reply to a block read of count messages, cut into one read reply
// per message, each as the unit would have sent it to a read of that message
// alone (function, byte count, the message's bytes): decodeReadReply() takes
// each. Nothing when the reply does not carry count whole messages.
QVector<QByteArray> splitBlockReply(const QByteArray& reply, int count);

} // namespace Pdu

// " 01 03 01 90": each byte a blank and two upper-case hexadecimal digits,
// for the comms-test labels and the command line's trace.
QString byteDump(const QByteArray& bytes);

// Decimal with a leading blank for a non-negative number: " 45", " 0".
QString withLeadingBlank(int value);
