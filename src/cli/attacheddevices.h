#ifndef TQ470_ATTACHEDDEVICES_H
#define TQ470_ATTACHEDDEVICES_H

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

// The Tq470s on the bus: listed for the user, and the choice of the one a device command
// talks to.
class AttachedDevices
{
public:
    AttachedDevices(QTextStream &out, QTextStream &err);

    // Bus, device number, serial, mode and access of each; exit 0 also on an empty bus.
    // With jsonReport, the same as its "devices" array.
    int list(QJsonObject *jsonReport = nullptr);
    // The nine-digit serials in the order list() shows them; "-" for one that is unreadable.
    static QStringList serials();
    // Restricts this process's device searches to the Tq470 whose serial starts with digits.
    // Without digits and with several Tq470s attached, refuses and names their serials.
    // Returns -1 to go on, or the exit code.
    int choose(const QString &digits);

private:
    QTextStream &out;
    QTextStream &err;
};

#endif
