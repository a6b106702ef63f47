#include "usbdevice.h"

#include "debuglog.h"
#include "transferrecorder.h"
#include "usbconstants.h"

#include <QDebug>
#include <QMutexLocker>
#include <QString>

#include <usb.h>

#include <cerrno>

using namespace UsbConstants;

QMutex UsbDevice::deviceLock;
UsbDevice::SerialFilter UsbDevice::serialFilter;
quint8 UsbDevice::serialFilterIndex = 0;

namespace {

// The identity word prints sign-extended from 16 bits, as the device's own tools show it.
unsigned int signExtended(quint16 word) { return static_cast<unsigned int>(qint32(qint16(word))); }

// The debug line of one control transfer: with the data length unless the request has none.
struct TransferLogFormats {
    const char *withLengthOk;
    const char *withLengthError;
    const char *ok;
    const char *error;
};

constexpr TransferLogFormats ReceiveLog = {
    "USB Control Receive bRequest=%d, wValue=%d, wIndex=%d, dataLength=%d - OK.",
    "USB Control Receive bRequest=%d, wValue=%d, wIndex=%d, dataLength=%d - ERROR.",
    "USB Control Receive bRequest=%d, wValue=%d, wIndex=%d - OK.",
    "USB Control Receive bRequest=%d, wValue=%d, wIndex=%d - ERROR.",
};

constexpr TransferLogFormats SendLog = {
    "USB Control Send bRequest=%d, wValue=%d, wIndex=%d, dataLength=%d - OK.",
    "USB Control Send bRequest=%d, wValue=%d, wIndex=%d, dataLength=%d - ERROR.",
    "USB Control Send bRequest=%d, wValue=%d, wIndex=%d - OK.",
    "USB Control Send bRequest=%d, wValue=%d, wIndex=%d - ERROR.",
};

// The setup fields are unsigned 8- and 16-bit values: as int they always print unsigned.
void logControlTransfer(const TransferLogFormats &formats, quint8 bRequest, quint16 wValue,
                        quint16 wIndex, int length, int result)
{
    if (length != 0)
        qCDebug(tq470Debug, result >= 0 ? formats.withLengthOk : formats.withLengthError, int(bRequest),
               int(wValue), int(wIndex), length);
    else
        qCDebug(tq470Debug, result >= 0 ? formats.ok : formats.error, int(bRequest), int(wValue), int(wIndex));
}

// What usbfs answers a user who may not open the node for writing: open() fails with EACCES;
// libusb 0.1 then opens it read-only, and every request on it fails with EPERM.
bool isAccessError(int error) { return error == EACCES || error == EPERM; }

// What usbfs answers while another open file holds the interface, or any file holds one when
// the configuration is to be selected.
bool isBusyError(int error) { return error == EBUSY; }

ConnectFailure::Reason failureOf(int error)
{
    return isAccessError(error) ? ConnectFailure::Reason::AccessRefused
           : isBusyError(error) ? ConnectFailure::Reason::InUse
                                : ConnectFailure::Reason::NoAnswer;
}

int rank(ConnectFailure::Reason reason)
{
    switch (reason) {
    case ConnectFailure::Reason::AccessRefused:
        return 3;
    case ConnectFailure::Reason::InUse:
        return 2;
    case ConnectFailure::Reason::NoAnswer:
        return 1;
    case ConnectFailure::Reason::None:
    case ConnectFailure::Reason::NotFound:
        break;
    }
    return 0;
}

// The standard request libusb 0.1's usb_get_descriptor() makes.
constexpr quint8 StandardRequestIn = 0x80;
constexpr quint8 GetDescriptorRequest = 0x06;
constexpr int DescriptorTypeShift = 8;

// usbmon numbers a device by its bus and address, which libusb 0.1 names as the folder and file
// of its node: 001/002.
TransferRecorder::Address addressOf(usb_dev_handle *handle)
{
    const struct usb_device *device = usb_device(handle);
    return {quint16(QByteArray(device->bus->dirname).toUInt()),
            quint8(QByteArray(device->filename).toUInt())};
}

// Makes the libusb call; while a recording runs, writes it as the transfer submitted()
// describes, with the call's outcome. errno stays as the call left it: the callers read it.
template <typename Submitted, typename Call>
int recorded(usb_dev_handle *handle, char *buffer, const Submitted &submitted, const Call &call)
{
    if (!TransferRecorder::isRecording())
        return call();
    const int callersErrno = errno;
    const UsbTransfer transfer = submitted(addressOf(handle));
    errno = callersErrno;
    const int result = call();
    const int callErrno = errno;
    TransferRecorder::complete(transfer, result, buffer);
    errno = callErrno;
    return result;
}

int controlMessage(usb_dev_handle *handle, quint8 requestType, quint8 request, quint16 value,
                   quint16 index, char *data, int length)
{
    return recorded(
        handle, data,
        [&](TransferRecorder::Address address) {
            return TransferRecorder::controlSubmission(address, requestType, request, value, index,
                                                       data, length);
        },
        [&] {
            return usb_control_msg(handle, requestType, request, value, index, data, length,
                                   TransferTimeoutMs);
        });
}

int getDescriptor(usb_dev_handle *handle, quint8 type, quint8 index, char *buffer, int size)
{
    return recorded(
        handle, buffer,
        [&](TransferRecorder::Address address) {
            return TransferRecorder::controlSubmission(
                address, StandardRequestIn, GetDescriptorRequest,
                quint16(type << DescriptorTypeShift | index), 0, nullptr, size);
        },
        [&] { return usb_get_descriptor(handle, type, index, buffer, size); });
}

int bulkTransfer(usb_dev_handle *handle, int endpoint, char *data, int length)
{
    return recorded(
        handle, data,
        [&](TransferRecorder::Address address) {
            return TransferRecorder::bulkSubmission(address, quint8(endpoint), data, length);
        },
        [&] {
            return endpoint & USB_ENDPOINT_IN
                       ? usb_bulk_read(handle, endpoint, data, length, TransferTimeoutMs)
                       : usb_bulk_write(handle, endpoint, data, length, TransferTimeoutMs);
        });
}

constexpr int StringDescriptorBufferSize = 256;

// The string descriptor at index of the open device; empty when it cannot be read, with the
// error number in error.
QByteArray stringDescriptor(usb_dev_handle *handle, quint8 index, int *error)
{
    char buffer[StringDescriptorBufferSize];
    errno = 0;
    const int received = getDescriptor(handle, USB_DT_STRING, index, buffer, sizeof buffer);
    *error = received < 0 ? (errno ? errno : -received) : 0;
    return received < 0 ? QByteArray() : QByteArray(buffer, received);
}

} // namespace

