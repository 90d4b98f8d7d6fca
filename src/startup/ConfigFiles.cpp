#include "startup/ConfigFiles.h"

#include "startup/CodePage.h"
#include "startup/ItemReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Reads count items into out[first] .. out[first + count - 1]; a file that
// ends sooner is an error saying how many it held. With maxLength, a longer
// item is an error naming its number, line and length.
template <size_t N>
std::optional<ConfigError> readItems(ItemReader& reader, const QByteArray& data, const char* file,
                                     const char* what, std::array<QString, N>& out, size_t first,
                                     int count, const QString& suffix = {}, int maxLength = -1) {
    for (int n = 0; n < count; ++n) {
        const qsizetype start = reader.position();
        const auto item = reader.next();
        if (!item)
            return ConfigError{
                QString::fromLatin1(file),
                QStringLiteral("%1 of %2 %3").arg(n).arg(count).arg(QLatin1String(what))};
        const QString text = CodePage::decode(*item);
        if (maxLength >= 0 && text.size() > maxLength)
            return ConfigError{QString::fromLatin1(file),
                               QStringLiteral("message %1, on line %2, is %3 characters; the unit "
                                              "holds at most %4")
                                   .arg(n + 1)
                                   .arg(lineAt(data, start))
                                   .arg(text.size())
                                   .arg(maxLength)};
        out[first + static_cast<size_t>(n)] = text + suffix;
    }
    return std::nullopt;
}

// Refuses a file by what its directory entry says, before anything is read.
std::optional<ConfigError> checkConfigFile(const QString& folder, const char* name) {
    const QFileInfo info(QDir(folder).filePath(QString::fromLatin1(name)));
    const auto problem = [name](const QString& what) {
        return ConfigError{QString::fromLatin1(name), what};
    };
    if (!info.exists())
        return problem(QStringLiteral("not found in %1").arg(QDir::toNativeSeparators(folder)));
    if (info.isDir())
        return problem(QStringLiteral("a folder, not a file"));
    if (info.size() > kMaxConfigFileBytes)
        return problem(QStringLiteral("%1 bytes, more than the %2 a start-up file can hold")
                           .arg(info.size())
                           .arg(kMaxConfigFileBytes));
    return std::nullopt;
}

} // namespace

std::optional<ConfigError> readConfigFile(const QString& folder, const char* name,
                                          QByteArray& data) {
    if (auto err = checkConfigFile(folder, name))
        return err;
    QFile f(QDir(folder).filePath(QString::fromLatin1(name)));
    const auto problem = [name](const QString& what) {
        return ConfigError{QString::fromLatin1(name), what};
    };
    if (!f.open(QIODevice::ReadOnly))
        return problem(QStringLiteral("cannot be read (%1)").arg(f.errorString()));
    // Bounded even after the size check: a device or a file still growing
    // can hold more than its size said.
    QByteArray read = f.read(kMaxConfigFileBytes + 1);
    if (f.error() != QFileDevice::NoError)
        return problem(QStringLiteral("cannot be read (%1)").arg(f.errorString()));
    if (read.size() > kMaxConfigFileBytes)
        return problem(QStringLiteral("more than the %1 bytes a start-up file can hold")
                           .arg(kMaxConfigFileBytes));
    if (const qsizetype at = firstControlByte(read); at >= 0)
        return problem(QStringLiteral("not a text file: line %1 holds the control byte 0x%2")
                           .arg(lineAt(read, at))
                           .arg(static_cast<unsigned char>(read.at(at)), 2, 16, QLatin1Char('0')));
    data = read;
    return std::nullopt;
}

std::optional<ConfigError> readFileData(const QString& folder, FileData& out) {
    QByteArray data;
    if (auto err = readConfigFile(folder, kFileDataName, data))
        return err;
    ItemReader reader(data);
    FileData result;
    if (auto err = readItems(reader, data, kFileDataName, "speeds", result.baudRates, 1,
                             kSpeedCount, QStringLiteral(",N,8,1")))
        return err;
    if (auto err = readItems(reader, data, kFileDataName, "terminal names", result.terminalNames, 0,
                             kInterlockCount))
        return err;
    out = result;
    return std::nullopt;
}

std::optional<ConfigError> readDefaults(const QString& folder, TextTable& out) {
    QByteArray data;
    if (auto err = readConfigFile(folder, kDefaultsName, data))
        return err;
    ItemReader reader(data);
    TextTable result;
    if (auto err = readItems(reader, data, kDefaultsName, "messages", result, 0, kInterlockCount,
                             {}, kMessageMaxLength))
        return err;
    out = result;
    return std::nullopt;
}

QString applicationFolder() {
    return QCoreApplication::applicationDirPath();
}
