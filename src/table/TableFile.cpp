#include "table/TableFile.h"

#include "startup/CodePage.h"
#include "startup/Interlocks.h"
#include "startup/ItemReader.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"
#include "startup/UnitText.h"
#include "table/CsvTable.h"

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

// Windows-1252 bytes that the reader would take for UTF-8 (TextFile.h) are
// given as UTF-8 after its mark, which reads back as the same bytes.
QByteArray readableAsSaved(const QByteArray& codePageBytes) {
    QByteArray asRead = codePageBytes;
    if (!toCodePage(asRead) && asRead == codePageBytes)
        return codePageBytes;
    return "\xEF\xBB\xBF" + CodePage::decode(codePageBytes).toUtf8();
}

// The notes an opened table earns: a short or long file, messages too long
// or with a character no slot holds.
QStringList openingNotes(const QString& path, int entriesRead, bool more,
                         const QStringList& tooLong, const QStringList& unheld) {
    QStringList notes;
    if (entriesRead < kInterlockCount) {
        notes << QStringLiteral("%1 holds %2 of the %3 messages; the others keep their texts.")
                     .arg(path)
                     .arg(entriesRead)
                     .arg(kInterlockCount);
    }
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
    if (!unheld.isEmpty()) {
        notes << QStringLiteral("These messages cannot be written to the unit: %1.")
                     .arg(unheld.join(QStringLiteral("; ")));
    }
    return notes;
}

} // namespace

QByteArray savTableBytes(const TextTable& messages, QString* why) {
    QByteArray data;
    for (int i = 0; i < kInterlockCount; ++i) {
        // Control characters a unit already held, and quotes, are kept as \xHH.
        const QString text = MessageText::escapedWithQuotes(messages[static_cast<size_t>(i)]);
        const CodePage::Encoded e = CodePage::encode(text);
        if (!e.ok()) {
            if (why)
                *why = QStringLiteral("the message of %1 holds %2, which Windows-1252 lacks")
                           .arg(terminalCaption(i), CodePage::describe(e.badCharacter));
            return {};
        }
        data += '"' + e.bytes + "\"\r\n";
    }
    data = readableAsSaved(data);
    if (data.size() > kMaxTableFileBytes) {
        if (why)
            *why = QStringLiteral("the messages make %1 bytes, more than the %2 a message table "
                                  "can be")
                       .arg(data.size())
                       .arg(kMaxTableFileBytes);
        return {};
    }
    return data;
}

TableFileResult writeSavTable(const QString& path, const TextTable& messages) {
    QString why;
    const QByteArray data = savTableBytes(messages, &why);
    if (data.isEmpty())
        return failure(QStringLiteral("Nothing was saved: %1.").arg(why));
    if (const auto problem = writeWholeFile(path, data))
        return failure(
            QStringLiteral("Cannot save %1: %2. Nothing was saved.").arg(path, *problem));
    TableFileResult r;
    r.written = true;
    return r;
}

TableFileResult saveTable(const QString& path, const TextTable& messages) {
    if (!path.endsWith(QLatin1String("sav")))
        return failure(QStringLiteral("Nothing was saved: the file name must end in .sav"));
    return writeSavTable(path, messages);
}

TableFileResult parseSavTable(const QString& path, const QByteArray& bytes, TextTable& messages) {
    // The whole file is taken before any entry changes, so a bad file leaves
    // the table as it was.
    QByteArray data = bytes;
    if (const auto problem = toCheckedText(data))
        return failure(notATable(path, problem->text));
    if (csvSeparatorOf(CodePage::decode(data)))
        return failure(notATable(path, QStringLiteral("it is a CSV table (its first line is the "
                                                      "header row slot,terminal,group,message)")));
    TableFileResult r;
    QStringList tooLong, unheld;
    ItemReader reader(data);
    TextTable read = messages;
    for (; r.entriesRead < kInterlockCount; ++r.entriesRead) {
        const auto item = reader.next();
        if (!item)
            break;
        const int i = r.entriesRead;
        const QString text = MessageText::unescaped(CodePage::decode(*item));
        // A message no slot holds opens all the same, and is named.
        if (text.size() > kMessageMaxLength)
            tooLong << QStringLiteral("%1 (%2)").arg(terminalCaption(i)).arg(text.size());
        else if (const QString why = UnitText::holdProblem(text); !why.isEmpty())
            unheld << QStringLiteral("interlock %1: %2").arg(terminalCaption(i), why);
        read[static_cast<size_t>(i)] = text;
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
    r.message =
        openingNotes(path, r.entriesRead, more, tooLong, unheld).join(QStringLiteral("\r\n"));
    return r;
}

TableFileResult openTable(const QString& path, TextTable& messages) {
    QByteArray data;
    if (const auto problem = readBoundedFile(path, kMaxTableFileBytes, "a message table", data)) {
        if (problem->kind == FileProblem::Missing || problem->kind == FileProblem::Unreadable)
            return failure(QStringLiteral("Cannot open %1: %2").arg(path, problem->text));
        return failure(notATable(path, problem->text));
    }
    return parseSavTable(path, data, messages);
}
