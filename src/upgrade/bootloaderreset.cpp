#include "bootloaderreset.h"

#include "bootloaderprotocol.h"
#include "debuglog.h"
#include "deviceidentity.h"
#include "usbtq470.h"

#include <QDebug>
#include <QElapsedTimer>

using namespace Bootloader;

namespace {

// While waiting after the reset, any serial that carries the marker after its digits will do.
bool serialShowsBootloader(const QByteArray &serial)
{
    return serial.size() > SerialDigits && serial.at(SerialDigits) == BootloaderSerialMarker;
}

} // namespace

BootloaderReset::BootloaderReset(USBTQ470 &usb, const Waits &waits) : usb(usb), waits(waits) {}

bool BootloaderReset::requestReset()
{
    const bool acknowledged = usb.RunApplication();
    qCDebug(tq470Debug, "usb->RunApplication()");
    return acknowledged;
}

// The device needs about two seconds to acknowledge request 0x04 and drop off the bus, and a
// little longer before it enumerates again as the bootloader.
bool BootloaderReset::letDeviceRestart()
{
    if (!usb.sleepUnlessStopped(waits.resetMs))
        return false;
    usb.disconnect();
    qCDebug(tq470Debug, "usb->disconnect()");
    return usb.sleepUnlessStopped(waits.resetDisconnectMs);
}

bool BootloaderReset::awaitBootloader()
{
    if (!letDeviceRestart())
        return false;
    QElapsedTimer elapsed;
    elapsed.start();
    int connectFailures = 0;
    int otherAnswers = 0;
    int resends = 0;
    for (;;) {
        if (usb.connect() != 0) {
            if (++connectFailures == ConnectFailures && waits.deadlineMs <= 0)
                return false;
        } else {
            const QByteArray serial = usb.ReadSerialNumber();
            if (serialShowsBootloader(serial))
                return true;
            const bool lastAnswer = ++otherAnswers == AnswerAttempts;
            if (!lastAnswer && resends < ResetResends &&
                DeviceIdentity::modeFromSerial(serial) == DeviceIdentity::Mode::Application) {
                ++resends;
                qCDebug(tq470Debug, "the application answers after the reset: reset sent again");
                requestReset();
                if (!letDeviceRestart())
                    return false;
                continue;
            }
            if (lastAnswer) {
                // Every answer that is not the bootloader's is followed by the pause, the last too.
                usb.sleepUnlessStopped(waits.pollMs);
                return false;
            }
        }
        if (waits.deadlineMs > 0 && elapsed.elapsed() + waits.pollMs > waits.deadlineMs)
            return false;
        if (!usb.sleepUnlessStopped(waits.pollMs))
            return false;
    }
}
