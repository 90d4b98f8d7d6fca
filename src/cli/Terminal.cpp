#include "cli/Terminal.h"

#include "startup/SharedState.h"
#include "table/Interlocks.h"

#include <cstdio>

namespace {

void print(std::FILE* stream, const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void printOut(const QString& line) {
    print(stdout, line);
}
void printErr(const QString& line) {
    print(stderr, line);
}

void TerminalTable::setProgress(int slot, int) {
    slot_ = slot;
}

MsgAnswer TerminalOperator::message(const QString& text, const QString& title, MsgIcon,
                                    MsgButtons buttons) {
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    const QString heading = title.isEmpty() ? kProgramTitle : title;
    QString where;
    if (buttons == MsgButtons::OkCancel && table_ && table_->currentSlot() >= 0) {
        const int k = table_->currentSlot();
        where = QStringLiteral("slot %1 (%2): ").arg(k).arg(terminalCaption(k));
    }
    printErr(QStringLiteral("qv840ctl: %1%2: %3").arg(where, heading, line));
    return MsgAnswer::Ok;
}
