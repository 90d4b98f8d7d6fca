// The commands that talk to the unit slot by slot or all at once: read,
// write, erase, read-all, write-all, erase-all; and ports.

#include "cli/Commands.h"

#include "cli/Session.h"
#include "connect/PortSources.h"
#include "modbus/Pdu.h"
#include "startup/ConfigFiles.h"
#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "startup/UnitText.h"
#include "table/BulkOperations.h"
#include "table/Editor.h"
#include "table/TableFiles.h"
#include "transport/PortTexts.h"
#include "transport/UnitRun.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <optional>

namespace {

// Parses a command's own arguments; "--" ends the options, so a TEXT may
// begin with a dash. Gives the positional arguments, or nothing after
// printing what was wrong.
std::optional<QStringList> commandArguments(QCommandLineParser& parser, const QString& command,
                                            const QStringList& args, int count,
                                            const QString& usage) {
    if (!parser.parse(QStringList{QStringLiteral("qv840ctl ") + command} + args)) {
        fail(Exit::BadInput, parser.errorText());
        return std::nullopt;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != count) {
        fail(Exit::BadInput, QStringLiteral("usage: qv840ctl [options] %1 %2").arg(command, usage));
        return std::nullopt;
    }
    return positional;
}

std::optional<int> slotNumber(const QString& text) {
    bool ok = false;
    const int k = text.toInt(&ok);
    if (!ok || k < 0 || k >= kInterlockCount) {
        fail(Exit::BadInput,
             QStringLiteral("slot \"%1\" is %2: give a slot from 0 to %3")
                 .arg(text, ok ? QStringLiteral("out of range") : QStringLiteral("not a number"))
                 .arg(kInterlockCount - 1));
        return std::nullopt;
    }
    return k;
}

// The arguments of read, write and erase: the slot first, then as many more
// as the usage names; nothing after saying what is wrong.
std::optional<QStringList> slotArguments(const QString& command, const QStringList& args,
                                         const QString& usage, int& slot) {
    // A negative slot is a number out of range, not an option.
    if (!args.isEmpty() &&
        QRegularExpression(QStringLiteral("^-\\d+$")).match(args.first()).hasMatch()) {
        slotNumber(args.first());
        return std::nullopt;
    }
    QCommandLineParser parser;
    const auto positional =
        commandArguments(parser, command, args, int(usage.count(QLatin1Char(' '))) + 1, usage);
    if (!positional)
        return std::nullopt;
    const auto k = slotNumber(positional->at(0));
    if (!k)
        return std::nullopt;
    slot = *k;
    return positional;
}

int editorStatus(Editor::Outcome outcome) {
    switch (outcome) {
    case Editor::Outcome::Delivered:
        return Exit::Done;
    case Editor::Outcome::NotDelivered:
    case Editor::Outcome::NotVerified:
        return Exit::NoAnswer;
    case Editor::Outcome::LengthError:
    case Editor::Outcome::BadCharacter:
        return Exit::BadInput;
    case Editor::Outcome::Refused:
    case Editor::Outcome::PortFailed:
        break;
    }
    return Exit::PortProblem;
}

int readSlot(Session& s, int k) {
    RunStop stop(s.transport());
    UnitRun run(s.transport(), stop, s.connection.unitAddress);
    const Transaction t = run.exchange(Pdu::readMessage(messageRegister(k)));
    if (!t.ok())
        return fail(Exit::PortProblem,
                    PortTexts::failed(s.portName(), t.error).replace("\r\n", " "));
    const ReplyCheck check = t.check;
    if (check.verdict == ReplyCheck::Verdict::Silent)
        return fail(Exit::NoAnswer,
                    QStringLiteral("the unit (address %1) did not answer on %2%3")
                        .arg(s.connection.unitAddress)
                        .arg(s.portName(),
                             check.noEcho ? QStringLiteral(": the line did not echo") : QString()));
    if (!check.confirmed())
        return fail(Exit::NoAnswer, QStringLiteral("the reply of the unit (address %1) on %2 could "
                                                   "not be used: %3")
                                        .arg(s.connection.unitAddress)
                                        .arg(s.portName(), check.reason()));
    // An empty slot is an empty line; control characters never reach the terminal raw.
    printOut(MessageText::escaped(Pdu::decodeReadReply(t.replyPdu).text));
    return Exit::Done;
}

int editSlot(Session& s, int k, const std::optional<QString>& text) {
    Editor editor(s.messages, s.transport(), s.notices, kTerminalPolicy);
    editor.select(k);
    editor.setControlCharactersKept(true); // checkText refused any typed as they are
    editor.setVerifyWrites(s.connection.line.verify);
    editor.setChangeRecord(&s.history);
    const int unit = s.connection.unitAddress;
    TerminalEditorView view(text.value_or(QString()));
    return editorStatus(text ? editor.write(view, unit) : editor.erase(view, unit));
}

int readAll(Session& s, const QString& outFile) {
    BulkOperations ops(s.messages, s.transport(), nullptr, s.notices, kTerminalPolicy);
    ops.setBlockReads(s.connection.line.blockReads);
    const StopOnSignal stop(s.signalWatch, [&ops] { ops.requestStop(); });
    const BulkResult r = ops.readAll(s.connection.unitAddress);
    if (const int status = bulkStatus(r); status != Exit::Done || SignalWatch::first())
        return status; // a silent, rejected or stopped slot: nothing is printed or saved
    if (!outFile.isEmpty()) {
        const TableFileOutcome saved = saveTableFile(outFile, s.messages.texts());
        if (!saved.ok)
            return fail(Exit::BadInput, saved.message);
        if (!saved.message.isEmpty())
            printErr(QStringLiteral("qv840ctl: ") + saved.message);
        return Exit::Done;
    }
    for (int k = 0; k < kInterlockCount; ++k)
        printOut(QStringLiteral("%1\t%2\t%3")
                     .arg(k)
                     .arg(terminalCaption(k), MessageText::escaped(s.messages.text(k))));
    return Exit::Done;
}

// The table write-all sends, from a .sav or .csv file; a status when it cannot go.
std::optional<int> loadWriteAllTable(Session& session, const QString& file) {
    MessageTable& table = session.messages;
    TextTable texts = table.texts();
    const auto status = loadTableArgument(file, table.defaults(), texts);
    table.setTexts(texts);
    if (status)
        return status;
    QVector<int> heldBack;
    const QStringList problems = writeAllProblems(table, heldBack);
    if (!problems.isEmpty())
        return fail(Exit::BadInput,
                    QStringLiteral("nothing was written; these messages cannot go to the unit: ") +
                        problems.join(QStringLiteral("; ")));
    return std::nullopt;
}

// A text write refuses before the port is touched, so nothing is sent. A
// control character or 'ÿ' typed as it is, is refused; one written \xHH (as
// read prints a unit's own) goes as it is, so that a text read is written
// back the same.
std::optional<int> checkText(int slot, const QString& typed) {
    bool onTyped = false;
    const UnitText::Verdict v = UnitText::judgeEscaped(typed, &onTyped);
    const QString why = onTyped || v.fault == UnitText::Fault::Empty
                            ? sendProblem(v)
                            : UnitText::holdProblem(MessageText::unescaped(typed));
    if (why.isEmpty())
        return std::nullopt;
    return fail(Exit::BadInput,
                QStringLiteral("cannot write slot %1: %2; a message holds "
                               "1 to %3 printable Windows-1252 characters")
                    .arg(QString::number(slot), why, QString::number(kMessageMaxLength)));
}

// Write all says what it did when it ran to its end: "3 written, 17 unchanged".
int bulk(Session& session, bool write) {
    BulkOperations ops(session.messages, session.transport(), nullptr, session.notices,
                       kTerminalPolicy);
    ops.setVerifyWrites(session.connection.line.verify);
    ops.setChangeRecord(&session.history);
    const StopOnSignal stop(session.signalWatch, [&ops] { ops.requestStop(); });
    const int unit = session.connection.unitAddress;
    const BulkResult r = write ? ops.writeAll(unit) : ops.eraseAll(unit);
    if (write && r.outcome == BulkResult::Outcome::Completed)
        printOut(writeAllSummary(r));
    return bulkStatus(r);
}

} // namespace

