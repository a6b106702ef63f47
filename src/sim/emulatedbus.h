#ifndef TQ470_EMULATEDBUS_H
#define TQ470_EMULATEDBUS_H

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class SimulatedDevice;

// USB bus 001 emulated with umockdev: a root hub that stays for the bus's whole life, so that
// libusb never falls back to the real /dev/bus/usb, and simulated devices that come and go like
// real ones. A device that leaves and returns (request 0x04, an unplug fault, replug()) comes
// back under a new device number.
//
// The process that calls libusb must run under the preload libraries (ensurePreloaded(): the
// bus's control-transfer library ahead of umockdev's) and must create the bus before its first
// usb_init(), which fixes the usbfs path for good. One bus per process at a time: the testbed
// and the control socket live in $UMOCKDEV_DIR.
//
// Like usbfs, the bus keeps which open file (host handle) has claimed which interface of a device:
// selecting the configuration fails with EBUSY while any interface is claimed, claiming one that
// another file holds fails with EBUSY, releasing one this file does not hold with EINVAL, and
// closing the file (or the end of its process) releases its claims. Control transfers need no
// claim.
//
// Requests are answered on umockdev's handler thread, control transfers, configuration and
// claims on the control socket's connection threads (one host request at a time per handle,
// several devices at once); every member is safe to call from any other thread.
class EmulatedBus
{
public:
    using DeviceId = int;
    // Called on a connection thread, with the bus locked (so it must not call the bus), when a
    // device leaves the bus on its own (request 0x04, an unplug fault), before the host learns
    // of it.
    using DepartureListener = std::function<void(DeviceId id, SimulatedDevice &device)>;

    // A configuration or claim request refused with EBUSY: request is "SETCONFIGURATION" or
    // "CLAIMINTERFACE"; process and holder are host process ids.
    struct ClaimRefusal
    {
        QByteArray request;
        QByteArray node;
        qint64 process = 0;
        unsigned interfaceNumber = 0;
        qint64 holder = 0;
    };
    // Since the device was plugged in: how many distinct host processes selected its
    // configuration or claimed its interface, and what was refused.
    struct ClaimRecord
    {
        int processes = 0;
        QList<ClaimRefusal> refusals;
    };

    EmulatedBus();
    ~EmulatedBus();
    EmulatedBus(const EmulatedBus &) = delete;
    EmulatedBus &operator=(const EmulatedBus &) = delete;

    // Re-runs the current program under the preload libraries unless it already is; returns only
    // when it is.
    static void ensurePreloaded(int argc, char **argv);

    QString rootDirectory() const;

    DeviceId plug(const std::shared_ptr<SimulatedDevice> &device);
    std::shared_ptr<SimulatedDevice> device(DeviceId id) const;
    bool isPresent(DeviceId id) const;
    // The current device number (2 to 127), 0 while the device is off the bus.
    int deviceNumber(DeviceId id) const;
    // "/dev/bus/usb/001/NNN", empty while the device is off the bus.
    QString nodePath(DeviceId id) const;
    bool waitUntilPresent(DeviceId id, int timeoutMs) const;
    bool waitUntilAbsent(DeviceId id, int timeoutMs) const;

    // The device leaves the bus until replug(); a pending return is cancelled. Requests on
    // handles still open fail with ENODEV.
    void unplug(DeviceId id);
    void replug(DeviceId id);
    // Unplugs and forgets every device.
    void unplugAll();

    void setDepartureListener(DepartureListener listener);
    ClaimRecord claimRecord(DeviceId id) const;

private:
    struct Private;
    std::shared_ptr<Private> d;
};

#endif
