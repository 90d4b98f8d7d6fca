// The item reader, the two start-up files, the code page and the centring
// arithmetic.
#include "startup/CenterForm.h"
#include "startup/CodePage.h"
#include "startup/ConfigFiles.h"
#include "startup/ItemReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QList<QByteArray> allItems(const QByteArray& data) {
    ItemReader r(data);
    QList<QByteArray> items;
    while (auto item = r.next())
        items << *item;
    return items;
}

void writeFile(const QString& dir, const char* name, const QByteArray& data) {
    QFile f(QDir(dir).filePath(QString::fromLatin1(name)));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray quotedLines(int count, const char* stem) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += '"' + QByteArray(stem) + QByteArray::number(i) + "\"\r\n";
    return out;
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
        QTest::newRow("all on one line")
            << QByteArray("1200,4800,\"9600\"") << QList<QByteArray>{"1200", "4800", "9600"};
        QTest::newRow("empty quoted item")
            << QByteArray("\"\"\r\n\"\"\r\n") << QList<QByteArray>{"", ""};
        QTest::newRow("no final line end") << QByteArray("\"last\"") << QList<QByteArray>{"last"};
        QTest::newRow("nothing") << QByteArray() << QList<QByteArray>{};
        QTest::newRow("only blanks") << QByteArray("   ") << QList<QByteArray>{};
    }
    void itemReader() {
        QFETCH(QByteArray, data);
        QFETCH(QList<QByteArray>, items);
        QCOMPARE(allItems(data), items);
    }

    void shippedFilesLoad() {
        const QString dir = QString::fromLocal8Bit(qgetenv("QV_APP_DIR"));
        FileData fd;
        QVERIFY(!readFileData(dir, fd));
        QCOMPARE(fd.baudRates[1], QStringLiteral("4800,N,8,1"));
        QCOMPARE(fd.baudRates[2], QStringLiteral("9600,N,8,1"));
        QCOMPARE(fd.baudRates[3], QStringLiteral("19200,N,8,1"));
        QCOMPARE(fd.terminalNames[0], QStringLiteral("L1-40"));
        QCOMPARE(fd.terminalNames[13], QStringLiteral("54-55"));
        QCOMPARE(fd.terminalNames[19], QStringLiteral("60-P"));
        TextTable defaults;
        QVERIFY(!readDefaults(dir, defaults));
        for (int k = 0; k < kInterlockCount; ++k) {
            QVERIFY(!defaults[static_cast<size_t>(k)].isEmpty());
            QVERIFY(defaults[static_cast<size_t>(k)].size() <= kMessageMaxLength);
        }
    }

    void fileDataSpeedsAndExtraItems() {
        QTemporaryDir dir;
        writeFile(dir.path(), kFileDataName,
                  "1200\r\n9600\r\n19200\r\n" + quotedLines(20, "T") + "\"extra\"\r\n");
        FileData fd;
        QVERIFY(!readFileData(dir.path(), fd));
        QCOMPARE(fd.baudRates[1], QStringLiteral("1200,N,8,1"));
        QCOMPARE(fd.baudRates[2], QStringLiteral("9600,N,8,1"));
        QCOMPARE(fd.baudRates[3], QStringLiteral("19200,N,8,1"));
        QCOMPARE(fd.terminalNames[19], QStringLiteral("T19"));
        QVERIFY(fd.terminalNames[20].isEmpty());
    }

    void defaultsKeepLongMessagesAndDecodeCp1252() {
        QTemporaryDir dir;
        QByteArray data = quotedLines(20, "M");
        data.prepend("\"" + QByteArray(45, 'L') + "\"\r\n\"Temp 90\xB0 \x80\"\r\n");
        writeFile(dir.path(), kDefaultsName, data);
        TextTable t;
        QVERIFY(!readDefaults(dir.path(), t));
        QCOMPARE(t[0].size(), 45); // loaded unchanged, the writer holds it back later
        QCOMPARE(t[1], QString::fromUtf8("Temp 90° €"));
        QCOMPARE(t[19], QStringLiteral("M17"));
    }

    void badFilesNameTheFile() {
        QTemporaryDir dir;
        FileData fd;
        fd.terminalNames[0] = QStringLiteral("untouched");
        auto err = readFileData(dir.path(), fd);
        QVERIFY(err);
        QVERIFY(err->text().startsWith(QStringLiteral("filedata.fm: not found")));
        QCOMPARE(fd.terminalNames[0], QStringLiteral("untouched"));

        writeFile(dir.path(), kFileDataName, "4800\r\n9600\r\n19200\r\n" + quotedLines(5, "T"));
        err = readFileData(dir.path(), fd);
        QVERIFY(err);
        QCOMPARE(err->text(), QStringLiteral("filedata.fm: 5 of 20 terminal names"));
        QCOMPARE(fd.terminalNames[0], QStringLiteral("untouched")); // no half-filled table

        writeFile(dir.path(), kFileDataName, "4800\r\n");
        QCOMPARE(readFileData(dir.path(), fd)->text(),
                 QStringLiteral("filedata.fm: 1 of 3 speeds"));

        TextTable t;
        t[0] = QStringLiteral("untouched");
        writeFile(dir.path(), kDefaultsName, quotedLines(17, "M"));
        err = readDefaults(dir.path(), t);
        QVERIFY(err);
        QCOMPARE(err->text(), QStringLiteral("Defaults.txt: 17 of 20 messages"));
        QCOMPARE(t[0], QStringLiteral("untouched"));
    }

    void codePageRoundTripsEveryByte() {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        const QString text = CodePage::decode(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(text.at(0x80), QChar(0x20AC));
        QCOMPARE(text.at(0x9F), QChar(0x0178));
        const auto back = CodePage::encode(text);
        QVERIFY(back.ok());
        QCOMPARE(back.bytes, all);
    }

    void codePageRefusesWhatItLacks() {
        const auto e = CodePage::encode(QString::fromUtf8("Valve Ω open"));
        QVERIFY(!e.ok());
        QCOMPARE(e.badPosition, 6);
        QCOMPARE(CodePage::describe(e.badCharacter), QString::fromUtf8("'Ω' (U+03A9)"));
        QVERIFY(!CodePage::encode(QString::fromUtf8("\xF0\x9F\x94\xA5")).ok()); // outside the BMP
    }

    void centring_data() {
        QTest::addColumn<QSizeF>("screen");
        QTest::addColumn<QSizeF>("window");
        QTest::addColumn<QPointF>("expected");
        QTest::newRow("plain") << QSizeF(15360, 11520) << QSizeF(4800, 3600) << QPointF(5280, 3960);
        QTest::newRow("odd width keeps the half")
            << QSizeF(15360, 11520) << QSizeF(4801, 3600) << QPointF(5279.5, 3960);
        QTest::newRow("wider than the screen")
            << QSizeF(15360, 11520) << QSizeF(16000, 3600) << QPointF(-320, 3960);
    }
    void centring() {
        QFETCH(QSizeF, screen);
        QFETCH(QSizeF, window);
        QFETCH(QPointF, expected);
        FakeStack stack;
        stack.screen = screen;
        stack.window = window;
        CenterForm(stack);
        QCOMPARE(stack.moved, expected);
    }

    void centringWithoutWindowDoesNothing() {
        FakeStack stack;
        stack.hasWindow = false;
        CenterForm(stack);
        QCOMPARE(stack.moved, QPointF(-1e9, -1e9));
    }
};

QTEST_GUILESS_MAIN(TestStartupFiles)
#include "test_startup_files.moc"