int fail(int status, const QString& text) {
    printErr(QStringLiteral("qv840ctl: ") + text);
    return status;
}

// The operator has already been told what went wrong.
int bulkStatus(const BulkResult& r) {
    switch (r.outcome) {
    case BulkResult::Outcome::PortFailed:
        return Exit::PortProblem;
    case BulkResult::Outcome::Refused: // the unit refusing block reads is its answer
        return !r.invalid.isEmpty()  ? Exit::BadInput
               : r.blockReadsRefused ? Exit::NoAnswer
                                     : Exit::PortProblem;
    case BulkResult::Outcome::Stopped:
        return Exit::NoAnswer; // the caller exits with the signal's status
    case BulkResult::Outcome::Completed:
    case BulkResult::Outcome::Cancelled:
        break;
    }
    // A slot whose read-back differs is a failure like one that did not answer.
    return r.silent.isEmpty() && r.rejected.isEmpty() && r.mismatched.isEmpty() ? Exit::Done
                                                                                : Exit::NoAnswer;
}

std::optional<int> loadTableArgument(const QString& file, const TextTable& defaults,
                                     TextTable& messages) {
    const TableFileOutcome opened = loadTableFile(file, defaults, messages);
    if (!opened.ok)
        return fail(Exit::BadInput, opened.message);
    if (!opened.message.isEmpty())
        printErr(QStringLiteral("qv840ctl: ") + opened.message);
    return std::nullopt;
}

