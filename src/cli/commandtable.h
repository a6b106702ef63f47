#ifndef TQ470_COMMANDTABLE_H
#define TQ470_COMMANDTABLE_H

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstddef>

// The commands of tq470-flash, each listed once with its name, arguments, options, summary and
// action. Finding a command, checking its options and arguments, the general help, a command's
// help and the dispatch all read this table, in its order; a new command is a new entry.
// Beside it, the lines and texts several commands share.
class CommandTable
{
public:
    static constexpr char HelpCommand[] = "help";

    // The options a command takes beside the general ones (help, version, debug).
    enum Options : unsigned {
        NoOptions = 0,
        // Talks to one Tq470: --serial DIGITS and --wait choose it before the action runs.
        DeviceChoice = 1u << 0,
        FillOption = 1u << 1,             // --fill BYTE
        ProductionSerialOption = 1u << 2, // --serial YYMMDDNNN
        JsonOption = 1u << 3,             // --json
        // --all: every attached Tq470, so none is chosen and --serial is refused.
        AllDevicesOption = 1u << 4,
        // --reset-timeout: the command resets the device into its bootloader.
        ResetOption = 1u << 5,
        // --allow-empty: write a converted window even when the HEX file gave it no data.
        AllowEmptyOption = 1u << 6,
    };

    // What an action gets: its arguments, its options' values, and where to write.
    struct Context
    {
        Context(QTextStream &out, QTextStream &err) : out(out), err(err) {}

        QTextStream &out; // standard error under --json
        QTextStream &err;
        QString command;           // the name run, for the action's usage lines
        QStringList arguments;     // after the command, as many as the entry names
        QString serial;            // --serial as given; null when not given
        QString fill;              // --fill as given; null when not given
        int waitMs = 0;            // --wait in milliseconds; 0 when not given
        int resetDeadlineMs = 0;   // --reset-timeout in milliseconds; 0 when not given
        bool allDevices = false;   // --all
        bool allowEmpty = false;   // --allow-empty
        // --debug and --reset-timeout as given, for the tq470-flash processes a command starts.
        QStringList passedOn;
        QString recordFile;                // --record as given; null when not given
        QJsonObject *jsonReport = nullptr; // --json's document; null without --json
    };

    // Returns the exit code.
    using Action = int (*)(const Context &context);

    // Every field is required: an entry without its action does not compile.
    class Entry
    {
    public:
        constexpr Entry(const char *name, const char *arguments, unsigned options,
                        const char *summary, Action action)
            : name(name), arguments(arguments), options(options), summary(summary), action(action)
        {
        }
        Entry(const char *, const char *, unsigned, const char *, std::nullptr_t) = delete;

        const char *const name;
        const char *const arguments; // as the help shows them, one word each
        const unsigned options;
        const char *const summary; // one sentence for the general help
        const Action action;
    };

    class Entries
    {
    public:
        const Entry *begin() const { return first; }
        const Entry *end() const { return last; }

    private:
        friend class CommandTable;
        constexpr Entries(const Entry *first, const Entry *last) : first(first), last(last) {}
        const Entry *first;
        const Entry *last;
    };

    static Entries entries();
    // nullptr for a name no entry has.
    static const Entry *find(const QString &name);

    // "tq470-flash: MESSAGE" on err.
    static void warn(QTextStream &err, const QString &message);
    // "cannot open FILE: REASON".
    static QString cannotOpen(const QString &fileName, const QString &reason);
    // cannotOpen into *error when fileName cannot be opened for reading. A pipe or FIFO is not
    // opened, so that its contents are left whole for the one read that follows.
    static bool checkReadable(const QString &fileName, QString *error);

private:
    static const Entry commands[];
};

#endif
