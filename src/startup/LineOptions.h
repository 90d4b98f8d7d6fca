#pragma once
// How the tool meets the line it is plugged into: the adapter's echo, who
// switches the RS-485 direction, the pause before each bulk request, the
// retries of a request that got no usable reply, whether a write is read
// back to prove it, and whether a bulk read asks for several messages at once. The windows remember
// these for the run; the command line takes them as options.

#include <QString>
#include <optional>

// An adapter that hears its own transmission sends every request back first.
enum class EchoMode {
    Auto, // drop a leading exact copy of the request when there is one
    On,   // expect one; its absence is "the line did not echo"
    Off,  // the line never echoes
};

// Who turns the 2-wire transceiver around.
enum class Direction {
    Rts,     // the tool raises RTS to send and drops it to listen
    Adapter, // the adapter does it by itself: RTS untouched, no turnaround pause
    Kernel,  // the serial driver's RS-485 mode switches RTS for each transmission
};

// How a bulk read (read all, the first read of compare and restore) asks for
// the unit's messages, which it keeps in consecutive registers.
enum class BlockReads {
    Off,  // one message per request
    Auto, // six per request; a unit that refuses is read one message per request from then on
    On,   // six per request; a unit that refuses fails the operation
};

struct LineOptions {
    static constexpr int kDefaultPauseMs = 300;
    static constexpr int kMaxPauseMs = 1000;
    EchoMode echo = EchoMode::Auto;
    Direction direction = Direction::Rts;
    int pauseMs = kDefaultPauseMs; // before each bulk request, and before a retry
    int retries = 0;               // further tries of a request without a usable reply
    // Read each slot back after writing it, and count a slot that does not
    // hold what was sent as a failure (write all, the editor, the comms test;
    // a restore always does).
    bool verify = false;
    BlockReads blockReads = BlockReads::Off;
};

// "auto", "on", "off"; nothing for another word.
std::optional<EchoMode> echoModeNamed(const QString& name);
QString echoModeName(EchoMode mode);
// "rts", "adapter", "kernel"; nothing for another word.
std::optional<Direction> directionNamed(const QString& name);
QString directionName(Direction direction);
// "off", "auto", "on"; nothing for another word.
std::optional<BlockReads> blockReadsNamed(const QString& name);
QString blockReadsName(BlockReads mode);
