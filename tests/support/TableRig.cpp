#include "support/TableRig.h"

TextTable numberedTexts(const QString& pattern) {
    TextTable t;
    for (int k = 0; k < kInterlockCount; ++k)
        t[size_t(k)] = pattern.arg(k);
    return t;
}

ScriptedRig::ScriptedRig() {
    unit.fill(QStringLiteral("STORED %1"));
    port.setResponder([this](const QByteArray& request) { return unit.answer(request); });
}

QString ScriptedRig::requests() {
    QStringList out;
    for (const QByteArray& r : port.requests().mid(seen_)) {
        const char kind = r.at(1) == '\x10'                        ? 'W'
                          : quint8(r.at(5)) > kRegistersPerMessage ? 'B'
                                                                   : 'R';
        out << QStringLiteral("%1%2").arg(kind).arg(FakeUnit::slotOf(r));
    }
    seen_ = int(port.requests().size());
    return out.join(' ');
}

QString singleReads(int from, int to) {
    QStringList out;
    for (int k = from; k <= to; ++k)
        out << QStringLiteral("R%1").arg(k);
    return out.join(' ');
}
