#include "backupcommands.h"

#include "applicationstart.h"
#include "bootloaderprotocol.h"
#include "bootloaderreset.h"
#include "commandtable.h"
#include "connectreport.h"
#include "deviceidentity.h"
#include "exitstatus.h"
#include "externalflashtools.h"
#include "flashtool.h"
#include "hextext.h"
#include "memorytools.h"
#include "servicecommands.h"
#include "stopsignals.h"
#include "upgradefile.h"
#include "usbtq470.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QSaveFile>

namespace {

constexpr int DecimalBase = 10;
constexpr int HexBase = 16;
constexpr int AddressDigits = 8;
constexpr int SaveLengthMinimum = 1;
constexpr int SaveLengthMaximum = 0x1000000; // more than the device holds

QString hexAddress(quint32 address)
{
    return QStringLiteral("0x%1").arg(address, AddressDigits, HexBase, QLatin1Char('0'));
}

} // namespace

BackupCommands::BackupCommands(QTextStream &out, QTextStream &err, int resetDeadlineMs)
    : out(out), err(err), resetDeadlineMs(resetDeadlineMs)
{
}

int BackupCommands::save(const QString &address, const QString &length, const QString &fileName,
                         bool external)
{
    bool ok = false;
    const quint32 from = HexText::toValue(address, &ok);
    if (!ok)
        return FlashTool::usage(
            err, QStringLiteral("ADDRESS '%1' is not a hexadecimal number from 0 to ffffffff")
                     .arg(address),
            QString());
    const int count = length.toInt(&ok, DecimalBase);
    if (!ok || count < SaveLengthMinimum || count > SaveLengthMaximum)
        return FlashTool::usage(err,
                                QStringLiteral("LENGTH '%1' is not a decimal number from %2 to %3")
                                    .arg(length)
                                    .arg(SaveLengthMinimum)
                                    .arg(SaveLengthMaximum),
                                QString());

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return failure(QStringLiteral("cannot open %1: %2").arg(fileName, file.errorString()));
    USBTQ470 device;
    if (const int refused = ConnectReport::connect(device, err))
        return refused;
    QByteArray data;
    const bool read = external ? ExternalFlashTools(device).read(from, count, &data)
                               : MemoryTools(device).read(from, count, &data);
    if (!read)
        return failure(ServiceCommands::failureText(
            device,
            QStringLiteral("reading %1 bytes of %2 at %3 failed; %4 was not written")
                .arg(count)
                .arg(external ? "external flash" : "device memory")
                .arg(hexAddress(from), fileName),
            QStringLiteral("check that the range lies in the device's memory and that the USB "
                           "cable holds, and try again")));
    device.disconnect();
    if (file.write(data) != data.size() || !file.commit())
        return failure(QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString()));
    return ExitStatus::Done;
}

