#pragma once
// The protocol's waits, in one place. Tests that are not about timing pass
// shorter values; the product and the timing tests use these.

struct LinkTiming {
    int firstByteMs = 500;   // the unit must start answering within this
    int replyGapMs = 80;     // silence that ends a reply
    int commsTestGapMs = 30; // silence that ends a comms-test write or erase reply
    int bulkPauseMs = 300;   // idle before each bulk request
    int turnaroundMs = 1;    // after RTS rises, before the first byte
    int sendAllSettleMs = 5; // after SendAll's last byte, before RTS drops
};
