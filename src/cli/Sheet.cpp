#include "cli/Sheet.h"

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "sheet/Sheet.h"
#include "startup/ConfigFiles.h"
#include "startup/DataFolder.h"
#include "table/CsvTable.h"
#include "table/TableFile.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstring>

bool isSheetCommand(int argc, char* argv[]) {
    static const char* const withValue[] = {"-p", "--port", "-b",      "--baud",
                                            "-a", "--unit", "--config"};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            return i + 1 < argc && std::strcmp(argv[i + 1], "sheet") == 0;
        bool takesValue = false;
        for (const char* option : withValue)
            takesValue = takesValue || std::strcmp(arg, option) == 0;
        if (takesValue)
            ++i;
        else if (arg[0] != '-')
            return std::strcmp(arg, "sheet") == 0;
    }
    return false;
}

int runSheet(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qv840ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QV_VERSION));

    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The PDF to write."), QStringLiteral("OUT.pdf"));
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("Port named on the sheet."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption unit({QStringLiteral("a"), QStringLiteral("unit")},
                                  QStringLiteral("Unit address named on the sheet."),
                                  QStringLiteral("UNIT"));
    const QCommandLineOption config(
        QStringLiteral("config"), QStringLiteral("Folder of Defaults.txt."), QStringLiteral("DIR"));
    const QCommandLineOption paper(QStringLiteral("paper"), QStringLiteral("a4 or letter."),
                                   QStringLiteral("SIZE"));
    parser.addOptions({output, port, unit, config, paper});
    const QString usage =
        QStringLiteral("usage: qv840ctl [-p PORT] [-a UNIT] sheet FILE.sav|FILE.csv -o OUT.pdf "
                       "[--paper a4|letter]");
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(Exit::BadInput, parser.errorText() + QStringLiteral("; ") + usage);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2 || !parser.isSet(output))
        return fail(Exit::BadInput, usage);

    SheetInfo info;
    info.port = parser.value(port);
    if (parser.isSet(unit)) {
        bool ok = false;
        info.unitAddress = parser.value(unit).toInt(&ok);
        if (!ok || info.unitAddress < 0 || info.unitAddress > 31)
            return fail(Exit::BadInput,
                        QStringLiteral("-a takes a unit address from 0 to 31, not \"%1\"")
                            .arg(parser.value(unit)));
    }
    QPageSize::PageSizeId size = defaultSheetPaper();
    if (parser.isSet(paper)) {
        const QString p = parser.value(paper).toLower();
        if (p != QLatin1String("a4") && p != QLatin1String("letter"))
            return fail(
                Exit::BadInput,
                QStringLiteral("--paper takes a4 or letter, not \"%1\"").arg(parser.value(paper)));
        size = p == QLatin1String("a4") ? QPageSize::A4 : QPageSize::Letter;
    }
    const QString out = parser.value(output);
    if (!out.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return fail(Exit::BadInput, QStringLiteral("the file name %1 must end in .pdf").arg(out));

    // Entries a short .sav does not hold, and empty CSV cells, are the defaults.
    const QString folder = parser.isSet(config) ? parser.value(config) : dataFolder();
    TextTable defaults;
    if (auto err = readDefaults(folder, defaults))
        return fail(Exit::BadInput, err->text());
    const QString in = args.at(1);
    info.messages = defaults;
    if (isCsvName(in)) {
        const CsvResult r = readCsvTable(in, defaults, info.messages);
        if (!r.ok)
            return fail(Exit::BadInput, r.message);
    } else if (in.endsWith(QLatin1String("sav"))) {
        const TableFileResult r = openTable(in, info.messages);
        if (!r.ok)
            return fail(Exit::BadInput, r.message);
        if (!r.message.isEmpty())
            printErr(QStringLiteral("qv840ctl: ") + r.message);
    } else {
        return fail(Exit::BadInput,
                    QStringLiteral("%1: a message table ends in .sav or .csv").arg(in));
    }
    info.fileName = QFileInfo(in).absoluteFilePath();
    info.when = QDateTime::currentDateTime();
    QString why;
    if (!writeSheetPdf(out, info, size, &why))
        return fail(Exit::BadInput, QStringLiteral("cannot write %1: %2").arg(out, why));
    return Exit::Done;
}
