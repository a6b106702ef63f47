#include "applicationstart.h"

#include "bootloaderprotocol.h"
#include "debuglog.h"
#include "deviceidentity.h"
#include "usbdevice.h"
#include "usbtq470.h"

#include <QDebug>
#include <QElapsedTimer>

using namespace Bootloader;

ApplicationStart::ApplicationStart(USBTQ470 &usb, const QByteArray &serialDigits,
                                   const Waits &waits)
    : usb(usb), applicationSerial(serialDigits.left(SerialDigits)),
      bootloaderSerial(applicationSerial + BootloaderSerialMarker), waits(waits)
{
}

// The bootloader acknowledges request 0x04 before it jumps to the application; the pause lets
// it leave the bus before the handle is closed.
bool ApplicationStart::start(const std::function<void()> &announceWait)
{
    bool started = usb.RunApplication();
    if (!started) {
        qCDebug(tq470Debug, "start not acknowledged");
        if (announceWait)
            announceWait();
        started = confirm();
    }
    if (started)
        usb.sleepUnlessStopped(waits.leaveBusMs);
    usb.disconnect();
    return started;
}

// Looks at the bus for the device under its serial: back in its application, the start is
// done; still in its bootloader, the start is sent again.
bool ApplicationStart::confirm()
{
    QElapsedTimer elapsed;
    elapsed.start();
    for (int resends = 0;;) {
        bool inBootloader = false;
        for (const UsbDeviceEntry &entry :
             UsbDevice::attached(VendorId, ProductId, quint8(SerialStringIndex))) {
            const QByteArray serial = DeviceIdentity::serialFromDescriptor(entry.serialDescriptor);
            if (serial == applicationSerial)
                return true;
            inBootloader = inBootloader || serial == bootloaderSerial;
        }
        if (inBootloader) {
            if (resends++ == Resends)
                return false;
            qCDebug(tq470Debug, "still in the bootloader: start sent again");
            if (usb.RunApplication())
                return true;
        }
        if (elapsed.elapsed() + waits.pollMs > waits.confirmMs)
            return false;
        if (!usb.sleepUnlessStopped(waits.pollMs))
            return false;
    }
}
