#include "servicecommands.h"

#include "bootloaderprotocol.h"
#include "connectreport.h"
#include "externalflashtools.h"
#include "flashtool.h"
#include "hexdump.h"
#include "hextext.h"
#include "memorytools.h"
#include "servicelimits.h"
#include "usbtq470.h"

#include <QCoreApplication>
#include <QFile>

namespace {

constexpr int DecimalBase = 10;
constexpr int HexBase = 16;
constexpr QChar LineBreak = QLatin1Char('\n');

} // namespace

ServiceCommands::ServiceCommands(QTextStream &out, QTextStream &err) : out(out), err(err) {}

int ServiceCommands::read(const QString &address, const QString &length)
{
    return dump(address, length, "ReadMemoryFromAddress",
                [](USBTQ470 &device, quint32 from, int count, QByteArray *data) {
                    return MemoryTools(device).read(from, count, data);
                });
}

int ServiceCommands::readExternal(const QString &address, const QString &length)
{
    return dump(address, length, "ReadExternalFlashFromAddress",
                [](USBTQ470 &device, quint32 from, int count, QByteArray *data) {
                    return ExternalFlashTools(device).read(from, count, data);
                });
}

int ServiceCommands::dump(const QString &address, const QString &length, const char *operation,
                          const Reader &read)
{
    quint32 from = 0;
    int count = 0;
    if (!parseHex(QStringLiteral("ADDRESS"), address, &from) ||
        !parseDecimal(QStringLiteral("LENGTH"), length, ServiceLimits::LengthMinimum,
                      ServiceLimits::LengthMaximum, &count))
        return FlashTool::ExitUsage;

    USBTQ470 device;
    if (!ConnectReport::connect(device, err))
        return FlashTool::ExitFailure;
    QByteArray data;
    if (!read(device, from, count, &data))
        return failure(QStringLiteral("%1 failed at 0x%2")
                           .arg(QLatin1String(operation))
                           .arg(from, 0, HexBase));
    printLogEntry(QString::fromLatin1(HexDump(data.constData(), int(data.size()))));
    return FlashTool::ExitSuccess;
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
        return FlashTool::ExitUsage;

    USBTQ470 device;
    if (!ConnectReport::connect(device, err))
        return FlashTool::ExitFailure;
    QByteArray sent;
    const bool written = ExternalFlashTools(device).fill(to, count, value, &sent);
    for (const QString &entry : ExternalFlashTools::fillReport(to, count, sent))
        printLogEntry(entry);
    if (!written)
        return failure(
            QStringLiteral("WriteExternalFlashToAddress failed at 0x%1").arg(to, 0, HexBase));
    return FlashTool::ExitSuccess;
}

int ServiceCommands::writeExternalImage(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("cannot open %1: %2").arg(fileName, file.errorString()));
    const QByteArray image = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure(QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString()));
    if (!ExternalFlashTools::isImageLength(image.size()))
        return failure(QStringLiteral("Length error: %1 holds %2 bytes. Length should be "
                                      "aligned to 4")
                           .arg(fileName)
                           .arg(image.size()));

    USBTQ470 device;
    if (!ConnectReport::connect(device, err))
        return FlashTool::ExitFailure;
    switch (ExternalFlashTools(device).writeImage(image)) {
    case ExternalFlashTools::ImageResult::Written:
        break;
    case ExternalFlashTools::ImageResult::LengthError:
        return failure(QStringLiteral("Length error: Length should be aligned to 4"));
    case ExternalFlashTools::ImageResult::WriteFailed:
        return failure(QStringLiteral("WriteExternalFlashToAddress failed"));
    case ExternalFlashTools::ImageResult::ReadBackFailed:
        return failure(QStringLiteral("ReadExternalFlashFromAddress failed"));
    case ExternalFlashTools::ImageResult::Mismatch:
        return failure(
            QStringLiteral("memcmp: the external flash read back differs from %1").arg(fileName));
    }
    out << "Write OK\n";
    out.flush();
    return FlashTool::ExitSuccess;
}

int ServiceCommands::writePage(const QString &pattern)
{
    int fill = 0;
    if (!parseDecimal(QStringLiteral("PATTERN"), pattern, ServiceLimits::PatternMinimum,
                      ServiceLimits::PatternMaximum, &fill))
        return FlashTool::ExitUsage;

    USBTQ470 device;
    if (!ConnectReport::connect(device, err))
        return FlashTool::ExitFailure;
    if (!MemoryTools(device).writePage(quint8(fill)))
        return failure(QStringLiteral("page write ERROR at 0x%1")
                           .arg(MemoryTools::TestPageAddress, 0, HexBase));
    out << "page write OK\n";
    out.flush();
    return FlashTool::ExitSuccess;
}

int ServiceCommands::run()
{
    USBTQ470 device;
    if (!ConnectReport::connect(device, err))
        return FlashTool::ExitFailure;
    device.RunApplication();
    // RunApplication returns nothing, but a request that fails closes the device, and nothing
    // else closes it here.
    const bool taken = device.connection_status() == 0;
    device.disconnect();
    if (!taken)
        return failure(QStringLiteral("RunApplication: the device did not take request 0x%1")
                           .arg(Bootloader::RequestRunApplication, 2, HexBase, QLatin1Char('0')));
    return FlashTool::ExitSuccess;
}

bool ServiceCommands::parseHex(const QString &name, const QString &text, quint32 *value)
{
    bool ok = false;
    *value = HexText::toValue(text, &ok);
    if (!ok)
        complain(QStringLiteral("Conversion error: %1 '%2' is not a hexadecimal number from 0 "
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

int ServiceCommands::failure(const QString &message)
{
    err << QCoreApplication::applicationName() << ": " << message << '\n';
    err.flush();
    return FlashTool::ExitFailure;
}

void ServiceCommands::complain(const QString &message)
{
    FlashTool::usage(err, message, QString());
}
