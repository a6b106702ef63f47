#include "connectreport.h"

#include "bootloaderprotocol.h"
#include "exitstatus.h"
#include "usbtq470.h"

#include <QTextStream>

namespace {

constexpr int HexBase = 16;
constexpr int IdDigits = 4;

} // namespace

QString ConnectReport::message(const ConnectFailure &failure)
{
    switch (failure.reason) {
    case ConnectFailure::Reason::AccessRefused:
        return accessRefused(failure);
    case ConnectFailure::Reason::InUse:
        return inUse(failure);
    case ConnectFailure::Reason::None:
    case ConnectFailure::Reason::NotFound:
    case ConnectFailure::Reason::NoAnswer:
        break;
    }
    return notFound();
}

QString ConnectReport::notFound()
{
    return QStringLiteral("no Tq470 answers on USB (vendor %1, product %2)")
        .arg(Bootloader::VendorId, IdDigits, HexBase, QLatin1Char('0'))
        .arg(Bootloader::ProductId, IdDigits, HexBase, QLatin1Char('0'));
}

QString ConnectReport::inUse(const ConnectFailure &failure)
{
    return QStringLiteral("the Tq470 on bus %1 device %2 is in use by another program; let that "
                          "program finish or close it, and try again")
        .arg(failure.bus, failure.device);
}

QString ConnectReport::accessRefused(const ConnectFailure &failure, const QString &installedRule)
{
    return refusedDevice(failure) + QLatin1Char('\n') + waysIn(installedRule);
}

QString ConnectReport::refusedDevice(const ConnectFailure &failure)
{
    return QStringLiteral("access to the Tq470 on bus %1 device %2 was refused: this user may not "
                          "open it.")
        .arg(failure.bus, failure.device);
}

QString ConnectReport::waysIn(const QString &installedRule)
{
    const QString ways =
        QStringLiteral("The rule lets in the user logged in at the desk and the members of the "
                       "group %1;\nfor SSH, a service or CI, add the user to the group:\n"
                       "  sudo usermod -aG %1 $USER\n"
                       "and log in again (a session keeps the groups it started with).")
            .arg(QLatin1String(UdevRule::Group));
    if (!installedRule.isEmpty())
        return QStringLiteral("The udev rule %1 is installed. ").arg(installedRule) + ways +
               QStringLiteral("\nA Tq470 plugged in before the rule was installed needs "
                              "unplugging and plugging in again.");
    return QStringLiteral("Install the udev rule that comes with the tool. The package puts it "
                          "in %1;\nfrom a source tree:\n"
                          "  sudo cp %2 %3\n"
                          "Then let udev apply it:\n"
                          "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
                          "and unplug the Tq470 and plug it in again. ")
               .arg(QLatin1String(UdevRule::PackagedPath), QLatin1String(UdevRule::SourcePath),
                    QLatin1String(UdevRule::LocalRulesDirectory)) +
           ways;
}

int ConnectReport::exitCode(const ConnectFailure &failure)
{
    switch (failure.reason) {
    case ConnectFailure::Reason::AccessRefused:
        return ExitStatus::AccessRefused;
    case ConnectFailure::Reason::InUse:
        return ExitStatus::Failed;
    case ConnectFailure::Reason::None:
    case ConnectFailure::Reason::NotFound:
    case ConnectFailure::Reason::NoAnswer:
        break;
    }
    return ExitStatus::NotFound;
}

int ConnectReport::connect(USBTQ470 &device, QTextStream &err)
{
    if (device.connect() == 0)
        return ExitStatus::Done;
    const ConnectFailure failure = device.lastConnectFailure();
    return ExitStatus::report(err, exitCode(failure), message(failure));
}
