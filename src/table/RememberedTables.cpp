#include "table/RememberedTables.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <algorithm>

namespace {

const QString kRecent = QStringLiteral("files/recent");
const QString kSites = QStringLiteral("files/sites");
const QString kSiteFile = QStringLiteral("file");
const QString kSiteName = QStringLiteral("name");

Qt::CaseSensitivity pathCase() {
#ifdef Q_OS_WIN
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

bool samePath(const QString& a, const QString& b) {
    return a.compare(b, pathCase()) == 0;
}

// The list without empty entries and duplicates, in order, cut at most.
QStringList distinct(const QStringList& paths, int most) {
    QStringList out;
    for (const QString& path : paths) {
        if (out.size() >= most)
            break;
        const QString key = tableFileKey(path);
        const bool seen = std::any_of(out.cbegin(), out.cend(),
                                      [&](const QString& p) { return samePath(p, key); });
        if (!path.trimmed().isEmpty() && !seen)
            out << key;
    }
    return out;
}

struct SiteEntry {
    QString file;
    QString name;
};

QList<SiteEntry> readSites(QSettings& s) {
    QList<SiteEntry> sites;
    const int n = s.beginReadArray(kSites);
    for (int i = 0; i < n; ++i) {
        s.setArrayIndex(i);
        sites.append({s.value(kSiteFile).toString(), s.value(kSiteName).toString()});
    }
    s.endArray();
    return sites;
}

} // namespace

QString tableFileKey(const QString& path) {
    return path.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString shortTableName(const QString& path, const QStringList& others) {
    static const QRegularExpression lineBackup(QStringLiteral("^unit-\\d\\d\\.sav$"),
                                               QRegularExpression::CaseInsensitiveOption);
    const QFileInfo file(path);
    const QString name = file.fileName();
    const QString key = tableFileKey(path);
    const bool alike = lineBackup.match(name).hasMatch() ||
                       std::any_of(others.begin(), others.end(), [&](const QString& other) {
                           return tableFileKey(other) != key && QFileInfo(other).fileName().compare(
                                                                    name, Qt::CaseInsensitive) == 0;
                       });
    if (!alike)
        return name;
    const QString folder = file.absoluteDir().dirName();
    return QDir::toNativeSeparators(folder + QLatin1Char('/') + name);
}

QStringList RecentFiles::files() const {
    return distinct(settings_.value(kRecent).toStringList(), kMaxFiles);
}

void RecentFiles::store(const QStringList& files) {
    settings_.setValue(kRecent, files);
    settings_.sync();
}

void RecentFiles::add(const QString& path) {
    if (path.isEmpty())
        return;
    store(distinct(QStringList{path} + files(), kMaxFiles));
}

void RecentFiles::remove(const QString& path) {
    QStringList list = files();
    const QString key = tableFileKey(path);
    list.removeIf([&](const QString& p) { return samePath(p, key); });
    store(list);
}

std::optional<QString> RecentFiles::dropIfMissing(const QString& path) {
    if (QFileInfo::exists(path))
        return std::nullopt;
    remove(path);
    return QStringLiteral("%1 is no longer in %2 (moved, renamed or deleted).\r\nIt is taken off "
                          "the recent files.")
        .arg(QFileInfo(path).fileName(), QDir::toNativeSeparators(QFileInfo(path).path()));
}

QString SiteNames::nameFor(const QString& path) const {
    const QString key = tableFileKey(path);
    for (const SiteEntry& e : readSites(settings_))
        if (!key.isEmpty() && samePath(e.file, key))
            return e.name;
    return {};
}

void SiteNames::remember(const QString& path, const QString& name) {
    const QString key = tableFileKey(path);
    if (key.isEmpty())
        return;
    QList<SiteEntry> sites = readSites(settings_);
    sites.removeIf([&](const SiteEntry& e) { return samePath(e.file, key); });
    if (!name.isEmpty())
        sites.prepend({key, name});
    while (sites.size() > kMaxFiles)
        sites.removeLast();
    settings_.remove(kSites);
    settings_.beginWriteArray(kSites, int(sites.size()));
    for (int i = 0; i < sites.size(); ++i) {
        settings_.setArrayIndex(i);
        settings_.setValue(kSiteFile, sites[i].file);
        settings_.setValue(kSiteName, sites[i].name);
    }
    settings_.endArray();
    settings_.sync();
}