UsbDevice::UsbDevice() = default;

UsbDevice::~UsbDevice()
{
    qCDebug(tq470Debug, "UsbDevice destructor");
    if (handle)
        disconnect();
}

void UsbDevice::set_vid_pid(quint16 vendor, quint16 product)
{
    QMutexLocker lock(&deviceLock);
    vendor_id = vendor;
    product_id = product;
}

void UsbDevice::set_device_id(quint16 id) { device_id = id; }

int UsbDevice::connect()
{
    QMutexLocker lock(&deviceLock);
    return connectPrivate();
}

void UsbDevice::disconnect()
{
    QMutexLocker lock(&deviceLock);
    disconnectPrivate();
}

int UsbDevice::connection_status()
{
    QMutexLocker lock(&deviceLock);
    return handle ? 0 : -1;
}

ConnectFailure UsbDevice::lastConnectFailure()
{
    QMutexLocker lock(&deviceLock);
    return failure;
}

int UsbDevice::connectPrivate()
{
    qCDebug(tq470Debug, "USB Connect");
    if (handle) {
        usb_close(handle);
        handle = nullptr;
    }

    usb_init();
    usb_find_busses();
    usb_find_devices();

    // A device that answers wins; otherwise the failure names the most telling device.
    failure = ConnectFailure{ConnectFailure::Reason::NotFound, QString(), QString()};

    for (struct usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        qCDebug(tq470Debug) << "bus: " << static_cast<const void *>(bus);
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next) {
            qCDebug(tq470Debug) << "bus->devices: " << static_cast<const void *>(bus->devices);
            qCDebug(tq470Debug) << "dev->descriptor.idVendor: " << Qt::hex << dev->descriptor.idVendor;
            qCDebug(tq470Debug) << "dev->descriptor.idProduct: " << Qt::hex << dev->descriptor.idProduct;
            qCDebug(tq470Debug) << "dev->descriptor.iSerialNumber: " << Qt::hex
                     << unsigned(dev->descriptor.iSerialNumber);
            qCDebug(tq470Debug) << "dev->descriptor.bMaxPacketSize0: " << Qt::hex
                     << unsigned(dev->descriptor.bMaxPacketSize0);

            if (dev->descriptor.idVendor != vendor_id || dev->descriptor.idProduct != product_id)
                continue;

            errno = 0;
            handle = usb_open(dev);
            if (!handle) {
                if (isAccessError(errno))
                    noteFailure(ConnectFailure::Reason::AccessRefused, bus->dirname, dev->filename);
                continue;
            }
            qCDebug(tq470Debug) << "usb_opened ";

            if (serialFilter) {
                const SerialVerdict verdict = chooseOpened();
                if (verdict != SerialVerdict::Chosen) {
                    // Nothing was claimed: a plain close leaves the device as it was.
                    usb_close(handle);
                    handle = nullptr;
                    if (verdict == SerialVerdict::Unreadable)
                        noteFailure(ConnectFailure::Reason::NoAnswer, bus->dirname,
                                    dev->filename);
                    continue;
                }
            }

            const int configured = usb_set_configuration(handle, Configuration);
            if (configured < 0) {
                noteFailure(failureOf(-configured), bus->dirname, dev->filename);
                disconnectPrivate();
                continue;
            }
            qCDebug(tq470Debug) << "usb_set_configuration ";

            const int claimed = usb_claim_interface(handle, Interface);
            if (claimed < 0) {
                noteFailure(failureOf(-claimed), bus->dirname, dev->filename);
                disconnectPrivate();
                continue;
            }
            qCDebug(tq470Debug) << "usb_claim_interface ";

            char answer[IdentityLength] = {0, 0};
            const int received =
                control_receivePrivate(IdentityRequest, 0, 0, answer, IdentityLength);
            // The answer shows unquoted, up to its first zero.
            qCDebug(tq470Debug).noquote()
                << "control_receivePrivate( " << int(IdentityRequest) << 0 << 0
                << QString::fromLatin1(
                       answer, int(qstrnlen(answer, uint(qBound(0, received, IdentityLength)))))
                << IdentityLength << ")";
            if (received != IdentityLength) {
                // A failed transfer has closed the device already; a short answer has not.
                if (handle)
                    disconnectPrivate();
                noteFailure(ConnectFailure::Reason::NoAnswer, bus->dirname, dev->filename);
                continue;
            }

            const quint16 tqid =
                quint16(quint8(answer[0]) | (quint16(quint8(answer[1])) << 8));
            qCDebug(tq470Debug, "\ntqid: %x", signExtended(tqid));
            qCDebug(tq470Debug, "\nUSB_TQ310_ID: %x", signExtended(device_id));
            if (tqid != device_id) {
                disconnectPrivate();
                noteFailure(ConnectFailure::Reason::NoAnswer, bus->dirname, dev->filename);
                continue;
            }
            failure = ConnectFailure();
            return 0;
        }
    }
    return -1;
}

