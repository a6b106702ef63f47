#ifndef TQ470_CONNECTFAILURE_H
#define TQ470_CONNECTFAILURE_H

#include <QString>

// Why the last device search found no usable device. For a device that refused access or is in
// use, the bus and device number name its node (/dev/bus/usb/BUS/DEVICE), as libusb spells them.
struct ConnectFailure
{
    enum class Reason {
        None,          // the last search found the device
        NotFound,      // no device with the vendor and product id on the bus
        AccessRefused, // such a device is attached, but this user may not open it
        InUse,         // such a device is attached, but another program holds it (EBUSY)
        NoAnswer,      // such a device is attached but gave no or the wrong identity answer
    };

    Reason reason = Reason::None;
    QString bus;
    QString device;

    bool accessRefused() const { return reason == Reason::AccessRefused; }
    bool inUse() const { return reason == Reason::InUse; }
};

#endif
