#ifndef TQ470_FLASHTOOL_H
#define TQ470_FLASHTOOL_H

#include "commandtable.h"

#include <QFile>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

// The command-line face of the service tool: one command a run, results on standard output,
// errors on standard error, an ExitStatus as the exit code. Finds the command in CommandTable,
// checks its options and arguments, chooses the device and runs the command's action.
class FlashTool
{
public:
    FlashTool();

    int run(const QStringList &arguments);

    // Reports bad usage with a pointer to the help (of command, when given).
    static int usage(QTextStream &err, const QString &message, const QString &command);

    // The actions of info, hexdump and help.
    static int info(const CommandTable::Context &context);
    static int hexdump(const CommandTable::Context &context);
    // The general help, or with an argument that command's.
    static int help(const CommandTable::Context &context);

private:
    int runCommand(const QStringList &arguments);
    // Checks the options and arguments (the whole line, and those after the command), then
    // chooses the device and runs the action.
    int runEntry(const CommandTable::Entry &entry, const QStringList &arguments,
                 const QStringList &args);
    static QString generalHelp();
    static QString commandHelp(const CommandTable::Entry &entry);
    static int unknownCommand(QTextStream &err, const QString &name);

    QFile humanOutput; // standard error, for the text under --json; outlives out
    QTextStream out;
    QTextStream err;
    bool json = false;  // --json: the report goes to standard output, the text to stderr
    QJsonObject report; // the --json document
};

#endif
