#pragma once
// The faults a simulated line makes on request, each off unless asked for,
// and the count of each one it made, so that what the tool counts can be held
// against it:
//  - CRC errors: that share of replies with one bit flipped somewhere;
//  - replies from another address: every reply carries that address (and its CRC);
//  - a twin: a second unit at the same address answers every read at the same
//    moment with other data; the line carries the two at once (each bit low
//    when either drives it low), so the reply arrives whole in length with a
//    wrong CRC, the same way each time;
//  - noise: that many random bytes on the idle line 150 ms after each reply;
//  - a second master: its read request to address 247 on the idle line 150 ms
//    after each reply;
//  - dropped replies: that share of requests goes unanswered.
// Another speed than the tool's is SimConfig::baud (a reply then arrives as
// garbled bytes). Another parity cannot be told on a pseudo-terminal: the
// kernel drops the parity flag the tool sets.

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

struct SimFaultConfig {
    int crcErrorPercent = 0;
    int replyAs = 0; // 1..247: the address every reply carries; 0: the unit's own
    bool twin = false;
    int noiseBytes = 0;
    bool secondMaster = false;
    int dropPercent = 0;
    quint32 seed = 0; // 0: a random seed
    bool any() const {
        return crcErrorPercent > 0 || replyAs > 0 || twin || noiseBytes > 0 || secondMaster ||
               dropPercent > 0;
    }
};

struct SimFaultCounts {
    int crcErrors = 0;
    int otherAddress = 0;
    int collisions = 0;
    int noiseBytes = 0;
    int foreignRequests = 0;
    int dropped = 0;
    int late = 0; // replies held back by the late-ms wait
    // "crc-errors 3, other-address 0, ...": every count, for the log and tests.
    QString text() const;
};

class SimFaults {
public:
    void configure(const SimFaultConfig& config);
    const SimFaultConfig& config() const { return config_; }
    const SimFaultCounts& counts() const { return counts_; }
    void countLate() { ++counts_.late; }

    // The reply as the faulty line delivers it to the tool; empty when the
    // reply is dropped.
    QByteArray shape(QByteArray reply);
    // What goes on the idle line after a reply: noise, then a second master's
    // request; empty when neither is asked for.
    QByteArray idleBytes();
    static constexpr int kIdleDelayMs = 150;
    static constexpr int kSecondMasterTarget = 247;

private:
    bool chance(int percent) { return percent > 0 && int(random_.bounded(100)) < percent; }
    SimFaultConfig config_;
    SimFaultCounts counts_;
    QRandomGenerator random_;
};
