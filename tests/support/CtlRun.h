#pragma once
// qv840ctl as the tests run it: the built program run to its end, or started and its first
// line awaited (the device path or address that `qv840ctl simulate` prints).

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

inline QString ctlProgram() {
    return QDir(qEnvironmentVariable("QV_APP_DIR")).filePath(QStringLiteral("qv840ctl"));
}

struct CtlRun {
    int status = -1; // -1: it did not end by itself in time
    QString out, err;
};

// Runs qv840ctl args to its end; env holds NAME=value pairs added to the environment.
inline CtlRun runCtl(const QStringList& args, const QStringList& env = {}, int timeoutMs = 60000) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : env)
        e.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(e);
    p.start(ctlProgram(), args);
    CtlRun r;
    if (p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Starts qv840ctl args in p; its first line, trimmed, or nothing when none came within 5 s.
inline QString startCtl(QProcess& p, const QStringList& args) {
    p.start(ctlProgram(), args);
    return p.waitForReadyRead(5000) ? QString::fromUtf8(p.readLine()).trimmed() : QString();
}
