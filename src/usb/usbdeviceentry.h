#ifndef TQ470_USBDEVICEENTRY_H
#define TQ470_USBDEVICEENTRY_H

#include <QByteArray>
#include <QString>

// One attached device with the searched vendor and product id, as a listing shows it: its
// node (bus and device number as libusb spells them), the serial string descriptor as read
// (empty when it could not be read) and whether this user may open it.
struct UsbDeviceEntry
{
    QString bus;
    QString device;
    QByteArray serialDescriptor;
    bool accessRefused = false;
};

#endif
