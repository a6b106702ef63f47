#ifndef TQ470_ATTACHEDDEVICES_H
#define TQ470_ATTACHEDDEVICES_H

#include "usbdeviceentry.h"

#include <QJsonObject>
#include <QList>
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
    // Every attached Tq470 in the order of their nodes, each serial read up to three times
    // while it comes garbled; an unreadable one has an empty descriptor.
    static QList<UsbDeviceEntry> tq470s();
    // The nine digits without the mode letter; "-" when the serial could not be read.
    static QString shownSerial(const UsbDeviceEntry &entry);

    // Restricts this process's device searches to the Tq470 with this serial (nine digits,
    // the mode letter optional), or to the one attached Tq470 whose serial starts with
    // shorter digits; the whole serial chosen holds across the reset into the bootloader.
    // Without a serial, several attached Tq470s are refused. With waitMs, first waits up to
    // that long for a (matching) Tq470 to be attached, saying so. Returns -1 to go on, or
    // the exit code: ExitStatus::Usage, NotFound, or Ambiguous (naming the serials).
    int choose(const QString &serial, int waitMs = 0);
    // Waits up to waitMs for at least one Tq470, saying so; false when none came.
    bool waitForAny(int waitMs);

    // How often the bus is looked at while waiting for a device.
    static constexpr int PollIntervalMs = 200;

private:
    // Polls until accepts() holds for the attached Tq470s or waitMs has passed; says once that
    // it waits, naming what for. Returns the last look at the bus.
    template <typename Accept>
    QList<UsbDeviceEntry> waitFor(int waitMs, const QString &what, Accept accepts);
    int refuse(int code, const QString &message);

    QTextStream &out;
    QTextStream &err;
};

#endif
