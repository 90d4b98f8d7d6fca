#include "support/ScriptedPort.h"

#include <QTimer>

void ScriptedPort::answerEveryRequest(const QByteArray& reply, int delayMs) {
    responder_ = [reply, delayMs](const QByteArray&) { return QVector<Chunk>{{delayMs, reply}}; };
}

void ScriptedPort::injectInput(const QByteArray& bytes) {
    if (!open_ || bytes.isEmpty())
        return;
    input_.append(bytes);
    log_.append(QStringLiteral("input %1").arg(bytes.size()));
    emit readyRead();
}

void ScriptedPort::failNow(const QString& reason) {
    if (!open_)
        return;
    close();
    log_.append(QStringLiteral("failed"));
    emit failed(reason);
}

PortStatus ScriptedPort::open() {
    open_ = open_ || openResult_.ok;
    return openResult_;
}

void ScriptedPort::close() {
    open_ = false;
    ++generation_;
    pending_.clear();
    input_.clear();
}

PortStatus ScriptedPort::setSettings(const LineSettings& s) {
    settings_ = s;
    return {};
}

bool ScriptedPort::setRts(bool on) {
    log_.append(on ? QStringLiteral("rts on") : QStringLiteral("rts off"));
    return true;
}

bool ScriptedPort::drainOutput() {
    if (!open_ || drainFails_)
        return false;
    log_.append(QStringLiteral("drain"));
    if (pending_.isEmpty())
        return true;
    requests_.append(pending_);
    int at = 0;
    const quint64 generation = generation_;
    for (const Chunk& c : responder_ ? responder_(pending_) : QVector<Chunk>{}) {
        at += c.delayMs;
        QTimer::singleShot(at, Qt::PreciseTimer, this, [this, generation, bytes = c.bytes] {
            if (generation == generation_)
                injectInput(bytes);
        });
    }
    pending_.clear();
    return true;
}

void ScriptedPort::discardInput() {
    input_.clear();
    log_.append(QStringLiteral("discard"));
}

int ScriptedPort::readByte() {
    if (input_.isEmpty())
        return -1;
    const auto b = static_cast<unsigned char>(input_.at(0));
    input_.remove(0, 1);
    return b;
}

bool ScriptedPort::write(const QByteArray& bytes) {
    if (!open_)
        return false;
    pending_.append(bytes);
    log_.append(QStringLiteral("write %1").arg(bytes.size()));
    return true;
}
