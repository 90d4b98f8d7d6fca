// The start-up order and what a bad configuration file does to it.
#include "link/Crc.h"
#include "startup/StartupSequence.h"
#include "support/Files.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
struct RecordingSteps : StartupSteps {
    explicit RecordingSteps(Configuration& config) : t(config) {}
    Configuration& t;
    QStringList log;
    void showSplash() override { log << "splash"; }
    void fillSpeedList(const QStringList& s) override { log << "speeds " + s.join(' '); }
    void pause(int ms) override { log << QStringLiteral("pause %1").arg(ms); }
    void loadCommsTest() override { log << "commstest"; }
    void runConnectionDialog() override { log << "connection"; }
    // The main window shows the defaults as they stand at this moment.
    void loadMainWindow() override { log << (t.defaultMessages[0].isEmpty() ? "?" : "main"); }
    void reportConfigError(const ConfigError& e) override { log << "error " + e.file; }
};
} // namespace

class TestSequence : public QObject {
    Q_OBJECT
private slots:
    void startupOrder() {
        const QString app = qEnvironmentVariable("QV_APP_DIR", qApp->applicationDirPath() + "/..");
        const QString speeds = QStringLiteral("splash, speeds 4800,N,8,1 9600,N,8,1 19200,N,8,1, ");
        // A copy of the shipped files with one changed; no content: that file is removed.
        const std::tuple<const char*, QByteArray, QString> cases[] = {
            {"", "", speeds + "pause 2000, commstest, connection, main"},
            {kCrcTableName, "", "splash, error "},
            {kCrcTableName, "\r\n&H00\r\n&H01\r\n", "splash, error "},
            {kFileDataName, "", "splash, error "},
            {kDefaultsName, "\"one\"\r\n", speeds + "error "}};
        for (const auto& [file, content, expected] : cases) {
            QTemporaryDir dir;
            for (const char* name : {kFileDataName, kDefaultsName, kCrcTableName})
                QVERIFY(QFile::copy(QDir(app).filePath(name), dir.filePath(name)));
            QVERIFY(!*file || QFile::remove(dir.filePath(file)));
            QVERIFY(content.isEmpty() || putFile(dir.filePath(file), content));
            Configuration state;
            state.defaultMessages[0] = QStringLiteral("before");
            RecordingSteps steps(state);
            const auto err = runStartup(state, steps, &readCrcTableFile, dir.path(), 2000);
            QCOMPARE(steps.log.join(", "), expected + file);
            QCOMPARE(err ? err->text().section(':', 0, 0) : QString(), QString::fromLatin1(file));
            QCOMPARE(state.crcTable == standardCrcTable(), !err);
            // Nothing half-filled: the tables are as they were before start-up.
            QVERIFY(!err ||
                    (state.defaultMessages[0] == "before" && state.baudRates[1].isEmpty() &&
                     state.terminalNames[0].isEmpty() && state.crcTable == CrcTableArray{}));
        }
    }
};

QTEST_GUILESS_MAIN(TestSequence)
#include "test_sequence.moc"
