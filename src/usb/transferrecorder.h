#ifndef TQ470_TRANSFERRECORDER_H
#define TQ470_TRANSFERRECORDER_H

#include "usbmontrace.h"

#include <QString>

// The recording of every USB transfer the process makes, into one trace in usbmon's format, as
// Wireshark captures it on a real bus: for a technician's problem report and for comparing the
// simulated device with a real one. Process-wide and thread-safe; the transport records each
// libusb 0.1 call through it while a recording runs, and a transfer outside a recording costs
// one flag's read.
class TransferRecorder
{
public:
    // The window records when this names the trace to write.
    static constexpr char EnvironmentVariable[] = "TQ470_RECORD";

    // Creates (or empties) fileName and records into it from now on. Without it, with the
    // reason, and nothing recorded.
    static bool start(const QString &fileName, QString *error);
    // start() on the file TQ470_RECORD names; true, recording nothing, when it is not set.
    static bool startFromEnvironment(QString *error);
    static void stop();
    static bool isRecording();

    // usbmon's numbers of the device a transfer goes to.
    struct Address
    {
        quint16 bus = 0;
        quint8 device = 0;
    };

    // A transfer about to be submitted, with its URB id and submission time: a control transfer
    // with its setup and the data stage's length, a bulk transfer on its endpoint with the
    // buffer's length; for OUT, the bytes sent from data.
    static UsbTransfer controlSubmission(Address address, quint8 requestType, quint8 request,
                                         quint16 value, quint16 index, const char *data,
                                         int length);
    static UsbTransfer bulkSubmission(Address address, quint8 endpoint, const char *data,
                                      int length);
    // Writes the transfer with its completion from libusb 0.1's result (a byte count or
    // -errno); for IN, the bytes received in buffer.
    static void complete(UsbTransfer transfer, int result, const char *buffer);

    // The completion's status that usbmon shows for a transfer libusb 0.1 ended with result.
    static qint32 usbmonStatus(quint8 type, int result);
};

#endif
