#include "startup/TextFile.h"

#include "startup/CodePage.h"
#include "startup/ItemReader.h"
#include "startup/PlatformFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int err) {
    return QStringLiteral("cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(err)));
}

// What a directory entry is, when it is not a regular file.
std::optional<FileProblem> notRegular(const struct stat& st) {
    if (S_ISREG(st.st_mode))
        return std::nullopt;
    const char* kind = S_ISDIR(st.st_mode)                          ? "a folder"
                       : S_ISFIFO(st.st_mode)                       ? "a FIFO"
                       : isSocket(st)                               ? "a socket"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                    : "a special file";
    return FileProblem{FileProblem::NotAFile, QStringLiteral("%1, not a file").arg(kind)};
}

FileProblem tooBig(qint64 size, qint64 maxBytes, const char* what) {
    const QString text = size >= 0 ? QStringLiteral("%1 bytes, more than the %2 %3 can hold")
                                         .arg(size)
                                         .arg(maxBytes)
                                         .arg(QLatin1String(what))
                                   : QStringLiteral("more than the %1 bytes %2 can hold")
                                         .arg(maxBytes)
                                         .arg(QLatin1String(what));
    return FileProblem{FileProblem::TooBig, text};
}

// The file a save writes: path itself when it is a regular file or a new
// name, the file a symbolic link leads to when that is a regular file (the
// link stays, the file behind it is replaced whole). Anything else (a folder,
// a FIFO, a device, a link to one of them or to nothing) is left in place and
// gives the reason in why.
QString saveTarget(const QString& path, QString& why) {
    struct stat st {};
    if (statEntry(path, st) != 0)
        return path; // a new name; the folder's own problems come from the write
    QString target = path;
    if (isSymbolicLink(st)) {
        target = QFileInfo(path).canonicalFilePath();
        if (target.isEmpty() || ::stat(QFile::encodeName(target).constData(), &st) != 0) {
            why = QStringLiteral("it is a link to nothing");
            return {};
        }
    }
    if (S_ISDIR(st.st_mode))
        why = QStringLiteral("it is a folder");
    else if (!S_ISREG(st.st_mode))
        why = QStringLiteral("it is not a regular file (a FIFO or a device)");
    return why.isEmpty() ? target : QString();
}

// Reads fd to its end, or to limit bytes, into data.
std::optional<FileProblem> readAtMost(int fd, qint64 limit, QByteArray& data) {
    data.resize(limit);
    qsizetype got = 0;
    std::optional<FileProblem> problem;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            problem = FileProblem{FileProblem::Unreadable, systemError(errno)};
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    data.truncate(got);
    return problem;
}

} // namespace

std::optional<FileProblem> readBoundedFile(const QString& path, qint64 maxBytes, const char* what,
                                           QByteArray& out) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            return FileProblem{FileProblem::Missing, QStringLiteral("not found")};
        return FileProblem{FileProblem::Unreadable, systemError(err)};
    }
    if (auto problem = notRegular(st))
        return problem;
    if (st.st_size > maxBytes)
        return tooBig(st.st_size, maxBytes, what);

    // O_NONBLOCK: should the entry have become a FIFO since, open does not wait.
    const int fd = openToRead(path);
    if (fd < 0)
        return FileProblem{FileProblem::Unreadable, systemError(errno)};
    std::optional<FileProblem> problem;
    QByteArray data;
    if (::fstat(fd, &st) != 0) {
        problem = FileProblem{FileProblem::Unreadable, systemError(errno)};
    } else if ((problem = notRegular(st))) {
    } else {
        // Bounded even after the size check: a file still growing can hold
        // more than its size said.
        problem = readAtMost(fd, maxBytes + 1, data);
        if (!problem && data.size() > maxBytes)
            problem = tooBig(-1, maxBytes, what);
    }
    ::close(fd);
    if (problem)
        return problem;
    out = data;
    return std::nullopt;
}

std::optional<FileProblem> toCodePage(QByteArray& data) {
    const bool marked = data.startsWith("\xEF\xBB\xBF");
    const QByteArray body = marked ? data.mid(3) : data;
    const bool multiByte =
        std::any_of(body.begin(), body.end(), [](char c) { return (c & 0x80) != 0; });
    if (!multiByte) {
        data = body;
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(body);
    if (utf8.hasError()) {
        if (marked)
            return FileProblem{FileProblem::NotText,
                               QStringLiteral("it begins with the UTF-8 mark but is not UTF-8")};
        data = body; // Windows-1252
        return std::nullopt;
    }
    const CodePage::Encoded e = CodePage::encode(text);
    if (!e.ok())
        return FileProblem{FileProblem::NotText,
                           QStringLiteral("line %1 holds %2, which Windows-1252 lacks")
                               .arg(lineAt(text.left(e.badPosition).toUtf8(), body.size()))
                               .arg(CodePage::describe(e.badCharacter))};
    data = e.bytes;
    return std::nullopt;
}

std::optional<FileProblem> toCheckedText(QByteArray& data) {
    QByteArray text = data;
    if (auto problem = toCodePage(text))
        return problem;
    if (const qsizetype at = firstControlByte(text); at >= 0)
        return FileProblem{
            FileProblem::Binary,
            QStringLiteral("line %1 holds the control byte 0x%2")
                .arg(lineAt(text, at))
                .arg(static_cast<unsigned char>(text.at(at)), 2, 16, QLatin1Char('0'))};
    data = text;
    return std::nullopt;
}

std::optional<FileProblem> readTextFile(const QString& path, qint64 maxBytes, const char* what,
                                        QByteArray& out) {
    QByteArray data;
    if (auto problem = readBoundedFile(path, maxBytes, what, data))
        return problem;
    if (auto problem = toCheckedText(data))
        return problem;
    out = data;
    return std::nullopt;
}

bool looksLikeUtf16(const QByteArray& data) {
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return true;
    // Two ASCII characters, each with its 0 byte before (big-endian) or after it.
    if (data.size() < 4)
        return false;
    const auto zeroAt = [&data](int i) { return data.at(i) == '\0'; };
    return (zeroAt(1) && zeroAt(3) && !zeroAt(0) && !zeroAt(2)) ||
           (zeroAt(0) && zeroAt(2) && !zeroAt(1) && !zeroAt(3));
}

std::optional<QString> writeWholeFile(const QString& path, const QByteArray& data) {
    // Checked first: the write would otherwise go as far as the final rename,
    // and that would put a regular file where the node was.
    QString why;
    const QString target = saveTarget(path, why);
    if (target.isEmpty())
        return why;
    // The writes go straight to the file: a buffered write cut short (a full
    // disk, a size limit) can otherwise pass unnoticed and be committed.
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    for (qsizetype done = 0; done < data.size();) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0) {
            why = file.errorString();
            file.cancelWriting();
            return why;
        }
        done += n;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}
