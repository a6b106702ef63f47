#ifndef TQ470_APPLICATIONSTART_H
#define TQ470_APPLICATIONSTART_H

#include <QByteArray>

#include <functional>

class USBTQ470;

// Starts the application of a device that runs its bootloader (request 0x04) and counts it
// started only with proof: the acknowledgement of the request, or else the application seen on
// the bus under the device's serial. While the bootloader is still there the request is sent
// again. Used by the upgrade worker and by the command line's verify alike. Every pause ends
// early when a stop is requested on the device object.
class ApplicationStart
{
public:
    // An unacknowledged start: the bus is looked at every PollMs for at most ConfirmWaitMs,
    // and the start sent again at most Resends times while the bootloader is still there.
    static constexpr int ConfirmWaitMs = 5000;
    static constexpr int PollMs = 200;
    static constexpr int Resends = 3;
    static constexpr int LeaveBusWaitMs = 1000;

    struct Waits
    {
        int pollMs = PollMs;
        int confirmMs = ConfirmWaitMs;
        int leaveBusMs = LeaveBusWaitMs;
    };

    // serialDigits: the nine digits of the device's serial.
    ApplicationStart(USBTQ470 &usb, const QByteArray &serialDigits, const Waits &waits);

    // True once the start is proven; the device is closed on return. announceWait is called
    // once, when the acknowledgement is missing and the bus is watched.
    bool start(const std::function<void()> &announceWait = {});

private:
    bool confirm();

    USBTQ470 &usb;
    QByteArray applicationSerial;
    QByteArray bootloaderSerial;
    Waits waits;
};

#endif
