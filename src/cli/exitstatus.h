#ifndef TQ470_EXITSTATUS_H
#define TQ470_EXITSTATUS_H

#include <QString>

class QTextStream;

// The exit codes of tq470-flash: one per class of outcome that a production script must tell
// apart, the same for every command. Every --json document names its class as "reason".
class ExitStatus
{
public:
    enum Code : int {
        Done = 0,
        // The device or the operation failed: a write, a verify, the start, a service command.
        Failed = 1,
        Usage = 2,
        // No Tq470 attached, none matching --serial, or gone before the command could start.
        NotFound = 3,
        AccessRefused = 4,
        // Several Tq470s attached and none chosen, or a --serial prefix that names several.
        Ambiguous = 5,
        // An input file that cannot be read or is not valid, found before any device traffic.
        BadInput = 6,
        // Ctrl-C or SIGTERM: the shell's code for a command ended by SIGINT.
        Interrupted = 130,
    };

    // "done", "failed", "usage", "not-found", "access-refused", "ambiguous", "bad-input",
    // "interrupted"; "failed" for a code outside the table.
    static QString reason(int code);
    // The table as the help and the man page show it: one line per code.
    static QString table();

    // Writes the message after the program's name as a line of err and returns code.
    static int report(QTextStream &err, int code, const QString &message);
    // The last message report() wrote in this process, for a --json document's "message".
    static QString lastMessage();

private:
    static inline QString lastReported;
};

#endif
