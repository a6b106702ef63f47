#ifndef TQ470_USBDEVICE_H
#define TQ470_USBDEVICE_H

#include "connectfailure.h"
#include "usbdeviceentry.h"

#include <QList>
#include <QMutex>
#include <QObject>

#include <functional>

struct usb_dev_handle;

// One USB device reached through libusb 0.1: found by vendor and product id, opened with
// configuration 1 and interface 0, and accepted only when it answers the identity request
// with the expected word. Every use of the device is serialised by one process-wide,
// non-recursive lock. Operations whose name ends in "Private" expect the caller to hold it.
// Results: 0 or a byte count on success, -1 on failure.
class UsbDevice : public QObject
{
    Q_OBJECT

public:
    UsbDevice();
    ~UsbDevice() override;

    void set_vid_pid(quint16 vendor_id, quint16 product_id);
    void set_device_id(quint16 device_id);

    int connect();
    void disconnect();
    int connection_status();
    // Why the last connect, or the reconnect of a transfer, found no usable device.
    ConnectFailure lastConnectFailure();

    int control_receive(quint8 bRequest, quint16 wValue, quint16 wIndex, char *data, int length);
    int control_send(quint8 bRequest, quint16 wValue, quint16 wIndex, char *data, int length);
    int bulk_write(char *data, int length);
    int bulk_read(char *data, int length);

    // A serial string descriptor is read this often before it counts as unreadable: a garbled
    // read on a flaky cable must not make a device look absent or like another.
    static constexpr int SerialReadAttempts = 3;

    // Tells a serial string descriptor read whole from one read that was garbled.
    using SerialCheck = std::function<bool(const QByteArray &serialDescriptor)>;

    // Every attached device with these ids, opened only to read its serial string descriptor
    // (at serialIndex); no identity request, no configuration, no claim. A descriptor that the
    // check refuses is read again, up to SerialReadAttempts reads.
    static QList<UsbDeviceEntry> attached(quint16 vendor, quint16 product, quint8 serialIndex,
                                          const SerialCheck &readable = SerialCheck());

    // Chooses, for every search of the process, the device to use by its serial string
    // descriptor (at serialIndex), read right after opening: a device that is not the chosen
    // one is closed again without selecting its configuration, claiming its interface or
    // asking for its identity, so that a device another program uses is never touched. An
    // unreadable serial is read again, up to SerialReadAttempts reads. An empty filter takes
    // the first device that answers again.
    enum class SerialVerdict { Chosen, Other, Unreadable };
    using SerialFilter = std::function<SerialVerdict(const QByteArray &serialDescriptor)>;
    static void set_serial_filter(quint8 serialIndex, const SerialFilter &filter);

    // Reads a standard descriptor of the open device. Makes no search and does not close the
    // device when the request fails. Returns the byte count or -1.
    int get_descriptor(quint8 type, quint8 index, char *buffer, int size);

protected:
    int connectPrivate();
    void disconnectPrivate();
    int control_receivePrivate(quint8 bRequest, quint16 wValue, quint16 wIndex, char *data,
                               int length);

    // Protected so that a test can hold it and see another thread's transfer wait.
    static QMutex deviceLock;

private:
    // The open device's serial verdict; reads again while it is unreadable.
    SerialVerdict chooseOpened();
    // Keeps the most telling reason of a failed search: access refused, then in use, then no
    // answer; of equal ones, the first device met.
    void noteFailure(ConnectFailure::Reason reason, const char *bus, const char *device);

    static SerialFilter serialFilter;
    static quint8 serialFilterIndex;
    quint16 product_id = 0;
    quint16 vendor_id = 0;
    quint16 device_id = 0;
    usb_dev_handle *handle = nullptr;
    ConnectFailure failure;
};

#endif
