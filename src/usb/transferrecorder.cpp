#include "transferrecorder.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cerrno>
#include <chrono>

namespace {

// The transport serialises its transfers under the device lock, but a search and a transfer
// of another device object may still meet here; the trace has a lock of its own.
QMutex traceLock;
UsbmonTrace trace;
std::atomic<bool> recording{false};
// usbmon tells transfers apart by the URB's kernel address; a count serves as well.
std::atomic<quint64> lastId{0};
// A write to the file system per transfer would cost more than a tenth of the tool's own CPU
// time. A failed transfer, the one a report is about, reaches the file at once; the others at
// the first transfer this long after the last flush, so that a process that is killed or
// crashes loses no more than the successful transfers of its last moments.
constexpr qint64 FlushIntervalUs = 100000;
qint64 lastFlushUs = 0;

qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

UsbTransfer submission(TransferRecorder::Address address, quint8 type, quint8 endpoint,
                       const char *data, int length)
{
    UsbTransfer transfer;
    transfer.id = ++lastId;
    transfer.type = type;
    transfer.endpoint = endpoint;
    transfer.bus = address.bus;
    transfer.device = address.device;
    transfer.requestedLength = quint32(qMax(length, 0));
    if (!transfer.isIn() && data && length > 0)
        transfer.data = QByteArray(data, length);
    return transfer;
}

} // namespace

bool TransferRecorder::start(const QString &fileName, QString *error)
{
    QMutexLocker lock(&traceLock);
    recording = false;
    if (!trace.create(fileName, error))
        return false;
    recording = true;
    return true;
}

bool TransferRecorder::startFromEnvironment(QString *error)
{
    const QString fileName = qEnvironmentVariable(EnvironmentVariable);
    if (fileName.isEmpty())
        return true;
    QString reason;
    if (start(fileName, &reason))
        return true;
    *error = QLatin1String(EnvironmentVariable) + QLatin1String(": ") + reason;
    return false;
}

void TransferRecorder::stop()
{
    QMutexLocker lock(&traceLock);
    recording = false;
    trace.close();
}

bool TransferRecorder::isRecording()
{
    return recording;
}

UsbTransfer TransferRecorder::controlSubmission(Address address, quint8 requestType, quint8 request,
                                                quint16 value, quint16 index, const char *data,
                                                int length)
{
    // The setup's direction bit is the endpoint's: usbmon shows control IN on 0x80.
    UsbTransfer transfer = submission(address, UsbTransfer::Control,
                                      requestType & UsbTransfer::DirectionIn, data, length);
    transfer.setup =
        UsbTransfer::setupPacket(requestType, request, value, index, quint16(qMax(length, 0)));
    transfer.submittedUs = nowUs();
    return transfer;
}

UsbTransfer TransferRecorder::bulkSubmission(Address address, quint8 endpoint, const char *data,
                                             int length)
{
    UsbTransfer transfer = submission(address, UsbTransfer::Bulk, endpoint, data, length);
    transfer.submittedUs = nowUs();
    return transfer;
}

void TransferRecorder::complete(UsbTransfer transfer, int result, const char *buffer)
{
    transfer.completedUs = nowUs();
    transfer.status = usbmonStatus(transfer.type, result);
    if (transfer.isIn() && buffer && result > 0)
        transfer.data = QByteArray(buffer, result);
    QMutexLocker lock(&traceLock);
    trace.append(transfer);
    if (transfer.status != 0 || transfer.completedUs - lastFlushUs >= FlushIntervalUs) {
        trace.flush();
        lastFlushUs = transfer.completedUs;
    }
}

qint32 TransferRecorder::usbmonStatus(quint8 type, int result)
{
    if (result >= 0)
        return 0;
    if (result != -ETIMEDOUT)
        return result;
    // The caller hears of a timeout, usbmon of the URB ended at it: usbfs's synchronous control
    // transfer kills it (-ENOENT), while libusb 0.1 unlinks the URB of a bulk transfer
    // (-ECONNRESET).
    return type == UsbTransfer::Control ? -ENOENT : -ECONNRESET;
}
