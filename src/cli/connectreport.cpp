#include "connectreport.h"

#include "bootloaderprotocol.h"
#include "usbtq470.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

constexpr int HexBase = 16;
constexpr int IdDigits = 4;

} // namespace

QString ConnectReport::message(const ConnectFailure &failure)
{
    return failure.accessRefused() ? accessRefused(failure) : notFound();
}

QString ConnectReport::notFound()
{
    return QStringLiteral("no Tq470 answers on USB (vendor %1, product %2)")
        .arg(Bootloader::VendorId, IdDigits, HexBase, QLatin1Char('0'))
        .arg(Bootloader::ProductId, IdDigits, HexBase, QLatin1Char('0'));
}

QString ConnectReport::accessRefused(const ConnectFailure &failure)
{
    return QStringLiteral(
               "access to the Tq470 on bus %1 device %2 was refused: this user may not open "
               "it.\n"
               "Install the udev rule that comes with the tool, which grants access to the user\n"
               "at the desk. The package puts it in %3; from a source tree:\n"
               "  sudo cp %4 %5\n"
               "Then let udev apply it:\n"
               "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
               "and unplug the Tq470 and plug it in again.")
        .arg(failure.bus, failure.device, QLatin1String(InstalledRule), QLatin1String(SourceRule),
             QLatin1String(LocalRulesDirectory));
}

bool ConnectReport::connect(USBTQ470 &device, QTextStream &err)
{
    if (device.connect() == 0)
        return true;
    err << QCoreApplication::applicationName() << ": " << message(device.lastConnectFailure())
        << '\n';
    err.flush();
    return false;
}
