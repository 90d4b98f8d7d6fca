#pragma once
// What a check of the line found, in words: each finding a word, the unit (or
// the whole line), the evidence in figures, and what to check or do. The
// rules read only the counters, so a window and the command line say the same.

#include "diag/LineCounters.h"
#include "link/LineSettings.h"

#include <QMap>
#include <QString>
#include <QVector>

struct Finding {
    QString word; // silent, echo, wrong-speed, other-unit, duplicate-address, noise,
                  // second-master, slow-unit, intermittent
    int unit = 0; // 0: the whole line
    QString evidence;
    QString advice;
    QString where() const; // "unit 3" or "line"
    QString text() const;  // word, where, evidence and advice, separated by tabs
};

// What a check saw, beside the counters.
struct CheckEvidence {
    QMap<int, UnitCounters> units; // each unit the check asked
    IdleTraffic idle;
    QMap<int, LineSettings> otherSettings; // a unit that answered only at these settings
    QMap<int, int> repliedTwice;           // a second whole reply after a confirmed one
    int firstByteWaitMs = 500;
};

QVector<Finding> findFaults(const CheckEvidence& e);

// Whether a unit gave nothing that explains itself (only silence, or garbled
// bytes that are neither an echo, another unit's reply nor two units at
// once): it may run at other settings.
bool mayRunElsewhere(const UnitCounters& c);

// The share of a reply's wait after which it is slow.
constexpr double kSlowShare = 2.0 / 3.0;
