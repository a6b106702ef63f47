#include "usbtq470.h"

#include "bootloaderprotocol.h"
#include "debuglog.h"
#include "deviceidentity.h"
#include "encoding.h"

#include <QDebug>
#include <QElapsedTimer>

#include <chrono>
#include <thread>

using namespace Bootloader;

namespace {

// Percent of a transfer done, truncated; 64-bit so that large lengths cannot overflow.
int percentDone(quint32 total, quint32 remaining)
{
    return int((quint64(total) - remaining) * 100 / total);
}

} // namespace

USBTQ470::USBTQ470()
{
    set_vid_pid(VendorId, ProductId);
    set_device_id(IdentityWord);
    qCDebug(tq470Debug) << "USBTQ470 constructor";
}

USBTQ470::~USBTQ470() = default;

int USBTQ470::ReadMemoryFromAddress(char *buffer, quint32 address, quint32 length)
{
    while (length > 0) {
        if (stopRequested())
            return -1;
        const quint32 n = qMin(length, MemoryReadChunk);
        if (control_receive(RequestReadMemory, addressLow(address), addressHigh(address), buffer,
                            int(n)) != int(n))
            return -1;
        DecodeBuffer(buffer, int(n));
        address += n;
        buffer += n;
        length -= n;
    }
    return 0;
}

int USBTQ470::WritePageToAddress(char *page, quint32 address)
{
    EncodeBuffer(page, int(PageSize));
    const int sent =
        control_send(RequestWritePage, addressLow(address), addressHigh(address), page, PageSize);
    return sent == int(PageSize) ? 0 : -1;
}

int USBTQ470::ReadExternalFlashFromAddress(char *buffer, quint32 address, quint32 length,
                                           Progress progress)
{
    const quint32 total = length;
    int retries = ExternalFlashRetries;
    // A device that stays away longer than one wait gets only the retries.
    bool awaitDropOuts = true;
    while (length > 0) {
        if (stopRequested())
            return -1;
        const quint32 n = qMin(length, ExternalFlashReadChunk);
        if (control_receive(RequestReadExternalFlash, addressLow(address), addressHigh(address),
                            buffer, int(n)) == int(n)) {
            buffer += n;
            address += n;
            length -= n;
            if (progress == Progress::Reported)
                Q_EMIT sendPercentExtFlashRead(percentDone(total, length));
        } else if (retries-- == 0) {
            return -1;
        } else if (awaitDropOuts) {
            awaitDropOuts = awaitReturn();
        }
    }
    return 0;
}

int USBTQ470::WriteExternalFlashToAddress(char *buffer, quint32 address, quint32 length,
                                          Progress progress)
{
    const quint32 total = length;
    int retries = ExternalFlashRetries;
    // A device that stays away longer than one wait gets only the retries.
    bool awaitDropOuts = true;
    while (length > 0) {
        if (stopRequested())
            return -1;
        const quint32 n = qMin(length, ExternalFlashWriteChunk);
        if (control_send(RequestWriteExternalFlash, addressLow(address), addressHigh(address),
                         buffer, int(n)) == int(n)) {
            buffer += n;
            address += n;
            length -= n;
            if (progress == Progress::Reported)
                Q_EMIT sendPercentExtFlashWrite(percentDone(total, length));
        } else if (retries-- == 0) {
            return -1;
        } else if (awaitDropOuts) {
            awaitDropOuts = awaitReturn();
        }
    }
    return 0;
}

bool USBTQ470::RunApplication()
{
    qCDebug(tq470Debug) << "USBTQ470::RunApplication(void)";
    return control_send(RequestRunApplication, 0, 0, nullptr, 0) >= 0;
}

// A failed transfer has closed the device; the next transfer would connect again at once and,
// while a port resets, find nothing. An open device, or one that answers at once, costs the
// same single connect that the next transfer would make.
bool USBTQ470::awaitReturn(int waitMs)
{
    if (connection_status() == 0)
        return true;
    QElapsedTimer elapsed;
    elapsed.start();
    for (bool announced = false;; announced = true) {
        if (connect() == 0)
            return true;
        if (elapsed.elapsed() + DropOutPollMs > waitMs) {
            qCDebug(tq470Debug, "device not back after %d ms", waitMs);
            return false;
        }
        if (!announced)
            Q_EMIT sendAwaitingReturn();
        if (!sleepUnlessStopped(DropOutPollMs))
            return false;
    }
}

// Slices of StopPollMs: a stop may come from a signal handler, which can only set the flag.
bool USBTQ470::sleepUnlessStopped(int ms)
{
    qCDebug(tq470Debug, "pause of %d ms", ms);
    QElapsedTimer elapsed;
    elapsed.start();
    for (qint64 left = ms; left > 0 && !stopRequested(); left = ms - elapsed.elapsed())
        std::this_thread::sleep_for(std::chrono::milliseconds(qMin<qint64>(left, StopPollMs)));
    return !stopRequested();
}

QByteArray USBTQ470::ReadSerialNumber()
{
    char descriptor[StringDescriptorBufferSize];
    const int received = get_descriptor(StringDescriptorType, SerialStringIndex, descriptor,
                                        StringDescriptorBufferSize);
    return DeviceIdentity::serialFromDescriptor(QByteArray(descriptor, qMax(received, 0)));
}
