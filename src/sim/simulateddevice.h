#ifndef TQ470_SIMULATEDDEVICE_H
#define TQ470_SIMULATEDDEVICE_H

#include "faultplan.h"
#include "tq470model.h"

#include <QList>
#include <QMutex>

#include <memory>

class TracePlayer;

// What one control transfer came to, as the bus must report it to the host.
struct TransferOutcome
{
    enum class Status { Completed, Stalled, TimedOut, Unplugged, AckLost, Failed };

    Status status = Status::Stalled;
    // IN: the bytes returned. OUT: unused.
    QByteArray data;
    // Bytes that moved in the data stage.
    int transferred = 0;
    // TimedOut: when the failure is reported.
    int delayMs = 0;
    // Completed: the device acknowledged, then leaves the bus. Unplugged: it is already gone.
    // AckLost: it acted on the request and leaves without acknowledging it.
    bool leavesBus = false;
    // When the device returns after leaving the bus, or FaultRule::Never.
    int returnAfterMs = FaultRule::Never;
    // Failed: the errno the host sees, as a trace recorded it.
    int error = 0;

    // The errno the host's request ends with (0 when completed), as usbfs reports it.
    int hostErrno() const;
};

struct LoggedRequest
{
    quint8 requestType = 0;
    quint8 request = 0;
    quint16 value = 0;
    quint16 index = 0;
    quint16 length = 0;
    FaultKind fault = FaultKind::None;
    TransferOutcome::Status status = TransferOutcome::Status::Stalled;
};

// One simulated Tq470 as the bus sees it: the model, the faults planned for it and the log of
// the control requests it met. With a trace player, the trace answers the control transfers in
// place of the model and the faults. Every member is safe to call from any thread: the bus calls it
// from umockdev's handler thread while a test reads memory or adds faults from its own.
class SimulatedDevice
{
public:
    explicit SimulatedDevice(const DeviceOptions &options = DeviceOptions());
    SimulatedDevice(const DeviceState &state, const DeviceOptions &options);

    // host tells the host processes apart: each meets the planned faults on its own.
    TransferOutcome controlTransfer(const SetupPacket &setup, const QByteArray &outData,
                                    int requestTimeoutMs, qint64 host = 0);
    void setTracePlayer(const std::shared_ptr<TracePlayer> &player);
    bool setConfiguration(int configuration) const;
    bool claimInterface(int interfaceNumber) const;
    QByteArray usbfsDescriptors() const;
    bool refusesAccess() const;

    DeviceMode mode() const;
    DeviceState state() const;
    QString serialText() const;
    QByteArray readInternal(quint32 address, int length) const;
    QByteArray readExternal(quint32 address, int length) const;
    QByteArray testBlock() const;

    QList<LoggedRequest> requestLog() const;
    void clearRequestLog();

    void addFault(const FaultRule &rule);
    bool addFault(const QString &ruleText, QString *error = nullptr);
    void setRandomFaults(const RandomFaults &random);
    void clearFaults();

private:
    // The model's answer, shortened or corrupted as the fault says.
    TransferOutcome deliver(const SetupPacket &setup, QByteArray outData,
                            const FaultDecision &fault);
    static void corrupt(QByteArray &data);
    static int shortLength(int requested, int bytes);

    mutable QMutex m_lock;
    Tq470Model m_model;
    FaultPlan m_faults;
    QList<LoggedRequest> m_log;
    std::shared_ptr<TracePlayer> m_player;
};

#endif
