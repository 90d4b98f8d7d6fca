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

namespace {

void printNotice(const QString& where, const QString& text, const QString& title) {
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    const QString heading = title.isEmpty() ? kProgramTitle : title;
    printErr(QStringLiteral("qv840ctl: %1%2: %3").arg(where, heading, line));
}

} // namespace

void TerminalNotices::tell(const QString& text, const QString& title, MsgIcon) {
    printNotice({}, text, title);
}

void TerminalNotices::tellAboutSlot(int slot, const QString& text, const QString& title, MsgIcon) {
    printNotice(QStringLiteral("slot %1 (%2): ").arg(slot).arg(terminalCaption(slot)), text, title);
}
