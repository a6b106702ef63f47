#ifndef TQ470_CONNECTREPORT_H
#define TQ470_CONNECTREPORT_H

#include "connectfailure.h"
#include "udevrule.h"

#include <QString>

class QTextStream;
class USBTQ470;

// What the command line says when no Tq470 could be used: that none answers, that another
// program holds it, or, for a device this user may not open, which one it is and how to be let
// in; and the exit code of each.
class ConnectReport
{
public:
    // One or more lines without the program's name in front and without the last line break.
    static QString message(const ConnectFailure &failure);
    static QString notFound();
    static QString inUse(const ConnectFailure &failure);
    // installedRule: the udev rule in place, empty when there is none.
    static QString accessRefused(const ConnectFailure &failure,
                                 const QString &installedRule = UdevRule::installedPath());
    // The first line of accessRefused, naming the device, and the rest: how to be let in.
    static QString refusedDevice(const ConnectFailure &failure);
    static QString waysIn(const QString &installedRule = UdevRule::installedPath());
    // ExitStatus::AccessRefused, Failed for a device another program holds, else NotFound: a
    // device that does not answer is no Tq470 found.
    static int exitCode(const ConnectFailure &failure);

    // Connects the device: ExitStatus::Done, or the exit code after the message (after the
    // program's name) went to err.
    static int connect(USBTQ470 &device, QTextStream &err);
};

#endif
