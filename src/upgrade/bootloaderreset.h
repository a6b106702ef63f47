#ifndef TQ470_BOOTLOADERRESET_H
#define TQ470_BOOTLOADERRESET_H

class USBTQ470;

// Puts a device that runs its application into its bootloader: request 0x04, the pause while
// the device acknowledges and drops off the bus, and the bounded wait until it enumerates again
// as the bootloader. Used by the upgrade worker and by the command line alike.
class BootloaderReset
{
public:
    // After the reset: answers that are not the bootloader's, and connects that find nothing,
    // each bounded on its own.
    static constexpr int AnswerAttempts = 10;
    static constexpr int ConnectFailures = 50;

    static constexpr int ResetWaitMs = 2000;
    static constexpr int ResetDisconnectWaitMs = 500;
    static constexpr int PollWaitMs = 200;

    struct Waits
    {
        int resetMs = ResetWaitMs;
        int resetDisconnectMs = ResetDisconnectWaitMs;
        int pollMs = PollWaitMs;
        // Bounds the wait for the bootloader beside the counts; 0 for the counts only.
        int deadlineMs = 0;
    };

    BootloaderReset(USBTQ470 &usb, const Waits &waits);

    // Sends the reset and waits for the device to leave the bus; the handle is closed after.
    void requestReset();
    // Connects until the device answers with a bootloader's serial (true, left connected) or
    // a bound is reached (false). The process-wide serial filter keeps a chosen device chosen.
    bool awaitBootloader();

private:
    USBTQ470 &usb;
    Waits waits;
};

#endif
