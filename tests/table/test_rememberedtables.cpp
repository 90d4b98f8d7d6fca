// What is remembered of the tables between runs: the recent files and each file's site name.
#include "support/Files.h"
#include "table/RememberedTables.h"

#include <QSettings>
#include <QtTest>

class TestRememberedTables : public QObject {
    Q_OBJECT
private slots:
    // Most recent first, each once, five at most, kept across runs; a vanished file says so
    // and leaves the list.
    void recentFiles() {
        QTemporaryDir dir;
        const auto file = [&](const QString& name) {
            return putFile(dir.filePath(name), {}) ? dir.filePath(name) : QString();
        };
        QSettings settings(dir.filePath("qv840n.ini"), QSettings::IniFormat);
        RecentFiles recent(settings);
        QVERIFY(recent.files().isEmpty());
        for (const char* name : {"a.sav", "b.sav", "c.csv", "d.sav", "e,1.sav", "f.sav"})
            recent.add(file(name));
        recent.add(dir.filePath("sub/../c.csv")); // the same file, named another way
        QDir::setCurrent(dir.path());
        recent.add("f.sav"); // relative: kept absolute
        QSettings again(dir.filePath("qv840n.ini"), QSettings::IniFormat);
        QCOMPARE(RecentFiles(again).files(),
                 QStringList({dir.filePath("f.sav"), dir.filePath("c.csv"), dir.filePath("e,1.sav"),
                              dir.filePath("d.sav"), dir.filePath("b.sav")}));

        QVERIFY(!recent.dropIfMissing(dir.filePath("d.sav")));
        QFile::remove(dir.filePath("d.sav"));
        QCOMPARE(recent.dropIfMissing(dir.filePath("d.sav")).value_or(""),
                 "d.sav is no longer in " + QDir::toNativeSeparators(dir.path()) +
                     " (moved, renamed or deleted).\r\nIt is taken off the recent files.");
        QCOMPARE(recent.files().size(), 4);
        QVERIFY(!recent.files().contains(dir.filePath("d.sav")));
    }

    // A short name names one file: a line backup, or a name two files of the list share, shows
    // its folder.
    void shortNames() {
        const QStringList recent{"/site/boiler2.sav", "/site/old/boiler2.SAV", "/site/north.sav"};
        QCOMPARE(shortTableName("/site/north.sav", recent), "north.sav");
        QCOMPARE(shortTableName("/site/boiler2.sav", recent),
                 QDir::toNativeSeparators("site/boiler2.sav"));
        QCOMPARE(shortTableName("/site/old/boiler2.SAV", recent),
                 QDir::toNativeSeparators("old/boiler2.SAV"));
        QCOMPARE(shortTableName("/site/x/../boiler2.sav", {"/site/boiler2.sav"}), "boiler2.sav");
        QCOMPARE(shortTableName("/backups/2026-12-01/unit-03.sav"),
                 QDir::toNativeSeparators("2026-12-01/unit-03.sav"));
        QCOMPARE(shortTableName("/backups/unit-3.sav"), "unit-3.sav");
    }

    // A site name per file, kept across runs; an empty one forgets the file's.
    void siteNames() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("qv840n.ini"), QSettings::IniFormat);
        SiteNames sites(settings);
        sites.remember(dir.filePath("a.sav"), "Boiler 2, east");
        sites.remember(dir.filePath("b.sav"), "Kiln");
        QSettings again(dir.filePath("qv840n.ini"), QSettings::IniFormat);
        QCOMPARE(SiteNames(again).nameFor(dir.filePath("x/../a.sav")), "Boiler 2, east");
        sites.remember(dir.filePath("a.sav"), "");
        QVERIFY(sites.nameFor(dir.filePath("a.sav")).isEmpty());
        QCOMPARE(sites.nameFor(dir.filePath("b.sav")), "Kiln");
        QVERIFY(sites.nameFor({}).isEmpty());
    }
};

QTEST_MAIN(TestRememberedTables)
#include "support/Files.h"
#include "test_rememberedtables.moc"
