#include "link/Crc.h"
#include "startup/CodePage.h"
#include "startup/ConfigFiles.h"
#include "startup/DataFolder.h"
#include "startup/ItemReader.h"
#include "startup/WindowCentring.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray quotedLines(int count, const char* stem) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += '"' + QByteArray(stem) + QByteArray::number(i) + "\"\r\n";
    return out;
}

void badRow(const char* tag, const char* name, const QByteArray& data, const char* error) {
    QTest::newRow(tag) << QByteArray(name) << data << QString::fromUtf8(error);
}

class FakeStack : public WindowStack {
public:
    bool hasWindow = true;
    QSizeF window, screen;
    QPointF moved{-1e9, -1e9};
    bool empty() const override { return !hasWindow; }
    QSizeF lastWindowSize() const override { return window; }
    QSizeF screenSize() const override { return screen; }
    void moveLastWindow(QPointF p) override { moved = p; }
    void resizeLastWindow(QSizeF frame) override { window = frame; }
};

} // namespace

class TestStartupFiles : public QObject {
    Q_OBJECT
private slots:
    void itemReader_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QList<QByteArray>>("items");
        QTest::newRow("quoted comma stays")
            << QByteArray("\"A, B\"\r\n\"C\"\r\n") << QList<QByteArray>{"A, B", "C"};
        QTest::newRow("unquoted comma splits")
            << QByteArray("A, B\r\nC\r\n") << QList<QByteArray>{"A", "B", "C"};
        QTest::newRow("CR LF, CR and LF")
            << QByteArray("a\r\nb\rc\nd") << QList<QByteArray>{"a", "b", "c", "d"};
        QTest::newRow("leading blanks skipped")
            << QByteArray("   x,  \"  y\"\n") << QList<QByteArray>{"x", "  y"};
        QTest::newRow("rest after closing quote dropped")
            << QByteArray("\"one\" junk, \"two\"xx\r\nthree")
            << QList<QByteArray>{"one", "two", "three"};
        QTest::newRow("empty quoted item")
            << QByteArray("\"\"\r\n\"\"\r\n") << QList<QByteArray>{"", ""};
        QTest::newRow("only blanks") << QByteArray("   ") << QList<QByteArray>{};
    }
    void itemReader() {
        QFETCH(QByteArray, data);
        ItemReader reader(data);
        QList<QByteArray> read;
        while (auto item = reader.next())
            read << *item;
        QTEST(read, "items");
    }

    void configFiles() {
        const QString shipped = QString::fromLocal8Bit(qgetenv("QV_APP_DIR"));
        FileData fd;
        TextTable defaults;
        QVERIFY(!readFileData(shipped, fd) && !readDefaults(shipped, defaults));
        QCOMPARE(fd.terminalNames[19], QStringLiteral("60-P"));
        QTemporaryDir dir;
        // A UTF-8 mark is skipped; a speed may carry blanks.
        QVERIFY(putFile(dir.filePath(kFileDataName), "\xEF\xBB\xBF"
                                                     "1200\r\n9600\r\n115200 \r\n" +
                                                         quotedLines(20, "T") + "\"extra\"\r\n"));
        // A message of the unit's full 40 characters loads; bytes are Windows-1252.
        QVERIFY(putFile(dir.filePath(kDefaultsName), "\"" + QByteArray(40, 'L') +
                                                         "\"\r\n\"90\xB0 \x80\"\r\n" +
                                                         quotedLines(18, "M")));
        QVERIFY(!readFileData(dir.path(), fd) && !readDefaults(dir.path(), defaults));
        QCOMPARE(fd.baudRates[1] + fd.baudRates[3], QStringLiteral("1200,N,8,1115200,N,8,1"));
        QCOMPARE(fd.terminalNames[19], QStringLiteral("T19")); // "extra", the 21st, is ignored
        QCOMPARE(defaults[0].size(), 40);
        QCOMPARE(defaults[1], QString::fromUtf8("90° €"));
        // The same text in UTF-8, as a modern editor saves it, in a file of exactly 64 KiB (the
        // bound takes it; a byte more is the "64 KiB and 1" bad file): blanks after the last
        // item are ignored.
        QVERIFY(putFile(dir.filePath(kDefaultsName),
                        ("\"L\"\r\n\"90\xC2\xB0 \xE2\x82\xAC\"\r\n" + quotedLines(18, "M"))
                            .leftJustified(65536, ' ')));
        QVERIFY(!readDefaults(dir.path(), defaults));
        QCOMPARE(defaults[1], QString::fromUtf8("90° €"));
        QCOMPARE(defaults[19], QStringLiteral("M17"));
    }

    // Each bad file gives one line naming it and what is wrong; no table is
    // half filled and the file stays as it was. (What the bounded reader refuses, FIFOs too,
    // table/test_tablefile shows; here each start-up file meets it.)
    void badFilesNameTheFileAndFillNothing_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("data"); // null: no file; "folder", "100 MB": made so
        QTest::addColumn<QString>("error");   // the start of the text
        const QByteArray speeds = "4800\r\n9600\r\n19200\r\n";
        badRow("missing", kFileDataName, {}, "filedata.fm: not found");
        badRow("short names", kFileDataName, speeds + quotedLines(5, "T"),
               "filedata.fm: 5 of 20 terminal names");
        badRow("short speeds", kFileDataName, "4800\r\n", "filedata.fm: 1 of 3 speeds");
        badRow("short messages", kDefaultsName, quotedLines(17, "M"),
               "Defaults.txt: 17 of 20 messages");
        badRow("41 characters", kDefaultsName,
               "\"M0\",\"M1\"\r\n" + quotedLines(2, "M") + '"' + QByteArray(41, 'L') + "\"\r\n" +
                   quotedLines(15, "M"),
               "Defaults.txt: message 5, on line 4, is 41 characters; the unit holds at most 40");
        badRow("binary", kDefaultsName, "\"A\"\n\"\x01\x02\"",
               "Defaults.txt: not a text file: line 2 holds the control byte 0x01");
        badRow("folder", kFileDataName, "folder", "filedata.fm: a folder, not a file");
        badRow("64 KiB and 1", kDefaultsName, quotedLines(20, "M").leftJustified(65537, ' '),
               "Defaults.txt: 65537 bytes, more than the 65536 a start-up file can hold");
        badRow("100 MB", kDefaultsName, "100 MB",
               "Defaults.txt: 104857600 bytes, more than the 65536");
        badRow("unterminated quote", kDefaultsName, "\"OPEN\r\n" + quotedLines(19, "M"),
               "Defaults.txt: the quote on line 1 is not closed on that line");
        badRow("unterminated name", kFileDataName, speeds + "\"T0\r\n" + quotedLines(19, "T"),
               "filedata.fm: the quote on line 4 is not closed");
        badRow("unterminated after the last", kDefaultsName, quotedLines(20, "M") + "\"X",
               "Defaults.txt: the quote on line 21 is not closed");
        for (const char* speed : {"0", "-1", "1e9", "300", "115201"})
            QTest::addRow("speed %s", speed)
                << QByteArray(kFileDataName)
                << "4800\r\n" + QByteArray(speed) + "\r\n19200\r\n" + quotedLines(20, "T")
                << "filedata.fm: speed 2, on line 2, is \"" + QString::fromLatin1(speed) +
                       "\"; the tool runs at 1200, 2400";
        badRow("UTF-8 outside Windows-1252", kDefaultsName,
               "\xEF\xBB\xBF\"A\"\r\n\"\xCE\xA9\"\r\n" + quotedLines(18, "M"),
               "Defaults.txt: line 2 holds 'Ω' (U+03A9), which Windows-1252 lacks");
        badRow("device", kCrcTableName, "/dev/zero", "CRC-16.TBL: a device, not a file");
    }
    void badFilesNameTheFileAndFillNothing() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, data);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString file = dir.filePath(name);
        QFile f(file);
        if (data == "folder")
            QVERIFY(QDir().mkdir(file));
        else if (data == "100 MB")
            QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(100 << 20));
        else if (data.startsWith("/dev/"))
            QVERIFY(QFile::link(QString::fromLatin1(data), file));
        else if (!data.isNull())
            QVERIFY(putFile(file, data));
        const QFileInfo before(file);
        FileData fd;
        fd.terminalNames[0] = QStringLiteral("untouched");
        TextTable t;
        t[0] = QStringLiteral("untouched");
        CrcTableArray crc{};
        const std::optional<ConfigError> err = name == kFileDataName ? readFileData(dir.path(), fd)
                                               : name == kDefaultsName
                                                   ? readDefaults(dir.path(), t)
                                                   : readCrcTableFile(dir.path(), crc);
        QVERIFY(err);
        QVERIFY2(err->text().startsWith(error), qPrintable(err->text()));
        QVERIFY(fd.terminalNames[0] == "untouched" && t[0] == "untouched");
        const QFileInfo after(file);
        QVERIFY(after.exists() == before.exists() && after.size() == before.size());
    }

    void codePage() {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        const QString text = CodePage::decode(all);
        QCOMPARE(text.at(0x80), QChar(0x20AC));
        QCOMPARE(CodePage::encode(text).bytes, all); // every byte round-trips
        const auto e = CodePage::encode(QString::fromUtf8("Valve Ω open"));
        QCOMPARE(e.badPosition, 6);
        QCOMPARE(CodePage::describe(e.badCharacter), QString::fromUtf8("'Ω' (U+03A9)"));
        QVERIFY(!CodePage::encode(QString::fromUtf8("\xF0\x9F\x94\xA5")).ok()); // outside the BMP
    }

    void centring_data() {
        QTest::addColumn<QSizeF>("window");
        QTest::addColumn<QSizeF>("screen");
        QTest::addColumn<QPointF>("expected");
        QTest::addColumn<QSizeF>("size");                 // the window's size afterwards
        const QSizeF twips(15360, 11520), at2x(960, 510); // 1920x1080 less a panel, at 2x
        QTest::newRow("odd width keeps the half")
            << QSizeF(4801, 3600) << twips << QPointF(5279.5, 3960) << QSizeF(4801, 3600);
        QTest::newRow("wider than the screen: its width, at the left edge")
            << QSizeF(16000, 3600) << twips << QPointF(0, 3960) << QSizeF(15360, 3600);
        QTest::newRow("main window at 2x: its title bar stays on the screen")
            << QSizeF(851, 584) << at2x << QPointF(54.5, 0) << QSizeF(851, 510);
        QTest::newRow("no window: nothing moves")
            << QSizeF() << twips << QPointF(-1e9, -1e9) << QSizeF();
    }
    void centring() {
        QFETCH(QSizeF, window);
        QFETCH(QSizeF, screen);
        QFETCH(QPointF, expected);
        QFETCH(QSizeF, size);
        FakeStack stack;
        stack.hasWindow = !window.isEmpty();
        stack.screen = screen;
        stack.window = window;
        centreLastWindow(stack);
        QCOMPARE(stack.moved, expected);
        QCOMPARE(stack.window, size);
    }

    // The user's own files (the history, the line's state): where QV840N_DATA_DIR says, else in
    // qv840n/ of the user's data folder, whichever program asks.
    void userDataFiles() {
        const QByteArray given = qgetenv("QV840N_DATA_DIR"), home = qgetenv("XDG_DATA_HOME");
        qputenv("QV840N_DATA_DIR", "/srv/qv");
        qputenv("XDG_DATA_HOME", "/home/tech/.data");
        const QString chosen = userDataFile("history.csv");
        qunsetenv("QV840N_DATA_DIR");
        const QString usual = userDataFile("line-state.txt");
        qputenv("QV840N_DATA_DIR", given);
        qputenv("XDG_DATA_HOME", home);
        QCOMPARE(chosen + " " + usual,
                 "/srv/qv/history.csv /home/tech/.data/qv840n/line-state.txt");
    }
};

QTEST_GUILESS_MAIN(TestStartupFiles)
#include "test_startup_files.moc"
