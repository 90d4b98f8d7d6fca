#pragma once
// How long one request may take, from the moment it is sent to the end of its
// reply. A unit that answers at all answers within the first-byte wait, and
// then sends its reply at the line speed; a reply that keeps trickling in
// under the end-of-reply silence (a byte every 70 ms against 80 ms) would
// otherwise hold the line until 512 bytes have come. Past the deadline what
// came is no answer.

#include <QByteArray>

struct ReplyBudget {
    int replyBytes = 0;   // the whole reply on the serial line: address, PDU, CRC
    int echoBytes = 0;    // an echo of the request that may come before it (0: none)
    double msPerByte = 0; // on the serial line
    int firstByteMs = 0;  // the wait for the first byte (and again after an echo)
    int gapMs = 0;        // the silence that ends a reply cut short
};

// Slack on top of the line's own time: event delivery, a USB adapter's latency timer.
constexpr int kDeadlineMarginMs = 50;

// The first-byte wait (twice when an echo may come first, whose end starts
// that wait again), plus one end-of-reply gap (a unit may pause once inside
// its reply), plus one and a half times the bytes' time on the line, plus
// kDeadlineMarginMs; rounded up to whole milliseconds.
int replyDeadlineMs(const ReplyBudget& budget);

// The length of the RTU frame that answers requestPdu: 5 + 2n for a read of n
// registers, 8 for a write; for a request the tool does not know, the
// longest RTU frame (256). An exception (5 bytes) is never longer.
int expectedReplyBytes(const QByteArray& requestPdu);

// The time of one character at baud with bitsPerCharacter bits (start, data,
// parity and stop).
double msPerByte(int baud, double bitsPerCharacter = 10);

// Behind a gateway the serial line's speed is the gateway's setting, which the
// tool does not know: its deadline counts the bytes at the slowest speed the
// unit runs at.
constexpr int kSlowestLineBaud = 1200;

// The deadline of a reply through a gateway: the reply's bytes at
// kSlowestLineBaud, no echo.
int networkDeadlineMs(const QByteArray& requestPdu, int firstByteMs, int gapMs);
