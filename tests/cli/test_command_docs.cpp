// The manual, the bash completion and the README against `qv840ctl --help`,
// whose command list comes from the command table: every command with its
// synopsis, every option, and the completion as bash runs it.

#include "support/CtlRun.h"
#include "support/Files.h"

#include <QRegularExpression>
#include <QtTest>

static const QDir kSource(qEnvironmentVariable("QV_SOURCE_DIR"));

static QString readSource(const QString& path) {
    return QString::fromUtf8(fileBytes(kSource.filePath(path)));
}

static QString collapsed(QString text) {
    return text.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" ")).trimmed();
}

// A troff line as it reads: ".BI read \" SLOT\"" is "read SLOT".
static QString plainTroff(const QString& line) {
    QString text = line;
    if (text.startsWith('.')) {
        QStringList words;
        const auto m =
            QRegularExpression(R"re("([^"]*)"|(\S+))re").globalMatch(text.section(' ', 1));
        for (auto it = m; it.hasNext();) {
            const auto w = it.next();
            words << (w.hasCaptured(1) ? w.captured(1) : w.captured(2));
        }
        text = words.join(QString());
    }
    text.replace(QRegularExpression(R"(\\f[BIRP])"), QString()).replace("\\-", "-");
    return collapsed(text);
}

// The entries (.TP, its tag, then its text) of a manual section, as they read.
static QList<QPair<QString, QString>> manualEntries(const QString& section) {
    const QString man = readSource("dist/qv840ctl.1.in");
    const qsizetype from = man.indexOf(".SH " + section);
    const QStringList lines = man.mid(from).split('\n');
    QList<QPair<QString, QString>> entries;
    for (qsizetype i = 1; i + 1 < lines.size() && !lines[i].startsWith(".SH"); ++i)
        if (lines[i] == ".TP")
            entries.append({plainTroff(lines[++i]), QString()});
        else if (!entries.isEmpty())
            entries.last().second += ' ' + plainTroff(lines[i]);
    return entries;
}

static QStringList manualTags(const QString& section) {
    QStringList tags;
    for (const auto& entry : manualEntries(section))
        tags << entry.first;
    return tags;
}

// "-p", "--port", ... in a text.
static QStringList optionNames(const QString& text) {
    QStringList names;
    const auto m = QRegularExpression(R"((?<![\w-])--?[a-z][a-z-]*)").globalMatch(text);
    for (auto it = m; it.hasNext();)
        names << it.next().captured(0);
    return names;
}

// What the completion offers for the words typed, the last being completed.
static QStringList complete(const QStringList& words) {
    QString script = QStringLiteral(
        "_init_completion() { words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD; "
        "cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; }\n"
        "_filedir() { COMPREPLY=(@FILES@); }\ncompopt() { :; }\n"
        "source \"$1\"\nshift\nCOMP_WORDS=(qv840ctl \"$@\")\nCOMP_CWORD=$#\n_qv840ctl\n"
        "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    QProcess bash;
    bash.start("bash",
               QStringList{"-c", script, "bash", kSource.filePath("dist/qv840ctl.bash")} + words);
    bash.waitForFinished(10000);
    return QString::fromUtf8(bash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

class TestCommandDocs : public QObject {
    Q_OBJECT
    QStringList names_, usages_;  // "scan", "scan [--units A-B] ..."
    QStringList options_;         // "-h", "--help", ...
    QStringList valueOptions_;    // "-p", "--port", ...
    QMap<QString, QString> said_; // what the help says of each option, by its last name

private slots:
    void initTestCase() {
        const CtlRun help = runCtl({"--help"});
        QCOMPARE(help.status, 0);
        const QStringList lines = help.out.split('\n');
        const qsizetype commands = lines.indexOf("Commands:");
        QVERIFY(commands > 0);
        for (qsizetype i = commands + 1; !lines[i].isEmpty(); ++i) {
            const QString& line = lines[i];
            if (line.startsWith("  ") && line.at(2).isLetter()) {
                // The help stands beside a short synopsis, from column 24.
                const bool beside = line.size() > 24 && line.mid(22, 2) == "  ";
                usages_ << collapsed(beside ? line.left(24) : line);
                names_ << usages_.last().section(' ', 0, 0);
            } else if (!line.startsWith(QString(24, ' '))) {
                usages_.last() += ' ' + collapsed(line); // a synopsis goes on
            }
        }
        QString option;
        for (const QString& line : lines.mid(lines.indexOf("Options:"))) {
            if (line.startsWith("  -")) {
                const QString names = line.section("  ", 1, 1);
                options_ << optionNames(names.section('<', 0, 0));
                if (names.contains('<'))
                    valueOptions_ << optionNames(names);
                option = options_.last();
            }
            if (!option.isEmpty() && line.size() > 2)
                said_[option] += ' ' + collapsed(line.mid(line.indexOf("   ")));
        }
        QVERIFY(names_.size() >= 10 && options_.contains("--timeout-ms"));
    }

    void manualCommands() { QCOMPARE(manualTags("COMMANDS"), usages_); }

    void manualOptions() {
        QStringList documented = optionNames(manualTags("OPTIONS").join(' '));
        documented.sort();
        QStringList given = options_;
        given.sort();
        QCOMPARE(documented, given);
    }

    // A range the help gives for an option (-a 1..31) is the manual's too.
    void manualRanges() {
        const QRegularExpression range(R"(\d+\.\.\d+)");
        for (const auto& [tag, text] : manualEntries("OPTIONS")) {
            const QStringList names = optionNames(tag);
            if (names.isEmpty() || !said_.contains(names.last()))
                continue;
            for (auto m = range.globalMatch(said_[names.last()]); m.hasNext();) {
                const QString r = m.next().captured(0);
                QVERIFY2(text.contains(r), qPrintable(tag + ": " + r + " not in: " + text));
            }
        }
    }

    void readmeCommands() {
        const QString readme = readSource("README.md");
        const qsizetype at = readme.indexOf("## qv840ctl");
        const QString block =
            collapsed(readme.mid(at, readme.indexOf("```", readme.indexOf("```", at) + 3) - at));
        for (const QString& usage : usages_)
            QVERIFY2(block.contains(
                         QRegularExpression("(^| )" + QRegularExpression::escape(usage) + "( |$)")),
                     qPrintable(usage));
    }

    void completion_data() {
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<QStringList>("offered"); // all of them, at least
        QTest::addColumn<bool>("commands");       // the commands are offered
        QTest::newRow("a command") << QStringList{""} << names_ << true;
        QTest::newRow("an option") << QStringList{"-"} << options_ << false;
        for (qsizetype i = 0; i < names_.size(); ++i)
            if (const QStringList own = optionNames(usages_[i]); !own.isEmpty())
                QTest::newRow(qPrintable(names_[i] + "'s options"))
                    << QStringList{"-p", "/dev/null", names_[i], "-"} << own << false;
        // An option's value is never taken for the command.
        for (const QString& o : valueOptions_) {
            QTest::newRow(qPrintable(o + " VALUE")) << QStringList{o, ""} << QStringList{} << false;
            QTest::newRow(qPrintable(o + " VALUE, then"))
                << QStringList{o, "1", ""} << names_ << true;
        }
        QTest::newRow("--echo's values")
            << QStringList{"--echo", ""} << QStringList{"auto", "on", "off"} << false;
        QTest::newRow("--direction's values")
            << QStringList{"--direction", ""} << QStringList{"rts", "adapter", "kernel"} << false;
    }
    void completion() {
        QFETCH(QStringList, typed);
        QFETCH(QStringList, offered);
        QFETCH(bool, commands);
        const QStringList got = complete(typed);
        for (const QString& word : offered)
            QVERIFY2(got.contains(word), qPrintable(word + " not in: " + got.join(' ')));
        QCOMPARE(got.contains("read-all"), commands);
    }
};

QTEST_GUILESS_MAIN(TestCommandDocs)
#include "test_command_docs.moc"
