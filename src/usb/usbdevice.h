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

    // Every attached device with these ids, opened only to read its serial string descriptor
    // (at serialIndex); no identity request, no configuration.
    static QList<UsbDeviceEntry> attached(quint16 vendor, quint16 product, quint8 serialIndex);

    // Chooses, for every search of the process, among the devices that pass the identity check:
    // only one whose serial string descriptor (at serialIndex) the filter accepts. An empty
    // filter takes the first device again.
    using SerialFilter = std::function<bool(const QByteArray &serialDescriptor)>;
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
    static SerialFilter serialFilter;
    static quint8 serialFilterIndex;
    quint16 product_id = 0;
    quint16 vendor_id = 0;
    quint16 device_id = 0;
    usb_dev_handle *handle = nullptr;
    ConnectFailure failure;
};

#endif
