#include "diag/CheckExport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>

namespace {

QString idleLine(const IdleTraffic& idle) {
    if (idle.listenedMs == 0)
        return QStringLiteral("line: the idle line was not heard (a gateway passes on only the "
                              "replies)");
    return QStringLiteral("line: %1 bytes heard while idle in %2 ms: %3 in no frame, %4 requests "
                          "this tool did not send, %5 late or repeated replies")
        .arg(idle.bytes)
        .arg(idle.listenedMs)
        .arg(idle.noiseBytes)
        .arg(idle.foreignRequests)
        .arg(idle.strayReplies);
}

QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString exceptionsText(const UnitCounters& c) {
    QStringList parts;
    for (auto i = c.exceptions.begin(); i != c.exceptions.end(); ++i)
        parts << QStringLiteral("%1x%2").arg(i.value()).arg(i.key());
    return parts.join(QLatin1Char(' '));
}

QStringList counterFields(const UnitCounters& c) {
    const TimeSpread first = TimeSpread::of(c.firstByteMs);
    const TimeSpread last = TimeSpread::of(c.lastByteMs);
    QStringList f;
    for (int n : {c.requests, c.answered, c.silent, c.crcWrong, c.tooShort, c.tooLong, c.otherUnit,
                  c.echoed, c.retries, c.savedByRetry})
        f << QString::number(n);
    f << exceptionsText(c);
    for (const TimeSpread& s : {first, last})
        for (int n : {s.min, s.median, s.p95, s.max})
            f << (s.count > 0 ? QString::number(n) : QString());
    return f;
}

QJsonObject spreadJson(const QVector<int>& samples) {
    const TimeSpread s = TimeSpread::of(samples);
    if (s.count == 0)
        return {};
    return {{QStringLiteral("min"), s.min},
            {QStringLiteral("median"), s.median},
            {QStringLiteral("p95"), s.p95},
            {QStringLiteral("max"), s.max}};
}

QJsonObject unitJson(int unit, const UnitCounters& c) {
    QJsonObject exceptions;
    for (auto i = c.exceptions.begin(); i != c.exceptions.end(); ++i)
        exceptions.insert(QString::number(i.key()), i.value());
    return {{QStringLiteral("unit"), unit},
            {QStringLiteral("requests"), c.requests},
            {QStringLiteral("answered"), c.answered},
            {QStringLiteral("silent"), c.silent},
            {QStringLiteral("crcWrong"), c.crcWrong},
            {QStringLiteral("tooShort"), c.tooShort},
            {QStringLiteral("tooLong"), c.tooLong},
            {QStringLiteral("otherUnit"), c.otherUnit},
            {QStringLiteral("echoed"), c.echoed},
            {QStringLiteral("retries"), c.retries},
            {QStringLiteral("savedByRetry"), c.savedByRetry},
            {QStringLiteral("exceptions"), exceptions},
            {QStringLiteral("firstByteMs"), spreadJson(c.firstByteMs)},
            {QStringLiteral("lastByteMs"), spreadJson(c.lastByteMs)}};
}

} // namespace

QStringList checkLines(const CheckResult& r) {
    QStringList lines;
    for (auto i = r.evidence.units.begin(); i != r.evidence.units.end(); ++i)
        lines << countersLine(QStringLiteral("unit %1").arg(i.key()), i.value());
    lines << idleLine(r.evidence.idle);
    for (const Finding& f : r.findings)
        lines << f.text();
    if (r.findings.isEmpty())
        lines << QStringLiteral("no finding");
    return lines;
}

