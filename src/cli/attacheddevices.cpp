#include "attacheddevices.h"

#include "bootloaderprotocol.h"
#include "deviceidentity.h"
#include "exitstatus.h"
#include "flashtool.h"
#include "usbdevice.h"

#include <QCoreApplication>
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
// A whole serial, the mode letter optional, or the first digits of one.
constexpr char SerialChoice[] = "^(\\d{1,%1}|\\d{%1}[a-z])$";

// The nine digits of a well-formed serial; empty for an unreadable one.
QByteArray digitsOf(const UsbDeviceEntry &entry)
{
    return DeviceIdentity::wellFormedSerial(entry.serialDescriptor).left(SerialDigits);
}

QStringList shownSerials(const QList<UsbDeviceEntry> &entries)
{
    QStringList serials;
    for (const UsbDeviceEntry &entry : entries)
        serials << AttachedDevices::shownSerial(entry);
    return serials;
}

} // namespace

AttachedDevices::AttachedDevices(QTextStream &out, QTextStream &err) : out(out), err(err) {}

// In the order of their nodes, which libusb does not keep.
QList<UsbDeviceEntry> AttachedDevices::tq470s()
{
    QList<UsbDeviceEntry> entries =
        UsbDevice::attached(VendorId, ProductId, SerialStringIndex, [](const QByteArray &descriptor) {
            return !DeviceIdentity::wellFormedSerial(descriptor).isEmpty();
        });
    std::sort(entries.begin(), entries.end(), [](const UsbDeviceEntry &a, const UsbDeviceEntry &b) {
        return std::make_pair(a.bus, a.device) < std::make_pair(b.bus, b.device);
    });
    return entries;
}

QString AttachedDevices::shownSerial(const UsbDeviceEntry &entry)
{
    const QByteArray digits = digitsOf(entry);
    return digits.isEmpty() ? QLatin1String(Unreadable) : QString::fromLatin1(digits);
}

