#ifndef TQ470_CONNECTREPORT_H
#define TQ470_CONNECTREPORT_H

#include "connectfailure.h"

#include <QString>

class QTextStream;
class USBTQ470;

// What the command line says when no Tq470 could be used: that none answers, or, for a device
// this user may not open, which one it is and how to grant access.
class ConnectReport
{
public:
    // The packaged rule's place, and where a rule from the source tree goes.
    static constexpr char InstalledRule[] = "/usr/lib/udev/rules.d/60-tq470.rules";
    static constexpr char SourceRule[] = "packaging/60-tq470.rules";
    static constexpr char LocalRulesDirectory[] = "/etc/udev/rules.d/";

    // One or more lines without the program's name in front and without the last line break.
    static QString message(const ConnectFailure &failure);
    static QString notFound();
    static QString accessRefused(const ConnectFailure &failure);

    // Connects the device; when that fails, writes the message after the program's name to err.
    static bool connect(USBTQ470 &device, QTextStream &err);
};

#endif
