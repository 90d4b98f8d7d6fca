#include "cli/CommandTable.h"

#include "startup/MessageLayout.h"

namespace {

constexpr int kHelpColumn = 24; // where each command's help begins

// The help texts that name the unit's layout, from kUnitLayout.
struct LayoutHelps {
    QByteArray read =
        QStringLiteral("print the message stored in slot 0..%1").arg(kInterlockCount - 1).toUtf8();
    QByteArray write = QStringLiteral("write TEXT (1..%1 characters) into slot SLOT")
                           .arg(kMessageMaxLength)
                           .toUtf8();
    QByteArray readAll = QStringLiteral("read all %1 slots; print them, or save them to a file")
                             .arg(countInWords(kInterlockCount))
                             .toUtf8();
    QByteArray eraseAll =
        QStringLiteral("erase all %1 slots").arg(countInWords(kInterlockCount)).toUtf8();
};

const LayoutHelps& layoutHelps() {
    static const LayoutHelps helps;
    return helps;
}

using N = CommandNeeds;

// Every command, in the order the help lists them.
const CommandRow kCommands[] = {
    {"ports", "", "the serial ports the system knows, one per line", runPorts, N::Nothing},
    {"read", "SLOT", layoutHelps().read.constData(), runRead, N::Unit},
    {"write", "SLOT TEXT", layoutHelps().write.constData(), runWrite, N::Unit},
    {"erase", "SLOT", "erase slot SLOT", runErase, N::Unit},
    {"read-all", "[-o FILE.sav|FILE.csv]", layoutHelps().readAll.constData(), runReadAll,
     N::Unit},
    {"write-all", "FILE.sav|FILE.csv",
     "write every message of the file that differs from its default", runWriteAll, N::Unit},
    {"erase-all", "", layoutHelps().eraseAll.constData(), runEraseAll, N::Unit},
    {"verify", "FILE.sav|FILE.csv|DIR [--units A-B]",
     "read the unit and compare it with the file: one line\n"
     "per slot that differs; exit 0 when none does. A folder:\n"
     "each unit-NN.sav its index.csv lists as saved against\n"
     "unit NN (-a or --units: only those), one line per unit",
     runVerify, N::Unit},
    {"restore", "FILE.sav|FILE.csv|DIR [--units A-B]",
     "make the unit hold the file: write each slot that\n"
     "differs, erase each the file leaves at its default,\n"
     "read them back; exit 0 only when all match. A folder:\n"
     "each unit-NN.sav its index.csv lists as saved to unit\n"
     "NN (-a or --units: only those), one line per unit",
     runRestore, N::Unit},
    {"backup", "[--units A-B] DIR",
     "read units A to B (no --units: those a scan finds)\n"
     "into DIR/unit-NN.sav, one line per unit, listed in\n"
     "DIR/index.csv; exit 0 when every unit answered",
     runBackup, N::Unit},
    {"scan", "[--units A-B] [--speeds LIST] [--timeout-ms N] [--first] [-o FILE.csv]",
     "find the units on the line: one line per unit found,\n"
     "address, speed and first message, separated by tabs;\n"
     "-o saves them as a CSV table too",
     runScan, N::Unit},
    {"check", "[--units A-B] [--count N] [-o FILE.csv|FILE.json] [--report FILE]",
     "read each unit N times (20), listening to the idle line:\n"
     "one line of counters per unit, then one line per\n"
     "finding; exit 0 when nothing is found, 1 when it is",
     runCheck, N::Unit},
    {"history", "[--unit N] [--since DATE]",
     "print the record of every write and erase made to a\n"
     "unit, oldest first; --since takes 2024-05-01 or\n"
     "2024-05-01T14:30",
     runHistory, N::Nothing},
    {"simulate",
     "[--unit N | --units A-B] [--baud N] [--messages FILE.sav|DIR]\n"
     "[--link PATH] [--clear-slot] [--no-block-reads] [--never-answer]\n"
     "[--pause-ms N] [--late-ms N] [--garbage] [--echo]\n"
     "[--crc-errors PCT] [--reply-as N] [--twin] [--noise N]\n"
     "[--second-master] [--drop PCT] [--seed N]\n"
     "[--listen [HOST:]PORT [--rtu-over-tcp]]",
     "run a simulated unit, or with --units a line of them;\n"
     "prints its device path (or, with --listen, its network\n"
     "address), runs until interrupted",
     runSimulate, N::Nothing},
    {"sheet", "FILE.sav|FILE.csv -o OUT.pdf [--paper a4|letter] [--site NAME]",
     "draw the table's printed sheet as a PDF; -p and -a name\n"
     "the port and unit address on it, --site the site or boiler",
     runSheet, N::Painter},
};

} // namespace

const QVector<CommandRow>& commandTable() {
    static const QVector<CommandRow> rows(std::begin(kCommands), std::end(kCommands));
    return rows;
}

const CommandRow* findCommand(const QString& name) {
    for (const CommandRow& row : commandTable())
        if (name == QLatin1String(row.name))
            return &row;
    return nullptr;
}

// "  name synopsis" and the help beside it when the synopsis is one short
// line, else the help below it; continued synopsis lines start under the
// first argument.
QString commandsHelp() {
    QString text = QStringLiteral("Commands:\n");
    const QString helpIndent(kHelpColumn, QLatin1Char(' '));
    for (const CommandRow& row : commandTable()) {
        const QString name = QString::fromLatin1(row.name);
        const QStringList usage = QString::fromUtf8(row.synopsis).split(QLatin1Char('\n'));
        const QStringList help = QString::fromUtf8(row.help).split(QLatin1Char('\n'));
        QStringList lines;
        lines << QStringLiteral("  ") + name +
                     (usage.first().isEmpty() ? QString() : QLatin1Char(' ') + usage.first());
        for (qsizetype i = 1; i < usage.size(); ++i)
            lines << QString(3 + name.size(), QLatin1Char(' ')) + usage.at(i);
        qsizetype first = 0;
        if (usage.size() == 1 && lines.first().size() < kHelpColumn - 1)
            lines.first() = lines.first().leftJustified(kHelpColumn) + help.at(first++);
        for (qsizetype i = first; i < help.size(); ++i)
            lines << helpIndent + help.at(i);
        text += lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    return text;
}
