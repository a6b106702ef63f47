#include "bootloaderreset.h"

#include "bootloaderprotocol.h"
#include "debuglog.h"
#include "usbtq470.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QThread>

using namespace Bootloader;

namespace {

// While waiting after the reset, any serial that carries the marker after its digits will do.
bool serialShowsBootloader(const QByteArray &serial)
{
    return serial.size() > SerialDigits && serial.at(SerialDigits) == BootloaderSerialMarker;
}

} // namespace

BootloaderReset::BootloaderReset(USBTQ470 &usb, const Waits &waits) : usb(usb), waits(waits) {}

// The device needs about two seconds to acknowledge request 0x04 and drop off the bus, and a
// little longer before it enumerates again as the bootloader.
void BootloaderReset::requestReset()
{
    usb.RunApplication();
    qCDebug(tq470Debug, "usb->RunApplication()");
    QThread::msleep(ulong(waits.resetMs));
    usb.disconnect();
    qCDebug(tq470Debug, "usb->disconnect()");
    QThread::msleep(ulong(waits.resetDisconnectMs));
}

bool BootloaderReset::awaitBootloader()
{
    QElapsedTimer elapsed;
    elapsed.start();
    int connectFailures = 0;
    int otherAnswers = 0;
    for (;;) {
        if (usb.connect() != 0) {
            if (++connectFailures == ConnectFailures)
                return false;
        } else if (serialShowsBootloader(usb.ReadSerialNumber())) {
            return true;
        } else if (++otherAnswers == AnswerAttempts) {
            // Every answer that is not the bootloader's is followed by the pause, the last too.
            QThread::msleep(ulong(waits.pollMs));
            return false;
        }
        if (waits.deadlineMs > 0 && elapsed.elapsed() + waits.pollMs > waits.deadlineMs)
            return false;
        QThread::msleep(ulong(waits.pollMs));
    }
}
