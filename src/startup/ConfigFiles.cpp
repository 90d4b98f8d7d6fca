#include "startup/ConfigFiles.h"

#include "startup/CodePage.h"
#include "startup/ItemReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

std::optional<ConfigError> readWhole(const QString& folder, const char* name, QByteArray& data) {
    QFile f(QDir(folder).filePath(QString::fromLatin1(name)));
    if (!f.exists())
        return ConfigError{QString::fromLatin1(name),
                           QStringLiteral("not found in %1").arg(QDir::toNativeSeparators(folder))};
    if (!f.open(QIODevice::ReadOnly))
        return ConfigError{QString::fromLatin1(name),
                           QStringLiteral("cannot be read (%1)").arg(f.errorString())};
    data = f.readAll();
    return std::nullopt;
}

// Reads count items into out[first] .. out[first + count - 1]; a file that
// ends sooner is an error saying how many it held.
template <size_t N>
std::optional<ConfigError> readItems(ItemReader& reader, const char* file, const char* what,
                                     std::array<QString, N>& out, size_t first, int count,
                                     const QString& suffix = {}) {
    for (int n = 0; n < count; ++n) {
        const auto item = reader.next();
        if (!item)
            return ConfigError{
                QString::fromLatin1(file),
                QStringLiteral("%1 of %2 %3").arg(n).arg(count).arg(QLatin1String(what))};
        out[first + static_cast<size_t>(n)] = CodePage::decode(*item) + suffix;
    }
    return std::nullopt;
}

} // namespace

std::optional<ConfigError> readFileData(const QString& folder, FileData& out) {
    QByteArray data;
    if (auto err = readWhole(folder, kFileDataName, data))
        return err;
    ItemReader reader(data);
    FileData result;
    if (auto err = readItems(reader, kFileDataName, "speeds", result.baudRates, 1, kSpeedCount,
                             QStringLiteral(",N,8,1")))
        return err;
    if (auto err = readItems(reader, kFileDataName, "terminal names", result.terminalNames, 0,
                             kInterlockCount))
        return err;
    out = result;
    return std::nullopt;
}

std::optional<ConfigError> readDefaults(const QString& folder, TextTable& out) {
    QByteArray data;
    if (auto err = readWhole(folder, kDefaultsName, data))
        return err;
    ItemReader reader(data);
    TextTable result;
    if (auto err = readItems(reader, kDefaultsName, "messages", result, 0, kInterlockCount))
        return err;
    out = result;
    return std::nullopt;
}

QString applicationFolder() {
    return QCoreApplication::applicationDirPath();
}
