#ifndef TQ470_USBTQ470_H
#define TQ470_USBTQ470_H

#include "usbdevice.h"

#include <QByteArray>

#include <atomic>

// The Tq470 bootloader: a UsbDevice fixed to the bootloader's ids whose operations are the
// bootloader's vendor requests. Long transfers are cut into the chunk sizes each request
// allows; external-flash transfers retry and report their progress in percent.
class USBTQ470 : public UsbDevice
{
    Q_OBJECT

public:
    USBTQ470();
    ~USBTQ470() override;

    int ReadMemoryFromAddress(char *buffer, quint32 address, quint32 length);
    int WritePageToAddress(char *page, quint32 address);
    // Whether an external-flash transfer reports its percent through the progress signals: a
    // transfer that repairs a few chunks after the bar reached 100 % must not move it back.
    enum class Progress { Reported, Quiet };
    int ReadExternalFlashFromAddress(char *buffer, quint32 address, quint32 length,
                                     Progress progress = Progress::Reported);
    int WriteExternalFlashToAddress(char *buffer, quint32 address, quint32 length,
                                    Progress progress = Progress::Reported);
    // True when the device acknowledged the request.
    bool RunApplication();
    QByteArray ReadSerialNumber();

    // Any thread may ask the transfers of this object to stop: the long transfers end, failed,
    // before their next request, every pause ends within StopPollMs, and the request is kept
    // until cleared. A single atomic store, so a signal handler may call it too.
    void requestStop() { stopFlag.store(true); }
    void clearStopRequest() { stopFlag.store(false); }
    bool stopRequested() const { return stopFlag.load(); }

    // Pauses the calling thread for ms unless a stop is requested; false when one was (also
    // when it came before the pause). Every wait of the device's users goes through it.
    static constexpr int StopPollMs = 20;
    bool sleepUnlessStopped(int ms);

    // A device that has left the bus is waited for, connecting every DropOutPollMs, for at most
    // DropOutWaitMs, unless a stop is requested. True when the device is connected on return.
    // A wait that begins is announced by sendAwaitingReturn.
    static constexpr int DropOutWaitMs = 2000;
    static constexpr int DropOutPollMs = 50;
    bool awaitReturn(int waitMs = DropOutWaitMs);

Q_SIGNALS:
    void sendPercentExtFlashWrite(int percent);
    void sendPercentExtFlashRead(int percent);
    // The device did not answer at once after a failed transfer: awaitReturn waits for it.
    void sendAwaitingReturn();

private:
    std::atomic<bool> stopFlag{false};
};

#endif