int runPorts(const GlobalOptions&, const QStringList& args) {
    if (!args.isEmpty())
        return fail(Exit::BadInput, QStringLiteral("usage: qv840ctl ports"));
    for (const QString& name : systemPortNames())
        printOut(name);
    return Exit::Done;
}

int runRead(const GlobalOptions& options, const QStringList& args) {
    int slot = 0;
    if (!slotArguments(QStringLiteral("read"), args, QStringLiteral("SLOT"), slot))
        return Exit::BadInput;
    return withUnit(options, QStringLiteral("read"), {},
                    [slot](Session& s) { return readSlot(s, slot); });
}

int runWrite(const GlobalOptions& options, const QStringList& args) {
    int slot = 0;
    const auto a = slotArguments(QStringLiteral("write"), args, QStringLiteral("SLOT TEXT"), slot);
    if (!a)
        return Exit::BadInput;
    const QString typed = a->at(1);
    const QString text = MessageText::unescaped(typed);
    return withUnit(
        options, QStringLiteral("write"),
        [slot, typed](Session&) { return checkText(slot, typed); },
        [slot, text](Session& s) { return editSlot(s, slot, text); });
}

int runErase(const GlobalOptions& options, const QStringList& args) {
    int slot = 0;
    if (!slotArguments(QStringLiteral("erase"), args, QStringLiteral("SLOT"), slot))
        return Exit::BadInput;
    return withUnit(options, QStringLiteral("erase"), {},
                    [slot](Session& s) { return editSlot(s, slot, std::nullopt); });
}

int runReadAll(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Save the table to FILE.sav."),
                                    QStringLiteral("FILE.sav"));
    parser.addOption(output);
    const QString name = QStringLiteral("read-all");
    if (!commandArguments(parser, name, args, 0, QStringLiteral("[-o FILE.sav]")))
        return Exit::BadInput;
    const QString file = parser.value(output);
    // Refused before the port is touched, so a slow read-all is not thrown away at the end.
    return withUnit(
        options, name,
        [file](Session&) -> std::optional<int> {
            if (const auto why = file.isEmpty() ? std::nullopt : tableSaveTargetProblem(file))
                return fail(Exit::BadInput, *why);
            return std::nullopt;
        },
        [file](Session& s) { return readAll(s, file); });
}

int runWriteAll(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser parser;
    const QString name = QStringLiteral("write-all");
    const auto positional = commandArguments(parser, name, args, 1, QStringLiteral("FILE.sav"));
    if (!positional)
        return Exit::BadInput;
    const QString file = positional->at(0);
    return withUnit(
        options, name, [file](Session& s) { return loadWriteAllTable(s, file); },
        [](Session& s) { return bulk(s, true); });
}

int runEraseAll(const GlobalOptions& options, const QStringList& args) {
    QCommandLineParser parser;
    const QString name = QStringLiteral("erase-all");
    if (!commandArguments(parser, name, args, 0, QString()))
        return Exit::BadInput;
    return withUnit(options, name, {}, [](Session& s) { return bulk(s, false); });
}
