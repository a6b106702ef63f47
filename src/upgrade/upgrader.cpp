#include "upgrader.h"

#include "bootloaderprotocol.h"
#include "debuglog.h"
#include "deviceidentity.h"
#include "encoding.h"
#include "hexdump.h"
#include "udevrule.h"
#include "upgradefile.h"
#include "usbdevice.h"
#include "usbtq470.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <cstring>
#include <utility>

using namespace Bootloader;

namespace {

constexpr char ErasedByte = char(0xFF);

// Serials, version texts and dumps are shown as the device sent them, up to their first zero.
QString latin1UpToZero(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData());
}

} // namespace

Upgrader::Upgrader(USBTQ470 *usb) : QThread(nullptr), usb(usb)
{
    qCDebug(tq470Debug, "Upgrader constructor");
}

// Neither stops nor waits for the thread: whoever owns the device object makes sure no run
// is still going when it is destroyed.
Upgrader::~Upgrader()
{
    qCDebug(tq470Debug, "Upgrader destructor");
}

void Upgrader::setWaits(const Waits &newWaits)
{
    waits = newWaits;
}

void Upgrader::slotSetFileName(QString name)
{
    QMutexLocker locker(&fileNameLock);
    fileName = std::move(name);
}

void Upgrader::requestStop()
{
    usb->requestStop();
}

bool Upgrader::stopped() const
{
    return !succeeded() && stopping();
}

Upgrader::Outcome Upgrader::outcome() const
{
    if (succeeded())
        return Outcome::Succeeded;
    return stopped() ? Outcome::Stopped : lastOutcome.load();
}

bool Upgrader::stopping() const
{
    return usb->stopRequested();
}

void Upgrader::run()
{
    lastRunSucceeded = false;
    lastOutcome = Outcome::FileRejected;
    const QString name = [this] {
        QMutexLocker locker(&fileNameLock);
        return fileName;
    }();
    if (name.isNull())
        return;
    qCDebug(tq470Debug, "Start firmware upgrade");
    Q_EMIT sendText(name);

    // The whole file is checked before the device is touched, so that a bad file can never
    // leave a half-written device behind.
    UpgradeFile file;
    switch (file.read(name)) {
    case UpgradeFile::Status::Ok:
        break;
    case UpgradeFile::Status::WrongHeader:
        Q_EMIT sendText(tr("Wrong file header"));
        return;
    case UpgradeFile::Status::WrongVersion:
        Q_EMIT sendText(tr("Wrong file version"));
        return;
    case UpgradeFile::Status::WrongSize:
        Q_EMIT sendText(tr("Wrong file size"));
        return;
    }

    Q_EMIT sendPercent(0);
    usb->disconnect();
    lastOutcome = Outcome::NotConnected;
    if (stopping() || !connectDevice())
        return;
    lastOutcome = Outcome::Failed;
    bool applicationRunning = false;
    if (stopping() || !identifyDevice(&applicationRunning))
        return;
    if (applicationRunning && (stopping() || !resetIntoBootloader()))
        return;
    if (stopping())
        return;

    Q_EMIT sendText(tr("Writting firmware ... "));
    QByteArray application;
    QByteArray external;
    {
        const QByteArray plain = file.plainImage();
        application = UpgradeFile::applicationPart(plain);
        external = UpgradeFile::externalPart(plain);
    }
    if (!writeApplication(application))
        return;
    Q_EMIT sendText(tr("OK"));
    if (!writeExternalFlash(external))
        return;
    lastRunSucceeded = startApplication();
}

bool Upgrader::connectDevice()
{
    for (int attempt = 1; attempt <= ConnectTries; ++attempt) {
        if (usb->connect() == 0)
            return true;
        if (attempt < ConnectTries) {
            qCDebug(tq470Debug, "usb->connect()\nmssleep(200)");
            msleep(ulong(waits.connectRetryMs));
        }
    }
    Q_EMIT sendText(tr("USB Timeout\nCheck USB Cable"));
    reportConnectFailure();
    return false;
}

