#include "servicecommands.h"

#include "bootloaderprotocol.h"
#include "connectreport.h"
#include "debuglog.h"
#include "exitstatus.h"
#include "deviceidentity.h"
#include "externalflashtools.h"
#include "flashtool.h"
#include "hexdump.h"
#include "hextext.h"
#include "memorytools.h"
#include "servicelimits.h"
#include "usbtq470.h"

#include <QDebug>
#include <QFile>

namespace {

constexpr int DecimalBase = 10;
constexpr int HexBase = 16;
constexpr int AddressDigits = 8;
constexpr QChar LineBreak = QLatin1Char('\n');
constexpr char CheckCable[] = "check the USB cable and try again";
constexpr char CheckRange[] =
    "check that the range lies in the device's memory and that the USB cable holds, and try again";

QString hexAddress(quint32 address)
{
    return QStringLiteral("0x%1").arg(address, AddressDigits, HexBase, QLatin1Char('0'));
}

} // namespace

ServiceCommands::ServiceCommands(QTextStream &out, QTextStream &err) : out(out), err(err) {}

int ServiceCommands::read(const QString &address, const QString &length)
{
    return dump(address, length, "ReadMemoryFromAddress", "device memory",
                [](USBTQ470 &device, quint32 from, int count, QByteArray *data) {
                    return MemoryTools(device).read(from, count, data);
                });
}

int ServiceCommands::readExternal(const QString &address, const QString &length)
{
    return dump(address, length, "ReadExternalFlashFromAddress", "external flash",
                [](USBTQ470 &device, quint32 from, int count, QByteArray *data) {
                    return ExternalFlashTools(device).read(from, count, data);
                });
}

int ServiceCommands::dump(const QString &address, const QString &length, const char *operation,
                          const char *memory, const Reader &read)
{
    quint32 from = 0;
    int count = 0;
    if (!parseHex(QStringLiteral("ADDRESS"), address, &from) ||
        !parseDecimal(QStringLiteral("LENGTH"), length, ServiceLimits::LengthMinimum,
                      ServiceLimits::LengthMaximum, &count))
        return ExitStatus::Usage;

    USBTQ470 device;
    if (const int refused = ConnectReport::connect(device, err))
        return refused;
    QByteArray data;
    if (!read(device, from, count, &data)) {
        qCDebug(tq470Debug) << operation << "failed at" << hexAddress(from);
        return deviceFailure(device,
                             QStringLiteral("reading %1 bytes of %2 at %3 failed")
                                 .arg(count)
                                 .arg(QLatin1String(memory), hexAddress(from)),
                             QLatin1String(CheckRange));
    }
    printLogEntry(QString::fromLatin1(HexDump(data.constData(), int(data.size()))));
    return ExitStatus::Done;
}

int ServiceCommands::writeExternal(const QString &address, const QString &length,
                                   const QString &data)
{
    quint32 to = 0;
    int count = 0;
    quint32 value = 0;
    if (!parseHex(QStringLiteral("ADDRESS"), address, &to) ||
        !parseDecimal(QStringLiteral("LENGTH"), length, ServiceLimits::LengthMinimum,
                      ServiceLimits::LengthMaximum, &count) ||
        !parseHex(QStringLiteral("DATA"), data, &value))
        return ExitStatus::Usage;

    USBTQ470 device;
    if (const int refused = ConnectReport::connect(device, err))
        return refused;
    QByteArray sent;
    const bool written = ExternalFlashTools(device).fill(to, count, value, &sent);
    for (const QString &entry : ExternalFlashTools::fillReport(to, count, sent))
        printLogEntry(entry);
    if (!written) {
        qCDebug(tq470Debug) << "WriteExternalFlashToAddress failed at" << hexAddress(to);
        return deviceFailure(device,
                             QStringLiteral("writing %1 bytes of external flash at %2 failed")
                                 .arg(count)
                                 .arg(hexAddress(to)),
                             QLatin1String(CheckRange));
    }
    return ExitStatus::Done;
}

int ServiceCommands::writeExternalImage(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return badInput(QStringLiteral("cannot open %1: %2").arg(fileName, file.errorString()));
    const QByteArray image = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return badInput(QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString()));
    if (!ExternalFlashTools::isImageLength(image.size()))
        return badInput(imageLengthText(fileName, int(image.size())));

    USBTQ470 device;
    if (const int refused = ConnectReport::connect(device, err))
        return refused;
    const ExternalFlashTools::ImageResult result = ExternalFlashTools(device).writeImage(image);
    if (result != ExternalFlashTools::ImageResult::Written)
        qCDebug(tq470Debug) << "ExternalFlashTools::writeImage result" << int(result);
    switch (result) {
    case ExternalFlashTools::ImageResult::Written:
        break;
    case ExternalFlashTools::ImageResult::LengthError:
        return failure(imageLengthText(fileName, int(image.size())));
    case ExternalFlashTools::ImageResult::WriteFailed:
        return deviceFailure(device,
                             QStringLiteral("writing %1 to external flash at %2 failed")
                                 .arg(fileName, hexAddress(0)),
                             QLatin1String(CheckCable));
    case ExternalFlashTools::ImageResult::ReadBackFailed:
        return deviceFailure(
            device,
            QStringLiteral("reading external flash back after writing %1 failed").arg(fileName),
            QLatin1String(CheckCable));
    case ExternalFlashTools::ImageResult::Mismatch:
        return failure(QStringLiteral("the external flash read back differs from %1; write it "
                                      "again, and if it differs again, the external flash of the "
                                      "device may be faulty")
                           .arg(fileName));
    }
    out << "Write OK\n";
    out.flush();
    return ExitStatus::Done;
}

