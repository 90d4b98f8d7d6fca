#pragma once
// What is remembered of the tables between runs, beside the remembered
// connection in the user's settings: the files opened or saved last, for the
// main window's recent list, and the site or boiler name given for each file's
// printed sheet. Neither changes a table file: other programs and units read
// those as they are.

#include <QString>
#include <QStringList>
#include <optional>

class QSettings;

// A file's key in the lists: its absolute path, cleaned ("a/../b" is "b").
QString tableFileKey(const QString& path);

// A table file's name where only a short one fits (the recent list, the
// title, the source line): its file name, with its folder before it when the
// name alone could be another's: a line backup (every one is a unit-NN.sav),
// or a name another file of others has too.
QString shortTableName(const QString& path, const QStringList& others = {});

class RecentFiles {
public:
    static constexpr int kMaxFiles = 5;
    // settings must outlive this.
    explicit RecentFiles(QSettings& settings) : settings_(settings) {}

    // Most recent first, absolute paths, no duplicates, at most five.
    QStringList files() const;
    // The file was opened or saved: it comes first, once.
    void add(const QString& path);
    void remove(const QString& path);
    // A file of the list that is gone: it leaves the list, and the text says
    // so; nothing for a file that is there.
    std::optional<QString> dropIfMissing(const QString& path);

private:
    void store(const QStringList& files);
    QSettings& settings_;
};

class SiteNames {
public:
    static constexpr int kMaxFiles = 100; // the oldest are forgotten beyond
    explicit SiteNames(QSettings& settings) : settings_(settings) {}

    // The name given last for the file's sheet; empty when none was.
    QString nameFor(const QString& path) const;
    // An empty name forgets the file's.
    void remember(const QString& path, const QString& name);

private:
    QSettings& settings_;
};