int AttachedDevices::list(QJsonObject *jsonReport)
{
    const QList<UsbDeviceEntry> entries = tq470s();
    if (jsonReport) {
        QJsonArray devices;
        for (const UsbDeviceEntry &entry : entries) {
            const DeviceIdentity::Mode mode = DeviceIdentity::modeFromSerial(
                DeviceIdentity::wellFormedSerial(entry.serialDescriptor));
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
        return ExitStatus::Done;
    }
    out << QStringLiteral("Bus").leftJustified(BusColumn)
        << QStringLiteral("Device").leftJustified(DeviceColumn)
        << QStringLiteral("Serial").leftJustified(SerialColumn)
        << QStringLiteral("Mode").leftJustified(ModeColumn) << "Access\n";
    for (const UsbDeviceEntry &entry : entries) {
        const DeviceIdentity::Mode mode = DeviceIdentity::modeFromSerial(
            DeviceIdentity::wellFormedSerial(entry.serialDescriptor));
        out << entry.bus.leftJustified(BusColumn) << entry.device.leftJustified(DeviceColumn)
            << shownSerial(entry).leftJustified(SerialColumn)
            << QString::fromLatin1(DeviceIdentity::modeName(mode)).leftJustified(ModeColumn)
            << (entry.accessRefused ? "refused" : "yes") << '\n';
    }
    out.flush();
    return ExitStatus::Done;
}

template <typename Accept>
QList<UsbDeviceEntry> AttachedDevices::waitFor(int waitMs, const QString &what, Accept accepts)
{
    QList<UsbDeviceEntry> entries = tq470s();
    if (waitMs <= 0 || accepts(entries))
        return entries;
    err << QCoreApplication::applicationName() << ": waiting up to "
        << double(waitMs) / MsPerSecond << " seconds for " << what << " to be attached\n";
    err.flush();
    QElapsedTimer waited;
    waited.start();
    while (!accepts(entries) && waited.elapsed() < waitMs) {
        QThread::msleep(ulong(PollIntervalMs));
        entries = tq470s();
    }
    return entries;
}

bool AttachedDevices::waitForAny(int waitMs)
{
    const bool any = !waitFor(waitMs, QStringLiteral("a Tq470"), [](const QList<UsbDeviceEntry> &e) {
                          return !e.isEmpty();
                      }).isEmpty();
    if (!any)
        refuse(ExitStatus::NotFound, QStringLiteral("no Tq470 was attached within %1 seconds.")
                                         .arg(double(waitMs) / MsPerSecond));
    return any;
}

int AttachedDevices::choose(const QString &serial, int waitMs)
{
    if (!serial.isEmpty() &&
        !QRegularExpression(QString::fromLatin1(SerialChoice).arg(SerialDigits)).match(serial).hasMatch())
        return FlashTool::usage(
            err,
            QStringLiteral("--serial takes a serial of nine digits (its mode letter optional) or "
                           "its first digits, not '%1'")
                .arg(serial),
            QString());
    const QByteArray digits = serial.toLatin1().left(SerialDigits);
    const auto matching = [&digits](const QList<UsbDeviceEntry> &entries) {
        QList<UsbDeviceEntry> found;
        for (const UsbDeviceEntry &entry : entries)
            if (digitsOf(entry).startsWith(digits))
                found << entry;
        return found;
    };
    const QString what = digits.isEmpty()
                             ? QStringLiteral("a Tq470")
                             : QStringLiteral("the Tq470 %1").arg(QString::fromLatin1(digits));
    const QList<UsbDeviceEntry> entries =
        waitFor(waitMs, what, [&matching](const QList<UsbDeviceEntry> &e) {
            return !matching(e).isEmpty();
        });
    const QList<UsbDeviceEntry> matches = matching(entries);
    if (waitMs > 0 && matches.isEmpty())
        return refuse(ExitStatus::NotFound,
                      QStringLiteral("no %1 was attached within %2 seconds.")
                          .arg(digits.isEmpty() ? QStringLiteral("Tq470")
                                                : QStringLiteral("Tq470 with a serial starting "
                                                                 "with %1")
                                                      .arg(QString::fromLatin1(digits)))
                          .arg(double(waitMs) / MsPerSecond));

    if (digits.isEmpty()) {
        if (entries.size() < 2)
            return -1;
        return refuse(ExitStatus::Ambiguous,
                      QStringLiteral("%1 Tq470s are attached (%2); choose one with --serial "
                                     "SERIAL.")
                          .arg(entries.size())
                          .arg(shownSerials(entries).join(QLatin1String(", "))));
    }
    if (matches.size() > 1)
        return refuse(ExitStatus::Ambiguous,
                      QStringLiteral("--serial %1 matches %2 attached Tq470s (%3); give the whole "
                                     "serial.")
                          .arg(serial)
                          .arg(matches.size())
                          .arg(shownSerials(matches).join(QLatin1String(", "))));
    // A device whose serial could not be read (one this user may not open, say) may still be
    // the one: the search reads it again, and tells.
    const bool unreadable = std::any_of(entries.begin(), entries.end(), [](const UsbDeviceEntry &e) {
        return digitsOf(e).isEmpty();
    });
    if (matches.isEmpty() && !unreadable)
        return refuse(ExitStatus::NotFound,
                      QStringLiteral("no attached Tq470 has a serial starting with %1; %2.")
                          .arg(QString::fromLatin1(digits),
                               entries.isEmpty()
                                   ? QStringLiteral("none is attached")
                                   : QStringLiteral("attached: %1")
                                         .arg(shownSerials(entries).join(QLatin1String(", ")))));
    const QByteArray chosen = matches.size() == 1 ? digitsOf(matches.first()) : digits;
    UsbDevice::set_serial_filter(SerialStringIndex, [chosen](const QByteArray &descriptor) {
        const QByteArray read = DeviceIdentity::wellFormedSerial(descriptor);
        return read.isEmpty() ? UsbDevice::SerialVerdict::Unreadable
               : read.startsWith(chosen) ? UsbDevice::SerialVerdict::Chosen
                                         : UsbDevice::SerialVerdict::Other;
    });
    return -1;
}

int AttachedDevices::refuse(int code, const QString &message)
{
    return ExitStatus::report(err, code, message);
}
