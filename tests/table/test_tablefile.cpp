// Message-table files: the exact format, other layouts, failures that leave disk and table alone.
#include "startup/CodePage.h"
#include "table/TableFile.h"

#include "support/AsNobody.h"
#include "support/Files.h"

#include <QtTest>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

QString path(const QTemporaryDir& dir) {
    return dir.filePath(QStringLiteral("t.sav"));
}

// The file a row works on: content written, or a folder, a sparse giant, no
// permission, a FIFO, a link to a device or to a file holding the content.
bool place(const QString& file, const QString& how, const QByteArray& data) {
    if (how == "folder")
        return QDir().mkdir(file);
    if (how == "FIFO")
        return ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0;
    if (how.startsWith("/dev/"))
        return QFile::link(how, file);
    if (how == "link")
        return putFile(file + ".real", data) && QFile::link(file + ".real", file);
    if (how == "missing")
        return true;
    if (how == "100 MB") {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.resize(100 << 20);
    }
    if (!putFile(file, data))
        return false;
    if (how == "unreadable")
        return QFile::setPermissions(file, {});
    return true;
}

// What the row left on disk, for a before/after comparison.
QByteArray onDisk(const QTemporaryDir& dir) {
    const QFileInfo f(path(dir));
    QByteArray seen =
        QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
            .join(' ')
            .toUtf8();
    if (!f.isFile() || f.isSymLink() || f.size() > kMaxTableFileBytes || !f.isReadable())
        return seen + " " + QByteArray::number(f.size()) + f.symLinkTarget().toUtf8();
    return seen + " " + fileBytes(f.filePath());
}

QByteArray records(const QStringList& texts, const char* between = "\"\r\n\"") {
    return "\"" + texts.join(between).toLatin1() + "\"\r\n";
}

void saveRow(const char* tag, const QString& entry, const QString& why, const QString& how = {},
             int sizeLimit = 0) {
    QTest::newRow(tag) << entry << sizeLimit << how << why;
}

void openRow(const char* tag, const QByteArray& data, const QStringList& expected,
             const QStringList& why, const QString& how = {}) {
    QTest::newRow(tag) << data << how << expected << why;
}

