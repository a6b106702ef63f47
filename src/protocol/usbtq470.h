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
    int ReadExternalFlashFromAddress(char *buffer, quint32 address, quint32 length);
    int WriteExternalFlashToAddress(char *buffer, quint32 address, quint32 length);
    // True when the device acknowledged the request.
    bool RunApplication();
    QByteArray ReadSerialNumber();

    // Any thread may ask the transfers of this object to stop: the long transfers end, failed,
    // before their next request and the request is kept until cleared.
    void requestStop() { stopFlag.store(true); }
    void clearStopRequest() { stopFlag.store(false); }
    bool stopRequested() const { return stopFlag.load(); }

    // A device that has left the bus is waited for, connecting every DropOutPollMs, for at most
    // DropOutWaitMs. True when the device is connected on return.
    static constexpr int DropOutWaitMs = 2000;
    static constexpr int DropOutPollMs = 50;
    bool awaitReturn(int waitMs = DropOutWaitMs);

Q_SIGNALS:
    void sendPercentExtFlashWrite(int percent);
    void sendPercentExtFlashRead(int percent);

private:
    std::atomic<bool> stopFlag{false};
};

#endif
