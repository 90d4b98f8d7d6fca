#include "cli/Terminal.h"

#include "cli/Signals.h"
#include "startup/Interlocks.h"
#include "startup/MessageLayout.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

int outError = 0; // the first failed write to stdout

// False, with errno set, when the stream did not take every byte.
bool print(std::FILE* stream, const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toLocal8Bit();
    errno = 0;
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    return std::fflush(stream) == 0 && written;
}

void noteOutError() {
    if (outError == 0)
        outError = errno != 0 ? errno : EIO;
}

} // namespace

// After the first failure nothing more is tried; a reader that has gone
// (EPIPE) ends the command under way.
void printOut(const QString& line) {
    if (outError != 0 || print(stdout, line))
        return;
    noteOutError();
    if (outError == EPIPE)
        SignalWatch::deliver(kSigPipe);
}
void printErr(const QString& line) {
    print(stderr, line);
}

int stdoutError() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        noteOutError();
    return outError;
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
    if (buttons != MsgButtons::Ok && buttons != MsgButtons::OkReconnect && table_ &&
        table_->currentSlot() >= 0) {
        const int k = table_->currentSlot();
        where = QStringLiteral("slot %1 (%2): ").arg(k).arg(terminalCaption(k));
    }
    printErr(QStringLiteral("qv840ctl: %1%2: %3").arg(where, heading, line));
    return MsgAnswer::Ok;
}
