#include "simulateddevice.h"

#include "traceplayer.h"

#include <QMutexLocker>

#include <cerrno>

namespace {

constexpr char CorruptionMask = char(0xFF);

} // namespace

SimulatedDevice::SimulatedDevice(const DeviceOptions &options) : m_model(options) {}

SimulatedDevice::SimulatedDevice(const DeviceState &state, const DeviceOptions &options)
    : m_model(state, options)
{
}

TransferOutcome SimulatedDevice::controlTransfer(const SetupPacket &setup,
                                                 const QByteArray &outData, int requestTimeoutMs,
                                                 qint64 host)
{
    QMutexLocker locker(&m_lock);
    const FaultDecision fault = m_player ? FaultDecision() : m_faults.decide(setup, host);
    TransferOutcome outcome;
    switch (fault.kind) {
    case FaultKind::Stall:
        outcome.status = TransferOutcome::Status::Stalled;
        break;
    case FaultKind::Timeout:
        outcome.status = TransferOutcome::Status::TimedOut;
        outcome.delayMs = fault.delayMs >= 0 ? fault.delayMs : requestTimeoutMs;
        break;
    case FaultKind::Unplug:
        outcome.status = TransferOutcome::Status::Unplugged;
        outcome.leavesBus = true;
        outcome.returnAfterMs = fault.replugMs;
        break;
    case FaultKind::LostAck: {
        // The device acts as always; only the handshake that would tell the host so is missing.
        const TransferOutcome acted = deliver(setup, outData, fault);
        outcome.status =
            acted.leavesBus ? TransferOutcome::Status::AckLost : TransferOutcome::Status::TimedOut;
        outcome.delayMs = fault.delayMs >= 0 ? fault.delayMs : requestTimeoutMs;
        outcome.leavesBus = acted.leavesBus;
        outcome.returnAfterMs = acted.returnAfterMs;
        break;
    }
    case FaultKind::OtherMode:
        outcome = deliver(setup, outData, fault);
        if (outcome.leavesBus && m_model.mode() == DeviceMode::Bootloader)
            m_model.setBootloaderLetter(fault.letter);
        break;
    case FaultKind::ShortTransfer:
    case FaultKind::Corrupt:
    case FaultKind::None:
        outcome = m_player ? m_player->answer(setup, outData, requestTimeoutMs)
                           : deliver(setup, outData, fault);
        break;
    }
    m_log.append(LoggedRequest{setup.requestType, setup.request, setup.value, setup.index,
                               setup.length, fault.kind, outcome.status});
    return outcome;
}

TransferOutcome SimulatedDevice::deliver(const SetupPacket &setup, QByteArray outData,
                                         const FaultDecision &fault)
{
    TransferOutcome outcome;
    outcome.status = TransferOutcome::Status::Completed;
    const bool shortened = fault.kind == FaultKind::ShortTransfer;
    const bool corrupted = fault.kind == FaultKind::Corrupt;
    if (!setup.isIn()) {
        if (shortened && setup.length > 0) {
            // An incomplete data stage: the device never acts on the request.
            outcome.transferred = shortLength(setup.length, fault.bytes);
            return outcome;
        }
        if (corrupted)
            corrupt(outData);
    }

    const Tq470Model::Answer answer = m_model.handleControl(setup, outData);
    if (answer.stalled) {
        outcome.status = TransferOutcome::Status::Stalled;
        return outcome;
    }
    if (setup.isIn()) {
        outcome.data = answer.data;
        if (shortened)
            outcome.data.truncate(shortLength(setup.length, fault.bytes));
        if (corrupted)
            corrupt(outcome.data);
    }
    outcome.transferred = setup.isIn() ? int(outcome.data.size()) : int(setup.length);
    outcome.leavesBus = answer.leavesBus;
    outcome.returnAfterMs = m_model.options().reenumerateDelayMs;
    return outcome;
}

void SimulatedDevice::setTracePlayer(const std::shared_ptr<TracePlayer> &player)
{
    QMutexLocker locker(&m_lock);
    m_player = player;
}

bool SimulatedDevice::setConfiguration(int configuration) const
{
    QMutexLocker locker(&m_lock);
    return m_model.setConfiguration(configuration);
}

bool SimulatedDevice::claimInterface(int interfaceNumber) const
{
    QMutexLocker locker(&m_lock);
    return m_model.claimInterface(interfaceNumber);
}

QByteArray SimulatedDevice::usbfsDescriptors() const
{
    QMutexLocker locker(&m_lock);
    return m_model.usbfsDescriptors();
}

bool SimulatedDevice::refusesAccess() const
{
    QMutexLocker locker(&m_lock);
    return m_model.options().refuseAccess;
}

DeviceMode SimulatedDevice::mode() const
{
    QMutexLocker locker(&m_lock);
    return m_model.mode();
}

DeviceState SimulatedDevice::state() const
{
    QMutexLocker locker(&m_lock);
    return m_model.state();
}

QString SimulatedDevice::serialText() const
{
    QMutexLocker locker(&m_lock);
    return m_model.serialText();
}

QByteArray SimulatedDevice::readInternal(quint32 address, int length) const
{
    QMutexLocker locker(&m_lock);
    return m_model.readInternal(address, length);
}

QByteArray SimulatedDevice::readExternal(quint32 address, int length) const
{
    QMutexLocker locker(&m_lock);
    return m_model.readExternal(address, length);
}

QByteArray SimulatedDevice::testBlock() const
{
    QMutexLocker locker(&m_lock);
    return m_model.state().testBlock;
}

QList<LoggedRequest> SimulatedDevice::requestLog() const
{
    QMutexLocker locker(&m_lock);
    return m_log;
}

void SimulatedDevice::clearRequestLog()
{
    QMutexLocker locker(&m_lock);
    m_log.clear();
}

void SimulatedDevice::addFault(const FaultRule &rule)
{
    QMutexLocker locker(&m_lock);
    m_faults.addRule(rule);
}

bool SimulatedDevice::addFault(const QString &ruleText, QString *error)
{
    FaultRule rule;
    if (!FaultPlan::parseRule(ruleText, &rule, error))
        return false;
    addFault(rule);
    return true;
}

void SimulatedDevice::setRandomFaults(const RandomFaults &random)
{
    QMutexLocker locker(&m_lock);
    m_faults.setRandomFaults(random);
}

void SimulatedDevice::clearFaults()
{
    QMutexLocker locker(&m_lock);
    m_faults.clear();
}

void SimulatedDevice::corrupt(QByteArray &data)
{
    if (!data.isEmpty())
        data[data.size() / 2] = char(data.at(data.size() / 2) ^ CorruptionMask);
}

int SimulatedDevice::shortLength(int requested, int bytes)
{
    const int wanted = bytes >= 0 ? bytes : requested / 2;
    return qMin(wanted, requested);
}

int TransferOutcome::hostErrno() const
{
    switch (status) {
    case Status::Completed:
        return 0;
    case Status::TimedOut:
        return ETIMEDOUT;
    case Status::Unplugged:
        return ENODEV;
    case Status::AckLost:
        // A device that resets before its handshake leaves the host controller without an
        // answer, which it reports as a protocol error well before the hub reports the
        // departure.
        return EPROTO;
    case Status::Failed:
        return error;
    case Status::Stalled:
        break;
    }
    return EPIPE;
}
