#include "table/HistoryFile.h"

#include "startup/DataFolder.h"
#include "startup/MessageText.h"
#include "startup/PlatformFile.h"
#include "table/CsvRecords.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kHeader = "time,port,speed,unit,slot,terminal,before,written,result,check\n";
constexpr int kFields = 9; // before the checksum

QByteArray checksumOf(const QByteArray& bytes) {
    return QByteArray::number(qChecksum(bytes), 16).rightJustified(4, '0').toUpper();
}

// A field of our own (a port name, a reason) never breaks the row.
QString plain(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return text;
}

QString isoTime(const QDateTime& time) {
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
}

std::optional<int> number(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

// The file's descriptor for appending, or -1 with why: a FIFO, a folder or
// a device is no history file.
int openForAppend(const QString& path, QString& why) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = openToAppend(path);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = QStringLiteral("not a regular file");
        return -1;
    }
    return fd;
}

// What goes ahead of a row: the header in an empty file, a line end after a
// row cut short, so that the two never run together.
QByteArray lead(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size == 0)
        return kHeader;
    char last = '\n';
    if (readByteAt(fd, st.st_size - 1, last) && last != '\n')
        return "\n";
    return {};
}

} // namespace

HistoryFile::HistoryFile(QString path, Notices* notices)
    : path_(std::move(path)), notices_(notices) {}

QString HistoryFile::defaultPath() {
    return userDataFile(QStringLiteral("history.csv"));
}

void HistoryFile::record(const SlotChange& change) {
    QString why;
    if (appendHistoryRow(path_, historyRow(change), why) || reported_)
        return;
    reported_ = true;
    if (notices_)
        notices_->tell(QStringLiteral("The history of changes cannot be written to %1: %2.\r\n"
                                      "The unit is written all the same; this is said once.")
                           .arg(QDir::toNativeSeparators(path_), why),
                       QStringLiteral("History Not Recorded"), MsgIcon::Exclamation);
}

QByteArray historyRow(const SlotChange& c) {
    const QStringList fields{isoTime(c.time),
                             plain(c.endpoint),
                             plain(c.speed),
                             QString::number(c.unit),
                             QString::number(c.slot),
                             plain(c.terminal),
                             MessageText::escaped(c.before),
                             MessageText::escaped(c.written),
                             plain(c.result)};
    QStringList quoted;
    for (const QString& f : fields)
        quoted << csvField(formulaGuarded(f));
    const QByteArray row = quoted.join(QLatin1Char(',')).toUtf8();
    return row + ',' + checksumOf(row) + '\n';
}

std::optional<SlotChange> historyChange(const QByteArray& row, bool* header) {
    if (header)
        *header = row + '\n' == kHeader;
    const qsizetype comma = row.lastIndexOf(',');
    if (comma < 0 || row.mid(comma + 1) != checksumOf(row.left(comma)))
        return std::nullopt;
    QString why;
    const auto records = scanCsvRecords(QString::fromUtf8(row.left(comma)), QLatin1Char(','), why);
    if (!records || records->size() != 1 || records->first().fields.size() != kFields)
        return std::nullopt;
    QStringList f;
    for (const QString& field : records->first().fields)
        f << formulaUnguarded(field);
    SlotChange c;
    c.time = QDateTime::fromString(f[0], Qt::ISODate);
    const auto unit = number(f[3]);
    const auto slot = number(f[4]);
    if (!c.time.isValid() || !unit || !slot)
        return std::nullopt;
    c.endpoint = f[1];
    c.speed = f[2];
    c.unit = *unit;
    c.slot = *slot;
    c.terminal = f[5];
    c.before = MessageText::unescaped(f[6]);
    c.written = MessageText::unescaped(f[7]);
    c.result = f[8];
    return c;
}

bool appendHistoryRow(const QString& path, const QByteArray& row, QString& why) {
    const int fd = openForAppend(path, why);
    if (fd < 0)
        return false;
    const AppendLock turn(fd);
    const QByteArray out = lead(fd) + row; // one write(): whole or, after a crash, cut
    ssize_t n;                             // set by the first write
    do
        n = ::write(fd, out.constData(), size_t(out.size()));
    while (n < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (n == out.size())
        return true;
    why = n < 0 ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("the disk is full");
    return false;
}

HistoryRead readHistory(const QString& path) {
    HistoryRead r;
    const QFileInfo info(path);
    if (!info.exists())
        return r;
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        r.error = info.isFile() ? file.errorString() : QStringLiteral("not a regular file");
        return r;
    }
    const QList<QByteArray> rows = file.readAll().split('\n');
    QVector<SlotChange> read;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QByteArray& row = rows[i];
        if (row.isEmpty())
            continue;
        bool header = false;
        const auto change = historyChange(row, &header);
        // The last row without its line end was cut short, whatever it holds.
        if (change && i + 1 < rows.size())
            read << *change;
        else if (!header)
            ++r.damaged;
    }
    r.changes = joinedChanges(read);
    return r;
}

QVector<SlotChange> joinedChanges(const QVector<SlotChange>& rows) {
    const auto writeOf = [](const SlotChange& c) {
        return QStringList{c.endpoint, QString::number(c.unit), QString::number(c.slot), c.written}
            .join(QChar(0));
    };
    QVector<SlotChange> out;
    QHash<QString, qsizetype> awaiting; // a sent row's place in out, by its write
    for (const SlotChange& c : rows) {
        const QString write = writeOf(c);
        if (c.result == ChangeResult::sent()) {
            out << c;
            out.last().result = ChangeResult::noOutcome();
            awaiting.insert(write, out.size() - 1); // an earlier one stays without
        } else if (const auto at = awaiting.constFind(write); at != awaiting.constEnd()) {
            out[*at] = c;
            awaiting.erase(at);
        } else {
            out << c;
        }
    }
    return out;
}

QVector<SlotChange> historyOf(const QVector<SlotChange>& changes, std::optional<int> unit,
                              const QDateTime& since) {
    QVector<SlotChange> out;
    for (const SlotChange& c : changes)
        if ((!unit || c.unit == *unit) && (!since.isValid() || c.time >= since))
            out << c;
    return out;
}
