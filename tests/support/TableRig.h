#pragma once
// The table's operations on a line a test plays: a port (scripted, or a real one on a
// pseudo-terminal), the RTU transport over it, the recording views and operator, and a table on
// its defaults, "DEFAULT k". ScriptedRig adds unit 1 answering on a scripted port.

#include "link/Crc.h"
#include "support/FakeUnit.h"
#include "support/RecordingOperator.h"
#include "support/RecordingViews.h"
#include "support/ScriptedPort.h"
#include "table/MessageTable.h"
#include "transport/RtuTransport.h"

#include <QStringList>

// Each slot k holding pattern, %1 standing for k.
TextTable numberedTexts(const QString& pattern);
// Every slot holding text.
inline TextTable filled(const QString& text) {
    TextTable t;
    t.fill(text);
    return t;
}
// "R3 R4 R5": reads of one message each, of slots from to to, as ScriptedRig::requests writes them.
QString singleReads(int from, int to);

// The waits of the scripted tests, short: 30 ms for a first byte, 5 ms of silence, 1 ms pauses.
inline constexpr LinkTiming kScriptedTiming{30, 5, 30, 1, 0, 0};

template <class Port> struct LineRig {
    explicit LineRig(const LinkTiming& timing = kScriptedTiming) : transport(port, crc, timing) {
        messages.reset(defaults, {});
        view.watch(messages);
    }
    QStringList entries() const { return {messages.texts().begin(), messages.texts().end()}; }

    Port port;
    const CrcTableArray crc = standardCrcTable();
    RtuTransport transport;
    RecordingTableView view;
    RecordingOperator op;
    TextTable defaults = numberedTexts(QStringLiteral("DEFAULT %1"));
    MessageTable messages;
};

// Unit 1 on a scripted port, its slot k holding "STORED k"; each request goes to unit.
struct ScriptedRig : LineRig<ScriptedPort> {
    ScriptedRig();
    // "R0 B6 W3": each request since the last call, R a read of one message, B a read of
    // several, W a write, then its first slot.
    QString requests();

    FakeUnit unit;

private:
    int seen_ = 0;
};
