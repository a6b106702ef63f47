// A host program in miniature for the launcher's tests: finds the Tq470 with the real
// libusb 0.1 and prints what it sees.
//   tq470-sim-probe identify             identity word and serial
//   tq470-sim-probe switch               identify, then request 0x04
//   tq470-sim-probe write-page ADDRESS   identify, then write a known plain page at ADDRESS
#include "bootloaderprotocol.h"
#include "encoding.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QStringLiteral>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <usb.h>

namespace {

constexpr int VendorIn = 0xC0;
constexpr int VendorOut = 0x40;
constexpr int TimeoutMs = 2000;
constexpr int Configuration = 1;
constexpr int Interface = 0;
constexpr int ExitNoDevice = 1;
constexpr int ExitUsage = 2;
constexpr int ExitRequestFailed = 3;

usb_dev_handle *openDevice()
{
    usb_init();
    usb_find_busses();
    usb_find_devices();
    for (usb_bus *bus = usb_get_busses(); bus; bus = bus->next) {
        for (struct usb_device *device = bus->devices; device; device = device->next) {
            if (device->descriptor.idVendor != Bootloader::VendorId
                || device->descriptor.idProduct != Bootloader::ProductId)
                continue;
            usb_dev_handle *handle = usb_open(device);
            if (handle && usb_set_configuration(handle, Configuration) >= 0
                && usb_claim_interface(handle, Interface) >= 0)
                return handle;
            if (handle)
                usb_close(handle);
        }
    }
    return nullptr;
}

QByteArray serialOf(usb_dev_handle *handle)
{
    char descriptor[Bootloader::StringDescriptorBufferSize] = {};
    const int length = usb_get_descriptor(handle, Bootloader::StringDescriptorType,
                                          Bootloader::SerialStringIndex, descriptor,
                                          sizeof(descriptor));
    QByteArray serial;
    for (int i = 2; i + 1 < length; i += 2)
        serial.append(descriptor[i]);
    return serial;
}

} // namespace

int main(int argc, char *argv[])
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    const QByteArray action = argc > 1 ? QByteArray(argv[1]) : QByteArray("identify");
    usb_dev_handle *handle = openDevice();
    if (!handle) {
        std::puts("no device");
        return ExitNoDevice;
    }
    char identity[2] = {};
    const int got = usb_control_msg(handle, VendorIn, Bootloader::RequestIdentity, 0, 0, identity,
                                    sizeof(identity), TimeoutMs);
    std::printf("identity %s\n", QByteArray(identity, qMax(got, 0)).toHex().constData());
    std::printf("serial %s\n", serialOf(handle).constData());

    int result = 0;
    if (action == "switch") {
        result = usb_control_msg(handle, VendorOut, Bootloader::RequestRunApplication, 0, 0,
                                 nullptr, 0, TimeoutMs);
    } else if (action == "write-page" && argc > 2) {
        const quint32 address = quint32(std::strtoul(argv[2], nullptr, 0));
        QByteArray page(Bootloader::PageSize, '\0');
        for (int i = 0; i < page.size(); ++i)
            page[i] = char(i * 7);
        EncodeBuffer(page.data(), page.size());
        result = usb_control_msg(handle, VendorOut, Bootloader::RequestWritePage,
                                 Bootloader::addressLow(address), Bootloader::addressHigh(address),
                                 page.data(), page.size(), TimeoutMs);
    } else if (action != "identify") {
        usb_close(handle);
        return ExitUsage;
    }
    usb_release_interface(handle, Interface);
    usb_close(handle);
    std::printf("result %d\n", result);
    return result < 0 ? ExitRequestFailed : 0;
}
