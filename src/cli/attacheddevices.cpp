#include "attacheddevices.h"

#include "bootloaderprotocol.h"
#include "deviceidentity.h"
#include "flashtool.h"
#include "usbdevice.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <utility>

using namespace Bootloader;

namespace {

constexpr char Unreadable[] = "-";
constexpr int BusColumn = 4;
constexpr int DeviceColumn = 7;
constexpr int SerialColumn = 10;
constexpr int ModeColumn = 12;
constexpr double MsPerSecond = 1000;

// In the order of their nodes, which libusb does not keep.
QList<UsbDeviceEntry> attachedTq470s()
{
    QList<UsbDeviceEntry> entries = UsbDevice::attached(VendorId, ProductId, SerialStringIndex);
    std::sort(entries.begin(), entries.end(), [](const UsbDeviceEntry &a, const UsbDeviceEntry &b) {
        return std::make_pair(a.bus, a.device) < std::make_pair(b.bus, b.device);
    });
    return entries;
}

// The nine digits without the bootloader's marker; "-" when the serial could not be read.
QString shownSerial(const UsbDeviceEntry &entry)
{
    const QByteArray serial = DeviceIdentity::serialFromDescriptor(entry.serialDescriptor);
    return serial.isEmpty() ? QLatin1String(Unreadable) : QString::fromLatin1(serial.left(SerialDigits));
}

} // namespace

AttachedDevices::AttachedDevices(QTextStream &out, QTextStream &err) : out(out), err(err) {}

int AttachedDevices::list(QJsonObject *jsonReport)
{
    const QList<UsbDeviceEntry> entries = attachedTq470s();
    if (jsonReport) {
        QJsonArray devices;
        for (const UsbDeviceEntry &entry : entries) {
            const DeviceIdentity::Mode mode = DeviceIdentity::modeFromSerial(
                DeviceIdentity::serialFromDescriptor(entry.serialDescriptor));
            devices.append(QJsonObject{
                {QStringLiteral("bus"), entry.bus},
                {QStringLiteral("device"), entry.device},
                {QStringLiteral("serial"), shownSerial(entry)},
                {QStringLiteral("mode"), QString::fromLatin1(DeviceIdentity::modeName(mode))},
                {QStringLiteral("access"), !entry.accessRefused},
            });
        }
        jsonReport->insert(QStringLiteral("devices"), devices);
    }
    if (entries.isEmpty()) {
        out << "No Tq470 is attached.\n";
        out.flush();
        return FlashTool::ExitSuccess;
    }
    out << QStringLiteral("Bus").leftJustified(BusColumn)
        << QStringLiteral("Device").leftJustified(DeviceColumn)
        << QStringLiteral("Serial").leftJustified(SerialColumn)
        << QStringLiteral("Mode").leftJustified(ModeColumn) << "Access\n";
    for (const UsbDeviceEntry &entry : entries) {
        const DeviceIdentity::Mode mode = DeviceIdentity::modeFromSerial(
            DeviceIdentity::serialFromDescriptor(entry.serialDescriptor));
        out << entry.bus.leftJustified(BusColumn) << entry.device.leftJustified(DeviceColumn)
            << shownSerial(entry).leftJustified(SerialColumn)
            << QString::fromLatin1(DeviceIdentity::modeName(mode)).leftJustified(ModeColumn)
            << (entry.accessRefused ? "refused" : "yes") << '\n';
    }
    out.flush();
    return FlashTool::ExitSuccess;
}

QStringList AttachedDevices::serials()
{
    QStringList serials;
    for (const UsbDeviceEntry &entry : attachedTq470s())
        serials << shownSerial(entry);
    return serials;
}

int AttachedDevices::choose(const QString &digits, int waitMs)
{
    if (!digits.isEmpty() && !QRegularExpression(QStringLiteral("^\\d{1,%1}$").arg(SerialDigits))
                                  .match(digits)
                                  .hasMatch())
        return FlashTool::usage(
            err, QStringLiteral("--serial takes one to nine digits, not '%1'").arg(digits),
            QString());
    const QByteArray prefix = digits.toLatin1();
    const auto matches = [&prefix](const UsbDeviceEntry &entry) {
        return DeviceIdentity::serialFromDescriptor(entry.serialDescriptor).startsWith(prefix);
    };
    QList<UsbDeviceEntry> entries = attachedTq470s();
    if (waitMs > 0) {
        QElapsedTimer waited;
        waited.start();
        while (std::none_of(entries.begin(), entries.end(), matches)) {
            if (waited.elapsed() >= waitMs) {
                err << "tq470-flash: no Tq470"
                    << (digits.isEmpty()
                            ? QString()
                            : QStringLiteral(" with a serial starting with %1").arg(digits))
                    << " was attached within " << double(waitMs) / MsPerSecond << " seconds.\n";
                err.flush();
                return FlashTool::ExitFailure;
            }
            QThread::msleep(ulong(PollIntervalMs));
            entries = attachedTq470s();
        }
    }
    QStringList serials;
    for (const UsbDeviceEntry &entry : entries)
        serials << shownSerial(entry);
    if (!digits.isEmpty()) {
        // A device whose serial could not be read may still be the one: opening it tells more.
        if (std::none_of(entries.begin(), entries.end(), matches) &&
            !serials.contains(QLatin1String(Unreadable))) {
            err << "tq470-flash: no attached Tq470 has a serial starting with " << digits << "; "
                << (serials.isEmpty() ? QStringLiteral("none is attached")
                                      : QStringLiteral("attached: %1").arg(serials.join(", ")))
                << ".\n";
            err.flush();
            return FlashTool::ExitFailure;
        }
        UsbDevice::set_serial_filter(SerialStringIndex, [prefix](const QByteArray &descriptor) {
            return DeviceIdentity::serialFromDescriptor(descriptor).startsWith(prefix);
        });
        return -1;
    }
    if (entries.size() < 2)
        return -1;
    err << "tq470-flash: " << entries.size() << " Tq470s are attached (" << serials.join(", ")
        << "); choose one with --serial SERIAL.\n";
    err.flush();
    return FlashTool::ExitFailure;
}
