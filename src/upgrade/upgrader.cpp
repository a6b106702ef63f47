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
#include <QMutexLocker>
#include <QScopeGuard>

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
    return outcome() == Outcome::Stopped;
}

Upgrader::Outcome Upgrader::outcome() const
{
    QMutexLocker locker(&resultLock);
    return lastOutcome;
}

QString Upgrader::outcomeText() const
{
    QMutexLocker locker(&resultLock);
    return lastOutcomeText;
}

QByteArray Upgrader::deviceSerial() const
{
    QMutexLocker locker(&resultLock);
    return lastSerial;
}

bool Upgrader::stopping() const
{
    return usb->stopRequested();
}

void Upgrader::run()
{
    lastRunSucceeded = false;
    {
        QMutexLocker locker(&resultLock);
        lastOutcome = Outcome::FileRejected;
        lastOutcomeText.clear();
        lastSerial.clear();
    }
    stage = Stage::Connecting;
    pagesWritten = 0;
    endWith(Outcome::FileRejected, QString());
    identifiedSerial.clear();
    const QString name = [this] {
        QMutexLocker locker(&fileNameLock);
        return fileName;
    }();
    if (name.isNull())
        return;
    // However the run ends from here, its last text says what the device holds.
    const auto outcomeLast = qScopeGuard([this, &name] { sendOutcome(name); });
    // The device object waits for a device that dropped out on its own; the log says so.
    const auto dropOutsTold = qScopeGuard(
        [told = connect(
             usb, &USBTQ470::sendAwaitingReturn, this,
             [this] {
                 Q_EMIT sendText(tr("The Tq470 left the bus: waiting for it to come back ..."));
             },
             Qt::DirectConnection)] { disconnect(told); });
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
    endWith(Outcome::NotConnected, QString());
    if (stopping() || !connectDevice())
        return;
    stage = Stage::Identifying;
    bool applicationRunning = false;
    if (stopping() || !identifyDevice(&applicationRunning))
        return;
    if (applicationRunning && (stopping() || !resetIntoBootloader()))
        return;
    if (stopping())
        return;

    stage = Stage::WritingApplication;
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

void Upgrader::endWith(Outcome outcome, const QString &text)
{
    endOutcome = outcome;
    endText = text;
}

QString Upgrader::stillInBootloader() const
{
    return tr("the Tq470 stays in its bootloader until a rerun of the upgrade repairs it.");
}

QString Upgrader::stoppedText() const
{
    switch (stage) {
    case Stage::Connecting:
    case Stage::Identifying:
        break;
    case Stage::Resetting:
        return tr("Stopped while waiting for the bootloader after the reset: nothing was written; "
                  "the Tq470 may be in its bootloader or its application; a rerun continues.");
    case Stage::WritingApplication:
        return tr("Stopped while writing the application (%1 of %2 pages written): ")
                   .arg(pagesWritten)
                   .arg(ApplicationPages) +
               stillInBootloader();
    case Stage::WritingExternal:
        return tr("Stopped while writing the external flash: the application is written, the "
                  "external flash partly; ") +
               stillInBootloader();
    case Stage::VerifyingExternal:
        return tr("Stopped while verifying the external flash: the firmware is written but not "
                  "verified; ") +
               stillInBootloader();
    case Stage::Starting:
        return tr("Stopped while waiting for the new application to start: the firmware is "
                  "written and verified; replug the Tq470, or start it with \"tq470-flash "
                  "run\".");
    }
    return tr("Stopped before anything was written: the Tq470 holds its previous firmware; run "
              "the upgrade again when ready.");
}

void Upgrader::sendOutcome(const QString &fileName)
{
    Outcome outcome = endOutcome;
    QString text = endText;
    if (lastRunSucceeded) {
        outcome = Outcome::Succeeded;
        text = tr("Done: the Tq470 holds the new firmware and runs it.");
    } else if (outcome == Outcome::FileRejected) {
        text = tr("Nothing was sent to the Tq470: %1 is no upgrade file; choose the .upg file of "
                  "its firmware and start again.")
                   .arg(fileName);
    } else if (stopping()) {
        outcome = Outcome::Stopped;
        text = stoppedText();
    }
    {
        QMutexLocker locker(&resultLock);
        lastOutcome = outcome;
        lastOutcomeText = text;
        lastSerial = identifiedSerial;
    }
    Q_EMIT sendText(text);
}

bool Upgrader::connectDevice()
{
    bool awaitedReturn = false;
    for (int attempt = 1; attempt <= ConnectTries; ++attempt) {
        if (usb->connect() == 0)
            return true;
        // A Tq470 that was found but did not answer may have left the bus for a moment: it is
        // waited for as during the transfers, once.
        if (!awaitedReturn &&
            usb->lastConnectFailure().reason == ConnectFailure::Reason::NoAnswer) {
            awaitedReturn = true;
            if (usb->awaitReturn())
                return true;
        }
        if (stopping())
            return false;
        if (attempt < ConnectTries) {
            if (attempt == 1)
                Q_EMIT sendText(tr("Waiting for the Tq470 to answer ..."));
            qCDebug(tq470Debug, "usb->connect()\nmssleep(200)");
            if (!usb->sleepUnlessStopped(waits.connectRetryMs))
                return false;
        }
    }
    Q_EMIT sendText(tr("USB Timeout\nCheck USB Cable"));
    endWithConnectFailure();
    return false;
}

bool Upgrader::awaitDevice()
{
    if (usb->awaitReturn())
        return true;
    if (!stopping()) {
        Q_EMIT sendText(tr("USB Timeout\nCheck USB Cable"));
        endWithConnectFailure();
    }
    return false;
}

// The timeout texts blame the cable; a device that is there but may not be opened by this user
// needs the udev rule and its user at the desk or in the group, and one that another program
// holds needs that program to end.
void Upgrader::endWithConnectFailure()
{
    const ConnectFailure failure = usb->lastConnectFailure();
    if (failure.inUse())
        endWith(Outcome::NotConnected,
                tr("Nothing was written: the Tq470 on bus %1 device %2 is in use by another "
                   "program; close that program and start the upgrade again.")
                    .arg(failure.bus, failure.device));
    else if (failure.accessRefused() && UdevRule::installedPath().isEmpty())
        endWith(Outcome::NotConnected,
                tr("Nothing was written: access to the Tq470 on bus %1 device %2 was refused; "
                   "install the udev rule %3, reload udev, replug the Tq470 and start the "
                   "upgrade again (the rule lets in the user at the desk and the members of the "
                   "group %4).")
                    .arg(failure.bus, failure.device, QLatin1String(UdevRule::FileName),
                         QLatin1String(UdevRule::Group)));
    else if (failure.accessRefused())
        endWith(Outcome::NotConnected,
                tr("Nothing was written: access to the Tq470 on bus %1 device %2 was refused; the "
                   "udev rule %3 lets in the user at the desk and the members of the group %4: "
                   "work at the desk or join the group, and start the upgrade again.")
                    .arg(failure.bus, failure.device, QLatin1String(UdevRule::FileName),
                         QLatin1String(UdevRule::Group)));
    else
        endWith(Outcome::NotConnected,
                tr("Nothing was written: no Tq470 answered; plug it in, check the USB cable and "
                   "start the upgrade again."));
}

bool Upgrader::identifyDevice(bool *applicationRunning)
{
    QByteArray serial;
    DeviceIdentity::Mode mode = DeviceIdentity::Mode::Unknown;
    for (int attempt = 1; attempt <= IdentifyAttempts; ++attempt) {
        // The descriptor read leaves the device open; one that read nothing may have met a
        // device that left the bus.
        if (attempt > 1 && serial.isEmpty()) {
            usb->disconnect();
            if (!awaitDevice())
                return false;
        }
        serial = usb->ReadSerialNumber();
        mode = DeviceIdentity::modeFromSerial(serial);
        if (mode != DeviceIdentity::Mode::Unknown || stopping())
            break;
        qCDebug(tq470Debug) << "serial read, attempt" << attempt << ":" << serial.toHex();
    }
    identifiedSerial = serial.left(SerialDigits);
    Q_EMIT sendText(latin1UpToZero(serial));

    QByteArray versionBlock(VersionBlockSize, '\0');
    bool versionRead = false;
    for (int attempt = 1; attempt <= IdentifyAttempts && !versionRead && !stopping(); ++attempt) {
        // A failed read has closed the device: give a device that left the bus time to return.
        if (attempt > 1 && !awaitDevice())
            return false;
        versionRead = usb->ReadMemoryFromAddress(versionBlock.data(), VersionBlockAddress,
                                                 VersionBlockSize) == 0;
        if (!versionRead)
            qCDebug(tq470Debug, "version block read ERROR, attempt %d", attempt);
    }
    if (stopping())
        return false;
    if (!versionRead) {
        Q_EMIT sendText(tr("Bootloader Version Read Error"));
        endWith(Outcome::Failed, tr("Nothing was written: the Tq470 did not answer the read of "
                                    "its version; check the USB cable and start the upgrade "
                                    "again."));
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
    endWith(Outcome::Failed, tr("Nothing was written: the Tq470's serial tells neither its "
                                "bootloader nor its application; replug it and start the "
                                "upgrade again."));
    return false;
}

// Request 0x04 makes a running application reset the device into its bootloader.
bool Upgrader::resetIntoBootloader()
{
    stage = Stage::Resetting;
    Q_EMIT sendText(tr("Apllication mode"));
    Q_EMIT sendText(tr("Reset device"));
    BootloaderReset reset(*usb, {waits.resetMs, waits.resetDisconnectMs, waits.bootloaderPollMs,
                                 waits.bootloaderDeadlineMs});
    reset.requestReset();
    Q_EMIT sendText(tr("Waiting for the Tq470 to restart in its bootloader ..."));
    if (!reset.awaitBootloader()) {
        if (stopping())
            return false;
        Q_EMIT sendText(tr("USB timout\nCheck USB cable"));
        const ConnectFailure failure = usb->lastConnectFailure();
        if (failure.accessRefused() || failure.inUse())
            endWithConnectFailure();
        else
            endWith(Outcome::Failed,
                    tr("Nothing was written: the Tq470 did not come back as its bootloader after "
                       "the reset and may run either; replug it and start the upgrade again."));
        return false;
    }
    Q_EMIT sendText(tr("Disconnect"));
    usb->disconnect();
    Q_EMIT sendText(tr("Connect"));
    // A device that drops out here is waited for as during the transfers.
    QByteArray serial;
    for (int attempt = 1; attempt <= IdentifyAttempts && serial.isEmpty(); ++attempt) {
        if (!awaitDevice())
            return false;
        serial = usb->ReadSerialNumber();
        if (serial.isEmpty())
            usb->disconnect();
    }
    Q_EMIT sendText(tr("Serial:") + latin1UpToZero(serial));
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
            if (!stopping()) {
                Q_EMIT sendText(tr("ERROR"));
                endWith(Outcome::Failed, tr("Not finished: the application is partly written "
                                            "(%1 of %2 pages); ")
                                                 .arg(pagesWritten)
                                                 .arg(ApplicationPages) +
                                             stillInBootloader());
            }
            return false;
        }
        ++pagesWritten;
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
        if (attempt > 1 && !usb->awaitReturn() && stopping())
            break;
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
    stage = Stage::WritingExternal;
    QByteArray encoded = external;
    EncodeBuffer(encoded.data(), int(encoded.size()));
    Q_EMIT sendText(tr("Writting External Flash ... "));
    if (usb->WriteExternalFlashToAddress(encoded.data(), UpgradeExternalBase,
                                         UpgradeExternalSize) != 0) {
        if (!stopping()) {
            Q_EMIT sendText(tr("Error"));
            endWith(Outcome::Failed, tr("Not finished: the application is written, the external "
                                        "flash only partly; ") +
                                         stillInBootloader());
        }
        return false;
    }
    Q_EMIT sendText(tr("OK"));
    stage = Stage::VerifyingExternal;
    Q_EMIT sendText(tr("Verify External Flash ...  "));
    if (!verifyExternalFlash(external, encoded))
        return false;
    Q_EMIT sendText(tr("OK"));
    return true;
}

// Reads the whole region back and repairs the chunks that differ. A repair's write may disturb
// what was compared before it, so after one the whole region is read and compared once more,
// without writing again.
bool Upgrader::verifyExternalFlash(const QByteArray &external, QByteArray &encoded)
{
    QByteArray readBuffer(int(UpgradeExternalSize), ErasedByte);
    bool repaired = false;
    bool same = false;
    for (int pass = 1; pass <= 2 && (pass == 1 || repaired); ++pass) {
        // The second pass is no new verify for the user: the bar stays where the first left it.
        const auto progress = pass == 1 ? USBTQ470::Progress::Reported : USBTQ470::Progress::Quiet;
        if (usb->ReadExternalFlashFromAddress(readBuffer.data(), UpgradeExternalBase,
                                              UpgradeExternalSize, progress) != 0) {
            if (!stopping()) {
                Q_EMIT sendText(tr("Error"));
                endWith(Outcome::Failed, tr("Not finished: the firmware is written, but the "
                                            "external flash could not be read back; ") +
                                             stillInBootloader());
            }
            return false;
        }
        DecodeBuffer(readBuffer.data(), int(readBuffer.size()));
        same =
            compareExternalChunks(external, pass == 1 ? &encoded : nullptr, readBuffer, &repaired);
        if (!same)
            break;
    }
    if (same)
        return true;
    if (stopping())
        return false;
    Q_EMIT sendText(tr("Error"));
    Q_EMIT sendText(tr("read_buffer"));
    Q_EMIT sendText(latin1UpToZero(HexDump(readBuffer.constData(), int(readBuffer.size()))));
    Q_EMIT sendText(tr("ext_datas.data()"));
    Q_EMIT sendText(latin1UpToZero(HexDump(external.constData(), int(external.size()))));
    endWith(Outcome::Failed, tr("Not finished: the firmware is written, but the external flash "
                                "reads back different from the file; ") +
                                 stillInBootloader());
    return false;
}

bool Upgrader::compareExternalChunks(const QByteArray &external, QByteArray *encoded,
                                     QByteArray &readBuffer, bool *repaired)
{
    for (int offset = 0; offset < readBuffer.size(); offset += int(ExternalFlashReadChunk)) {
        if (std::memcmp(readBuffer.constData() + offset, external.constData() + offset,
                        ExternalFlashReadChunk) == 0)
            continue;
        if (readExternalChunk(external, readBuffer, offset)) {
            qCDebug(tq470Debug, "external flash at 0x%x: bad read", unsigned(offset));
            continue;
        }
        if (!encoded || stopping() || !repairExternalChunk(external, *encoded, readBuffer, offset))
            return false;
        *repaired = true;
    }
    return true;
}

// A chunk that still differs when read again is written again from the encoded image, in the
// write's own pieces, and read again.
bool Upgrader::repairExternalChunk(const QByteArray &external, QByteArray &encoded,
                                   QByteArray &readBuffer, int offset)
{
    for (int attempt = 1; attempt <= ChunkWriteAttempts && !stopping(); ++attempt) {
        qCDebug(tq470Debug, "external flash at 0x%x differs: written again, attempt %d",
                unsigned(offset), attempt);
        if (usb->WriteExternalFlashToAddress(encoded.data() + offset, UpgradeExternalBase + offset,
                                             ExternalFlashReadChunk,
                                             USBTQ470::Progress::Quiet) == 0 &&
            readExternalChunk(external, readBuffer, offset))
            return true;
    }
    return false;
}

// Reads the chunk at offset into the read buffer, decoded, until it matches the image or the
// attempts are used up.
bool Upgrader::readExternalChunk(const QByteArray &external, QByteArray &readBuffer, int offset)
{
    char *chunk = readBuffer.data() + offset;
    for (int attempt = 1; attempt <= ChunkReadAttempts && !stopping(); ++attempt) {
        std::memset(chunk, ErasedByte, ExternalFlashReadChunk);
        if (usb->ReadExternalFlashFromAddress(chunk, UpgradeExternalBase + offset,
                                              ExternalFlashReadChunk,
                                              USBTQ470::Progress::Quiet) != 0) {
            qCDebug(tq470Debug, "external flash at 0x%x: read ERROR", unsigned(offset));
            continue;
        }
        DecodeBuffer(chunk, int(ExternalFlashReadChunk));
        if (std::memcmp(chunk, external.constData() + offset, ExternalFlashReadChunk) == 0)
            return true;
    }
    return false;
}

bool Upgrader::startApplication()
{
    stage = Stage::Starting;
    ApplicationStart start(*usb, identifiedSerial,
                           {waits.connectRetryMs, waits.startConfirmMs, waits.applicationStartMs});
    if (start.start([this] {
            Q_EMIT sendText(tr("The start was not acknowledged: waiting for the Tq470 to come "
                               "back in its application ..."));
        }))
        return true;
    endWith(Outcome::Failed, tr("The firmware is written and verified, but its start could not be "
                                "confirmed: replug the Tq470, or start it with \"tq470-flash "
                                "run\""));
    return false;
}