int BackupCommands::verify(const QString &fileName, QJsonObject *jsonReport)
{
    QString unreadable;
    if (!CommandTable::checkReadable(fileName, &unreadable))
        return ExitStatus::report(err, ExitStatus::BadInput, unreadable);
    UpgradeFile file;
    if (file.read(fileName) != UpgradeFile::Status::Ok)
        return ExitStatus::report(err, ExitStatus::BadInput,
                                  QStringLiteral("%1 is no upgrade file").arg(fileName));
    const QByteArray plain = file.plainImage();
    const QByteArray application = UpgradeFile::applicationPart(plain);
    const QByteArray external = UpgradeFile::externalPart(plain);

    USBTQ470 device;
    StopSignals stopSignals(&device);
    if (const int refused = ConnectReport::connect(device, err))
        return refused;
    // The memory can only be read through the bootloader; a device found running its
    // application is left running it again.
    const QByteArray serial = device.ReadSerialNumber();
    const bool wasApplication =
        DeviceIdentity::modeFromSerial(serial) == DeviceIdentity::Mode::Application;
    if (wasApplication) {
        say(QStringLiteral("the device runs its application: resetting it into its bootloader to "
                           "compare"));
        if (!resetIntoBootloader(device))
            return device.stopRequested()
                       ? stopped(QStringLiteral("verify stopped while waiting for the bootloader "
                                                "after the reset: nothing was compared; the "
                                                "device may be in its bootloader or its "
                                                "application; run verify again"))
                       : failure(QStringLiteral("the device did not come back as its bootloader; "
                                                "check the USB cable and try again"));
    }
    QByteArray internalRead;
    QByteArray externalRead;
    const bool internalOk = MemoryTools(device).read(Bootloader::ApplicationBase,
                                                     int(application.size()), &internalRead);
    const bool externalOk =
        internalOk && ExternalFlashTools(device).read(Bootloader::UpgradeExternalBase,
                                                      int(external.size()), &externalRead);
    if (device.stopRequested())
        return stopped(QStringLiteral("verify stopped while reading the device: nothing was "
                                      "compared; the device stays in its bootloader%1")
                           .arg(wasApplication ? QStringLiteral("; 'tq470-flash run' starts its "
                                                                "application")
                                               : QString()));
    // The application counts as running again only with proof: the acknowledgement, or the
    // device seen back in its application.
    const bool started =
        !wasApplication ||
        ApplicationStart(device, serial, ApplicationStart::Waits()).start([this] {
            say(QStringLiteral("the start was not acknowledged: waiting for the device to come "
                               "back in its application"));
        });
    if (wasApplication && started)
        say(QStringLiteral("started the device's application again"));
    device.disconnect();
    if (wasApplication && !started && device.stopRequested())
        return stopped(QStringLiteral("verify stopped while waiting for the device's "
                                      "application to start: replug the Tq470, or start it with "
                                      "\"tq470-flash run\", and run verify again"));
    const QString notStarted =
        started ? QString()
                : QStringLiteral("the start of the device's application could not be confirmed: "
                                 "replug the Tq470, or start it with \"tq470-flash run\"");
    if (!internalOk || !externalOk)
        return failure(QStringLiteral("reading the %1 failed; nothing was compared. Check that "
                                      "the USB cable holds and try again")
                           .arg(internalOk ? "external flash" : "application region") +
                       (started ? QString() : QStringLiteral("; ") + notStarted));

    quint32 firstInternal = 0;
    quint32 firstExternal = 0;
    const int internalDiffer = countDifferences(internalRead, application,
                                                Bootloader::ApplicationBase, &firstInternal);
    const int externalDiffer = countDifferences(externalRead, external,
                                                Bootloader::UpgradeExternalBase, &firstExternal);
    if (jsonReport) {
        const auto region = [](int differ, quint32 first) {
            return QJsonObject{{QStringLiteral("differingBytes"), differ},
                               {QStringLiteral("firstDifference"),
                                differ > 0 ? QJsonValue(hexAddress(first)) : QJsonValue()}};
        };
        jsonReport->insert(QStringLiteral("file"), fileName);
        jsonReport->insert(QStringLiteral("equal"), internalDiffer == 0 && externalDiffer == 0);
        jsonReport->insert(QStringLiteral("application"), region(internalDiffer, firstInternal));
        jsonReport->insert(QStringLiteral("externalFlash"), region(externalDiffer, firstExternal));
    }
    if (internalDiffer == 0 && externalDiffer == 0) {
        out << "The device holds " << fileName << '\n';
        out.flush();
        return started ? int(ExitStatus::Done) : failure(notStarted);
    }
    if (internalDiffer > 0)
        out << "Application region: " << internalDiffer << " bytes differ, the first at "
            << hexAddress(firstInternal) << '\n';
    if (externalDiffer > 0)
        out << "External flash: " << externalDiffer << " bytes differ, the first at "
            << hexAddress(firstExternal) << '\n';
    out.flush();
    return failure(QStringLiteral("the device does not hold %1").arg(fileName) +
                   (started ? QString() : QStringLiteral("; ") + notStarted));
}

int BackupCommands::countDifferences(const QByteArray &read, const QByteArray &expected,
                                     quint32 base, quint32 *first)
{
    int count = 0;
    for (int i = 0; i < expected.size(); ++i) {
        if (read.at(i) == expected.at(i))
            continue;
        if (count++ == 0)
            *first = base + quint32(i);
    }
    return count;
}

int BackupCommands::bootloader()
{
    USBTQ470 device;
    StopSignals stopSignals(&device);
    if (const int refused = ConnectReport::connect(device, err))
        return refused;
    const DeviceIdentity::Mode mode = DeviceIdentity::modeFromSerial(device.ReadSerialNumber());
    if (mode == DeviceIdentity::Mode::Bootloader) {
        device.disconnect();
        out << "The device runs its bootloader already\n";
        out.flush();
        return ExitStatus::Done;
    }
    if (mode != DeviceIdentity::Mode::Application) {
        device.disconnect();
        return failure(QStringLiteral("the device's serial tells neither bootloader nor "
                                      "application"));
    }
    say(QStringLiteral("resetting the device into its bootloader"));
    const bool reset = resetIntoBootloader(device);
    device.disconnect();
    if (reset) {
        out << "The device runs its bootloader\n";
        out.flush();
        return ExitStatus::Done;
    }
    if (device.stopRequested())
        return stopped(QStringLiteral("stopped while waiting for the bootloader after the reset: "
                                      "the device may be in its bootloader or its application; "
                                      "run the command again"));
    return failure(QStringLiteral("the device did not come back as its bootloader; check the USB "
                                  "cable and try again"));
}

bool BackupCommands::resetIntoBootloader(USBTQ470 &device)
{
    BootloaderReset::Waits waits;
    waits.deadlineMs = resetDeadlineMs;
    BootloaderReset reset(device, waits);
    reset.requestReset();
    return reset.awaitBootloader();
}

int BackupCommands::failure(const QString &message)
{
    return ExitStatus::report(err, ExitStatus::Failed, message);
}

int BackupCommands::stopped(const QString &message)
{
    return ExitStatus::report(err, ExitStatus::Interrupted, message);
}

void BackupCommands::say(const QString &message)
{
    err << QCoreApplication::applicationName() << ": " << message << '\n';
    err.flush();
}