QByteArray checkCsv(const CheckResult& r) {
    QStringList rows;
    rows << QStringLiteral("row,who,requests,answered,silent,crc_wrong,too_short,too_long,"
                           "other_unit,echoed,retries,saved_by_retry,exceptions,first_byte_min_ms,"
                           "first_byte_median_ms,first_byte_p95_ms,first_byte_max_ms,"
                           "last_byte_min_ms,last_byte_median_ms,last_byte_p95_ms,"
                           "last_byte_max_ms,evidence,advice");
    const QString blanks(19, QLatin1Char(','));
    for (auto i = r.evidence.units.begin(); i != r.evidence.units.end(); ++i)
        rows << QStringLiteral("counters,unit %1,").arg(i.key()) +
                    counterFields(i.value()).join(QLatin1Char(',')) + QStringLiteral(",,");
    rows << QStringLiteral("idle,line") + blanks + QStringLiteral(",") +
                csvField(idleLine(r.evidence.idle)) + QStringLiteral(",");
    for (const Finding& f : r.findings)
        rows << csvField(f.word) + QLatin1Char(',') + f.where() + blanks + QLatin1Char(',') +
                    csvField(f.evidence) + QLatin1Char(',') + csvField(f.advice);
    return (rows.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

QByteArray checkJson(const CheckResult& r) {
    QJsonArray units;
    for (auto i = r.evidence.units.begin(); i != r.evidence.units.end(); ++i)
        units << unitJson(i.key(), i.value());
    const IdleTraffic& idle = r.evidence.idle;
    const QJsonObject idleJson{{QStringLiteral("bytes"), idle.bytes},
                               {QStringLiteral("noiseBytes"), idle.noiseBytes},
                               {QStringLiteral("foreignRequests"), idle.foreignRequests},
                               {QStringLiteral("strayReplies"), idle.strayReplies},
                               {QStringLiteral("listenedMs"), qint64(idle.listenedMs)}};
    QJsonArray findings;
    for (const Finding& f : r.findings)
        findings << QJsonObject{{QStringLiteral("finding"), f.word},
                                {QStringLiteral("unit"), f.unit},
                                {QStringLiteral("evidence"), f.evidence},
                                {QStringLiteral("advice"), f.advice}};
    const QJsonObject all{{QStringLiteral("units"), units},
                          {QStringLiteral("idle"), idleJson},
                          {QStringLiteral("findings"), findings},
                          {QStringLiteral("elapsedMs"), qint64(r.elapsedMs)}};
    return QJsonDocument(all).toJson(QJsonDocument::Indented);
}

QString lineOptionsText(const LineOptions& line) {
    return QStringLiteral("echo %1, direction %2, pause %3 ms, retries %4, block reads %5")
        .arg(echoModeName(line.echo), directionName(line.direction))
        .arg(line.pauseMs)
        .arg(line.retries)
        .arg(blockReadsName(line.blockReads));
}

QByteArray checkReport(const CheckResult& r, const ReportContext& c) {
    QStringList lines;
    lines << QStringLiteral("QV840N line check report");
    lines
        << QStringLiteral("written: %1").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    lines << QStringLiteral("program: qv840n %1 on %2 (%3)")
                 .arg(c.version, QSysInfo::prettyProductName(), QSysInfo::currentCpuArchitecture());
    lines << QStringLiteral("port: %1 %2").arg(c.port, c.portSettings);
    lines << QStringLiteral("line options: %1").arg(c.lineOptions);
    lines << QStringLiteral("check took: %1 ms").arg(r.elapsedMs) << QString();
    lines << QStringLiteral("== findings");
    for (const Finding& f : r.findings)
        lines << f.text();
    if (r.findings.isEmpty())
        lines << QStringLiteral("no finding");
    lines << QString() << QStringLiteral("== counters");
    lines << checkLines(r).mid(0, r.evidence.units.size() + 1);
    lines << QString() << QStringLiteral("== last traffic");
    lines << c.traffic;
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

QStringList counterHeader() {
    return {QStringLiteral("Unit"),        QStringLiteral("Requests"),
            QStringLiteral("Answered"),    QStringLiteral("Silent"),
            QStringLiteral("CRC wrong"),   QStringLiteral("Too short"),
            QStringLiteral("Too long"),    QStringLiteral("Other unit"),
            QStringLiteral("Echoed"),      QStringLiteral("Exceptions"),
            QStringLiteral("Retries"),     QStringLiteral("First byte ms"),
            QStringLiteral("Last byte ms")};
}

QVector<QStringList> counterRows(const LineCounters& counters) {
    QVector<QStringList> rows;
    for (int unit : counters.units()) {
        const UnitCounters c = counters.unit(unit);
        QStringList row{QString::number(unit)};
        for (int n : {c.requests, c.answered, c.silent, c.crcWrong, c.tooShort, c.tooLong,
                      c.otherUnit, c.echoed})
            row << QString::number(n);
        row << exceptionsText(c) << QString::number(c.retries)
            << TimeSpread::of(c.firstByteMs).text() << TimeSpread::of(c.lastByteMs).text();
        rows << row;
    }
    return rows;
}

CheckResult liveResult(const LineCounters& counters, int firstByteWaitMs) {
    CheckResult r;
    for (int unit : counters.units())
        r.evidence.units[unit] = counters.unit(unit);
    r.evidence.idle = counters.idle();
    r.evidence.firstByteWaitMs = firstByteWaitMs;
    r.findings = findFaults(r.evidence);
    return r;
}
