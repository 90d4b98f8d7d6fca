#pragma once
// The commands of qv840ctl, one row each: the help, the dispatch, the choice
// of application and which options may follow a command all come from this
// table. A new command is its handler and one row in CommandTable.cpp; the
// manual's command list and the bash completion are checked against the help
// by tests/cli/test_command_docs.cpp.

#include "cli/Commands.h"

#include <QString>
#include <QStringList>

// What a command needs besides its arguments.
enum class CommandNeeds {
    Nothing,
    // It opens the port (-p) and talks to a unit, through withUnit()
    // (Session.h): the line options (--pause-ms, --retries, --echo,
    // --direction, --timeout-ms) may also follow it.
    Unit,
    // It draws text, so it runs under a GUI application on the offscreen
    // platform (no display needed).
    Painter,
};

using CommandHandler = int (*)(const GlobalOptions& options, const QStringList& args);

struct CommandRow {
    const char* name;     // as typed: "read-all"
    const char* synopsis; // its arguments as the help shows them; '\n' breaks the line
    const char* help;     // one line or a few, '\n' between them
    CommandHandler run;
    CommandNeeds needs;
};

// Every command, in the order the help lists them.
const QVector<CommandRow>& commandTable();
// The row of a command typed, or nothing.
const CommandRow* findCommand(const QString& name);
// The help's "Commands:" block, from the table.
QString commandsHelp();