UsbDevice::SerialVerdict UsbDevice::chooseOpened()
{
    SerialVerdict verdict = SerialVerdict::Unreadable;
    for (int attempt = 1; attempt <= SerialReadAttempts && verdict == SerialVerdict::Unreadable;
         ++attempt) {
        int error = 0;
        const QByteArray serial = stringDescriptor(handle, serialFilterIndex, &error);
        verdict = serialFilter(serial);
        if (verdict != SerialVerdict::Chosen)
            qCDebug(tq470Debug).noquote()
                << (verdict == SerialVerdict::Other ? "not the chosen serial:"
                                                    : "unreadable serial, attempt")
                << (verdict == SerialVerdict::Other ? QString::fromLatin1(serial.toHex())
                                                    : QString::number(attempt));
    }
    return verdict;
}

void UsbDevice::noteFailure(ConnectFailure::Reason reason, const char *bus, const char *device)
{
    if (rank(reason) <= rank(failure.reason))
        return;
    failure.reason = reason;
    failure.bus = QString::fromLocal8Bit(bus);
    failure.device = QString::fromLocal8Bit(device);
}

void UsbDevice::disconnectPrivate()
{
    qCDebug(tq470Debug, "USB Disconnect");
    if (handle) {
        usb_release_interface(handle, Interface);
        usb_close(handle);
        handle = nullptr;
    }
}

