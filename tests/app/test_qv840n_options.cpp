// qv840n's own options as a user over SSH meets them: --help and --version
// with no display and no platform named, answered before any window system
// is touched; --help-all too.

#include <QtTest>

static const QString kApp = QDir(qEnvironmentVariable("QV_APP_DIR")).filePath("qv840n");

class TestQv840nOptions : public QObject {
    Q_OBJECT
private slots:
    void withoutDisplay_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // a part of it
        QTest::addColumn<QString>("err"); // a part of it
        const QString version = QStringLiteral("QV840N " QV_VERSION "\n");
        QTest::newRow("--version") << QStringList{"--version"} << 0 << version << "";
        QTest::newRow("-v") << QStringList{"-v"} << 0 << version << "";
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "  --config <DIR>" << QString();
        QTest::newRow("-h, after --simulate")
            << QStringList{"--simulate", "-h"} << 0 << "  --simulate" << QString();
        QTest::newRow("--help-all") << QStringList{"--help-all"} << 0
                                    << "  --platform <platformName[:options]>" << QString();
        QTest::newRow("a wrong option")
            << QStringList{"--bogus", "--help"} << 1 << QString() << "Unknown option 'bogus'.";
    }
    void withoutDisplay() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(kApp, args);
        QVERIFY(p.waitForFinished(10000));
        const QString got = QString::fromUtf8(p.readAllStandardOutput());
        const QString errText = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == status, qPrintable(errText));
        QVERIFY2(got.contains(out), qPrintable(got));
        QVERIFY2(errText.contains(err), qPrintable(errText));
        // The window program has no --port: its help never offers one.
        QVERIFY(!got.contains("--port"));
    }
};

QTEST_GUILESS_MAIN(TestQv840nOptions)
#include "test_qv840n_options.moc"
