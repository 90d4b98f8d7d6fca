#include "table/TableFile.h"

#include "startup/CodePage.h"
#include "startup/ItemReader.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"
#include "startup/Interlocks.h"

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

} // namespace

TableFileResult saveTable(const QString& path, const TextTable& messages) {
    if (!path.endsWith(QLatin1String("sav")))
        return failure(QStringLiteral("Nothing was saved: the file name must end in .sav"));
    QByteArray data;
    QStringList cut; // interlocks whose message will not read back whole
    for (int i = 0; i < kInterlockCount; ++i) {
        // Control characters a unit already held are kept as \xHH.
        const QString text = MessageText::escaped(messages[static_cast<size_t>(i)]);
        const CodePage::Encoded e = CodePage::encode(text);
        if (!e.ok()) {
            return failure(QStringLiteral("Nothing was saved: the message of %1 holds %2, which "
                                          "Windows-1252 lacks.")
                               .arg(terminalCaption(i), CodePage::describe(e.badCharacter)));
        }
        if (e.bytes.contains('"'))
            cut << terminalCaption(i);
        data += '"' + e.bytes + "\"\r\n";
    }

    if (data.size() > kMaxTableFileBytes) {
        return failure(QStringLiteral("Nothing was saved: the messages make %1 bytes, more than "
                                      "the %2 a message table can be.")
                           .arg(data.size())
                           .arg(kMaxTableFileBytes));
    }

    if (const auto why = writeWholeFile(path, data))
        return failure(QStringLiteral("Cannot save %1: %2. Nothing was saved.").arg(path, *why));

    TableFileResult r;
    r.written = true;
    if (!cut.isEmpty()) {
        r.message = (cut.size() == 1 ? QStringLiteral("Saved, but the message of %1 holds a "
                                                      "double quote: opening this file will cut "
                                                      "it there.")
                                     : QStringLiteral("Saved, but the messages of %1 hold a "
                                                      "double quote: opening this file will cut "
                                                      "them there."))
                        .arg(cut.join(QStringLiteral(", ")));
    }
    return r;
}

TableFileResult openTable(const QString& path, TextTable& messages) {
    // The whole file is read before any entry changes, so a read error leaves
    // the table as it was.
    QByteArray data;
    if (const auto problem = readTextFile(path, kMaxTableFileBytes, "a message table", data)) {
        if (problem->kind == FileProblem::Missing || problem->kind == FileProblem::Unreadable)
            return failure(QStringLiteral("Cannot open %1: %2").arg(path, problem->text));
        return failure(notATable(path, problem->text));
    }

    TableFileResult r;
    QStringList notes;
    QStringList tooLong;
    ItemReader reader(data);
    TextTable read = messages;
    for (int i = 0; i < kInterlockCount; ++i) {
        const auto item = reader.next();
        if (!item)
            break;
        const QString text = MessageText::unescaped(CodePage::decode(*item));
        if (text.size() > kMessageMaxLength)
            tooLong << QStringLiteral("%1 (%2)").arg(terminalCaption(i)).arg(text.size());
        read[static_cast<size_t>(i)] = text;
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
    if (reader.unterminatedLine() > 0) {
        return failure(notATable(path, QStringLiteral("the quote on line %1 is not closed on "
                                                      "that line")
                                           .arg(reader.unterminatedLine())));
    }
    messages = read;
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