int UsbDevice::control_receivePrivate(quint8 bRequest, quint16 wValue, quint16 wIndex,
                                      char *data, int length)
{
    if (!handle && connectPrivate() < 0)
        return -1;

    int result = -1;
    if (length != 0 && data)
        result = controlMessage(handle, VendorRequestIn, bRequest, wValue, wIndex, data, length);
    logControlTransfer(ReceiveLog, bRequest, wValue, wIndex, length, result);

    if (result < 0) {
        disconnectPrivate();
        return -1;
    }
    return result;
}

int UsbDevice::control_receive(quint8 bRequest, quint16 wValue, quint16 wIndex, char *data,
                               int length)
{
    QMutexLocker lock(&deviceLock);
    return control_receivePrivate(bRequest, wValue, wIndex, data, length);
}

int UsbDevice::control_send(quint8 bRequest, quint16 wValue, quint16 wIndex, char *data,
                            int length)
{
    QMutexLocker lock(&deviceLock);
    qCDebug(tq470Debug) << "UsbDevice::control_send()";
    if (!handle && connectPrivate() < 0)
        return -1;

    int result;
    if (!data || length == 0)
        result = controlMessage(handle, VendorRequestOut, bRequest, wValue, wIndex, nullptr, 0);
    else
        result = controlMessage(handle, VendorRequestOut, bRequest, wValue, wIndex, data, length);
    logControlTransfer(SendLog, bRequest, wValue, wIndex, length, result);

    if (result < 0) {
        disconnectPrivate();
        return -1;
    }
    return result;
}

int UsbDevice::bulk_write(char *data, int length)
{
    QMutexLocker lock(&deviceLock);
    if (!data || length <= 0 || !handle)
        return -1;
    return bulkTransfer(handle, BulkEndpointOut, data, length);
}

int UsbDevice::bulk_read(char *data, int length)
{
    QMutexLocker lock(&deviceLock);
    if (!data || length <= 0 || !handle)
        return -1;
    return bulkTransfer(handle, BulkEndpointIn, data, length);
}

int UsbDevice::get_descriptor(quint8 type, quint8 index, char *buffer, int size)
{
    QMutexLocker lock(&deviceLock);
    if (!handle || !buffer || size <= 0)
        return -1;
    const int result = getDescriptor(handle, type, index, buffer, size);
    return result < 0 ? -1 : result;
}

QList<UsbDeviceEntry> UsbDevice::attached(quint16 vendor, quint16 product, quint8 serialIndex,
                                          const SerialCheck &readable)
{
    QMutexLocker lock(&deviceLock);
    usb_init();
    usb_find_busses();
    usb_find_devices();

    QList<UsbDeviceEntry> entries;
    for (struct usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device *dev = bus->devices; dev; dev = dev->next) {
            if (dev->descriptor.idVendor != vendor || dev->descriptor.idProduct != product)
                continue;
            UsbDeviceEntry entry;
            entry.bus = QString::fromLocal8Bit(bus->dirname);
            entry.device = QString::fromLocal8Bit(dev->filename);
            errno = 0;
            usb_dev_handle *opened = usb_open(dev);
            if (!opened) {
                entry.accessRefused = isAccessError(errno);
            } else {
                int error = 0;
                for (int attempt = 1; attempt <= SerialReadAttempts; ++attempt) {
                    entry.serialDescriptor = stringDescriptor(opened, serialIndex, &error);
                    if (isAccessError(error) || !readable || readable(entry.serialDescriptor))
                        break;
                }
                entry.accessRefused = isAccessError(error);
                if (readable && !readable(entry.serialDescriptor))
                    entry.serialDescriptor.clear();
                usb_close(opened);
            }
            entries.append(entry);
        }
    }
    return entries;
}

void UsbDevice::set_serial_filter(quint8 serialIndex, const SerialFilter &filter)
{
    QMutexLocker lock(&deviceLock);
    serialFilterIndex = serialIndex;
    serialFilter = filter;
}
