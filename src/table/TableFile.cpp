#include "table/TableFile.h"

#include "startup/CodePage.h"
#include "startup/ItemReader.h"
#include "table/Interlocks.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {

TableFileResult failure(const QString& message) {
    TableFileResult r;
    r.ok = false;
    r.message = message;
    return r;
}

QString notATable(const QString& path, const QString& why) {
    return QStringLiteral("%1 is not a message table: %2. No message was changed.").arg(path, why);
}

QString tooBig() {
    return QStringLiteral("it is larger than the %1 bytes a message table can be")
        .arg(kMaxTableFileBytes);
}

} // namespace

TableFileResult saveTable(const QString& path, const TextTable& messages) {
    if (!path.endsWith(QLatin1String("sav")))
        return failure(QStringLiteral("Nothing was saved: the file name must end in .sav"));
    // Checked first: the write would otherwise go as far as the final rename.
    if (QFileInfo(path).isDir())
        return failure(QStringLiteral("Cannot save %1: it is a folder.").arg(path));

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
        if (const qsizetype at = firstControlByte(e.bytes); at >= 0) {
            return failure(
                QStringLiteral("Nothing was saved: the message of %1 holds the control "
                               "character U+%2, which a message table cannot hold.")
                    .arg(terminalCaption(i))
                    .arg(static_cast<unsigned char>(e.bytes.at(at)), 4, 16, QLatin1Char('0')));
        }
        if (e.bytes.contains('"') || e.bytes.contains('\r') || e.bytes.contains('\n'))
            cut << terminalCaption(i);
        data += '"' + e.bytes + "\"\r\n";
    }

    if (data.size() > kMaxTableFileBytes) {
        return failure(QStringLiteral("Nothing was saved: the messages make %1 bytes, more than "
                                      "the %2 a message table can be.")
                           .arg(data.size())
                           .arg(kMaxTableFileBytes));
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
    if (QFileInfo(path).isDir())
        return failure(notATable(path, QStringLiteral("it is a folder")));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxTableFileBytes)
        return failure(notATable(path, tooBig()));
    // The whole file is read before any entry changes, so a read error leaves
    // the table as it was. Bounded again: a device can hold more than its size.
    const QByteArray data = file.read(kMaxTableFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failure(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    if (data.size() > kMaxTableFileBytes)
        return failure(notATable(path, tooBig()));
    if (const qsizetype at = firstControlByte(data); at >= 0) {
        return failure(notATable(
            path, QStringLiteral("line %1 holds the control byte 0x%2")
                      .arg(lineAt(data, at))
                      .arg(static_cast<unsigned char>(data.at(at)), 2, 16, QLatin1Char('0'))));
    }

    TableFileResult r;
    QStringList notes;
    QStringList tooLong;
    ItemReader reader(data);
    for (int i = 0; i < kInterlockCount; ++i) {
        const auto item = reader.next();
        if (!item)
            break;
        const QString text = CodePage::decode(*item);
        if (text.size() > kMessageMaxLength)
            tooLong << QStringLiteral("%1 (%2)").arg(terminalCaption(i)).arg(text.size());
        messages[static_cast<size_t>(i)] = text;
        ++r.entriesRead;
    }
    if (r.entriesRead < kInterlockCount) {
        notes << QStringLiteral("%1 holds %2 of the %3 messages; the others keep their texts.")
                     .arg(path)
                     .arg(r.entriesRead)
                     .arg(kInterlockCount);
    }
    // Blank lines or stray separators after the twentieth item are no message.
    bool more = false;
    while (const auto item = reader.next())
        more = more || !item->trimmed().isEmpty();
    if (more) {
        notes << QStringLiteral("%1 holds more than %2 messages; the first %2 were taken.")
                     .arg(path)
                     .arg(kInterlockCount);
    }
    if (!tooLong.isEmpty()) {
        notes << QStringLiteral("These messages are longer than the %1 characters the unit holds "
                                "and cannot be written to it: %2.")
                     .arg(kMessageMaxLength)
                     .arg(tooLong.join(QStringLiteral(", ")));
    }
    r.message = notes.join(QStringLiteral("\r\n"));
    return r;
}
