// The start-up order and what a bad configuration file does to it.
#include "link/Crc.h"
#include "startup/StartupSequence.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Records the steps as one line each, in the order they ran.
class RecordingSteps : public StartupSteps {
public:
    QStringList log;
    QStringList speeds;
    SharedState* state = nullptr;
    std::int16_t unitAddressWhenMainLoaded = -1;

    void showSplash() override { log << QStringLiteral("splash"); }
    void fillSpeedList(const QStringList& s) override {
        speeds = s;
        log << QStringLiteral("speeds");
    }
    void pause(int ms) override { log << QStringLiteral("pause %1").arg(ms); }
    void loadCommsTest() override {
        log << QStringLiteral("commstest");
        state->UnitAddress = 1;
    }
    void runConnectionDialog() override { log << QStringLiteral("connection"); }
    void loadMainWindow() override {
        // The main window shows the tables as they stand at this moment.
        unitAddressWhenMainLoaded = state->UnitAddress;
        QCOMPARE(state->InterlockMessages, state->DefaultMessages);
        log << QStringLiteral("main");
    }
    void reportConfigError(const ConfigError& e) override {
        log << QStringLiteral("error ") + e.file;
    }
};

QString appDir() {
    const QString dir = qEnvironmentVariable("QV_APP_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : dir;
}

// A copy of the shipped configuration files, with one of them changed.
bool copyData(const QString& to) {
    for (const char* name : {kFileDataName, kDefaultsName, kCrcTableName}) {
        const QString n = QString::fromLatin1(name);
        if (!QFile::copy(QDir(appDir()).filePath(n), QDir(to).filePath(n)))
            return false;
    }
    return true;
}

} // namespace

class TestSequence : public QObject {
    Q_OBJECT
private slots:
    void shippedFilesRunEveryStepInOrder() {
        QTemporaryDir dir;
        QVERIFY(copyData(dir.path()));
        SharedState state;
        RecordingSteps steps;
        steps.state = &state;
        QVERIFY(!runStartup(state, steps, &LoadCrcTable, dir.path(), 2000));
        QCOMPARE(steps.log, (QStringList{"splash", "speeds", "pause 2000", "commstest",
                                         "connection", "main"}));
        QCOMPARE(steps.unitAddressWhenMainLoaded, std::int16_t(1));
        QCOMPARE(state.CrcTable, standardCrcTable());
        // The list and BaudRates carry the same texts, in file order.
        QCOMPARE(steps.speeds.size(), kSpeedCount);
        for (int i = 1; i <= kSpeedCount; ++i)
            QCOMPARE(state.BaudRates[static_cast<size_t>(i)], steps.speeds.at(i - 1));
        QVERIFY(steps.speeds.at(0).endsWith(QStringLiteral(",N,8,1")));
        QCOMPARE(state.TerminalNames[0], QStringLiteral("L1-40"));
        QCOMPARE(state.TerminalNames[19], QStringLiteral("60-P"));
        QVERIFY(!state.DefaultMessages[19].isEmpty());
    }

    void speedsKeepFileOrder() {
        QTemporaryDir dir;
        QVERIFY(copyData(dir.path()));
        QFile f(QDir(dir.path()).filePath(QString::fromLatin1(kFileDataName)));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray data = f.readAll();
        f.close();
        // Replace the three speed lines, keep the names.
        QList<QByteArray> lines = data.split('\n');
        lines[0] = "1200\r";
        lines[1] = "9600\r";
        lines[2] = "19200\r";
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join('\n'));
        f.close();
        SharedState state;
        RecordingSteps steps;
        steps.state = &state;
        QVERIFY(!runStartup(state, steps, &LoadCrcTable, dir.path(), 0));
        QCOMPARE(steps.speeds, (QStringList{"1200,N,8,1", "9600,N,8,1", "19200,N,8,1"}));
    }

    void badFileStopsStartup_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // empty: the file is removed
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("no CRC table") << QString::fromLatin1(kCrcTableName) << QByteArray()
                                      << QStringList{"splash", "error CRC-16.TBL"};
        QTest::newRow("wrong CRC table")
            << QString::fromLatin1(kCrcTableName) << QByteArray("\r\n&H00\r\n&H01\r\n")
            << QStringList{"splash", "error CRC-16.TBL"};
        QTest::newRow("no filedata.fm") << QString::fromLatin1(kFileDataName) << QByteArray()
                                        << QStringList{"splash", "error filedata.fm"};
        QTest::newRow("no Defaults.txt") << QString::fromLatin1(kDefaultsName) << QByteArray()
                                         << QStringList{"splash", "speeds", "error Defaults.txt"};
        QTest::newRow("short Defaults.txt")
            << QString::fromLatin1(kDefaultsName) << QByteArray("\"one\"\r\n\"two\"\r\n")
            << QStringList{"splash", "speeds", "error Defaults.txt"};
    }
    void badFileStopsStartup() {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        QVERIFY(copyData(dir.path()));
        const QString path = QDir(dir.path()).filePath(file);
        QVERIFY(QFile::remove(path));
        if (!content.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        SharedState state;
        state.InterlockMessages[0] = QStringLiteral("before");
        RecordingSteps steps;
        steps.state = &state;
        const auto err = runStartup(state, steps, &LoadCrcTable, dir.path(), 0);
        QVERIFY(err);
        QCOMPARE(err->file, file);
        QVERIFY(err->text().startsWith(file + QStringLiteral(": ")));
        QCOMPARE(steps.log, expected);
        // Nothing half-filled: the tables are as they were before start-up.
        QCOMPARE(state.InterlockMessages[0], QStringLiteral("before"));
        QVERIFY(state.TerminalNames[0].isEmpty());
        QVERIFY(state.BaudRates[1].isEmpty());
        QCOMPARE(state.CrcTable, CrcTableArray{});
    }
};

QTEST_GUILESS_MAIN(TestSequence)
#include "test_sequence.moc"
