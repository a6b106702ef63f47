#ifndef TQ470_FLASHTOOL_H
#define TQ470_FLASHTOOL_H

#include <QFile>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

// The command-line face of the service tool: one command a run, results on standard output,
// errors on standard error, exit code 0 on success and 1 on failure (2 for bad usage).
class FlashTool
{
public:
    static constexpr int ExitSuccess = 0;
    static constexpr int ExitFailure = 1;
    static constexpr int ExitUsage = 2;

    FlashTool();

    int run(const QStringList &arguments);

    // Reports bad usage with a pointer to the help (of command, when given).
    static int usage(QTextStream &err, const QString &message, const QString &command);

    struct CommandEntry; // a command of the command table: name, arguments, options, summary

private:
    int runCommand(const QStringList &arguments);
    QString generalHelp();
    QString commandHelp(const CommandEntry &entry);
    int showHelp(const QString &text);
    int info(int accessRefusedExit, QJsonObject *jsonReport);
    int hexdump(const QString &fileName);

    int fail(const QString &message);

    QFile humanOutput; // standard error, for the text under --json; outlives out
    QTextStream out;
    QTextStream err;
    bool json = false;  // --json: the report goes to standard output, the text to stderr
    QJsonObject report; // the --json document
};

#endif
