#ifndef TQ470_UDEVRULE_H
#define TQ470_UDEVRULE_H

#include <QString>
#include <QStringList>

// The udev rule that lets ordinary users open the Tq470: the user logged in at the desk
// (uaccess) and the members of the group plugdev, for stations without a seat (SSH, services,
// CI). Where it is installed decides what a user who was refused access is told.
class UdevRule
{
public:
    static constexpr char FileName[] = "60-tq470.rules";
    static constexpr char Group[] = "plugdev";
    // Where the package puts it, and where a rule from the source tree goes by hand.
    static constexpr char PackagedPath[] = "/usr/lib/udev/rules.d/60-tq470.rules";
    static constexpr char LocalRulesDirectory[] = "/etc/udev/rules.d/";
    static constexpr char SourcePath[] = "packaging/60-tq470.rules";

    // The directories udev reads rules from.
    static QStringList directories();
    // The installed rule in the first of directories that holds one; empty when none does.
    static QString installedPath(const QStringList &searched = directories());
};

#endif
