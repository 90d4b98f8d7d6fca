#include "cli/CheckOutput.h"

#include "cli/Commands.h"

#include "startup/TextFile.h"

#include <QFileInfo>

namespace {

bool endsIn(const QString& path, const char* suffix) {
    return QFileInfo(path).suffix().compare(QLatin1String(suffix), Qt::CaseInsensitive) == 0;
}

std::optional<int> writable(const QString& path) {
    const QFileInfo file(path);
    if (!QFileInfo(file.absolutePath()).isWritable())
        return fail(Exit::BadInput, QStringLiteral("cannot save into %1: no such folder, or not "
                                                   "writable")
                                        .arg(file.absolutePath()));
    if ((file.exists() && !file.isFile()) || (file.isSymLink() && !file.exists()))
        return fail(Exit::BadInput,
                    QStringLiteral("cannot save to %1: it is not a regular file").arg(path));
    return std::nullopt;
}

std::optional<int> save(const QString& path, const QByteArray& data) {
    if (const auto why = writeWholeFile(path, data))
        return fail(Exit::OutputFailed, QStringLiteral("cannot save %1: %2").arg(path, *why));
    return std::nullopt;
}

} // namespace

std::optional<int> checkFileTargets(const CheckFiles& files) {
    if (!files.output.isEmpty()) {
        if (!endsIn(files.output, "csv") && !endsIn(files.output, "json"))
            return fail(Exit::BadInput,
                        QStringLiteral("-o takes FILE.csv or FILE.json, not %1").arg(files.output));
        if (const auto status = writable(files.output))
            return status;
    }
    if (!files.report.isEmpty())
        return writable(files.report);
    return std::nullopt;
}

std::optional<int> saveCheckFiles(const CheckFiles& files, const CheckResult& r,
                                  const ReportContext& context) {
    if (!files.output.isEmpty())
        if (const auto status =
                save(files.output, endsIn(files.output, "csv") ? checkCsv(r) : checkJson(r)))
            return status;
    if (!files.report.isEmpty())
        return save(files.report, checkReport(r, context));
    return std::nullopt;
}
