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

#include "transport/ReplyOrder.h"
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
//
// With an order (transport/ReplyOrder.h), on a line whose replies do not name
// their request, every try waits until the line owes that unit no reply,
// listening meanwhile (what comes is dropped and told on traceNote), and a
// reply that may be the late answer to an earlier request is not taken: its
// framing is Untimely.
Transaction transactRetrying(Transport& line, int unit, const QByteArray& requestPdu, ReplyEnd end,
                             int retries, ReplyOrder* order = nullptr,
                             TransactionObserver* observer = nullptr);

// Milliseconds on the clock the order keeps (the wall clock, which another
// run of the tool shares).
qint64 replyOrderClock();
