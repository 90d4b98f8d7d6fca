// qv840ctl sheet FILE -o OUT.pdf: the printed sheet of a saved table. It draws
// text, so it runs under a QGuiApplication (on the offscreen platform: no
// display is needed), which main() chooses from the command table.

#include "sheet/Sheet.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "startup/ConfigFiles.h"
#include "startup/DataFolder.h"
#include "table/TableFiles.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <optional>

namespace {

const QString kUsage = QStringLiteral(
    "usage: qv840ctl [-p PORT] [-a UNIT] sheet FILE.sav|FILE.csv -o OUT.pdf [--paper a4|letter] "
    "[--site NAME]");

std::optional<QPageSize::PageSizeId> paperSize(const QCommandLineParser& p,
                                               const QCommandLineOption& paper) {
    if (!p.isSet(paper))
        return defaultSheetPaper();
    const QString name = p.value(paper).toLower();
    if (name == QLatin1String("a4"))
        return QPageSize::A4;
    if (name == QLatin1String("letter"))
        return QPageSize::Letter;
    fail(Exit::BadInput,
         QStringLiteral("--paper takes a4 or letter, not \"%1\"").arg(p.value(paper)));
    return std::nullopt;
}

// The table of a file over the defaults, recognised by what it holds:
// entries a short .sav does not hold, and empty CSV cells, are the defaults.
std::optional<int> readTable(const QString& in, const QString& folder, TextTable& messages) {
    TextTable defaults;
    if (auto err = readDefaults(folder, defaults))
        return fail(Exit::BadInput, err->text());
    messages = defaults;
    const TableFileOutcome r = loadTableFile(in, defaults, messages);
    if (!r.ok)
        return fail(Exit::BadInput, r.message);
    if (!r.message.isEmpty())
        printErr(QStringLiteral("qv840ctl: ") + r.message);
    return std::nullopt;
}

} // namespace

int runSheet(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The PDF to write."), QStringLiteral("OUT.pdf"));
    const QCommandLineOption paper(QStringLiteral("paper"), QStringLiteral("a4 or letter."),
                                   QStringLiteral("SIZE"));
    const QCommandLineOption site(QStringLiteral("site"),
                                  QStringLiteral("The site or boiler, under the title."),
                                  QStringLiteral("NAME"));
    parser.addOptions({output, paper, site});
    if (!parser.parse(QStringList{QStringLiteral("qv840ctl sheet")} + args))
        return fail(Exit::BadInput, parser.errorText() + QStringLiteral("; ") + kUsage);
    if (parser.positionalArguments().size() != 1 || !parser.isSet(output))
        return fail(Exit::BadInput, kUsage);
    const auto size = paperSize(parser, paper);
    if (!size)
        return Exit::BadInput;
    const QString out = parser.value(output);
    if (!out.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return fail(Exit::BadInput, QStringLiteral("the file name %1 must end in .pdf").arg(out));

    SheetInfo info;
    info.port = options.port;
    info.siteName = parser.value(site).trimmed();
    if (options.unitGiven)
        info.unitAddress = options.unit;
    const QString in = parser.positionalArguments().constFirst();
    const QString folder = options.configFolder.isEmpty() ? dataFolder() : options.configFolder;
    if (const auto status = readTable(in, folder, info.messages))
        return *status;
    info.fileName = QFileInfo(in).absoluteFilePath();
    info.when = QDateTime::currentDateTime();
    QString why;
    if (!writeSheetPdf(out, info, *size, &why))
        return fail(Exit::BadInput, QStringLiteral("cannot write %1: %2").arg(out, why));
    return Exit::Done;
}
