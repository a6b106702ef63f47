#ifndef TQ470_TRACEPLAYER_H
#define TQ470_TRACEPLAYER_H

#include "devicestate.h"
#include "simulateddevice.h"
#include "usbmontrace.h"

#include <QMutex>
#include <QStringList>

// A Tq470 as a USB trace in usbmon's format shows it (the tool's own recording, or a capture of
// the whole bus): the requests the host made to it, in order, with their recorded answers. The
// device is found by its device descriptor or, without one, by its bootloader's requests, and
// followed to the device numbers it takes after a reset or a drop-out; the kernel's enumeration
// and other devices' traffic are left out.
//
// Replayed, it answers the host's control transfers in place of the model: each must ask what
// the next recorded request asked (setup and OUT data) and gets its recorded answer, the device
// leaving the bus where the trace shows it leave. The first that asks something else ends the
// replay: from then on every request times out. Safe to call from any thread.
class TracePlayer
{
public:
    static constexpr int ReportedDifferences = 10;
    // What a checked request may wait: the model answers at once, a planned timeout is not waited.
    static constexpr int CheckTimeoutMs = 1000;

    // Refuses, with the reason, a file that is no USB trace, ends inside a record or holds no
    // request to a Tq470.
    bool load(const QString &fileName, QString *error);

    TransferOutcome answer(const SetupPacket &setup, const QByteArray &outData,
                           int requestTimeoutMs);
    bool diverged() const;
    // Where the replay ended, when it ended before the trace did; empty otherwise.
    QStringList replayReport() const;

    // The device as the trace starts: in its mode, with its serial.
    DeviceState startState() const;
    // Sends the recorded requests to device (its model and any faults planned for it, started
    // in startState()). Returns how many answers differ from the recorded ones; report gets the
    // first ReportedDifferences of them, then the count.
    int compareWith(SimulatedDevice &device, QStringList *report) const;

private:
    struct Step
    {
        UsbTransfer transfer;
        bool leavesBus = false;
        int returnAfterMs = FaultRule::Never;
    };

    void findRequests(const QList<UsbTransfer> &transfers);
    void findStart();
    QString describe(int step) const;
    static SetupPacket setupOf(const UsbTransfer &transfer);

    mutable QMutex m_lock;
    QString m_fileName;
    QList<Step> m_steps;
    qint64 m_startUs = 0;
    DeviceMode m_startMode = DeviceMode::Bootloader;
    QByteArray m_serial;
    int m_next = 0;
    bool m_diverged = false;
    QStringList m_divergence;
};

#endif