// The timeout texts blame the cable; a device that is there but may not be opened by this user
// needs the udev rule and its user at the desk or in the group, and one that another program
// holds needs that program to end.
void Upgrader::reportConnectFailure()
{
    const ConnectFailure failure = usb->lastConnectFailure();
    if (failure.inUse())
        Q_EMIT sendText(tr("The Tq470 on bus %1 device %2 is in use by another program")
                            .arg(failure.bus, failure.device));
    if (!failure.accessRefused())
        return;
    if (UdevRule::installedPath().isEmpty())
        Q_EMIT sendText(tr("Access to the Tq470 on bus %1 device %2 was refused: install the udev "
                           "rule %3, reload udev and replug the Tq470; it lets in the user at the "
                           "desk and the members of the group %4")
                            .arg(failure.bus, failure.device, QLatin1String(UdevRule::FileName),
                                 QLatin1String(UdevRule::Group)));
    else
        Q_EMIT sendText(tr("Access to the Tq470 on bus %1 device %2 was refused: the udev rule %3 "
                           "lets in the user at the desk and the members of the group %4")
                            .arg(failure.bus, failure.device, QLatin1String(UdevRule::FileName),
                                 QLatin1String(UdevRule::Group)));
}

bool Upgrader::identifyDevice(bool *applicationRunning)
{
    QByteArray serial;
    DeviceIdentity::Mode mode = DeviceIdentity::Mode::Unknown;
    for (int attempt = 1; attempt <= IdentifyAttempts; ++attempt) {
        serial = usb->ReadSerialNumber();
        mode = DeviceIdentity::modeFromSerial(serial);
        if (mode != DeviceIdentity::Mode::Unknown)
            break;
        qCDebug(tq470Debug) << "serial read, attempt" << attempt << ":" << serial.toHex();
    }
    bootloaderSerial = serial.left(SerialDigits) + BootloaderSerialMarker;
    Q_EMIT sendText(latin1UpToZero(serial));

    QByteArray versionBlock(VersionBlockSize, '\0');
    bool versionRead = false;
    for (int attempt = 1; attempt <= IdentifyAttempts && !versionRead; ++attempt) {
        // A failed read has closed the device: give a device that left the bus time to return.
        if (attempt > 1 && !usb->awaitReturn())
            continue;
        versionRead = usb->ReadMemoryFromAddress(versionBlock.data(), VersionBlockAddress,
                                                 VersionBlockSize) == 0;
        if (!versionRead)
            qCDebug(tq470Debug, "version block read ERROR, attempt %d", attempt);
    }
    if (!versionRead) {
        Q_EMIT sendText(tr("Bootloader Version Read Error"));
        return false;
    }
    Q_EMIT sendText(latin1UpToZero(DeviceIdentity::firstVersionText(versionBlock)));
    Q_EMIT sendText(latin1UpToZero(DeviceIdentity::secondVersionText(versionBlock)));

    switch (mode) {
    case DeviceIdentity::Mode::Application:
        *applicationRunning = true;
        return true;
    case DeviceIdentity::Mode::Bootloader:
        Q_EMIT sendText(tr("Bootloader mode"));
        *applicationRunning = false;
        return true;
    case DeviceIdentity::Mode::Unknown:
        break;
    }
    Q_EMIT sendText(tr("Serial:") + latin1UpToZero(serial));
    return false;
}

// Request 0x04 makes a running application reset the device into its bootloader.
bool Upgrader::resetIntoBootloader()
{
    Q_EMIT sendText(tr("Apllication mode"));
    Q_EMIT sendText(tr("Reset device"));
    BootloaderReset reset(*usb, {waits.resetMs, waits.resetDisconnectMs, waits.bootloaderPollMs,
                                 waits.bootloaderDeadlineMs});
    reset.requestReset();
    if (!reset.awaitBootloader()) {
        Q_EMIT sendText(tr("USB timout\nCheck USB cable"));
        reportConnectFailure();
        return false;
    }
    Q_EMIT sendText(tr("Disconnect"));
    usb->disconnect();
    Q_EMIT sendText(tr("Connect"));
    // The run goes on after the last failure as well: the transfers connect again themselves.
    for (int attempt = 1; attempt <= IdentifyAttempts && usb->connect() != 0; ++attempt) {
        qCDebug(tq470Debug, "connect after the reset failed, attempt %d", attempt);
        if (attempt < IdentifyAttempts)
            msleep(ulong(waits.connectRetryMs));
    }
    Q_EMIT sendText(tr("Serial:") + latin1UpToZero(usb->ReadSerialNumber()));
    return true;
}