int ServiceCommands::writePage(const QString &pattern)
{
    int fill = 0;
    if (!parseDecimal(QStringLiteral("PATTERN"), pattern, ServiceLimits::PatternMinimum,
                      ServiceLimits::PatternMaximum, &fill))
        return ExitStatus::Usage;

    USBTQ470 device;
    if (const int refused = ConnectReport::connect(device, err))
        return refused;
    if (!MemoryTools(device).writePage(quint8(fill))) {
        qCDebug(tq470Debug) << "page write ERROR";
        return deviceFailure(device,
                             QStringLiteral("writing the test page at %1 failed")
                                 .arg(hexAddress(MemoryTools::TestPageAddress)),
                             QLatin1String(CheckCable));
    }
    out << "page write OK\n";
    out.flush();
    return ExitStatus::Done;
}

int ServiceCommands::run()
{
    USBTQ470 device;
    if (const int refused = ConnectReport::connect(device, err))
        return refused;
    device.RunApplication();
    // RunApplication returns nothing, but a request that fails closes the device, and nothing
    // else closes it here.
    const bool taken = device.connection_status() == 0;
    if (!taken) {
        qCDebug(tq470Debug) << "RunApplication: request"
                 << QStringLiteral("0x%1").arg(Bootloader::RequestRunApplication, 2, HexBase,
                                               QLatin1Char('0'))
                 << "not taken";
        return deviceFailure(device,
                             QStringLiteral("the device did not take the request to start its "
                                            "application"),
                             QLatin1String(CheckCable));
    }
    device.disconnect();
    return ExitStatus::Done;
}

bool ServiceCommands::parseHex(const QString &name, const QString &text, quint32 *value)
{
    bool ok = false;
    *value = HexText::toValue(text, &ok);
    if (!ok)
        complain(QStringLiteral("%1 '%2' is not a hexadecimal number from 0 "
                                "to ffffffff (0x optional)")
                     .arg(name, text));
    return ok;
}

bool ServiceCommands::parseDecimal(const QString &name, const QString &text, int minimum,
                                   int maximum, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok, DecimalBase);
    if (ok && *value >= minimum && *value <= maximum)
        return true;
    complain(QStringLiteral("%1 '%2' is not a decimal number from %3 to %4")
                 .arg(name, text)
                 .arg(minimum)
                 .arg(maximum));
    return false;
}

// The dumps open with a line break meant for a log that is already written to.
void ServiceCommands::printLogEntry(const QString &entry)
{
    out << (entry.startsWith(LineBreak) ? entry.mid(1) : entry) << LineBreak;
    out.flush();
}

// A request that fails closes the device; it is opened again to ask its serial, which tells the
// firmware that runs. The application takes only some of the bootloader's memory requests.
QString ServiceCommands::failureText(USBTQ470 &device, const QString &what, const QString &advice)
{
    if (device.connection_status() != 0)
        device.connect();
    const DeviceIdentity::Mode mode =
        device.connection_status() == 0 ? DeviceIdentity::modeFromSerial(device.ReadSerialNumber())
                                        : DeviceIdentity::Mode::Unknown;
    device.disconnect();
    if (mode == DeviceIdentity::Mode::Application)
        return what + QStringLiteral(": the device runs its application, which does not answer "
                                     "every memory request; put it into its bootloader with "
                                     "'tq470-flash bootloader' and try again");
    return what + QStringLiteral("; ") + advice;
}

int ServiceCommands::deviceFailure(USBTQ470 &device, const QString &what, const QString &advice)
{
    return failure(failureText(device, what, advice));
}

QString ServiceCommands::imageLengthText(const QString &fileName, int length)
{
    if (length == 0)
        return QStringLiteral("%1 is empty, but an external flash image holds at least one word "
                              "of 4 bytes; check that it is the right file")
            .arg(fileName);
    return QStringLiteral("%1 holds %2 bytes, but an external flash image must be a multiple of "
                          "4 bytes long; pad it to the next multiple of 4")
        .arg(fileName)
        .arg(length);
}

int ServiceCommands::failure(const QString &message)
{
    return ExitStatus::report(err, ExitStatus::Failed, message);
}

int ServiceCommands::badInput(const QString &message)
{
    return ExitStatus::report(err, ExitStatus::BadInput, message);
}

void ServiceCommands::complain(const QString &message)
{
    FlashTool::usage(err, message, QString());
}