class TestTableFile : public QObject {
    Q_OBJECT
private slots:
    void save_data() {
        QTest::addColumn<QString>("entry"); // interlock 13
        QTest::addColumn<int>("sizeLimit");
        QTest::addColumn<QString>("how"); // where the old file is
        QTest::addColumn<QString>("why"); // part of the message
        saveRow("saved", "X", {});
        saveRow("no Windows-1252 code", "Ωhm", "54-55");
        saveRow("too big to open again", QString(70000, QLatin1Char('X')), "more than the 65536");
        // The other 19 lines take 248 bytes, this one 4 more than its text: 65536 in all is the
        // largest file the tool opens, and it saves it.
        saveRow("the largest it opens", QString(65284, QLatin1Char('X')), {});
        saveRow("a byte more", QString(65285, QLatin1Char('X')),
                "65537 bytes, more than the 65536");
        saveRow("file-size limit", "X", "Cannot save ", {}, 64);
        saveRow("onto a folder", "X", "is a folder", "folder");
        saveRow("onto a FIFO", "X", "not a regular file", "FIFO");
        saveRow("onto a link to a device", "X", "not a regular file", "/dev/null");
        saveRow("through a link", "X", {}, "link"); // the link stays, its file is replaced
        saveRow("read-only folder", "X", "Permission", "read-only");
    }
    void save() {
        QFETCH(QString, entry);
        QFETCH(int, sizeLimit);
        QFETCH(QString, how);
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QString file = path(dir);
        QVERIFY(place(file, how, "OLD")); // only a whole new file replaces it
        const auto open = QFile::permissions(dir.path());
        if (how == "read-only")
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        const QByteArray before = onDisk(dir);
        TextTable t;
        std::fill_n(t.begin(), 20, QStringLiteral("MSG")); // entry 20 is unused
        t[0] = QString();
        t[3] = QString(45, QLatin1Char('L')); // not limited in the file
        t[4] = QStringLiteral("€ café");
        t[6] = QStringLiteral("PRESS \"RESET\", THEN WAIT"); // the quotes as \x22, no warning
        t[8] = QString(36, QLatin1Char('C')) + "\x1B\r\n\\"; // a unit's; kept as \xHH
        t[13] = entry;
        // A file-size limit makes the write fail even for root.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit tight{sizeLimit ? rlim_t(sizeLimit) : saved.rlim_cur, saved.rlim_max};
        std::optional<AsNobody> nobody(dir.path()); // root would write into a read-only folder
        QVERIFY(nobody->ok());
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const TableFileResult r = saveTable(file, t);
        setrlimit(RLIMIT_FSIZE, &saved);
        nobody.reset();
        QFile::setPermissions(dir.path(), open);
        QVERIFY2(r.message.contains(why), qPrintable(r.message));
        const bool saves = why.isEmpty();
        QVERIFY(r.ok == saves && r.written == saves);
        if (!saves) {
            QCOMPARE(onDisk(dir), before); // no temporary left either
            return;
        }
        const QList<QByteArray> lines = fileBytes(file).split('\n');
        QCOMPARE(lines.size(), 21); // nothing after the last CR LF
        QVERIFY2(r.message.isEmpty(), qPrintable(r.message));
        QCOMPARE(lines[0] + lines[4] + lines[6] + lines[8] + lines[19],
                 QByteArray("\"\"\r\"\x80 caf\xE9\"\r\"PRESS \\x22RESET\\x22, THEN WAIT\"\r\"") +
                     QByteArray(36, 'C') + "\\x1B\\x0D\\x0A\\\"\r\"MSG\"\r");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 how.isEmpty() ? 1 : 2);
        QCOMPARE(QFileInfo(file).isSymLink(), !how.isEmpty());
        TextTable back;
        const TableFileResult opened = openTable(file, back);
        QVERIFY(opened.ok && opened.entriesRead == 20);
        // The only word on opening: the 45 characters the unit cannot take.
        QVERIFY2(opened.message.endsWith(entry.size() > 40 ? "42-3 (45), 54-55 (65284)."
                                                           : "to it: 42-3 (45).") &&
                     !opened.message.contains('\n'),
                 qPrintable(opened.message));
        QVERIFY(back == t); // every slot in its place, the quotes whole
    }

    // Items, not lines; a short or long file says so; a file that is no
    // message table changes no entry. Opening never changes the file.
    void open_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("why"); // parts of the message, empty: no message
        QStringList f21;
        for (int i = 0; i < 21; ++i)
            f21 << QStringLiteral("F%1").arg(i);
        const QStringList f20 = f21.mid(0, 20);
        openRow("nineteen records", records(f21.mid(0, 19)), f21.mid(0, 19), {"19 of the 20"});
        openRow("twenty-one records", records(f21), f20, {"more than 20 messages; the first 20"});
        openRow("blank lines after twenty", records(f20) + "\r\n  \r\n", f20, {});
        openRow("twenty on one line", records(f20, "\",\"").chopped(2), f20, {});
        openRow("one long line", QByteArray(5000, 'x'), {QString(5000, QLatin1Char('x'))},
                {"1 of the 20", "L1-40 (5000)"});
        openRow("unquoted lines", "ONE\r\nTWO,THREE\r\n\"FOUR, WITH COMMA\"\r\nFIVE",
                {"ONE", "TWO", "THREE", "FOUR, WITH COMMA", "FIVE"}, {"5 of the 20"});
        const QByteArray demo = fileBytes(qEnvironmentVariable("QV_APP_DIR") + "/demo.sav");
        QStringList demoTexts; // line by line, which the shipped file allows
        for (const QByteArray& line : demo.split('\n').mid(0, 20))
            demoTexts << QString::fromLatin1(line.mid(1, line.size() - 3));
        openRow("shipped demo.sav", demo, demoTexts, {});
        openRow("NUL byte", QByteArray("\"A\"\r\n\"B\0C\"\r\n", 12), {},
                {"line 2 holds the control byte 0x00"});
        QByteArray noise(4096, '\0');
        QRandomGenerator(840).fillRange(reinterpret_cast<quint32*>(noise.data()), 1024);
        openRow("random bytes", noise, {}, {"not a message table: line "});
        openRow("unterminated quote", "\"OPEN\r\n" + records(f20.mid(1, 19)), {},
                {"the quote on line 1 is not closed"});
        openRow("UTF-8 with a mark", "\xEF\xBB\xBF" + demo, demoTexts, {});
        openRow("UTF-8 without a mark", "\"Caf\xC3\xA9 \xE2\x82\xAC\"", {"Café €"},
                {"1 of the 20"});
        openRow("UTF-8 outside Windows-1252", "\"A\"\r\n\"\xCE\xA9\"", {},
                {"line 2 holds 'Ω' (U+03A9)"});
        openRow("missing file", {}, {}, {"Cannot open"}, "missing");
        openRow("FIFO", {}, {}, {"a FIFO, not a file"}, "FIFO");
        openRow("link to a device", {}, {}, {"a device, not a file"}, "/dev/zero");
        openRow("folder", {}, {}, {"not a message table: a folder, not a file"}, "folder");
        openRow("100 MB", {}, {}, {"104857600 bytes, more than the 65536"}, "100 MB");
        openRow("unreadable", records(f20), {}, {"Permission denied"}, "unreadable");
    }
    void open() {
        QFETCH(QByteArray, data);
        QFETCH(QString, how);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, why);
        QTemporaryDir dir;
        const QString file = path(dir);
        QVERIFY(place(file, how, data));
        const QByteArray before = onDisk(dir);
        TextTable t;
        t.fill(QStringLiteral("KEEP"));
        std::optional<AsNobody> nobody(dir.path()); // root would read a file without permissions
        QVERIFY(nobody->ok());
        const TableFileResult r = openTable(file, t);
        nobody.reset();
        QCOMPARE(r.ok, !expected.isEmpty());
        QCOMPARE(r.entriesRead, expected.size());
        QVERIFY2(r.message.isEmpty() == why.isEmpty() &&
                     (why.isEmpty() || r.message.contains(file)),
                 qPrintable(r.message));
        for (const QString& part : why)
            QVERIFY2(r.message.contains(part), qPrintable(r.message));
        for (int i = 0; i < kInterlockCount; ++i)
            QCOMPARE(t[i], i < expected.size() ? expected[i] : QStringLiteral("KEEP"));
        QCOMPARE(onDisk(dir), before);
    }

    // Windows-1252 bytes that happen to be UTF-8 ("Ã©" is C3 A9, UTF-8 for "é") make the file
    // UTF-8 with its mark; it opens as what was saved. Any other table stays Windows-1252.
    void utf8LookalikesRoundTrip() {
        QTemporaryDir dir;
        TextTable t;
        t.fill(QStringLiteral("PLAIN"));
        t[2] = QString::fromUtf8("Ã©"); // "\xC3\xA9" in Windows-1252
        QVERIFY(saveTable(path(dir), t).written);
        const QByteArray bytes = fileBytes(path(dir));
        QVERIFY2(bytes.startsWith("\xEF\xBB\xBF\"PLAIN\"\r\n\"PLAIN\"\r\n\"\xC3\x83\xC2\xA9\"\r\n"),
                 bytes.toHex().constData());
        TextTable back;
        QVERIFY(openTable(path(dir), back).ok);
        QCOMPARE(back[2], t[2]);
        t[3] = QString::fromUtf8("é"); // E9 alone is no UTF-8: the whole file stays Windows-1252
        QVERIFY(saveTable(path(dir), t).written);
        QCOMPARE(fileBytes(path(dir)).left(29),
                 QByteArray("\"PLAIN\"\r\n\"PLAIN\"\r\n\"\xC3\xA9\"\r\n\"\xE9\"\r\n"));
    }

    // Every byte the unit can hold (01..FE), alone and in every pair, and the three- and
    // four-byte UTF-8 forms, in one slot of a table otherwise plain: the bytes of the file read
    // back as the same table.
    void everyByteRoundTrips() {
        TextTable t;
        t.fill(QStringLiteral("PLAIN"));
        const auto roundTrips = [&t](const QByteArray& unitBytes) {
            t[7] = CodePage::decode(unitBytes);
            QString why;
            const QByteArray file = savTableBytes(t, &why);
            TextTable back;
            return !file.isEmpty() && parseSavTable("t.sav", file, back).ok && back == t;
        };
        int failures = 0;
        for (int a = 1; a < 0xFF; ++a) {
            failures += !roundTrips(QByteArray(1, char(a)));
            for (int b = 1; b < 0xFF; ++b)
                failures += !roundTrips(QByteArray(1, char(a)) + char(b));
        }
        const QByteArray tails[] = {"\x80\x80", "\xBF\xBF", "\xA0\x80", "\x9F\xBF"};
        for (int lead = 0xE0; lead <= 0xF4; ++lead)
            for (const QByteArray& tail : tails)
                failures +=
                    !roundTrips(char(lead) + tail) + !roundTrips(char(lead) + tail + "\x80");
        QCOMPARE(failures, 0);
    }
};

QTEST_GUILESS_MAIN(TestTableFile)
#include "test_tablefile.moc"
