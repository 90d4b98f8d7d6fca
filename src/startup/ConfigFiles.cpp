#include "startup/ConfigFiles.h"

#include "startup/CodePage.h"
#include "startup/ItemReader.h"
#include "startup/TextFile.h"

#include <QCoreApplication>
#include <QDir>

namespace {

std::optional<ConfigError> unterminated(const ItemReader& reader, const char* file) {
    if (reader.unterminatedLine() == 0)
        return std::nullopt;
    return ConfigError{QString::fromLatin1(file),
                       QStringLiteral("the quote on line %1 is not closed on that line")
                           .arg(reader.unterminatedLine())};
}

// The items after the last one used are ignored, but a quote left open among
// them still shows a damaged file.
std::optional<ConfigError> checkRest(ItemReader& reader, const char* file) {
    while (reader.next()) {
    }
    return unterminated(reader, file);
}

// Reads count items into out[first] .. out[first + count - 1]; a file that
// ends sooner is an error saying how many it held. With maxLength, a longer
// item is an error naming its number, line and length; with speeds, an item
// that is not one of kLineSpeeds is.
template <size_t N>
std::optional<ConfigError> readItems(ItemReader& reader, const QByteArray& data, const char* file,
                                     const char* what, std::array<QString, N>& out, size_t first,
                                     int count, const QString& suffix = {}, int maxLength = -1,
                                     bool speeds = false) {
    for (int n = 0; n < count; ++n) {
        const qsizetype start = reader.position();
        const auto item = reader.next();
        if (auto err = unterminated(reader, file))
            return err;
        if (!item)
            return ConfigError{
                QString::fromLatin1(file),
                QStringLiteral("%1 of %2 %3").arg(n).arg(count).arg(QLatin1String(what))};
        QString text = CodePage::decode(*item);
        const int speed = text.trimmed().toInt();
        if (speeds && !isLineSpeed(speed))
            return ConfigError{QString::fromLatin1(file),
                               QStringLiteral("speed %1, on line %2, is \"%3\"; the tool runs at "
                                              "%4")
                                   .arg(n + 1)
                                   .arg(lineAt(data, start))
                                   .arg(text, lineSpeedList())};
        if (speeds)
            text = QString::number(speed); // "9600 " is 9600, as the port takes it
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

} // namespace

QString lineSpeedList() {
    QStringList speeds;
    for (int s : kLineSpeeds)
        speeds << QString::number(s);
    const QString last = speeds.takeLast();
    return speeds.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

std::optional<ConfigError> readConfigFile(const QString& folder, const char* name,
                                          QByteArray& data) {
    const auto problem = readTextFile(QDir(folder).filePath(QString::fromLatin1(name)),
                                      kMaxConfigFileBytes, "a start-up file", data);
    if (!problem)
        return std::nullopt;
    return ConfigError{QString::fromLatin1(name),
                       problem->kind == FileProblem::Missing
                           ? QStringLiteral("not found in %1").arg(QDir::toNativeSeparators(folder))
                       : problem->kind == FileProblem::Binary
                           ? QStringLiteral("not a text file: ") + problem->text
                           : problem->text};
}

std::optional<ConfigError> readFileData(const QString& folder, FileData& out) {
    QByteArray data;
    if (auto err = readConfigFile(folder, kFileDataName, data))
        return err;
    ItemReader reader(data);
    FileData result;
    if (auto err = readItems(reader, data, kFileDataName, "speeds", result.baudRates, 1,
                             kSpeedCount, QStringLiteral(",N,8,1"), -1, true))
        return err;
    if (auto err = readItems(reader, data, kFileDataName, "terminal names", result.terminalNames, 0,
                             kInterlockCount))
        return err;
    if (auto err = checkRest(reader, kFileDataName))
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
    if (auto err = checkRest(reader, kDefaultsName))
        return err;
    out = result;
    return std::nullopt;
}

QString applicationFolder() {
    return QCoreApplication::applicationDirPath();
}
