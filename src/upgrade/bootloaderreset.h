#ifndef TQ470_BOOTLOADERRESET_H
#define TQ470_BOOTLOADERRESET_H

class USBTQ470;

// Puts a device that runs its application into its bootloader: request 0x04, the pause while
// the device acknowledges and drops off the bus, and the bounded wait until it enumerates again
// as the bootloader. Used by the upgrade worker and by the command line alike. Every pause ends
// early when a stop is requested on the device object.
class BootloaderReset
{
public:
    // After the reset: answers that are not the bootloader's, and connects that find nothing,
    // each bounded on its own; a deadline, when given, bounds the connects instead.
    static constexpr int AnswerAttempts = 10;
    static constexpr int ConnectFailures = 50;
    // An application that answers after the reset did not take it: the reset is sent again,
    // at most this often, within the same bounds.
    static constexpr int ResetResends = 2;

    static constexpr int ResetWaitMs = 2000;
    static constexpr int ResetDisconnectWaitMs = 500;
    static constexpr int PollWaitMs = 200;

    struct Waits
    {
        int resetMs = ResetWaitMs;
        int resetDisconnectMs = ResetDisconnectWaitMs;
        int pollMs = PollWaitMs;
        // Bounds the wait for the bootloader in place of the count of connects that find
        // nothing; 0 for the counts only.
        int deadlineMs = 0;
    };

    BootloaderReset(USBTQ470 &usb, const Waits &waits);

    // Sends request 0x04 to the running application; true when it was acknowledged.
    bool requestReset();
    // Waits for the device to leave the bus (the handle is closed after the reset pause), then
    // connects until it answers with a bootloader's serial (true, left connected), a bound is
    // reached or a stop is requested (false). The process-wide serial filter keeps a chosen
    // device chosen.
    bool awaitBootloader();

private:
    // The pause after request 0x04, the handle closed, and the pause before looking again.
    bool letDeviceRestart();

    USBTQ470 &usb;
    Waits waits;
};

#endif
