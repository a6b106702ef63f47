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
    // Restricts this process's device searches to the Tq470 whose serial starts with digits;
    // refuses when none such is attached, naming those that are. Without digits and with
    // several Tq470s attached, refuses and names their serials. With waitMs, first waits up to
    // that long for a (matching) Tq470 to be attached. Returns -1 to go on, or the exit code.
    int choose(const QString &digits, int waitMs = 0);

    // How often the bus is looked at while waiting for a device.
    static constexpr int PollIntervalMs = 200;

private:
    QTextStream &out;
    QTextStream &err;
};

#endif
