#pragma once
// A check's counters and findings as files: a CSV table (one row per unit, one
// for the idle line, one per finding), JSON, and the support report, which
// holds the findings, the counters, the line settings, the program's version
// and platform and the last traffic, and nothing else from the machine.

#include "diag/LineCheck.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the report says of the line and the program.
struct ReportContext {
    QString port;
    QString portSettings; // "9600,N,8,1"; empty through a gateway
    QString lineOptions;  // "echo auto, direction rts, pause 300 ms, retries 0"
    QString version;
    QStringList traffic; // the last frames, one line each (diag/TrafficLog.h)
};

// The printed lines: counters per unit, the idle line, the findings (or "no finding").
QStringList checkLines(const CheckResult& r);
QByteArray checkCsv(const CheckResult& r);
QByteArray checkJson(const CheckResult& r);
QByteArray checkReport(const CheckResult& r, const ReportContext& context);
// The counters as a table for a window: the column names, then one row per
// unit (the unit first), in the order of counterHeader().
QStringList counterHeader();
QVector<QStringList> counterRows(const LineCounters& counters);
// What the counters say on their own, without a check: the evidence and the
// findings drawn from it (no scan of other settings).
CheckResult liveResult(const LineCounters& counters, int firstByteWaitMs);

// The line options in words, for the report.
QString lineOptionsText(const LineOptions& line);
