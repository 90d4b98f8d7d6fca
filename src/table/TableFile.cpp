#include "table/TableFile.h"

#include "startup/CodePage.h"
#include "startup/ItemReader.h"
#include "table/Interlocks.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace {

TableFileResult failure(const QString& message) {
    TableFileResult r;
    r.ok = false;
    r.message = message;
    return r;
}

} // namespace

TableFileResult saveTable(const QString& path, const TextTable& messages) {
    if (!path.endsWith(QLatin1String("sav")))
        return failure(QStringLiteral("Nothing was saved: the file name must end in .sav"));

    QByteArray data;
    QStringList cut; // interlocks whose message will not read back whole
    for (int i = 0; i < kInterlockCount; ++i) {
        const QString& text = messages[static_cast<size_t>(i)];
        const CodePage::Encoded e = CodePage::encode(text);
        if (!e.ok()) {
            return failure(QStringLiteral("Nothing was saved: the message of %1 holds %2, which "
                                          "Windows-1252 lacks.")
                               .arg(terminalCaption(i), CodePage::describe(e.badCharacter)));
        }
        if (e.bytes.contains('"') || e.bytes.contains('\r') || e.bytes.contains('\n'))
            cut << terminalCaption(i);
        data += '"' + e.bytes + "\"\r\n";
    }

    // The old file is replaced only once the new one is whole on disk. The
    // writes go straight to the file: a buffered write cut short (a full disk,
    // a size limit) can otherwise pass unnoticed and be committed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));
    for (qsizetype done = 0; done < data.size();) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0) {
            const QString why = file.errorString();
            file.cancelWriting();
            return failure(QStringLiteral("Cannot save %1: %2").arg(path, why));
        }
        done += n;
    }
    if (!file.commit())
        return failure(QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));

    TableFileResult r;
    r.written = true;
    if (!cut.isEmpty()) {
        r.message = QStringLiteral("Saved, but the messages of %1 hold a double quote or a line "
                                   "break: opening this file will cut them there.")
                        .arg(cut.join(QStringLiteral(", ")));
    }
    return r;
}

TableFileResult openTable(const QString& path, TextTable& messages) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
    // The whole file is read before any entry changes, so a read error leaves
    // the table as it was.
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));

    TableFileResult r;
    ItemReader reader(data);
    for (int i = 0; i < kInterlockCount; ++i) {
        const auto item = reader.next();
        if (!item)
            break;
        messages[static_cast<size_t>(i)] = CodePage::decode(*item);
        ++r.entriesRead;
    }
    if (r.entriesRead < kInterlockCount) {
        r.message = QStringLiteral("%1 holds %2 of the %3 messages; the others keep their texts.")
                        .arg(path)
                        .arg(r.entriesRead)
                        .arg(kInterlockCount);
    }
    return r;
}