bool Upgrader::writeApplication(const QByteArray &application)
{
    QByteArray plainPage(int(PageSize), ErasedByte);
    QByteArray page(int(PageSize), ErasedByte);
    QByteArray readBack(int(PageSize), ErasedByte);
    quint32 offset = 0;
    quint32 remaining = ApplicationSize;
    while (remaining > 0) {
        const quint32 length = qMin(PageSize, remaining);
        plainPage.fill(ErasedByte);
        std::memcpy(plainPage.data(), application.constData() + offset, length);
        if (stopping())
            return false;
        if (!writeVerifiedPage(plainPage, ApplicationBase + offset, page, readBack)) {
            if (!stopping())
                Q_EMIT sendText(tr("ERROR"));
            return false;
        }
        offset += PageSize;
        remaining -= length;
        Q_EMIT sendPercent(int((ApplicationSize - remaining) * 100 / ApplicationSize));
    }
    return true;
}

// WritePageToAddress encodes the page it is given, so every attempt starts again from the
// plain page.
bool Upgrader::writeVerifiedPage(const QByteArray &plainPage, quint32 address, QByteArray &page,
                                 QByteArray &readBack)
{
    for (int attempt = 1; attempt <= PageAttempts && !stopping(); ++attempt) {
        // A failed transfer has closed the device: a connect that fails is tried again, and a
        // device that left the bus is given time to return.
        if (attempt > 1)
            usb->awaitReturn();
        page.replace(0, plainPage.size(), plainPage);
        if (usb->WritePageToAddress(page.data(), address) != 0) {
            qCDebug(tq470Debug, "page write ERROR");
            continue;
        }
        qCDebug(tq470Debug, "page write OK");
        readBack.fill(ErasedByte);
        if (usb->ReadMemoryFromAddress(readBack.data(), address, PageSize) != 0) {
            qCDebug(tq470Debug, "page read ERROR");
            continue;
        }
        if (readBack == plainPage)
            return true;
    }
    return false;
}

bool Upgrader::writeExternalFlash(const QByteArray &external)
{
    QByteArray encoded = external;
    EncodeBuffer(encoded.data(), int(encoded.size()));
    Q_EMIT sendText(tr("Writting External Flash ... "));
    if (usb->WriteExternalFlashToAddress(encoded.data(), UpgradeExternalBase,
                                         UpgradeExternalSize) != 0) {
        if (!stopping())
            Q_EMIT sendText(tr("Error"));
        return false;
    }
    Q_EMIT sendText(tr("OK"));

    Q_EMIT sendText(tr("Verify External Flash ...  "));
    QByteArray readBuffer(int(UpgradeExternalSize), ErasedByte);
    if (usb->ReadExternalFlashFromAddress(readBuffer.data(), UpgradeExternalBase,
                                          UpgradeExternalSize) != 0) {
        if (!stopping())
            Q_EMIT sendText(tr("Error"));
        return false;
    }
    DecodeBuffer(readBuffer.data(), int(readBuffer.size()));
    for (int offset = 0; offset < readBuffer.size(); offset += int(ExternalFlashReadChunk)) {
        if (std::memcmp(readBuffer.constData() + offset, external.constData() + offset,
                        ExternalFlashReadChunk) == 0
            || repairExternalChunk(external, encoded, readBuffer, offset))
            continue;
        if (stopping())
            return false;
        Q_EMIT sendText(tr("Error"));
        Q_EMIT sendText(tr("read_buffer"));
        Q_EMIT sendText(latin1UpToZero(HexDump(readBuffer.constData(), int(readBuffer.size()))));
        Q_EMIT sendText(tr("ext_datas.data()"));
        Q_EMIT sendText(latin1UpToZero(HexDump(external.constData(), int(external.size()))));
        return false;
    }
    Q_EMIT sendText(tr("OK"));
    return true;
}

