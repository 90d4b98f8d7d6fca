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

} // namespace

std::optional<ConfigError> readFileData(const QString& folder, FileData& out) {
    QByteArray data;
    if (auto err = readWhole(folder, kFileDataName, data))
        return err;
    ItemReader reader(data);
    FileData result;
    for (int i = 1; i <= kSpeedCount; ++i) {
        auto item = reader.next();
        if (!item)
            return ConfigError{QString::fromLatin1(kFileDataName),
                               QStringLiteral("%1 of %2 speeds").arg(i - 1).arg(kSpeedCount)};
        result.baudRates[static_cast<size_t>(i)] =
            CodePage::decode(*item) + QStringLiteral(",N,8,1");
    }
    for (int k = 0; k < kInterlockCount; ++k) {
        auto item = reader.next();
        if (!item)
            return ConfigError{
                QString::fromLatin1(kFileDataName),
                QStringLiteral("%1 of %2 terminal names").arg(k).arg(kInterlockCount)};
        result.terminalNames[static_cast<size_t>(k)] = CodePage::decode(*item);
    }
    out = result;
    return std::nullopt;
}

std::optional<ConfigError> readDefaults(const QString& folder, TextTable& out) {
    QByteArray data;
    if (auto err = readWhole(folder, kDefaultsName, data))
        return err;
    ItemReader reader(data);
    TextTable result;
    for (int k = 0; k < kInterlockCount; ++k) {
        auto item = reader.next();
        if (!item)
            return ConfigError{QString::fromLatin1(kDefaultsName),
                               QStringLiteral("%1 of %2 messages").arg(k).arg(kInterlockCount)};
        result[static_cast<size_t>(k)] = CodePage::decode(*item);
    }
    out = result;
    return std::nullopt;
}

QString applicationFolder() {
    return QCoreApplication::applicationDirPath();
}
