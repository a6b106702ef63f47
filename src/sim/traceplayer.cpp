#include "traceplayer.h"

#include "bootloaderprotocol.h"
#include "deviceidentity.h"
#include "tq470model.h"
#include "transferrecorder.h"

#include <QHash>
#include <QMutexLocker>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>
#include <optional>

namespace {

constexpr quint8 StandardDeviceIn = 0x80;
constexpr quint8 VendorDeviceIn = 0xC0;
constexpr quint8 VendorDeviceOut = 0x40;
constexpr quint8 GetDescriptor = 6;
constexpr quint16 DeviceDescriptorValue = 0x0100;
constexpr quint16 SerialDescriptorValue =
    Bootloader::StringDescriptorType << 8 | Bootloader::SerialStringIndex;
constexpr int VendorIdOffset = 8;
constexpr int ProductIdOffset = 10;
constexpr int DescriptorIdsEnd = 12;
constexpr qint64 UsPerMs = 1000;
constexpr double UsPerSecond = 1e6;
constexpr quint8 BootloaderRequests[] = {
    Bootloader::RequestReadMemory,        Bootloader::RequestWriteTestBlock,
    Bootloader::RequestWritePage,         Bootloader::RequestRunApplication,
    Bootloader::RequestReadExternalFlash, Bootloader::RequestWriteExternalFlash,
    Bootloader::RequestIdentity,
};
// Requests only the bootloader takes: one of them answered tells the device's mode.
constexpr quint8 BootloaderOnlyRequests[] = {
    Bootloader::RequestWriteTestBlock, Bootloader::RequestWritePage,
    Bootloader::RequestReadExternalFlash, Bootloader::RequestWriteExternalFlash};

// A bus and a device number in one key.
quint32 addressOf(const UsbTransfer &transfer)
{
    return quint32(transfer.bus) << 8 | transfer.device;
}

bool isVendor(const UsbTransfer &transfer)
{
    return (transfer.requestType() & SetupPacket::TypeMask) == SetupPacket::TypeVendor;
}

bool isOneOf(quint8 request, const quint8 *first, const quint8 *last)
{
    return std::find(first, last, request) != last;
}

bool isBootloaderRequest(const UsbTransfer &transfer)
{
    return (transfer.requestType() == VendorDeviceIn ||
            transfer.requestType() == VendorDeviceOut) &&
           isOneOf(transfer.request(), std::begin(BootloaderRequests),
                   std::end(BootloaderRequests));
}

// The serial as the tool reads it: libusb 0.1's usb_get_descriptor() asks in no language
// (wIndex 0), where the kernel's enumeration asks in one.
bool isSerialRead(const UsbTransfer &transfer)
{
    return transfer.requestType() == StandardDeviceIn && transfer.request() == GetDescriptor &&
           transfer.value() == SerialDescriptorValue && transfer.index() == 0;
}

bool isAnswered(const UsbTransfer &transfer)
{
    return transfer.completed && transfer.status == 0;
}

// Whether an answered read of a device descriptor names a Tq470; nothing for other transfers.
std::optional<bool> namesTq470(const UsbTransfer &transfer)
{
    if (transfer.requestType() != StandardDeviceIn || transfer.request() != GetDescriptor ||
        transfer.value() != DeviceDescriptorValue || !isAnswered(transfer) ||
        transfer.data.size() < DescriptorIdsEnd)
        return std::nullopt;
    const auto *bytes = reinterpret_cast<const uchar *>(transfer.data.constData());
    return qFromLittleEndian<quint16>(bytes + VendorIdOffset) == Bootloader::VendorId &&
           qFromLittleEndian<quint16>(bytes + ProductIdOffset) == Bootloader::ProductId;
}

QString outcomeText(bool completed, qint32 status, const QByteArray &data, bool in)
{
    if (!completed)
        return QStringLiteral("no answer");
    if (status == 0)
        return in ? QStringLiteral("%1 bytes").arg(data.size()) : QStringLiteral("done");
    if (status == -EPIPE)
        return QStringLiteral("a stall");
    return status == -ENOENT ? QStringLiteral("a timeout")
                             : QStringLiteral("status %1").arg(status);
}

int firstDifference(const QByteArray &a, const QByteArray &b)
{
    int at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    return at;
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

} // namespace

bool TracePlayer::load(const QString &fileName, QString *error)
{
    QMutexLocker locker(&m_lock);
    QList<UsbTransfer> transfers;
    if (!UsbmonTrace::read(fileName, &transfers, error, &m_startUs))
        return false;
    m_fileName = fileName;
    findRequests(transfers);
    if (m_steps.isEmpty()) {
        *error = QStringLiteral("%1 holds no request to a Tq470 (USB id %2:%3)")
                     .arg(fileName)
                     .arg(Bootloader::VendorId, 4, 16, QLatin1Char('0'))
                     .arg(Bootloader::ProductId, 4, 16, QLatin1Char('0'));
        return false;
    }
    findStart();
    return true;
}

// The Tq470 is at an address (bus and device number) whose device descriptor names it, or, where
// the trace shows none, that takes its bootloader's requests. Of its control transfers, the
// vendor requests and the reads of the serial are the host's; the kernel's enumeration makes
// the others. Device 0 is a device being enumerated, before it gets its number.
void TracePlayer::findRequests(const QList<UsbTransfer> &transfers)
{
    QList<UsbTransfer> control;
    for (const UsbTransfer &transfer : transfers)
        if (transfer.type == UsbTransfer::Control &&
            transfer.setup.size() == UsbTransfer::SetupSize && transfer.device != 0)
            control.append(transfer);
    QHash<quint32, bool> tq470;
    QHash<quint32, qint64> firstUs;
    for (const UsbTransfer &transfer : std::as_const(control)) {
        const quint32 address = addressOf(transfer);
        firstUs.insert(address, firstUs.value(address, transfer.submittedUs));
        if (const std::optional<bool> named = namesTq470(transfer))
            tq470.insert(address, tq470.value(address, *named));
        else if (isBootloaderRequest(transfer) && !tq470.contains(address))
            tq470.insert(address, true);
    }
    quint32 latest = 0; // where a Tq470 appeared last
    for (const UsbTransfer &transfer : std::as_const(control)) {
        const quint32 address = addressOf(transfer);
        if (!tq470.value(address))
            continue;
        if (firstUs.value(address) > firstUs.value(latest, std::numeric_limits<qint64>::min()))
            latest = address;
        if (isVendor(transfer) || isSerialRead(transfer))
            m_steps.append(Step{transfer});
    }
    // The device leaves the bus after its last request at one address, to return at the next
    // address it is met at; after its very last request, only when it appears again or the
    // request failed as a device does when it leaves.
    for (int i = 0; i < m_steps.size(); ++i) {
        Step &step = m_steps[i];
        const UsbTransfer &transfer = step.transfer;
        const bool last = i + 1 == m_steps.size();
        const quint32 next = last ? latest : addressOf(m_steps.at(i + 1).transfer);
        const qint64 endUs = transfer.completed ? transfer.completedUs : transfer.submittedUs;
        if (next != addressOf(transfer) && (!last || firstUs.value(next) > transfer.submittedUs)) {
            step.leavesBus = true;
            step.returnAfterMs = int(qMax<qint64>(0, firstUs.value(next) - endUs) / UsPerMs);
        } else if (last && transfer.completed && transfer.status != 0 &&
                   transfer.status != -EPIPE && transfer.status != -ENOENT) {
            step.leavesBus = true;
        }
    }
}

// The serial of the first well-formed read, and the mode the first answer that tells one shows:
// a serial with or without its mode letter, or a request only the bootloader takes. Each request
// 0x04 before that answer moved the device to its other mode.
void TracePlayer::findStart()
{
    int resets = 0;
    std::optional<DeviceMode> shown;
    for (const Step &step : std::as_const(m_steps)) {
        const UsbTransfer &transfer = step.transfer;
        const QByteArray serial = isAnswered(transfer) && isSerialRead(transfer)
                                      ? DeviceIdentity::wellFormedSerial(transfer.data)
                                      : QByteArray();
        if (m_serial.isEmpty())
            m_serial = serial.left(Bootloader::SerialDigits);
        if (shown)
            continue;
        if (!serial.isEmpty())
            shown = serial.size() > Bootloader::SerialDigits ? DeviceMode::Bootloader
                                                             : DeviceMode::Application;
        else if (isAnswered(transfer) && isVendor(transfer) &&
                 isOneOf(transfer.request(), std::begin(BootloaderOnlyRequests),
                         std::end(BootloaderOnlyRequests)))
            shown = DeviceMode::Bootloader;
        else if (isVendor(transfer) && transfer.request() == Bootloader::RequestRunApplication)
            ++resets;
        if (shown && resets % 2 != 0)
            shown =
                *shown == DeviceMode::Bootloader ? DeviceMode::Application : DeviceMode::Bootloader;
    }
    m_startMode = shown.value_or(DeviceMode::Bootloader);
    if (m_serial.isEmpty())
        m_serial = DeviceOptions::DefaultSerial;
}

TransferOutcome TracePlayer::answer(const SetupPacket &setup, const QByteArray &outData,
                                    int requestTimeoutMs)
{
    QMutexLocker locker(&m_lock);
    // After the replay, no request gets an answer; none is waited for, so that the command, which
    // has nothing more to learn, comes to its end soon.
    TransferOutcome outcome;
    outcome.status = TransferOutcome::Status::TimedOut;
    if (m_diverged)
        return outcome;
    const QByteArray received = UsbTransfer::setupPacket(setup.requestType, setup.request,
                                                         setup.value, setup.index, setup.length);
    const bool pastEnd = m_next == m_steps.size();
    const UsbTransfer recorded = pastEnd ? UsbTransfer() : m_steps.at(m_next).transfer;
    if (pastEnd || recorded.setup != received || (!setup.isIn() && recorded.data != outData)) {
        m_diverged = true;
        m_divergence << (pastEnd ? QStringLiteral("the replay of %1 ends after its last request "
                                                  "(%2): the command asked for one more")
                                       .arg(m_fileName)
                                       .arg(m_steps.size())
                                 : QStringLiteral("the replay of %1 ends at its %2: the command "
                                                  "asked for another")
                                       .arg(m_fileName, describe(m_next)));
        if (!pastEnd)
            m_divergence << QStringLiteral("  recorded: ") + hex(recorded.setup);
        m_divergence << QStringLiteral("  received: ") + hex(received);
        if (!pastEnd && recorded.setup == received)
            m_divergence << QStringLiteral("  the OUT data differ from byte %1")
                                .arg(firstDifference(recorded.data, outData));
        return outcome;
    }
    const Step &step = m_steps.at(m_next++);
    outcome.leavesBus = step.leavesBus;
    outcome.returnAfterMs = step.returnAfterMs;
    outcome.delayMs = requestTimeoutMs;
    if (!recorded.completed)
        return outcome;
    if (recorded.status == -ENOENT) {
        outcome.delayMs = int(qBound<qint64>(
            0, (recorded.completedUs - recorded.submittedUs) / UsPerMs, qint64(requestTimeoutMs)));
        return outcome;
    }
    outcome.status = recorded.status == 0         ? TransferOutcome::Status::Completed
                     : recorded.status == -EPIPE  ? TransferOutcome::Status::Stalled
                     : recorded.status == -ENODEV ? TransferOutcome::Status::Unplugged
                                                  : TransferOutcome::Status::Failed;
    outcome.error = -recorded.status;
    outcome.data = setup.isIn() ? recorded.data.left(setup.length) : QByteArray();
    outcome.transferred = setup.isIn() ? int(outcome.data.size()) : int(setup.length);
    return outcome;
}

bool TracePlayer::diverged() const
{
    QMutexLocker locker(&m_lock);
    return m_diverged;
}

QStringList TracePlayer::replayReport() const
{
    QMutexLocker locker(&m_lock);
    if (m_diverged || m_next == m_steps.size())
        return m_divergence;
    return {QStringLiteral("the command made %1 of the %2 requests of %3")
                .arg(m_next)
                .arg(m_steps.size())
                .arg(m_fileName)};
}

DeviceState TracePlayer::startState() const
{
    QMutexLocker locker(&m_lock);
    return Tq470Model::freshState(m_startMode, m_serial);
}

int TracePlayer::compareWith(SimulatedDevice &device, QStringList *report) const
{
    QMutexLocker locker(&m_lock);
    int differences = 0;
    for (int i = 0; i < m_steps.size(); ++i) {
        const UsbTransfer &transfer = m_steps.at(i).transfer;
        const SetupPacket setup = setupOf(transfer);
        const bool in = setup.isIn();
        const TransferOutcome answer =
            device.controlTransfer(setup, in ? QByteArray() : transfer.data, CheckTimeoutMs);
        const QByteArray answered =
            answer.status == TransferOutcome::Status::Completed && in ? answer.data : QByteArray();
        const QString recorded =
            outcomeText(transfer.completed, transfer.status, transfer.data, in);
        const QString modelled = outcomeText(
            true, TransferRecorder::usbmonStatus(UsbTransfer::Control, -answer.hostErrno()),
            answered, in);
        const QByteArray recordedData = in ? transfer.data : QByteArray();
        if (recorded == modelled && recordedData == answered)
            continue;
        if (++differences > ReportedDifferences)
            continue;
        QString line = QStringLiteral("%1, %2: recorded %3, the model %4")
                           .arg(describe(i), hex(transfer.setup), recorded, modelled);
        if (recorded == modelled)
            line += QStringLiteral(", other bytes from byte %1")
                        .arg(firstDifference(recordedData, answered));
        report->append(line);
    }
    report->append(
        differences == 0
            ? QStringLiteral("all %1 requests agree").arg(m_steps.size())
            : QStringLiteral("%1 of %2 requests differ").arg(differences).arg(m_steps.size()));
    return differences;
}

QString TracePlayer::describe(int step) const
{
    const UsbTransfer &transfer = m_steps.at(step).transfer;
    return QStringLiteral("request %1 of %2 (%3 s into the trace)")
        .arg(step + 1)
        .arg(m_steps.size())
        .arg(double(transfer.submittedUs - m_startUs) / UsPerSecond, 0, 'f', 6);
}

SetupPacket TracePlayer::setupOf(const UsbTransfer &transfer)
{
    return SetupPacket{transfer.requestType(), transfer.request(), transfer.value(),
                       transfer.index(), transfer.length()};
}