// A chunk that matches when read again was a bad read. One that does not is written again from
// the encoded image, in the write's own pieces, and read again.
bool Upgrader::repairExternalChunk(const QByteArray &external, QByteArray &encoded,
                                   QByteArray &readBuffer, int offset)
{
    if (readExternalChunk(external, readBuffer, offset)) {
        qCDebug(tq470Debug, "external flash at 0x%x: bad read", unsigned(offset));
        return true;
    }
    for (int attempt = 1; attempt <= ChunkWriteAttempts; ++attempt) {
        qCDebug(tq470Debug, "external flash at 0x%x differs: written again, attempt %d",
                unsigned(offset), attempt);
        if (usb->WriteExternalFlashToAddress(encoded.data() + offset, UpgradeExternalBase + offset,
                                             ExternalFlashReadChunk) == 0
            && readExternalChunk(external, readBuffer, offset))
            return true;
    }
    return false;
}

// Reads the chunk at offset into the read buffer, decoded, until it matches the image or the
// attempts are used up.
bool Upgrader::readExternalChunk(const QByteArray &external, QByteArray &readBuffer, int offset)
{
    char *chunk = readBuffer.data() + offset;
    for (int attempt = 1; attempt <= ChunkReadAttempts; ++attempt) {
        std::memset(chunk, ErasedByte, ExternalFlashReadChunk);
        if (usb->ReadExternalFlashFromAddress(chunk, UpgradeExternalBase + offset,
                                              ExternalFlashReadChunk) != 0) {
            qCDebug(tq470Debug, "external flash at 0x%x: read ERROR", unsigned(offset));
            continue;
        }
        DecodeBuffer(chunk, int(ExternalFlashReadChunk));
        if (std::memcmp(chunk, external.constData() + offset, ExternalFlashReadChunk) == 0)
            return true;
    }
    return false;
}

// The bootloader acknowledges request 0x04 before it jumps to the application; the wait lets
// it leave the bus before the handle is closed. A start without the acknowledgement counts only
// once the application is seen.
bool Upgrader::startApplication()
{
    if (!usb->RunApplication() && !confirmStart()) {
        usb->disconnect();
        Q_EMIT sendText(tr("The firmware is written and verified, but its start could not be "
                           "confirmed: replug the Tq470, or start it with \"tq470-flash run\""));
        return false;
    }
    msleep(ulong(waits.applicationStartMs));
    usb->disconnect();
    return true;
}

// Looks at the bus for the device under its serial: back in its application, the start is
// done; still in its bootloader, the start is sent again.
bool Upgrader::confirmStart()
{
    qCDebug(tq470Debug, "start not acknowledged");
    const QByteArray applicationSerial = bootloaderSerial.left(SerialDigits);
    QElapsedTimer elapsed;
    elapsed.start();
    for (int resends = 0;;) {
        bool inBootloader = false;
        for (const UsbDeviceEntry &entry :
             UsbDevice::attached(VendorId, ProductId, quint8(SerialStringIndex))) {
            const QByteArray serial = DeviceIdentity::serialFromDescriptor(entry.serialDescriptor);
            if (serial == applicationSerial)
                return true;
            inBootloader = inBootloader || serial == bootloaderSerial;
        }
        if (inBootloader) {
            if (resends++ == StartResends)
                return false;
            qCDebug(tq470Debug, "still in the bootloader: start sent again");
            if (usb->RunApplication())
                return true;
        }
        if (elapsed.elapsed() + waits.connectRetryMs > waits.startConfirmMs)
            return false;
        msleep(ulong(waits.connectRetryMs));
    }
}
