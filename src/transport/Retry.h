#pragma once
// The retries, one rule for every line (RTU on a serial port, Modbus TCP, RTU
// over TCP), above the transports: a transport sends a request once, and
// transactRetrying() decides whether it goes again.
//
//  - A read may go again after silence, a garbled reply, another unit's reply
//    or one that does not answer it.
//  - A write (and the unit's erase, which is a write) may have been stored by
//    the unit whatever came back, so it goes again only when no reply came at
//    all. A confirmed write is never repeated.
//  - A reply that confirms or refuses (a Modbus exception) ends it. A
//    gateway's "path unavailable" (10) and "target device failed to respond"
//    (11) are the gateway saying that no answer came: silence.
//  - A line that failed, is busy or was stopped ends it: a connection that
//    closed after the request went is never sent the request again here.

#include "transport/Transport.h"

// Writes are everything but the reads (functions 3 and 4); a request the
// tool cannot class counts as a write and is never repeated on a reply.
bool isReadRequest(const QByteArray& requestPdu);

// Whether requestPdu may go again after a try that brought t.
bool mayResend(const QByteArray& requestPdu, const Transaction& t);

// requestPdu to unit through line, and again up to retries more times while
// mayResend allows, each time after the line's pause (bulkPause()). The comms
// test's requests (ReplyEnd::Quick) go once: it shows what one request
// brought. Each further try is told on traceNote; each try that went out, to
// observer when there is one.
Transaction transactRetrying(Transport& line, int unit, const QByteArray& requestPdu, ReplyEnd end,
                             int retries, TransactionObserver* observer = nullptr);
